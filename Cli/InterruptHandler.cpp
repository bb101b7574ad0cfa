#include "InterruptHandler.h"

#include "VideoProcessor/ToolProcess.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int pipeEnds[2] = {-1, -1};
volatile sig_atomic_t firstSignal = 0;

void onSignal(int signal)
{
    const int savedErrno = errno;
    if (firstSignal == 0)
        firstSignal = signal;
    // Synchronous tool runs poll this and stop their tool, even before any event loop runs.
    ToolProcess::requestShutdown();
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[0], &number, 1);
    errno = savedErrno;
}

} // namespace

void InterruptHandler::install()
{
    if (pipeEnds[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pipeEnds) != 0)
        pipeEnds[0] = pipeEnds[1] = -1;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    // A closed standard output (a pipe into 'head') makes writes fail instead of killing us.
    std::signal(SIGPIPE, SIG_IGN);
}

InterruptHandler &InterruptHandler::instance()
{
    static InterruptHandler *handler = new InterruptHandler(QCoreApplication::instance());
    return *handler;
}

int InterruptHandler::receivedSignal()
{
    return firstSignal;
}

bool InterruptHandler::whenInterrupted(const QObject *context, std::function<void()> action)
{
    QObject::connect(&instance(), &InterruptHandler::interrupted, context,
                     [action = std::move(action)] { action(); });
    return receivedSignal() != 0;
}

InterruptHandler::InterruptHandler(QObject *parent)
    : QObject(parent)
{
    if (pipeEnds[1] < 0)
        return;
    notifier = new QSocketNotifier(pipeEnds[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char number = 0;
        while (::read(pipeEnds[1], &number, 1) == 1)
            emit interrupted(number);
    });
}
