#include "ToolProcess.h"

#include <QTimer>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

ToolProcess::ToolProcess(QObject *parent)
    : QObject(parent)
{
    prepare(child);
    connect(&child, &QProcess::started, this, [this] {
        counted = true;
        ++running;
    });
    connect(&child, &QProcess::finished, this, [this] { uncount(); });
}

void ToolProcess::prepare(QProcess &process)
{
    process.setProcessChannelMode(QProcess::MergedChannels);
    const pid_t parent = ::getpid();
    // Runs in the child between fork and exec: async-signal-safe calls only.
    process.setChildProcessModifier([parent] {
        // An ignored SIGPIPE would be inherited through exec.
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        ::sigaction(SIGPIPE, &action, nullptr);
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // We may have died before the line above took effect.
        if (::getppid() != parent)
            ::_exit(127);
    });
}

void ToolProcess::uncount()
{
    if (counted)
        --running;
    counted = false;
}

ToolProcess::~ToolProcess()
{
    // Never leave a child behind: a handle dropped while its tool runs kills the tool.
    if (isRunning()) {
        child.kill();
        child.waitForFinished(5000);
    }
    uncount();
}

void ToolProcess::terminate()
{
    if (isRunning())
        child.terminate();
}

void ToolProcess::interrupt()
{
    if (isRunning())
        ::kill(pid_t(child.processId()), SIGINT);
}

void ToolProcess::stop(int graceMs)
{
    if (!isRunning())
        return;
    stopped = true;
    terminate();
    QTimer::singleShot(graceMs, this, [this, graceMs] {
        if (!isRunning())
            return;
        interrupt();
        QTimer::singleShot(graceMs, this, [this] {
            if (isRunning())
                child.kill();
        });
    });
}

bool ToolProcess::waitForFinished(int timeoutMs)
{
    return !isRunning() || child.waitForFinished(timeoutMs);
}
