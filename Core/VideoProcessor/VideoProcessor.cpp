#include "VideoProcessor.h"

#include "FileSystem.h"
#include "Subtitles/SubtitlesParser.h"
#include "Subtitles/SubtitlesText.h"
#include "Subtitles/Time.h"
#include "ToolProcess.h"
#include "VSError.h"
#include "WorkingFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSemaphore>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryFile>
#include <QThreadPool>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <uchardet/uchardet.h>
#include <unistd.h>

namespace {

// Enough for any probe or conversion report; a tool printing more is cut off, not believed.
constexpr qint64 outputLimit = 64 * 1024 * 1024;

const QString stoppedMessage = QStringLiteral("Stopped");

QString startFailure(const QString &path, const QProcess &process)
{
    if (!QFileInfo(path).isFile())
        return VideoProcessor::missingToolMessage(QFileInfo(path).fileName());
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

std::optional<int> jsonInteger(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number != std::floor(number) || number < INT_MIN || number > INT_MAX)
        return std::nullopt;
    return int(number);
}

std::optional<double> cDecimal(const QString &text)
{
    const QByteArray bytes = text.toLatin1();
    if (bytes.isEmpty() || text.size() != bytes.size())
        return std::nullopt;
    static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", locale_t(nullptr));
    char *end = nullptr;
    const double value = strtod_l(bytes.constData(), &end, cLocale);
    if (end != bytes.constData() + bytes.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

bool isLineEnd(QChar c)
{
    const char16_t u = c.unicode();
    return u == 0x0A || u == 0x0B || u == 0x0C || u == 0x0D || u == 0x85 || u == 0x2028 ||
           u == 0x2029;
}

// The lines of a tool's output, split at every line end (as the tools' own readers do); the views
// point into text.
QList<QStringView> linesOf(const QString &text)
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

enum class Ending { Succeeded, Failed, Stopped };

// Tells why a step failed to a caller who asked (reason may be null); false, to be returned.
bool fail(QString *reason, const QString &why)
{
    if (reason)
        *reason = why;
    return false;
}

// Writes all of bytes to an open file and flushes them; the system's reason when it cannot (a
// full disk shows as a short write, which Qt leaves without a reason).
std::optional<QString> writeAll(QFileDevice &file, const QByteArray &bytes)
{
    errno = 0;
    if (file.write(bytes) == bytes.size() && file.flush())
        return std::nullopt;
    return errno != 0 ? QString::fromLocal8Bit(std::strerror(errno)) : file.errorString();
}

// Moves a finished temporary file into place. Its data is flushed to the disk first, where a
// full disk may only now be told. A reserved target is replaced only while it is still the empty
// placeholder that reserved it: never a file that took the name meanwhile.
std::optional<QString> moveIntoPlace(const QString &temporary, const QString &target,
                                     VideoProcessor::Target kind)
{
    const QByteArray from = QFile::encodeName(temporary);
    const QByteArray to = QFile::encodeName(target);
    auto failure = [&](const QString &reason) {
        return QStringLiteral("Could not write '%1': %2").arg(target, reason);
    };
    if (const std::optional<QString> error = FileSystem::syncToDisk(temporary))
        return failure(*error);

    if (kind == VideoProcessor::Target::Reserved) {
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

// Wires a started-or-failed run to its callbacks; finished is the file step or the completion.
std::shared_ptr<ToolProcess> startAsync(const QString &path, const QStringList &arguments,
                                        VideoProcessor::Progress progress,
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
            if (const std::optional<QString> failure = VideoProcessor::writeFailure(text))
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
            if (const std::optional<double> time = VideoProcessor::parseProgressTime(*chunk))
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

QString VideoProcessor::toolPath(const QString &relativePath, const QString &toolName)
{
    const QString bundled = QCoreApplication::applicationDirPath() + relativePath;
    const QFileInfo info(bundled);
    if (info.isFile() && info.isExecutable())
        return bundled;
    const QString found = QStandardPaths::findExecutable(toolName);
    return found.isEmpty() ? bundled : found;
}

QString VideoProcessor::ffmpegPath()
{
    return toolPath(QStringLiteral("/../libexec/kelvorandix/ffmpeg"), QStringLiteral("ffmpeg"));
}

QString VideoProcessor::ffprobePath()
{
    return toolPath(QStringLiteral("/../libexec/kelvorandix/ffprobe"), QStringLiteral("ffprobe"));
}

QString VideoProcessor::missingToolMessage(const QString &toolName)
{
    const QString package =
        toolName == QLatin1String("file") ? QStringLiteral("file") : QStringLiteral("ffmpeg");
    return QStringLiteral("Could not start %1: it is not installed. Install the package %2 "
                          "(sudo apt-get install %2).")
        .arg(toolName, package);
}

QString VideoProcessor::fileArgument(const QString &path)
{
    return QStringLiteral("file:") + QFileInfo(path).absoluteFilePath();
}

std::pair<QString, bool> VideoProcessor::runTool(const QString &path, const QStringList &arguments,
                                                 const std::atomic<bool> *stop)
{
    auto stopAsked = [stop] { return ToolProcess::shutdownRequested() || (stop && stop->load()); };
    if (stopAsked())
        return {stoppedMessage, false};
    QProcess process;
    ToolProcess::prepare(process);
    process.start(path, arguments);
    if (!process.waitForStarted(-1))
        return {startFailure(path, process), false};

    QByteArray output;
    auto collect = [&] {
        const QByteArray chunk = process.readAll();
        if (output.size() < outputLimit)
            output += chunk.left(outputLimit - output.size());
    };
    bool stopped = false;
    while (process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(100);
        collect();
        if (!stopped && stopAsked()) {
            stopped = true;
            process.terminate();
            if (!process.waitForFinished(3000))
                process.kill();
        }
    }
    process.waitForFinished(-1);
    collect();
    if (stopped)
        return {stoppedMessage, false};
    const QString text = QString::fromUtf8(output);
    return {text, exitedCleanly(process) && !writeFailure(text)};
}

std::optional<QString> VideoProcessor::writeFailure(const QString &output)
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

std::shared_ptr<ToolProcess> VideoProcessor::runToolAsync(const QString &path,
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
VideoProcessor::runToolIntoFile(const QString &path, const QStringList &arguments,
                                Progress progress, const QString &temporaryFile,
                                const QString &targetFile, Completion completion, Target target)
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

std::optional<double> VideoProcessor::parseProgressTime(const QString &text)
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

QStringList VideoProcessor::probeArguments(const QString &path)
{
    return {QStringLiteral("-i"),
            fileArgument(path),
            QStringLiteral("-v"),
            QStringLiteral("quiet"),
            QStringLiteral("-print_format"),
            QStringLiteral("json"),
            QStringLiteral("-show_streams"),
            QStringLiteral("-show_format"),
            QStringLiteral("-hide_banner")};
}

VideoInfo VideoProcessor::probeMedia(const QString &path)
{
    return parseProbeOutput(runTool(ffprobePath(), probeArguments(path)).first);
}

const QStringList &VideoProcessor::supportedSubtitleCodecs()
{
    static const QStringList codecs = {
        QStringLiteral("subrip"),   QStringLiteral("srt"),
        QStringLiteral("ssa"),      QStringLiteral("ass"),
        QStringLiteral("webvtt"),   QStringLiteral("hdmv_text_subtitle"),
        QStringLiteral("mov_text"), QStringLiteral("realtext"),
        QStringLiteral("text"),     QStringLiteral("ttml")};
    return codecs;
}

VideoInfo VideoProcessor::parseProbeOutput(const QString &output)
{
    VideoInfo info;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(output.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return info;
    const QJsonObject top = document.object();

    const QJsonValue format = top.value(QStringLiteral("format"));
    if (format.isObject()) {
        const QJsonValue duration = format.toObject().value(QStringLiteral("duration"));
        if (duration.isString())
            if (const std::optional<double> seconds = cDecimal(duration.toString()))
                info.duration = *seconds * 1000;
    }

    const QJsonValue streams = top.value(QStringLiteral("streams"));
    if (!streams.isArray())
        return info;
    for (const QJsonValue &value : streams.toArray()) {
        if (!value.isObject())
            continue;
        const QJsonObject stream = value.toObject();
        const QJsonValue codecType = stream.value(QStringLiteral("codec_type"));
        const QJsonValue codecName = stream.value(QStringLiteral("codec_name"));
        if (!codecType.isString() || !codecName.isString())
            continue;
        const QString kind = codecType.toString();
        const QString codec = codecName.toString();
        const bool isVideo = kind == QLatin1String("video");
        const bool isAudio = kind == QLatin1String("audio");
        const bool isText =
            kind == QLatin1String("subtitle") && supportedSubtitleCodecs().contains(codec);
        if (!isVideo && !isAudio && !isText)
            continue;

        MediaStream media;
        media.codec = codec;
        if (const std::optional<int> index = jsonInteger(stream.value(QStringLiteral("index"))))
            media.streamIndex = *index;
        const QJsonValue disposition = stream.value(QStringLiteral("disposition"));
        if (disposition.isObject())
            if (const std::optional<int> flag =
                    jsonInteger(disposition.toObject().value(QStringLiteral("default"))))
                media.isDefault = *flag == 1;
        const QJsonValue tags = stream.value(QStringLiteral("tags"));
        if (tags.isObject()) {
            const QJsonValue language = tags.toObject().value(QStringLiteral("language"));
            if (language.isString())
                media.language = language.toString();
        }
        if (isVideo) {
            media.type = MediaStream::StreamType::Video;
            if (const std::optional<int> width = jsonInteger(stream.value(QStringLiteral("width"))))
                media.videoWidth = *width;
            if (const std::optional<int> height =
                    jsonInteger(stream.value(QStringLiteral("height"))))
                media.videoHeight = *height;
            info.videoStreams.append(media);
        } else if (isAudio) {
            media.type = MediaStream::StreamType::Audio;
            info.audioStreams.append(media);
        } else {
            media.type = MediaStream::StreamType::Subtitles;
            info.subtitlesStreams.append(media);
        }
    }
    return info;
}

QStringList VideoProcessor::extractSubtitlesArguments(const QString &videoPath,
                                                      const QString &stream,
                                                      const QString &outputPath)
{
    return {QStringLiteral("-i"),           fileArgument(videoPath), QStringLiteral("-map"),
            QStringLiteral("0:") + stream,  QStringLiteral("-c:s"),  QStringLiteral("srt"),
            QStringLiteral("-hide_banner"), QStringLiteral("-y"),    fileArgument(outputPath)};
}

bool VideoProcessor::extractSubtitlesTrack(const QString &videoPath, const QString &stream,
                                           const QString &outputPath, QString *reason)
{
    std::optional<QTemporaryFile> extracted;
    try {
        extracted.emplace(WorkingFolder::filePath(QStringLiteral("extracted-XXXXXX.srt")));
    } catch (const VSError &error) {
        return fail(reason, error.message);
    }
    if (!extracted->open())
        return fail(reason, QStringLiteral("Could not write to the working folder: ") +
                                extracted->errorString());
    const auto [output, succeeded] =
        runTool(ffmpegPath(), extractSubtitlesArguments(videoPath, stream, extracted->fileName()));
    if (output.contains(QLatin1String("Invalid UTF-8"))) {
        // ffmpeg skips cues whose text is not UTF-8. A SubRip stream copied out as it is keeps
        // them, and is then read like a file, with the bad bytes replaced.
        QTemporaryFile copied(WorkingFolder::filePath(QStringLiteral("copied-XXXXXX.srt")));
        if (copied.open() &&
            runTool(ffmpegPath(),
                    {QStringLiteral("-i"), fileArgument(videoPath), QStringLiteral("-map"),
                     QStringLiteral("0:") + stream, QStringLiteral("-c:s"), QStringLiteral("copy"),
                     QStringLiteral("-hide_banner"), QStringLiteral("-y"),
                     fileArgument(copied.fileName())})
                .second)
            return convertSubtitlesFile(copied.fileName(), outputPath, reason);
        return fail(reason,
                    QStringLiteral("Some cues of subtitle stream %1 are not valid UTF-8 text, "
                                   "and ffmpeg cannot read them")
                        .arg(stream));
    }
    if (!succeeded)
        return fail(reason, QStringLiteral("ffmpeg: ") + toolFailure(output));
    return writeWorkingSubtitles(extracted->fileName(), outputPath, reason);
}

bool VideoProcessor::writeWorkingSubtitles(const QString &converted, const QString &outputPath,
                                           QString *reason)
{
    QFile input(converted);
    if (!input.open(QIODevice::ReadOnly))
        return fail(reason,
                    QStringLiteral("Could not read '%1': %2").arg(converted, input.errorString()));
    int cues = 0;
    const QByteArray text =
        SubtitlesText::keepCuesWhole(QString::fromUtf8(input.readAll()), &cues).toUtf8();
    if (cues == 0)
        return fail(reason, QStringLiteral("No subtitles could be read from it"));
    // Written whole or not at all: a full disk leaves the previous file, not half of this one.
    QSaveFile output(outputPath);
    if (!output.open(QIODevice::WriteOnly))
        return fail(
            reason,
            QStringLiteral("Could not write '%1': %2").arg(outputPath, output.errorString()));
    std::optional<QString> error = writeAll(output, text);
    if (!error && !output.commit())
        error = output.errorString();
    if (error)
        return fail(reason, QStringLiteral("Could not write '%1': %2").arg(outputPath, *error));
    return true;
}

QString VideoProcessor::toolFailure(const QString &output)
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

QStringList VideoProcessor::convertSubtitlesArguments(const QString &subtitlesPath,
                                                      const QString &outputPath,
                                                      const std::optional<QString> &charset)
{
    QStringList arguments;
    // ffmpeg reads ASCII and UTF-8 as they are, and Unicode files with a byte-order mark by
    // that mark; converting those again would garble them.
    const QString name = charset.value_or(QString()).toUpper();
    if (!name.isEmpty() && name != QLatin1String("ASCII") && name != QLatin1String("US-ASCII") &&
        !name.startsWith(QLatin1String("UTF-")))
        arguments << QStringLiteral("-sub_charenc") << name;
    arguments << QStringLiteral("-i") << fileArgument(subtitlesPath) << QStringLiteral("-y")
              << QStringLiteral("-hide_banner") << fileArgument(outputPath);
    return arguments;
}

bool VideoProcessor::convertSubtitlesFile(const QString &subtitlesPath, const QString &outputPath,
                                          QString *reason)
{
    if (const std::optional<QString> problem = SubtitlesParser::fileProblem(subtitlesPath))
        return fail(reason, *problem);
    QFile input(subtitlesPath);
    if (!input.open(QIODevice::ReadOnly))
        return fail(
            reason,
            QStringLiteral("Could not read '%1': %2").arg(subtitlesPath, input.errorString()));
    const QByteArray bytes = input.read(SubtitlesParser::maximumFileSize);
    const std::optional<QString> charset = detectCharset(bytes, subtitlesPath);

    // ffmpeg stops at a NUL byte and skips cues that are not valid in their character set, so
    // it is handed a clean UTF-8 copy: bad bytes replaced, NULs removed.
    const std::optional<QString> text = SubtitlesText::decode(bytes, charset.value_or(QString()));
    if (!text)
        return fail(reason, QStringLiteral("The character set %1 of '%2' is not supported")
                                .arg(charset.value_or(QString()), subtitlesPath));
    const QByteArray utf8 = text->toUtf8();
    std::optional<QTemporaryFile> copy;
    std::optional<QTemporaryFile> converted;
    try {
        const QString extension = pathExtension(subtitlesPath);
        copy.emplace(
            WorkingFolder::filePath(QStringLiteral("source-XXXXXX.") +
                                    (extension.isEmpty() ? QStringLiteral("srt") : extension)));
        converted.emplace(WorkingFolder::filePath(QStringLiteral("converted-XXXXXX.srt")));
    } catch (const VSError &error) {
        return fail(reason, error.message);
    }
    if (!copy->open() || !converted->open())
        return fail(reason, QStringLiteral("Could not write to the working folder: ") +
                                (copy->isOpen() ? converted->errorString() : copy->errorString()));
    if (const std::optional<QString> error = writeAll(*copy, utf8))
        return fail(reason, QStringLiteral("Could not write to the working folder: ") + *error);
    const auto [output, succeeded] =
        runTool(ffmpegPath(), convertSubtitlesArguments(copy->fileName(), converted->fileName(),
                                                        QStringLiteral("UTF-8")));
    if (!succeeded)
        return fail(reason, QStringLiteral("ffmpeg: ") +
                                toolFailure(output).replace(copy->fileName(), subtitlesPath));
    if (output.contains(QLatin1String("Invalid UTF-8")))
        return fail(
            reason,
            QStringLiteral("Some cues of '%1' could not be read as text").arg(subtitlesPath));
    return writeWorkingSubtitles(converted->fileName(), outputPath, reason);
}

std::optional<QString> VideoProcessor::detectCharset(const QString &path)
{
    QFile file(path);
    if (SubtitlesParser::fileProblem(path) || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // A few megabytes decide the question for any subtitle file.
    return detectCharset(file.read(4 * 1024 * 1024), path);
}

std::optional<QString> VideoProcessor::detectCharset(const QByteArray &head, const QString &path)
{
    const QByteArray bytes = head.left(4 * 1024 * 1024);
    if (bytes.isEmpty())
        return std::nullopt;
    // A byte-order mark names the encoding outright.
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QStringLiteral("UTF-8");
    if (bytes.startsWith(QByteArrayView("\xFF\xFE\x00\x00", 4)))
        return QStringLiteral("UTF-32LE");
    if (bytes.startsWith(QByteArrayView("\x00\x00\xFE\xFF", 4)))
        return QStringLiteral("UTF-32BE");
    if (bytes.startsWith("\xFF\xFE"))
        return QStringLiteral("UTF-16LE");
    if (bytes.startsWith("\xFE\xFF"))
        return QStringLiteral("UTF-16BE");

    uchardet_t detector = uchardet_new();
    QString detected;
    if (uchardet_handle_data(detector, bytes.constData(), size_t(bytes.size())) == 0) {
        uchardet_data_end(detector);
        detected = QString::fromLatin1(uchardet_get_charset(detector));
    }
    uchardet_delete(detector);
    if (!detected.isEmpty())
        return detected.toUpper();

    const QString fileTool = QStandardPaths::findExecutable(QStringLiteral("file"));
    if (fileTool.isEmpty())
        return std::nullopt;
    const auto [output, succeeded] =
        runTool(fileTool, {QStringLiteral("-b"), QStringLiteral("--mime-encoding"),
                           QStringLiteral("--"), path});
    const QString name = output.trimmed();
    if (!succeeded || name.isEmpty() || name.contains(u' ') || name == QLatin1String("binary"))
        return std::nullopt;
    // Eight-bit text that neither tool can place is most often Western European.
    if (name == QLatin1String("unknown-8bit"))
        return QStringLiteral("WINDOWS-1252");
    return name.toUpper();
}

std::optional<QString> VideoProcessor::outputProblem(const QString &outputVideo,
                                                     const VideoInfo &videoInfo, int audioTrack)
{
    const QString extension = pathExtension(outputVideo);
    const std::optional<ContainerFormat> container = containerFormat(extension);
    if (container && container->streamSupport == 1 && audioTrack == -1 &&
        !videoInfo.audioStreams.isEmpty())
        return QStringLiteral("'.%1' videos hold one audio stream, and this video has its own: "
                              "choose the audio track the speech is mixed into")
            .arg(extension);
    return std::nullopt;
}

const QList<std::pair<QString, ContainerFormat>> &VideoProcessor::containerFormats()
{
    static const QList<std::pair<QString, ContainerFormat>> table = {
        {QStringLiteral("mkv"), {3, QStringLiteral("aac"), QStringLiteral("srt")}},
        {QStringLiteral("3gp"), {3, QStringLiteral("aac"), QStringLiteral("mov_text")}},
        {QStringLiteral("3g2"), {3, QStringLiteral("aac"), QStringLiteral("mov_text")}},
        {QStringLiteral("webm"), {3, QStringLiteral("opus"), QStringLiteral("webvtt")}},
        {QStringLiteral("mp4"), {3, QStringLiteral("aac"), QStringLiteral("mov_text")}},
        {QStringLiteral("m4v"), {3, QStringLiteral("aac"), QStringLiteral("mov_text")}},
        {QStringLiteral("mov"), {3, QStringLiteral("aac"), QStringLiteral("mov_text")}},
        {QStringLiteral("vob"), {3, QStringLiteral("aac"), QStringLiteral("mov_text")}},
        {QStringLiteral("wmv"), {2, QStringLiteral("wmav2"), QString()}},
        {QStringLiteral("asf"), {2, QStringLiteral("wmav2"), QString()}},
        {QStringLiteral("wma"), {2, QStringLiteral("wmav2"), QString()}},
        {QStringLiteral("avi"), {2, QStringLiteral("mp3"), QString()}},
        {QStringLiteral("mpg"), {2, QStringLiteral("mp2"), QString()}},
        {QStringLiteral("mpeg"), {2, QStringLiteral("mp2"), QString()}},
        {QStringLiteral("ts"), {2, QStringLiteral("mp2"), QString()}},
        {QStringLiteral("m2ts"), {2, QStringLiteral("mp2"), QString()}},
        {QStringLiteral("mts"), {2, QStringLiteral("mp2"), QString()}},
        {QStringLiteral("ogg"), {2, QStringLiteral("vorbis"), QString()}},
        {QStringLiteral("ogv"), {2, QStringLiteral("vorbis"), QString()}},
        {QStringLiteral("flv"), {1, QStringLiteral("mp3"), QString()}},
        {QStringLiteral("f4v"), {1, QStringLiteral("mp3"), QString()}},
        {QStringLiteral("mxf"), {1, QStringLiteral("pcm_s16le"), QString()}},
    };
    return table;
}

std::optional<ContainerFormat> VideoProcessor::containerFormat(const QString &extension)
{
    for (const auto &[key, format] : containerFormats())
        if (key == extension)
            return format;
    return std::nullopt;
}

bool VideoProcessor::supportsNewAudioStream(const QString &path)
{
    const std::optional<ContainerFormat> format = containerFormat(pathExtension(path));
    return format && format->streamSupport != 1;
}

bool VideoProcessor::supportsNewSubtitlesStream(const QString &path)
{
    const std::optional<ContainerFormat> format = containerFormat(pathExtension(path));
    return format && format->streamSupport == 3;
}

QStringList VideoProcessor::videoFileTypes()
{
    QStringList keys;
    for (const auto &[key, format] : containerFormats())
        keys.append(key);
    return keys;
}

QString VideoProcessor::pathExtension(const QString &path)
{
    const QString name = path.mid(path.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.mid(dot + 1) : QString();
}

QStringList VideoProcessor::detectMaxVolumeArguments(const QString &path)
{
    return {QStringLiteral("-i"),           fileArgument(path),
            QStringLiteral("-hide_banner"), QStringLiteral("-vn"),
            QStringLiteral("-sn"),          QStringLiteral("-dn"),
            QStringLiteral("-filter:a"),    QStringLiteral("volumedetect"),
            QStringLiteral("-f"),           QStringLiteral("null"),
            QStringLiteral("/dev/null")};
}

std::optional<double> VideoProcessor::detectMaxVolume(const QString &path,
                                                      const std::atomic<bool> *stop)
{
    const auto [output, succeeded] = runTool(ffmpegPath(), detectMaxVolumeArguments(path), stop);
    if (!succeeded)
        return std::nullopt;
    return parseMaxVolume(output);
}

QStringList VideoProcessor::detectMaxVolumeArguments(const QString &path, int audioStreams)
{
    QStringList filters;
    QStringList maps;
    for (int i = 0; i < audioStreams; ++i) {
        filters << QStringLiteral("[0:a:%1]volumedetect[a%1]").arg(i);
        maps << QStringLiteral("-map") << QStringLiteral("[a%1]").arg(i);
    }
    return QStringList{QStringLiteral("-i"), fileArgument(path), QStringLiteral("-hide_banner"),
                       QStringLiteral("-filter_complex"), filters.join(u';')} +
           maps +
           QStringList{QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("/dev/null")};
}

std::optional<double> VideoProcessor::detectMaxVolume(const QString &path, int audioStreams,
                                                      const std::atomic<bool> *stop)
{
    if (audioStreams <= 0)
        return std::nullopt;
    const auto [output, succeeded] =
        runTool(ffmpegPath(), detectMaxVolumeArguments(path, audioStreams), stop);
    if (!succeeded)
        return std::nullopt;
    const QList<double> peaks = parseMaxVolumes(output);
    if (peaks.size() != audioStreams)
        return std::nullopt;
    return *std::max_element(peaks.begin(), peaks.end());
}

std::optional<double> VideoProcessor::detectVideoMaxVolume(const QString &inputFile,
                                                           const std::atomic<bool> *stop)
{
    return detectMaxVolume(inputFile, int(probeMedia(inputFile).audioStreams.size()), stop);
}

QList<double> VideoProcessor::parseMaxVolumes(const QString &output)
{
    QList<double> peaks;
    for (const QStringView line : linesOf(output)) {
        if (const std::optional<double> peak = parseMaxVolume(line.toString()))
            peaks.append(*peak);
    }
    return peaks;
}

std::optional<double> VideoProcessor::parseMaxVolume(const QString &output)
{
    for (const QStringView lineView : linesOf(output)) {
        const QString line = lineView.toString();
        if (!line.contains(QLatin1String("max_volume:")))
            continue;
        // Every white-space character separates; runs of them leave empty parts.
        QStringList parts;
        qsizetype start = 0;
        for (qsizetype j = 0; j <= line.size(); ++j) {
            if (j == line.size() || line[j].isSpace()) {
                parts.append(line.mid(start, j - start));
                start = j + 1;
            }
        }
        const qsizetype at = parts.indexOf(QStringLiteral("max_volume:"));
        if (at < 0 || at + 2 >= parts.size())
            continue;
        return cDecimal(parts[at + 1]);
    }
    return std::nullopt;
}

QString VideoProcessor::gainText(double peak)
{
    const double gain = -peak;
    if (std::isnan(gain))
        return QStringLiteral("nan");
    if (std::isinf(gain))
        return gain > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    QString text = QString::number(gain, 'g', QLocale::FloatingPointShortest);
    if (!text.contains(u'.') && !text.contains(u'e'))
        text += QStringLiteral(".0");
    return text;
}

void VideoProcessor::maximizeVolume(const QString &path, const std::atomic<bool> *stop)
{
    const std::optional<double> peak = detectMaxVolume(path, stop);
    if (!peak || !(*peak < 0.0))
        return;
    const QString extension = pathExtension(path);
    const QString temporary =
        path.left(path.size() - (extension.isEmpty() ? 0 : extension.size() + 1)) +
        QStringLiteral("_max.") + extension;
    const bool succeeded =
        runTool(ffmpegPath(),
                {QStringLiteral("-i"), fileArgument(path), QStringLiteral("-filter:a"),
                 QStringLiteral("volume=") + gainText(*peak) + QStringLiteral("dB"),
                 QStringLiteral("-y"), fileArgument(temporary)},
                stop)
            .second;
    // One rename replaces the file; a failed pass leaves no half-written copy behind.
    if (!succeeded || std::rename(QFile::encodeName(temporary).constData(),
                                  QFile::encodeName(path).constData()) != 0)
        QFile::remove(temporary);
}

QStringList VideoProcessor::maximizeVideoVolumeArguments(const QString &inputFile, double peak,
                                                         const QString &temporaryFile)
{
    // Every stream is mapped, so that none is dropped by ffmpeg's choice of one per kind;
    // default marks and language tags go with them. Audio is re-encoded with the container's
    // codec for new audio, everything else is copied.
    const std::optional<ContainerFormat> container = containerFormat(pathExtension(inputFile));
    QStringList arguments{QStringLiteral("-i"), fileArgument(inputFile), QStringLiteral("-map"),
                          QStringLiteral("0"),  QStringLiteral("-c"),    QStringLiteral("copy")};
    if (container) {
        arguments << QStringLiteral("-c:a") << container->audioCodec;
        if (container->audioCodec == QLatin1String("vorbis"))
            arguments << QStringLiteral("-ac:a") << QStringLiteral("2");
    }
    arguments << QStringLiteral("-filter:a")
              << QStringLiteral("volume=") + gainText(peak) + QStringLiteral("dB")
              << QStringLiteral("-strict") << QStringLiteral("-2") << QStringLiteral("-y")
              << fileArgument(temporaryFile);
    return arguments;
}

std::shared_ptr<ToolProcess> VideoProcessor::maximizeVideoVolume(const QString &inputFile,
                                                                 Progress progress,
                                                                 Completion completion)
{
    // The analysis reads the whole video on a pool thread while this thread waits for it.
    std::optional<double> peak;
    QSemaphore done;
    QThreadPool::globalInstance()->start([&] {
        peak = detectVideoMaxVolume(inputFile);
        done.release();
    });
    done.acquire();
    return maximizeVideoVolume(inputFile, peak, std::move(progress), std::move(completion));
}

std::shared_ptr<ToolProcess> VideoProcessor::maximizeVideoVolume(const QString &inputFile,
                                                                 std::optional<double> peak,
                                                                 Progress progress,
                                                                 Completion completion,
                                                                 const QString &outputFile)
{
    const QString target = outputFile.isEmpty() ? inputFile : outputFile;
    const Target kind = outputFile.isEmpty() ? Target::Replace : Target::Reserved;
    if (!peak || *peak == 0.0) {
        const std::optional<QString> error =
            target == inputFile ? std::nullopt : moveIntoPlace(inputFile, target, kind);
        completion(!error, error.value_or(QString()));
        return nullptr;
    }
    QString reason;
    const std::optional<QString> temporary = FileSystem::createHiddenFile(
        target, QStringLiteral("partial"), &reason, WorkingFolder::claimPartialFile);
    if (!temporary) {
        completion(false, QStringLiteral("Could not write to '%1': %2")
                              .arg(QFileInfo(target).absolutePath(), reason));
        return nullptr;
    }
    return runToolIntoFile(ffmpegPath(), maximizeVideoVolumeArguments(inputFile, *peak, *temporary),
                           std::move(progress), *temporary, target, std::move(completion), kind);
}

QStringList VideoProcessor::convertToPCMAudioArguments(const QString &inputPath,
                                                       const QString &outputPath)
{
    return {QStringLiteral("-i"),
            fileArgument(inputPath),
            QStringLiteral("-vn"),
            QStringLiteral("-ar"),
            QStringLiteral("44100"),
            QStringLiteral("-ac"),
            QStringLiteral("2"),
            QStringLiteral("-acodec"),
            QStringLiteral("pcm_s32be"),
            QStringLiteral("-sample_fmt"),
            QStringLiteral("s32"),
            QStringLiteral("-y"),
            QStringLiteral("-hide_banner"),
            fileArgument(outputPath)};
}

bool VideoProcessor::convertToPCMAudio(const QString &inputPath, const QString &outputPath)
{
    return runTool(ffmpegPath(), convertToPCMAudioArguments(inputPath, outputPath)).second;
}

std::optional<QStringList> VideoProcessor::makeVideoArguments(
    const QString &inputVideo, const VideoInfo &videoInfo, int videoTrack, int audioTrack,
    int subtitlesTrack, const std::optional<QString> &language3Code, const QString &outputVideo,
    const OutputOptions &options, const QString &speechFile, const QString &subtitlesFile)
{
    const std::optional<ContainerFormat> container = containerFormat(pathExtension(outputVideo));
    if (!container)
        return std::nullopt;

    QStringList filters;
    QStringList maps;
    QStringList codecs;
    QStringList marks;
    int output = 0;
    auto map = [&](const QString &source) { maps << QStringLiteral("-map") << source; };
    auto codec = [&](int n, const QString &name) {
        codecs << QStringLiteral("-c:%1").arg(n) << name;
        // ffmpeg's own Vorbis encoder writes stereo only; mono speech or a mono mix is spread
        // over both channels rather than refused.
        if (name == QLatin1String("vorbis"))
            codecs << QStringLiteral("-ac:%1").arg(n) << QStringLiteral("2");
    };
    auto disposition = [&](int n, const QString &value) {
        marks << QStringLiteral("-disposition:%1").arg(n) << value;
    };
    auto language = [&](int n) {
        if (language3Code)
            marks << QStringLiteral("-metadata:s:%1").arg(n)
                  << QStringLiteral("language=") + *language3Code;
    };

    const QString videoSource = QStringLiteral("0:%1").arg(videoTrack);
    // This ffmpeg ends a filtered audio stream early when subtitle streams of the same input are
    // copied beside it (the mix stops a little after the input's last subtitle packet). The audio
    // to mix is then read from a second opening of the input video, input 3.
    const bool mixFromSecondInput = audioTrack != -1 && !videoInfo.subtitlesStreams.isEmpty();
    QString audioSource;
    if (audioTrack == -1) {
        audioSource = QStringLiteral("1:a:0");
    } else {
        const QString chosen =
            QStringLiteral("[%1:%2]").arg(mixFromSecondInput ? 3 : 0).arg(audioTrack);
        // The mix lasts as long as the longer of its inputs, and the original is padded with
        // silence to the video's length: speech after the end of a short audio stream is kept.
        // An original that is long enough passes the padding unchanged.
        QStringList original;
        if (options.volume < 100)
            original << QStringLiteral("volume=") +
                            QString::asprintf("%.2f", options.volume / 100.0);
        if (videoInfo.duration > 0)
            original
                << QStringLiteral("apad=whole_dur=%1ms").arg(qint64(std::ceil(videoInfo.duration)));
        const QString mix = QStringLiteral("[1:a:0]amix=inputs=2:duration=longest[a2]");
        if (!original.isEmpty()) {
            filters << chosen + original.join(u',') + QStringLiteral("[a1]");
            filters << QStringLiteral("[a1]") + mix;
        } else {
            filters << chosen + mix;
        }
        audioSource = QStringLiteral("[a2]");
    }

    for (const MediaStream &stream : videoInfo.videoStreams) {
        if (stream.streamIndex == videoTrack) {
            map(videoSource);
            disposition(output, QStringLiteral("default"));
            language(output);
        } else {
            map(QStringLiteral("0:%1").arg(stream.streamIndex));
            disposition(output, QStringLiteral("none"));
        }
        codec(output, QStringLiteral("copy"));
        ++output;
    }

    if (options.newAudioStream || audioTrack == -1) {
        map(audioSource);
        codec(output, container->audioCodec);
        if (options.defaultAudioStream)
            disposition(output, QStringLiteral("default"));
        language(output);
        ++output;
    }

    for (const MediaStream &stream : videoInfo.audioStreams) {
        if (options.defaultAudioStream && stream.isDefault)
            disposition(output, QStringLiteral("none"));
        if (stream.streamIndex == audioTrack && !options.newAudioStream) {
            map(audioSource);
            codec(output, container->audioCodec);
            if (options.defaultAudioStream)
                disposition(output, QStringLiteral("default"));
            language(output);
        } else {
            map(QStringLiteral("0:%1").arg(stream.streamIndex));
            codec(output, QStringLiteral("copy"));
        }
        ++output;
    }

    if (options.newSubtitlesStream && container->streamSupport == 3) {
        map(QStringLiteral("2:s:0"));
        codec(output, container->subtitlesCodec);
        if (options.defaultAudioStream)
            disposition(output, QStringLiteral("default"));
        language(output);
        ++output;
    }

    for (const MediaStream &stream : videoInfo.subtitlesStreams) {
        map(QStringLiteral("0:%1").arg(stream.streamIndex));
        codec(output, QStringLiteral("copy"));
        if (stream.streamIndex == subtitlesTrack) {
            if (options.defaultSubtitlesStream)
                disposition(output, QStringLiteral("default"));
            // The stream's own language is what its text is in, whatever the voice speaks: only
            // a stream that has none is given the voice's.
            if (!stream.language || stream.language->isEmpty() ||
                *stream.language == QLatin1String("und"))
                language(output);
        } else if (options.defaultSubtitlesStream) {
            disposition(output, QStringLiteral("none"));
        }
        ++output;
    }

    QStringList arguments{QStringLiteral("-i"), fileArgument(inputVideo),
                          QStringLiteral("-i"), fileArgument(speechFile),
                          QStringLiteral("-i"), fileArgument(subtitlesFile)};
    if (mixFromSecondInput)
        arguments << QStringLiteral("-i") << fileArgument(inputVideo);
    if (!filters.isEmpty())
        arguments << QStringLiteral("-filter_complex") << filters.join(u';');
    // The hardware encoder switch of another platform's ffmpeg is left out: this ffmpeg rejects
    // it, and nothing here is encoded by that encoder anyway (video is always copied).
    arguments << maps << codecs << marks << QStringLiteral("-strict") << QStringLiteral("-2")
              << QStringLiteral("-y") << QStringLiteral("-hide_banner")
              << fileArgument(outputVideo);
    return arguments;
}

std::shared_ptr<ToolProcess>
VideoProcessor::makeVideo(const QString &inputVideo, const VideoInfo &videoInfo, int videoTrack,
                          int audioTrack, int subtitlesTrack,
                          const std::optional<QString> &language3Code, const QString &outputVideo,
                          Progress progress, Completion completion, const OutputOptions &options,
                          const QString &speechFile, const QString &subtitlesFile)
{
    const QString extension = pathExtension(outputVideo);
    if (!containerFormat(extension)) {
        completion(false,
                   QStringLiteral("Videos cannot be written as '.%1' files; the output "
                                  "video keeps the input's container, which must be one of: %2")
                       .arg(extension, videoFileTypes().join(QStringLiteral(", "))));
        return nullptr;
    }
    // A hidden name that no other run can have: created here, then overwritten by ffmpeg.
    QString reason;
    const std::optional<QString> partial = FileSystem::createHiddenFile(
        outputVideo, QStringLiteral("partial"), &reason, WorkingFolder::claimPartialFile);
    if (!partial) {
        completion(false, QStringLiteral("Could not write to '%1': %2")
                              .arg(QFileInfo(outputVideo).absolutePath(), reason));
        return nullptr;
    }
    const QString temporary = *partial;

    const std::optional<QStringList> arguments = makeVideoArguments(
        inputVideo, videoInfo, videoTrack, audioTrack, subtitlesTrack, language3Code, temporary,
        options, speechFile.isEmpty() ? WorkingFolder::speechFile() : speechFile,
        subtitlesFile.isEmpty() ? WorkingFolder::subtitlesFile() : subtitlesFile);
    return runToolIntoFile(ffmpegPath(), *arguments, std::move(progress), temporary, outputVideo,
                           std::move(completion), Target::Reserved);
}
