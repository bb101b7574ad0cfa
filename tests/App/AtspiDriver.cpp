#include "AtspiDriver.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcessEnvironment>
#include <atspi/atspi.h>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

const QStringList windowRoles = {QStringLiteral("frame"), QStringLiteral("dialog"),
                                 QStringLiteral("alert"), QStringLiteral("window"),
                                 QStringLiteral("file chooser")};

// Polls a condition, letting this process's events run in between (QProcess learns there that
// its child has ended). Each look at the app is a walk over the bus, so a pause between looks
// leaves the app's process the CPU.
bool poll(const std::function<bool()> &condition, int timeoutMs)
{
    return TestSupport::waitUntil(condition, timeoutMs, 50);
}

QString quoted(const QString &role, const QString &name)
{
    return QStringLiteral("%1 \"%2\"").arg(role.isEmpty() ? QStringLiteral("element") : role, name);
}

// Processes of a process group other than its leader: "PID command line".
QStringList groupMembers(qint64 group)
{
    QStringList members;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isNumber = false;
        const qint64 pid = entry.toLongLong(&isNumber);
        if (!isNumber || pid == group)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (command) state ppid pgrp ...": the command may hold spaces and parentheses.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        // An ended one waits as a zombie for its new parent to reap it: it runs no more.
        if (fields.size() < 3 || fields.at(0) == "Z" || fields.at(2).toLongLong() != group)
            continue;
        QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(entry));
        commandLine.open(QIODevice::ReadOnly);
        members.append(entry + u' ' +
                       QString::fromLocal8Bit(commandLine.readAll()).replace(QChar(0), u' '));
    }
    return members;
}

} // namespace

AtspiDriver::AtspiDriver()
{
    if (!x.isOpen()) {
        problem = QStringLiteral("no X display with XTest (DISPLAY=\"%1\"): run under xvfb-run")
                      .arg(qEnvironmentVariable("DISPLAY"));
        return;
    }
    // Once for the process: libatspi keeps its connection to the bus until the process ends.
    static const bool connected = atspi_init() <= 1 && atspi_get_a11y_bus() != nullptr;
    if (!connected) {
        problem = QStringLiteral("no accessibility bus: run under dbus-run-session, with "
                                 "at-spi2-core installed");
        return;
    }
    // Slow answers are normal from a sanitizer build that is busy loading a file.
    atspi_set_timeout(3000, 15000);
    // The first question to the desktop starts the registry, where applications announce
    // themselves; asking now has it there before the app looks for it.
    AtspiElement desktop = AtspiElement::adopt(atspi_get_desktop(0));
    GError *error = nullptr;
    atspi_accessible_get_child_count(desktop.handle(), &error);
    if (error) {
        problem = QStringLiteral("the accessibility registry does not answer: %1")
                      .arg(QString::fromUtf8(error->message));
        g_clear_error(&error);
    }
}

AtspiDriver::~AtspiDriver()
{
    stop();
}

