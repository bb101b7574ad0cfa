#include "VideoProcessor.h"

#include "Subtitles/Time.h"
#include "ToolProcess.h"
#include "WorkingFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSemaphore>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryFile>
#include <QThreadPool>
#include <QUuid>
#include <cmath>
#include <cstdio>
#include <locale.h>
#include <uchardet/uchardet.h>

namespace {

// Enough for any probe or conversion report; a tool printing more is cut off, not believed.
constexpr qint64 outputLimit = 64 * 1024 * 1024;

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

enum class Ending { Succeeded, Failed, Stopped };

// Wires a started-or-failed run to its callbacks; finished is the file step or the completion.
std::shared_ptr<ToolProcess> startAsync(const QString &path, const QStringList &arguments,
                                        VideoProcessor::Progress progress,
                                        std::function<void(Ending, const QString &)> finished,
                                        std::function<void(const QString &)> startFailed)
{
    // Deleted through the event loop of its own thread, never from inside one of its signals.
    std::shared_ptr<ToolProcess> run(new ToolProcess, [](ToolProcess *p) { p->deleteLater(); });
    QProcess &process = run->process();
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setProgram(path);
    process.setArguments(arguments);

    auto output = std::make_shared<QString>();
    ToolProcess *handle = run.get();
    QObject::connect(&process, &QProcess::readyRead, handle, [handle, output, progress] {
        const QByteArray bytes = handle->process().readAll();
        if (bytes.isEmpty())
            return;
        const std::optional<QString> chunk = decodeChunk(bytes);
        if (!chunk)
            return;
        if (progress)
            if (const std::optional<double> time = VideoProcessor::parseProgressTime(*chunk))
                progress(*time);
        *output = *chunk;
    });
    // The run keeps itself alive until it has ended.
    auto keepAlive = std::make_shared<std::shared_ptr<ToolProcess>>(run);
    QObject::connect(
        &process, &QProcess::finished, handle,
        [handle, output, finished, keepAlive](int exitCode, QProcess::ExitStatus status) {
            const std::shared_ptr<ToolProcess> self = std::move(*keepAlive);
            const QByteArray rest = handle->process().readAll();
            if (const std::optional<QString> chunk = decodeChunk(rest); chunk && !rest.isEmpty())
                *output = *chunk;
            // ffmpeg exits with 255 when a signal stopped it; a stop asked for is no failure.
            if (handle->wasStopped() || (status == QProcess::NormalExit && exitCode == 255))
                finished(Ending::Stopped, QString());
            else if (status == QProcess::NormalExit && exitCode == 0)
                finished(Ending::Succeeded, *output);
            else
                finished(Ending::Failed, *output);
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

std::pair<QString, bool> VideoProcessor::runTool(const QString &path, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(path, arguments);
    if (!process.waitForStarted(-1))
        return {startFailure(path, process), false};

    QByteArray output;
    auto collect = [&] {
        const QByteArray chunk = process.readAll();
        if (output.size() < outputLimit)
            output += chunk.left(outputLimit - output.size());
    };
    while (process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(100);
        collect();
    }
    process.waitForFinished(-1);
    collect();
    return {QString::fromUtf8(output), exitedCleanly(process)};
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
                                const QString &targetFile, Completion completion)
{
    return startAsync(
        path, arguments, std::move(progress),
        [temporaryFile, targetFile, completion](Ending ending, const QString &message) {
            if (ending != Ending::Succeeded) {
                QFile::remove(temporaryFile);
                if (ending == Ending::Failed)
                    completion(false, message);
                return;
            }
            // One rename replaces the target, so it is never lost between a removal and a move.
            if (std::rename(QFile::encodeName(temporaryFile).constData(),
                            QFile::encodeName(targetFile).constData()) != 0) {
                const QString reason = QString::fromLocal8Bit(std::strerror(errno));
                QFile::remove(temporaryFile);
                completion(false,
                           QStringLiteral("Could not replace '%1': %2").arg(targetFile, reason));
                return;
            }
            completion(true, QString());
        },
        [temporaryFile, completion](const QString &reason) {
            QFile::remove(temporaryFile);
            completion(false, reason);
        });
}

std::optional<double> VideoProcessor::parseProgressTime(const QString &text)
{
    qsizetype from = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isLineEnd(text[i]))
            continue;
        const QStringView line = QStringView(text).sliced(from, i - from);
        from = i + 1;
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
            path,
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
    return {QStringLiteral("-i"),
            videoPath,
            QStringLiteral("-map"),
            QStringLiteral("0:") + stream,
            QStringLiteral("-c:s"),
            QStringLiteral("srt"),
            QStringLiteral("-hide_banner"),
            QStringLiteral("-y"),
            outputPath};
}

bool VideoProcessor::extractSubtitlesTrack(const QString &videoPath, const QString &stream,
                                           const QString &outputPath)
{
    return runTool(ffmpegPath(), extractSubtitlesArguments(videoPath, stream, outputPath)).second;
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
    arguments << QStringLiteral("-i") << subtitlesPath << QStringLiteral("-y")
              << QStringLiteral("-hide_banner") << outputPath;
    return arguments;
}

bool VideoProcessor::convertSubtitlesFile(const QString &subtitlesPath, const QString &outputPath)
{
    const std::optional<QString> charset = detectCharset(subtitlesPath);
    // ffmpeg turns UTF-16 text with anything but ASCII in it into invalid UTF-8, so UTF-16 and
    // UTF-32 files are handed over as UTF-8 copies.
    const bool wideUnicode = charset && (charset->startsWith(QLatin1String("UTF-16")) ||
                                         charset->startsWith(QLatin1String("UTF-32")));
    if (!wideUnicode)
        return runTool(ffmpegPath(), convertSubtitlesArguments(subtitlesPath, outputPath, charset))
            .second;

    QFile input(subtitlesPath);
    if (!input.open(QIODevice::ReadOnly))
        return false;
    const std::optional<QStringConverter::Encoding> encoding =
        QStringConverter::encodingForName(charset->toLatin1().constData());
    if (!encoding)
        return false;
    QStringDecoder decoder(*encoding);
    const QByteArray utf8 = QString(decoder.decode(input.readAll())).toUtf8();
    QTemporaryFile copy(QDir::tempPath() + QStringLiteral("/kelvorandix-subtitles-XXXXXX.") +
                        pathExtension(subtitlesPath));
    if (decoder.hasError() || !copy.open() || copy.write(utf8) != utf8.size() || !copy.flush())
        return false;
    return runTool(ffmpegPath(),
                   convertSubtitlesArguments(copy.fileName(), outputPath, QStringLiteral("UTF-8")))
        .second;
}

std::optional<QString> VideoProcessor::detectCharset(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // A few megabytes decide the question for any subtitle file.
    const QByteArray bytes = file.read(4 * 1024 * 1024);
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
        runTool(fileTool, {QStringLiteral("-b"), QStringLiteral("--mime-encoding"), path});
    const QString name = output.trimmed();
    if (!succeeded || name.isEmpty() || name.contains(u' ') || name == QLatin1String("binary"))
        return std::nullopt;
    // Eight-bit text that neither tool can place is most often Western European.
    if (name == QLatin1String("unknown-8bit"))
        return QStringLiteral("WINDOWS-1252");
    return name.toUpper();
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
    return {QStringLiteral("-i"),           path,
            QStringLiteral("-hide_banner"), QStringLiteral("-vn"),
            QStringLiteral("-sn"),          QStringLiteral("-dn"),
            QStringLiteral("-filter:a"),    QStringLiteral("volumedetect"),
            QStringLiteral("-f"),           QStringLiteral("null"),
            QStringLiteral("/dev/null")};
}

std::optional<double> VideoProcessor::detectMaxVolume(const QString &path)
{
    const auto [output, succeeded] = runTool(ffmpegPath(), detectMaxVolumeArguments(path));
    if (!succeeded)
        return std::nullopt;
    return parseMaxVolume(output);
}

std::optional<double> VideoProcessor::parseMaxVolume(const QString &output)
{
    qsizetype from = 0;
    for (qsizetype i = 0; i <= output.size(); ++i) {
        if (i < output.size() && !isLineEnd(output[i]))
            continue;
        const QString line = output.mid(from, i - from);
        from = i + 1;
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

void VideoProcessor::maximizeVolume(const QString &path)
{
    const std::optional<double> peak = detectMaxVolume(path);
    if (!peak || !(*peak < 0.0))
        return;
    const QString extension = pathExtension(path);
    const QString temporary =
        path.left(path.size() - (extension.isEmpty() ? 0 : extension.size() + 1)) +
        QStringLiteral("_max.") + extension;
    const bool succeeded =
        runTool(ffmpegPath(), {QStringLiteral("-i"), path, QStringLiteral("-filter:a"),
                               QStringLiteral("volume=") + gainText(*peak) + QStringLiteral("dB"),
                               QStringLiteral("-y"), temporary})
            .second;
    // One rename replaces the file; a failed pass leaves no half-written copy behind.
    if (!succeeded || std::rename(QFile::encodeName(temporary).constData(),
                                  QFile::encodeName(path).constData()) != 0)
        QFile::remove(temporary);
}

QStringList VideoProcessor::maximizeVideoVolumeArguments(const QString &inputFile, double peak,
                                                         const QString &temporaryFile)
{
    return {QStringLiteral("-i"),
            inputFile,
            QStringLiteral("-filter:a"),
            QStringLiteral("volume=") + gainText(peak) + QStringLiteral("dB"),
            QStringLiteral("-c:v"),
            QStringLiteral("copy"),
            QStringLiteral("-c:s"),
            QStringLiteral("copy"),
            QStringLiteral("-c:d"),
            QStringLiteral("copy"),
            QStringLiteral("-y"),
            temporaryFile};
}

std::shared_ptr<ToolProcess> VideoProcessor::maximizeVideoVolume(const QString &inputFile,
                                                                 Progress progress,
                                                                 Completion completion)
{
    // The analysis reads the whole video on a pool thread while this thread waits for it.
    std::optional<double> peak;
    QSemaphore done;
    QThreadPool::globalInstance()->start([&] {
        peak = detectMaxVolume(inputFile);
        done.release();
    });
    done.acquire();
    return maximizeVideoVolume(inputFile, peak, std::move(progress), std::move(completion));
}

std::shared_ptr<ToolProcess> VideoProcessor::maximizeVideoVolume(const QString &inputFile,
                                                                 std::optional<double> peak,
                                                                 Progress progress,
                                                                 Completion completion)
{
    if (!peak || *peak == 0.0) {
        completion(true, QString());
        return nullptr;
    }
    const QString extension = pathExtension(inputFile);
    const QString temporary =
        inputFile.left(inputFile.size() - (extension.isEmpty() ? 0 : extension.size() + 1)) +
        QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + u'.' + extension;
    return runToolIntoFile(ffmpegPath(), maximizeVideoVolumeArguments(inputFile, *peak, temporary),
                           std::move(progress), temporary, inputFile, std::move(completion));
}

QStringList VideoProcessor::convertToPCMAudioArguments(const QString &inputPath,
                                                       const QString &outputPath)
{
    return {QStringLiteral("-i"),
            inputPath,
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
            outputPath};
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
        if (options.volume < 100) {
            filters << chosen + QStringLiteral("volume=") +
                           QString::asprintf("%.2f", options.volume / 100.0) +
                           QStringLiteral("[a1]");
            filters << QStringLiteral("[a1][1:a:0]amix=inputs=2:duration=first[a2]");
        } else {
            filters << chosen + QStringLiteral("[1:a:0]amix=inputs=2:duration=first[a2]");
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
            language(output);
        } else if (options.defaultSubtitlesStream) {
            disposition(output, QStringLiteral("none"));
        }
        ++output;
    }

    QStringList arguments{QStringLiteral("-i"), inputVideo,           QStringLiteral("-i"),
                          speechFile,           QStringLiteral("-i"), subtitlesFile};
    if (mixFromSecondInput)
        arguments << QStringLiteral("-i") << inputVideo;
    if (!filters.isEmpty())
        arguments << QStringLiteral("-filter_complex") << filters.join(u';');
    // The hardware encoder switch of another platform's ffmpeg is left out: this ffmpeg rejects
    // it, and nothing here is encoded by that encoder anyway (video is always copied).
    arguments << maps << codecs << marks << QStringLiteral("-strict") << QStringLiteral("-2")
              << QStringLiteral("-y") << QStringLiteral("-hide_banner") << outputVideo;
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
    const QFileInfo target(outputVideo);
    const QString temporary = target.absolutePath() + QStringLiteral("/.") +
                              target.completeBaseName() + QStringLiteral(".partial.") + extension;
    const std::optional<QStringList> arguments = makeVideoArguments(
        inputVideo, videoInfo, videoTrack, audioTrack, subtitlesTrack, language3Code, temporary,
        options, speechFile.isEmpty() ? WorkingFolder::speechFile() : speechFile,
        subtitlesFile.isEmpty() ? WorkingFolder::subtitlesFile() : subtitlesFile);
    if (!arguments) {
        completion(false,
                   QStringLiteral("Videos cannot be written as '.%1' files; the output "
                                  "video keeps the input's container, which must be one of: %2")
                       .arg(extension, videoFileTypes().join(QStringLiteral(", "))));
        return nullptr;
    }
    return runToolIntoFile(ffmpegPath(), *arguments, std::move(progress), temporary, outputVideo,
                           std::move(completion));
}
