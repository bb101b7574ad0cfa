#include "ToolRunner.h"

#include "FileSystem.h"
#include "Subtitles/Time.h"
#include "ToolProcess.h"
#include "WorkingFolder.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringDecoder>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// Enough for any probe or conversion report; a tool printing more is cut off, not believed.
constexpr qint64 outputLimit = 64 * 1024 * 1024;

const QString stoppedMessage = QStringLiteral("Stopped");

QString startFailure(const QString &path, const QProcess &process)
{
    if (!QFileInfo(path).isFile())
        return ToolRunner::missingToolMessage(QFileInfo(path).fileName());
    return QStringLiteral("Could not start '%1': %2").arg(path, process.errorString());
}

bool exitedCleanly(const QProcess &process)
{
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Decodes a chunk strictly: chunks that are not valid UTF-8 are skipped by the streaming runs.
std::optional<QString> decodeChunk(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

bool isLineEnd(QChar c)
{
    const char16_t u = c.unicode();
    return u == 0x0A || u == 0x0B || u == 0x0C || u == 0x0D || u == 0x85 || u == 0x2028 ||
           u == 0x2029;
}

enum class Ending { Succeeded, Failed, Stopped };

// Wires a started-or-failed run to its callbacks; finished is the file step or the completion.
std::shared_ptr<ToolProcess> startAsync(const QString &path, const QStringList &arguments,
                                        ToolRunner::Progress progress,
                                        std::function<void(Ending, const QString &)> finished,
                                        std::function<void(const QString &)> startFailed)
{
    // Deleted through the event loop of its own thread, never from inside one of its signals.
    std::shared_ptr<ToolProcess> run(new ToolProcess, [](ToolProcess *p) { p->deleteLater(); });
    QProcess &process = run->process();
    process.setProgram(path);
    process.setArguments(arguments);

    struct Output {
        QString last;         // the latest chunk: the message of a failure
        QString unfinished;   // the output after its last line end, which the next chunk goes on
        QString writeFailure; // the first report of output that could not be written
    };
    auto output = std::make_shared<Output>();
    auto take = [output](const std::optional<QString> &chunk) {
        if (!chunk || chunk->isEmpty())
            return;
        // Lines are read whole, from their start: a report may be split between two chunks.
        const QString text = output->unfinished + *chunk;
        if (output->writeFailure.isEmpty())
            if (const std::optional<QString> failure = ToolRunner::writeFailure(text))
                output->writeFailure = *failure;
        qsizetype end = text.size();
        while (end > 0 && !isLineEnd(text[end - 1]))
            --end;
        // A line this long is no report; a space in place of its start keeps its end from
        // reading as a line of its own.
        output->unfinished = text.size() - end > 4096 ? QStringLiteral(" ") : text.mid(end);
        output->last = *chunk;
    };
    ToolProcess *handle = run.get();
    QObject::connect(&process, &QProcess::readyRead, handle, [handle, take, progress] {
        const QByteArray bytes = handle->process().readAll();
        if (bytes.isEmpty())
            return;
        const std::optional<QString> chunk = decodeChunk(bytes);
        if (!chunk)
            return;
        if (progress)
            if (const std::optional<double> time = ToolRunner::parseProgressTime(*chunk))
                progress(*time);
        take(chunk);
    });
    // The run keeps itself alive until it has ended.
    auto keepAlive = std::make_shared<std::shared_ptr<ToolProcess>>(run);
    QObject::connect(
        &process, &QProcess::finished, handle,
        [handle, output, take, finished, keepAlive](int exitCode, QProcess::ExitStatus status) {
            const std::shared_ptr<ToolProcess> self = std::move(*keepAlive);
            take(decodeChunk(handle->process().readAll()));
            // Only a stop we asked for ends silently: a tool that another hand stopped or
            // killed (ffmpeg exits with 255 then) has failed.
            if (handle->wasStopped())
                finished(Ending::Stopped, QString());
            else if (!output->writeFailure.isEmpty())
                finished(Ending::Failed, output->writeFailure);
            else if (status == QProcess::NormalExit && exitCode == 0)
                finished(Ending::Succeeded, output->last);
            else if (status == QProcess::CrashExit || exitCode == 255)
                finished(Ending::Failed, QStringLiteral("%1 was stopped before it finished. %2")
                                             .arg(QFileInfo(handle->process().program()).fileName(),
                                                  output->last.trimmed())
                                             .trimmed());
            else
                finished(Ending::Failed, output->last);
        });
    QObject::connect(&process, &QProcess::errorOccurred, handle,
                     [handle, path, startFailed, keepAlive](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         const std::shared_ptr<ToolProcess> self = std::move(*keepAlive);
                         startFailed(startFailure(path, handle->process()));
                     });
    process.start();
    return run;
}

} // namespace

QString ToolRunner::toolPath(const QString &relativePath, const QString &toolName)
{
    const QString bundled = QCoreApplication::applicationDirPath() + relativePath;
    const QFileInfo info(bundled);
    if (info.isFile() && info.isExecutable())
        return bundled;
    const QString found = QStandardPaths::findExecutable(toolName);
    return found.isEmpty() ? bundled : found;
}

QString ToolRunner::ffmpegPath()
{
    return toolPath(QStringLiteral("/../libexec/kelvorandix/ffmpeg"), QStringLiteral("ffmpeg"));
}

QString ToolRunner::ffprobePath()
{
    return toolPath(QStringLiteral("/../libexec/kelvorandix/ffprobe"), QStringLiteral("ffprobe"));
}

QString ToolRunner::missingToolMessage(const QString &toolName)
{
    const QString package =
        toolName == QLatin1String("file") ? QStringLiteral("file") : QStringLiteral("ffmpeg");
    return QStringLiteral("Could not start %1: it is not installed. Install the package %2 "
                          "(sudo apt-get install %2).")
        .arg(toolName, package);
}

QString ToolRunner::fileArgument(const QString &path)
{
    return QStringLiteral("file:") + QFileInfo(path).absoluteFilePath();
}

std::pair<QString, bool> ToolRunner::runTool(const QString &path, const QStringList &arguments,
                                             const std::atomic<bool> *stop)
{
    return runToolReading(path, arguments, nullptr, stop);
}

std::pair<QString, bool> ToolRunner::runToolReading(const QString &path,
                                                    const QStringList &arguments,
                                                    const std::function<bool(QByteArrayView)> &read,
                                                    const std::atomic<bool> *stop)
{
    auto stopAsked = [stop] { return ToolProcess::shutdownRequested() || (stop && stop->load()); };
    if (stopAsked())
        return {stoppedMessage, false};
    QProcess process;
    ToolProcess::prepare(process);
    // The standard output is data for the reader; the messages come on the standard error.
    if (read)
        process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(path, arguments);
    if (!process.waitForStarted(-1))
        return {startFailure(path, process), false};

    QByteArray output;
    bool refused = false;
    auto collect = [&] {
        if (read && !refused) {
            const QByteArray data = process.readAllStandardOutput();
            refused = !data.isEmpty() && !read(data);
        }
        const QByteArray chunk = read ? process.readAllStandardError() : process.readAll();
        if (output.size() < outputLimit)
            output += chunk.left(outputLimit - output.size());
    };
    bool stopped = false;
    while (process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(100);
        collect();
        if (!stopped && (refused || stopAsked())) {
            stopped = true;
            process.terminate();
            if (!process.waitForFinished(3000))
                process.kill();
        }
    }
    process.waitForFinished(-1);
    collect();
    if (stopped && !refused)
        return {stoppedMessage, false};
    const QString text = QString::fromUtf8(output);
    return {text, !refused && exitedCleanly(process) && !writeFailure(text)};
}

std::optional<QString> ToolRunner::writeFailure(const QString &output)
{
    // ffmpeg 5.1 reports a trailer or a file it could not write, and then exits with status 0.
    static const QLatin1String reports[] = {
        QLatin1String("Error writing trailer"), QLatin1String("Error closing file"),
        QLatin1String("No space left on device"), QLatin1String("File too large"),
        QLatin1String("Disk quota exceeded")};
    // ffmpeg's own lines start at the line's beginning; the input's metadata, where a title may
    // say anything, is listed indented.
    QList<QStringView> lines;
    for (const QStringView line : linesOf(output)) {
        if (!line.isEmpty() && !line.front().isSpace())
            lines.append(line.trimmed());
    }
    for (const QLatin1String &report : reports) {
        for (const QStringView line : std::as_const(lines)) {
            if (!line.contains(report))
                continue;
            // A progress line and the report may share a line: the report is what matters.
            const qsizetype error = line.indexOf(QLatin1String("Error"));
            return (error > 0 ? line.sliced(error) : line).toString();
        }
    }
    return std::nullopt;
}

std::shared_ptr<ToolProcess> ToolRunner::runToolAsync(const QString &path,
                                                      const QStringList &arguments,
                                                      Progress progress, Completion completion)
{
    return startAsync(
        path, arguments, std::move(progress),
        [completion](Ending ending, const QString &message) {
            if (ending != Ending::Stopped)
                completion(ending == Ending::Succeeded, message);
        },
        [completion](const QString &reason) { completion(false, reason); });
}

std::shared_ptr<ToolProcess>
ToolRunner::runToolIntoFile(const QString &path, const QStringList &arguments, Progress progress,
                            const QString &temporaryFile, const QString &targetFile,
                            Completion completion, Target target)
{
    // Listed until the run has ended, however it ends, so that a next start removes what a
    // process that died left of it.
    WorkingFolder::trackOutputFile(temporaryFile, WorkingFolder::Leftover::Partial);
    return startAsync(
        path, arguments, std::move(progress),
        [temporaryFile, targetFile, completion, target](Ending ending, const QString &message) {
            std::optional<QString> error;
            if (ending == Ending::Succeeded)
                error = moveIntoPlace(temporaryFile, targetFile, target);
            if (ending != Ending::Succeeded || error)
                QFile::remove(temporaryFile);
            WorkingFolder::untrackOutputFile(temporaryFile);
            if (ending == Ending::Failed)
                completion(false, message);
            else if (ending == Ending::Succeeded)
                completion(!error, error.value_or(QString()));
        },
        [temporaryFile, completion](const QString &reason) {
            QFile::remove(temporaryFile);
            WorkingFolder::untrackOutputFile(temporaryFile);
            completion(false, reason);
        });
}

std::optional<double> ToolRunner::parseProgressTime(const QString &text)
{
    for (const QStringView line : linesOf(text)) {
        if (!line.contains(u" time=") || !line.contains(u"bitrate="))
            continue;
        for (const QStringView component : line.split(u' ')) {
            if (!component.startsWith(u"time="))
                continue;
            const QList<QStringView> parts = component.split(u'=');
            if (parts.size() < 2)
                continue;
            const std::optional<Time> time = Time::parse(parts[1].trimmed());
            if (!time)
                return std::nullopt;
            return time->milliseconds;
        }
    }
    return std::nullopt;
}

QString ToolRunner::toolFailure(const QString &output)
{
    if (const std::optional<QString> failure = writeFailure(output))
        return *failure;
    // ffmpeg's last words say what went wrong; its banner and stream list come before them.
    const QStringList lines = output.split(u'\n', Qt::SkipEmptyParts);
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        QString line = lines[i].trimmed();
        // Files are named to the tools as file: URLs; the user knows them by their paths.
        if (line.startsWith(QLatin1String("file:/")))
            line.remove(0, 5);
        if (!line.isEmpty())
            return line;
    }
    return QStringLiteral("ffmpeg failed");
}