testing::AssertionResult AtspiDriver::start(const QString &program, const QStringList &arguments,
                                            const QStringList &environment, int timeoutMs)
{
    if (!problem.isEmpty())
        return testing::AssertionFailure() << problem.toStdString();
    if (isRunning())
        return testing::AssertionFailure() << "the app already runs, as process " << pid;
    // What the last one left behind goes before this one starts.
    if (process)
        endGroup();
    leftBehind.clear();
    app = AtspiElement();
    pid = 0;
    groupEnded = false;

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    for (const QString &entry : environment) {
        const qsizetype equals = entry.indexOf(u'=');
        if (equals <= 0)
            return testing::AssertionFailure()
                   << "environment entry \"" << entry.toStdString() << "\" is not NAME=value";
        env.insert(entry.left(equals), entry.mid(equals + 1));
    }
    process = std::make_unique<QProcess>();
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    // A group of its own, so that the tools it starts end with it; and it dies with this
    // process, should a test be killed.
    process->setChildProcessModifier([] {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
    process->start(program, arguments);
    if (!process->waitForStarted(10000)) {
        const QString error = process->errorString();
        process.reset();
        return testing::AssertionFailure()
               << "could not start " << program.toStdString() << ": " << error.toStdString();
    }
    pid = process->processId();

    const AtspiElement desktop = AtspiElement::adopt(atspi_get_desktop(0));
    QStringList seen;
    const bool found = poll(
        [&] {
            seen.clear();
            for (const AtspiElement &candidate : desktop.children()) {
                const qint64 candidatePid = candidate.processId();
                if (candidatePid == pid) {
                    app = candidate;
                    return true;
                }
                seen.append(QStringLiteral("%1 (%2)").arg(candidate.name()).arg(candidatePid));
            }
            return !isRunning();
        },
        timeoutMs);
    if (app)
        return testing::AssertionSuccess();
    if (!isRunning())
        return testing::AssertionFailure()
               << program.toStdString() << " ended (exit code " << waitForExit(0)
               << ") before it showed itself on the accessibility bus";
    return testing::AssertionFailure()
           << program.toStdString() << " (process " << pid << ") is not on the accessibility bus"
           << (found ? "" : " after " + std::to_string(timeoutMs) + " ms")
           << "; applications there: " << seen.join(QStringLiteral(", ")).toStdString();
}

qint64 AtspiDriver::processId() const
{
    return pid;
}

bool AtspiDriver::isRunning() const
{
    return process && process->state() != QProcess::NotRunning;
}

int AtspiDriver::exitCode() const
{
    if (!process)
        return noExit;
    // Qt gives the signal's number as the exit code of a process a signal ended.
    return process->exitStatus() == QProcess::NormalExit ? process->exitCode()
                                                         : 128 + process->exitCode();
}

int AtspiDriver::waitForExit(int timeoutMs)
{
    if (!process)
        return noExit;
    if (process->state() != QProcess::NotRunning && !process->waitForFinished(timeoutMs))
        return noExit;
    endGroup();
    return exitCode();
}

int AtspiDriver::stop(int graceMs)
{
    if (!process)
        return noExit;
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(graceMs)) {
            process->kill();
            process->waitForFinished(10000);
        }
    }
    endGroup();
    return exitCode();
}

void AtspiDriver::endGroup()
{
    app = AtspiElement();
    if (pid <= 0 || groupEnded)
        return;
    groupEnded = true;
    leftBehind = groupMembers(pid);
    if (!leftBehind.isEmpty())
        ::kill(-pid_t(pid), SIGKILL);
}

AtspiElement AtspiDriver::find(const QString &role, const QString &name,
                               AtspiElement::Scope scope) const
{
    return app.find(role, name, scope);
}

QList<AtspiElement> AtspiDriver::findAll(const QString &role, const QString &name,
                                         AtspiElement::Scope scope) const
{
    return app.findAll(role, name, scope);
}

AtspiElement AtspiDriver::waitFor(const QString &role, const QString &name, int timeoutMs,
                                  AtspiElement::Scope scope, std::source_location caller)
{
    AtspiElement found;
    if (poll([&] { return bool(found = find(role, name, scope)) || !isRunning(); }, timeoutMs) &&
        found)
        return found;
    ADD_FAILURE_AT(caller.file_name(), int(caller.line()))
        << "no " << (scope == AtspiElement::Scope::Showing ? "showing " : "")
        << quoted(role, name).toStdString() << " within " << timeoutMs << " ms\n"
        << showing().toStdString();
    return AtspiElement();
}

testing::AssertionResult AtspiDriver::waitUntilGone(const QString &role, const QString &name,
                                                    int timeoutMs)
{
    if (poll([&] { return find(role, name).isNull(); }, timeoutMs))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << find(role, name).describe().toStdString()
                                       << " still shows after " << timeoutMs << " ms\n"
                                       << showing().toStdString();
}

testing::AssertionResult AtspiDriver::waitUntilEnabled(const QString &role, const QString &name,
                                                       int timeoutMs)
{
    AtspiElement last;
    const bool enabled = poll(
        [&] {
            for (const AtspiElement &candidate : findAll(role, name)) {
                last = candidate;
                if (candidate.isEnabled())
                    return true;
            }
            return !isRunning();
        },
        timeoutMs);
    if (enabled && last.isEnabled())
        return testing::AssertionSuccess();
    testing::AssertionResult failure = testing::AssertionFailure();
    if (last)
        failure << last.describe().toStdString() << " is still disabled";
    else
        failure << "no showing " << quoted(role, name).toStdString();
    return failure << " after " << timeoutMs << " ms\n" << showing().toStdString();
}

