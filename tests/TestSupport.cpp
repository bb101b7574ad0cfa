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
#include <gtest/gtest.h>

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

ProcessResult run(const QString &program, const QStringList &arguments,
                  const QStringList &environment, int timeoutMs)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &entry : environment)
        env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
    process.setProcessEnvironment(env);
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

ProcessResult runCli(const QStringList &arguments, const QStringList &environment)
{
    return run(QStringLiteral(KELVORANDIX_CLI_PATH), arguments, environment, 120000);
}

} // namespace TestSupport
