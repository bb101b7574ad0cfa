#include "TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

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
    for (const QString &entry : environment)
        env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
    process.setProcessEnvironment(env);
}

ProcessResult run(const QString &program, const QStringList &arguments,
                  const QStringList &environment, int timeoutMs, qint64 fileSizeLimit = -1)
{
    QProcess process;
    setEnvironment(process, environment);
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

bool waitUntil(const std::function<bool()> &predicate, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!predicate()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
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

} // namespace TestSupport