testing::AssertionResult AtspiDriver::waitUntil(const std::function<bool()> &condition,
                                                const QString &what, int timeoutMs)
{
    if (poll(condition, timeoutMs))
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "not " << what.toStdString() << " after " << timeoutMs << " ms\n"
           << showing().toStdString();
}

AtspiElement AtspiDriver::waitForWindow(const QString &title, int timeoutMs,
                                        std::source_location caller)
{
    AtspiElement window;
    const auto look = [&] {
        for (const AtspiElement &candidate : app.children())
            if (candidate.name() == title && windowRoles.contains(candidate.role()) &&
                candidate.isShowing()) {
                window = candidate;
                return true;
            }
        return !isRunning();
    };
    if (!poll(look, timeoutMs) || !window) {
        ADD_FAILURE_AT(caller.file_name(), int(caller.line()))
            << "no window \"" << title.toStdString() << "\" within " << timeoutMs << " ms\n"
            << showing().toStdString();
        return AtspiElement();
    }
    const testing::AssertionResult focused = activate(window);
    if (!focused)
        ADD_FAILURE_AT(caller.file_name(), int(caller.line())) << focused.message();
    return window;
}

testing::AssertionResult AtspiDriver::activate(const AtspiElement &window)
{
    const QRect area = window.extents();
    if (area.isEmpty())
        return testing::AssertionFailure()
               << window.describe().toStdString() << " has no place on the screen";
    if (!x.focusWindowAt(pid, area.center()))
        return testing::AssertionFailure()
               << "the app has no X window under " << window.describe().toStdString();
    // Qt marks the window active once it has taken the focus in.
    if (poll([&] { return window.hasState(QStringLiteral("active")); }, 5000))
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << window.describe().toStdString() << " did not become active";
}

QStringList AtspiDriver::windowTitles() const
{
    QStringList titles;
    for (const AtspiElement &child : app.children())
        if (child.isShowing())
            titles.append(child.name());
    return titles;
}

QString AtspiDriver::showing() const
{
    if (!process)
        return QStringLiteral("(the app has not been started)");
    if (!isRunning())
        return QStringLiteral("(the app has ended: %1)").arg(exitCode());
    if (!app)
        return QStringLiteral("(the app is not on the accessibility bus)");
    return QStringLiteral("The app shows:\n") + app.showingTree();
}

testing::AssertionResult AtspiDriver::click(const AtspiElement &element)
{
    if (!element)
        return testing::AssertionFailure() << "nothing to click";
    const QRect area = element.extents();
    const QPoint centre = area.center();
    if (area.isEmpty() || !element.isShowing() || !x.screen().contains(centre))
        return testing::AssertionFailure()
               << element.describe().toStdString() << " is not on the screen (at " << area.x()
               << "," << area.y() << " " << area.width() << "x" << area.height() << ")";
    x.click(centre);
    return testing::AssertionSuccess();
}

testing::AssertionResult AtspiDriver::pressKey(const QString &combination)
{
    return x.pressKeys(combination);
}

testing::AssertionResult AtspiDriver::typeText(const QString &text)
{
    return x.typeText(text);
}

testing::AssertionResult AtspiDriver::screenshot(const QString &path)
{
    const QImage picture = x.grab();
    if (picture.isNull())
        return testing::AssertionFailure() << "the screen could not be read";
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!picture.save(path, "PNG"))
        return testing::AssertionFailure() << "could not write " << path.toStdString();
    return testing::AssertionSuccess();
}

QStringList AtspiDriver::appEnvironment()
{
    return {QStringLiteral("LSAN_OPTIONS=suppressions=" KELVORANDIX_SOURCE_DIR
                           "/tests/Player/lsan.supp:print_suppressions=0"),
            QStringLiteral("KELVORANDIX_RENDERER=software")};
}