QList<QStringView> ToolRunner::linesOf(const QString &text)
{
    QList<QStringView> lines;
    qsizetype from = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isLineEnd(text[i]))
            continue;
        lines.append(QStringView(text).sliced(from, i - from));
        from = i + 1;
    }
    return lines;
}

std::optional<QString> ToolRunner::moveIntoPlace(const QString &temporary, const QString &target,
                                                 Target kind)
{
    const QByteArray from = QFile::encodeName(temporary);
    const QByteArray to = QFile::encodeName(target);
    auto failure = [&](const QString &reason) {
        return QStringLiteral("Could not write '%1': %2").arg(target, reason);
    };
    if (const std::optional<QString> error = FileSystem::syncToDisk(temporary))
        return failure(*error);

    if (kind == Target::Reserved) {
        struct stat status {};
        if (::lstat(to.constData(), &status) != 0) {
            if (errno != ENOENT)
                return failure(QString::fromLocal8Bit(std::strerror(errno)));
            if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(),
                            RENAME_NOREPLACE) != 0)
                return failure(errno == EEXIST
                                   ? QStringLiteral("another file took its name meanwhile")
                                   : QString::fromLocal8Bit(std::strerror(errno)));
            return std::nullopt;
        }
        if (!S_ISREG(status.st_mode) || status.st_size != 0)
            return failure(QStringLiteral("another file took its name meanwhile"));
    }
    // One rename replaces the target, so it is never lost between a removal and a move.
    if (std::rename(from.constData(), to.constData()) != 0)
        return QStringLiteral("Could not replace '%1': %2")
            .arg(target, QString::fromLocal8Bit(std::strerror(errno)));
    return std::nullopt;
}

std::shared_ptr<ToolProcess> ToolRunner::runToolIntoPartialFile(
    const QString &path, const std::function<QStringList(const QString &partialFile)> &arguments,
    Progress progress, const QString &targetFile, Completion completion, Target target)
{
    // A hidden name that no other run can have: created here, then overwritten by the tool.
    QString reason;
    const std::optional<QString> partial = FileSystem::createHiddenFile(
        targetFile, QStringLiteral("partial"), &reason, WorkingFolder::claimPartialFile);
    if (!partial) {
        completion(false, QStringLiteral("Could not write to '%1': %2")
                              .arg(QFileInfo(targetFile).absolutePath(), reason));
        return nullptr;
    }
    return runToolIntoFile(path, arguments(*partial), std::move(progress), *partial, targetFile,
                           std::move(completion), target);
}
