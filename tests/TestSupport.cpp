#include "TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace TestSupport {

std::optional<QString> corpusFile(const QString &name)
{
    const QString path = QStringLiteral(KELVORANDIX_CORPUS_DIR "/") + name;
    if (!QFileInfo::exists(path))
        return std::nullopt;
    return path;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        ADD_FAILURE() << "cannot write " << path.toStdString();
        return;
    }
    file.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << path.toStdString();
        return {};
    }
    return file.readAll();
}

namespace {

void setEnvironment(QProcess &process, const QStringList &environment)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &entry : environment) {
        if (entry.contains(u'='))
            env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
        else
            env.remove(entry);
    }
    process.setProcessEnvironment(env);
}

ProcessResult run(const QString &program, const QStringList &arguments,
                  const QStringList &environment, int timeoutMs, qint64 fileSizeLimit = -1,
                  const QString &folder = QString())
{
    QProcess process;
    setEnvironment(process, environment);
    process.setWorkingDirectory(folder);
    if (fileSizeLimit >= 0)
        process.setChildProcessModifier([fileSizeLimit] {
            // Writes past the limit then fail with EFBIG instead of killing the writer.
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{rlim_t(fileSizeLimit), rlim_t(fileSizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
    process.start(program, arguments);
    ProcessResult result;
    if (!process.waitForStarted(10000)) {
        ADD_FAILURE() << program << " did not start: " << process.errorString();
        return result;
    }
    if (!process.waitForFinished(timeoutMs)) {
        ADD_FAILURE() << program << " did not finish";
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

} // namespace

ProcessResult runIn(const QString &folder, const QString &program, const QStringList &arguments,
                    const QStringList &environment)
{
    return run(program, arguments, environment, 180000, -1, folder);
}

ProcessResult runProgram(const QString &program, const QStringList &arguments, int timeoutMs)
{
    ProcessResult result = run(program, arguments, {}, timeoutMs);
    EXPECT_EQ(result.exitCode, 0) << program << ' ' << arguments.join(u' ') << '\n'
                                  << result.err.toStdString();
    return result;
}

void ffmpeg(const QStringList &arguments)
{
    runProgram(QStringLiteral("ffmpeg"),
               QStringList{QStringLiteral("-nostdin"), QStringLiteral("-v"),
                           QStringLiteral("error"), QStringLiteral("-y")} +
                   arguments);
}

QStringList words(const QString &text)
{
    return text.split(u' ', Qt::SkipEmptyParts);
}

void ffmpeg(const char *line, const QStringList &files)
{
    QStringList arguments = words(QString::fromUtf8(line));
    for (QString &argument : arguments)
        if (argument.startsWith(u'%')) {
            bool number = false;
            const int index = argument.mid(1).toInt(&number) - 1;
            if (number && index >= 0 && index < files.size())
                argument = files.at(index);
            else
                ADD_FAILURE() << "no file for " << argument;
        }
    ffmpeg(arguments);
}

std::unique_ptr<QMimeData> fileDrag(const QStringList &paths)
{
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls.append(QUrl::fromLocalFile(path));
    data->setUrls(urls);
    return data;
}

void generateTone(const QString &path, int sampleRate, int channels, double seconds,
                  const QString &codec, int frequency)
{
    runProgram(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
         QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
         QStringLiteral("sine=frequency=%1:sample_rate=%2:duration=%3")
             .arg(frequency)
             .arg(sampleRate)
             .arg(seconds),
         QStringLiteral("-ac"), QString::number(channels), QStringLiteral("-c:a"), codec, path});
}

QList<pid_t> childProcesses(bool all)
{
    QHash<pid_t, pid_t> parents;
    QDirIterator entries(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        QFile stat(entries.next() + QStringLiteral("/stat"));
        if (stat.open(QIODevice::ReadOnly))
            parents.insert(entries.fileName().toInt(),
                           stat.readAll().split(')').value(1).split(' ').value(2).toInt());
    }
    QList<pid_t> descendants;
    for (auto process = parents.cbegin(); process != parents.cend(); ++process) {
        for (pid_t up = process.value(); up > 1; up = parents.value(up)) {
            if (up == getpid()) {
                descendants.append(process.key());
                break;
            }
            if (!all)
                break;
        }
    }
    return descendants;
}

bool waitUntil(const std::function<bool()> &predicate, int timeoutMs, int pauseMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!predicate()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(pauseMs);
    }
    return true;
}

QByteArray manyCues(int count)
{
    QByteArray cues;
    for (int i = 0; i < count; ++i)
        cues += QStringLiteral("%1\n%2:%3:%4,000 --> %2:%3:%4,500\nCue number %1.\n\n")
                    .arg(i + 1)
                    .arg(i / 3600, 2, 10, QChar(u'0'))
                    .arg(i / 60 % 60, 2, 10, QChar(u'0'))
                    .arg(i % 60, 2, 10, QChar(u'0'))
                    .toUtf8();
    return cues;
}

double meanVolume(const QString &path, double from, double seconds, int audioStream)
{
    // ffmpeg prints the detector's report on standard error.
    const ProcessResult result =
        run(QStringLiteral("ffmpeg"),
            {QStringLiteral("-nostdin"), QStringLiteral("-ss"), QString::number(from),
             QStringLiteral("-t"), QString::number(seconds), QStringLiteral("-i"), path,
             QStringLiteral("-map"), QStringLiteral("0:a:%1").arg(audioStream),
             QStringLiteral("-filter:a"), QStringLiteral("volumedetect"), QStringLiteral("-f"),
             QStringLiteral("null"), QStringLiteral("/dev/null")},
            {}, 60000);
    const QString output = QString::fromUtf8(result.err);
    const qsizetype at = output.indexOf(QStringLiteral("mean_volume: "));
    if (at < 0)
        return 0;
    const QString value = output.mid(at + 13).section(u' ', 0, 0);
    return value == QLatin1String("-inf") ? -200 : value.toDouble();
}

ProcessResult runCli(const QStringList &arguments, const QStringList &environment,
                     qint64 fileSizeLimit)
{
    return run(QStringLiteral(KELVORANDIX_CLI_PATH), arguments, environment, 120000, fileSizeLimit);
}

ProcessResult signalWhilePrinting(const QStringList &arguments, int signal,
                                  const QStringList &environment)
{
    ProcessResult result;
    QTemporaryDir folder;
    const QByteArray fifo = QFile::encodeName(folder.filePath(QStringLiteral("out")));
    if (::mkfifo(fifo.constData(), 0600) != 0) {
        ADD_FAILURE() << "mkfifo: " << std::strerror(errno);
        return result;
    }
    // Open before the child, which would otherwise wait for a reader.
    const int out = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    QProcess process;
    setEnvironment(process, environment);
    process.setStandardOutputFile(QFile::decodeName(fifo));
    process.start(QStringLiteral(KELVORANDIX_CLI_PATH), arguments);
    EXPECT_TRUE(process.waitForStarted(10000));
    const int capacity = ::fcntl(out, F_GETPIPE_SZ);
    int queued = 0;
    QDeadlineTimer deadline(120000);
    while (::ioctl(out, FIONREAD, &queued) == 0 && queued < capacity && !deadline.hasExpired() &&
           process.state() != QProcess::NotRunning)
        QThread::msleep(2);
    ::kill(pid_t(process.processId()), signal);
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(out, buffer, sizeof buffer);
        if (n > 0)
            result.out.append(buffer, n);
        else if (n == 0 || (errno != EAGAIN && errno != EINTR) || deadline.hasExpired())
            break;
        else
            QThread::msleep(2);
    }
    ::close(out);
    if (!process.waitForFinished(60000)) {
        ADD_FAILURE() << "kelvorandix-cli did not end after the signal";
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.err = process.readAllStandardError();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode()
                                                                   : 128 + process.exitCode();
    return result;
}

CliRun::CliRun(const QStringList &arguments, const QStringList &environment)
    : process(std::make_unique<QProcess>())
{
    setEnvironment(*process, environment);
    process->start(QStringLiteral(KELVORANDIX_CLI_PATH), arguments);
    EXPECT_TRUE(process->waitForStarted(10000));
}

CliRun::~CliRun()
{
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished();
    }
}

void CliRun::read()
{
    err += process->readAllStandardError();
    out += process->readAllStandardOutput();
}

bool CliRun::waitForError(const QByteArray &text, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!err.contains(text)) {
        if (deadline.hasExpired() || process->state() == QProcess::NotRunning)
            return false;
        process->waitForReadyRead(50);
        read();
    }
    return true;
}

void CliRun::signal(int number)
{
    ::kill(pid_t(process->processId()), number);
}

qint64 CliRun::pid() const
{
    return process->processId();
}

int CliRun::waitForExit(int timeoutMs)
{
    const bool ended = process->waitForFinished(timeoutMs);
    read();
    if (!ended) {
        process->kill();
        process->waitForFinished();
        return -1;
    }
    return process->exitStatus() == QProcess::NormalExit ? process->exitCode()
                                                         : 128 + process->exitCode();
}

QStringList processesWith(const QString &text)
{
    QStringList found;
    const QByteArray needle = text.toUtf8();
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (pid.toLongLong() == QCoreApplication::applicationPid())
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = cmdline.readAll();
        // A process that has ended but is not yet reaped has an empty command line.
        if (line.contains(needle))
            found.append(pid + u' ' + QString::fromUtf8(line).replace(QChar(0), u' '));
    }
    return found;
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

QString slowFfmpegFolder(const QString &folder, const QString &word)
{
    const QString script = folder + QStringLiteral("/ffmpeg");
    writeFile(script, QStringLiteral("#!/bin/sh\ncase \" $* \" in\n*'%1'*) exec /usr/bin/ffmpeg "
                                     "-re \"$@\" ;;\n*) exec /usr/bin/ffmpeg \"$@\" ;;\nesac\n")
                          .arg(word)
                          .toUtf8());
    QFile::setPermissions(script, QFile::permissions(script) | QFileDevice::ExeOwner);
    return folder;
}

ScopedVariable::ScopedVariable(const char *name, const QByteArray &value)
    : name(name)
    , previous(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt)
{
    qputenv(name, value);
}

ScopedVariable::~ScopedVariable()
{
    if (previous)
        qputenv(name.constData(), *previous);
    else
        qunsetenv(name.constData());
}

ScopedVariable slowFfmpegFirstOnPath(const QString &folder, const QString &word)
{
    return ScopedVariable("PATH", QFile::encodeName(slowFfmpegFolder(folder, word)) + ':' +
                                      qgetenv("PATH"));
}

namespace {

// A socket's path must fit in sockaddr_un; a long TMPDIR falls back to /tmp.
QString pulseFolderTemplate()
{
    const QString preferred = QDir::tempPath() + QStringLiteral("/pulse-XXXXXX");
    return preferred.size() < 80 ? preferred : QStringLiteral("/tmp/pulse-XXXXXX");
}

bool acceptsConnections(const QString &socketPath)
{
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0;
    ::close(fd);
    return connected;
}

} // namespace

PulseServer::PulseServer()
    : folder(pulseFolderTemplate())
    , process(std::make_unique<QProcess>())
{
    const QString runtime = folder.filePath(QStringLiteral("run"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // The microphone is the monitor of a null sink that a sine plays into. The sine source
    // module would be simpler, but it hands out two seconds at a time, ahead of the clock. A
    // null sink renders in blocks of its latency: a loopback out of its monitor keeps that
    // latency small, and a suspend and resume ends the two-second block it began with. The
    // native protocol goes last: once the socket answers, all the rest is in place.
    const QString script = folder.filePath(QStringLiteral("server.pa"));
    writeFile(script, QStringLiteral("load-module module-null-sink sink_name=out\n"
                                     "load-module module-null-sink sink_name=drain\n"
                                     "load-module module-sine sink=out frequency=440\n"
                                     "load-module module-loopback source=out.monitor sink=drain "
                                     "latency_msec=20\n"
                                     "suspend-sink out 1\n"
                                     "suspend-sink out 0\n"
                                     "set-default-sink out\n"
                                     "set-default-source out.monitor\n"
                                     "load-module module-native-protocol-unix auth-anonymous=1 "
                                     "socket=%1\n")
                          .arg(folder.filePath(QStringLiteral("native")))
                          .toUtf8());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("HOME"), folder.path());
    // Apart from the desktop's session: no bus to register on, no display to publish to.
    for (const char *name : {"DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY",
                             "PULSE_SERVER", "PULSE_COOKIE", "PULSE_SOURCE", "PULSE_SINK"})
        env.remove(QString::fromLatin1(name));
    process->setProcessEnvironment(env);
    process->setStandardOutputFile(folder.filePath(QStringLiteral("pulse.log")));
    process->setStandardErrorFile(folder.filePath(QStringLiteral("pulse.log")), QIODevice::Append);
    process->start(QStringLiteral("pulseaudio"),
                   {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                    QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
                    QStringLiteral("--realtime=no"), QStringLiteral("--high-priority=no"),
                    QStringLiteral("--log-target=stderr"), QStringLiteral("-F"), script});
    if (!process->waitForStarted(10000))
        return;
    const QString socket = folder.filePath(QStringLiteral("native"));
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired() && process->state() == QProcess::Running) {
        if (acceptsConnections(socket)) {
            running = true;
            return;
        }
        process->waitForFinished(20);
    }
}

PulseServer::~PulseServer()
{
    for (const auto &[name, value] : savedEnvironment) {
        if (value)
            qputenv(name.constData(), *value);
        else
            qunsetenv(name.constData());
    }
    if (process->state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(process->processId()), SIGTERM);
    if (!process->waitForFinished(5000)) {
        ::kill(pid_t(process->processId()), SIGKILL);
        process->waitForFinished(5000);
    }
}

bool PulseServer::isRunning() const
{
    return running && process->state() == QProcess::Running;
}

qint64 PulseServer::pid() const
{
    return process->processId();
}

QString PulseServer::address() const
{
    return QStringLiteral("unix:") + folder.filePath(QStringLiteral("native"));
}

QStringList PulseServer::environment() const
{
    // The daemon's own cookie, so that clients neither read nor create one in the real home.
    return {QStringLiteral("PULSE_SERVER=") + address(),
            QStringLiteral("PULSE_COOKIE=") +
                folder.filePath(QStringLiteral(".config/pulse/cookie"))};
}

void PulseServer::useInThisProcess()
{
    for (const QString &entry : environment()) {
        const QByteArray name = entry.section(u'=', 0, 0).toLocal8Bit();
        if (std::none_of(savedEnvironment.begin(), savedEnvironment.end(),
                         [&](const auto &saved) { return saved.first == name; }))
            savedEnvironment.append({name, qEnvironmentVariableIsSet(name.constData())
                                               ? std::optional(qgetenv(name.constData()))
                                               : std::nullopt});
        qputenv(name.constData(), entry.section(u'=', 1).toLocal8Bit());
    }
}

QString PulseServer::log() const
{
    QFile file(folder.filePath(QStringLiteral("pulse.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll())
                                          : QStringLiteral("(pulseaudio printed nothing)");
}

QString PulseServer::absentAddress()
{
    return QStringLiteral("unix:/nonexistent/kelvorandix-no-sound-server");
}

} // namespace TestSupport
