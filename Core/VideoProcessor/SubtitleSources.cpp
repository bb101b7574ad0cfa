#include "SubtitleSources.h"

#include "ContainerFormats.h"
#include "Subtitles/SubtitlesParser.h"
#include "Subtitles/SubtitlesText.h"
#include "ToolRunner.h"
#include "VSError.h"
#include "WorkingFolder.h"

#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <cerrno>
#include <cstring>
#include <uchardet/uchardet.h>

namespace {

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

} // namespace

QStringList SubtitleSources::extractSubtitlesArguments(const QString &videoPath,
                                                       const QString &stream,
                                                       const QString &outputPath)
{
    return {QStringLiteral("-i"),
            ToolRunner::fileArgument(videoPath),
            QStringLiteral("-map"),
            QStringLiteral("0:") + stream,
            QStringLiteral("-c:s"),
            QStringLiteral("srt"),
            QStringLiteral("-hide_banner"),
            QStringLiteral("-y"),
            ToolRunner::fileArgument(outputPath)};
}

bool SubtitleSources::extractSubtitlesTrack(const QString &videoPath, const QString &stream,
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
        ToolRunner::runTool(ToolRunner::ffmpegPath(),
                            extractSubtitlesArguments(videoPath, stream, extracted->fileName()));
    if (output.contains(QLatin1String("Invalid UTF-8"))) {
        // ffmpeg skips cues whose text is not UTF-8. A SubRip stream copied out as it is keeps
        // them, and is then read like a file, with the bad bytes replaced.
        QTemporaryFile copied(WorkingFolder::filePath(QStringLiteral("copied-XXXXXX.srt")));
        if (copied.open() &&
            ToolRunner::runTool(ToolRunner::ffmpegPath(),
                                {QStringLiteral("-i"), ToolRunner::fileArgument(videoPath),
                                 QStringLiteral("-map"), QStringLiteral("0:") + stream,
                                 QStringLiteral("-c:s"), QStringLiteral("copy"),
                                 QStringLiteral("-hide_banner"), QStringLiteral("-y"),
                                 ToolRunner::fileArgument(copied.fileName())})
                .second)
            return convertSubtitlesFile(copied.fileName(), outputPath, reason);
        return fail(reason,
                    QStringLiteral("Some cues of subtitle stream %1 are not valid UTF-8 text, "
                                   "and ffmpeg cannot read them")
                        .arg(stream));
    }
    if (!succeeded)
        return fail(reason, QStringLiteral("ffmpeg: ") + ToolRunner::toolFailure(output));
    return writeWorkingSubtitles(extracted->fileName(), outputPath, reason);
}

bool SubtitleSources::writeWorkingSubtitles(const QString &converted, const QString &outputPath,
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

QStringList SubtitleSources::convertSubtitlesArguments(const QString &subtitlesPath,
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
    arguments << QStringLiteral("-i") << ToolRunner::fileArgument(subtitlesPath)
              << QStringLiteral("-y") << QStringLiteral("-hide_banner")
              << ToolRunner::fileArgument(outputPath);
    return arguments;
}

bool SubtitleSources::convertSubtitlesFile(const QString &subtitlesPath, const QString &outputPath,
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
        const QString extension = ContainerFormats::pathExtension(subtitlesPath);
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
    const auto [output, succeeded] = ToolRunner::runTool(
        ToolRunner::ffmpegPath(), convertSubtitlesArguments(copy->fileName(), converted->fileName(),
                                                            QStringLiteral("UTF-8")));
    if (!succeeded)
        return fail(reason, QStringLiteral("ffmpeg: ") + ToolRunner::toolFailure(output).replace(
                                                             copy->fileName(), subtitlesPath));
    if (output.contains(QLatin1String("Invalid UTF-8")))
        return fail(
            reason,
            QStringLiteral("Some cues of '%1' could not be read as text").arg(subtitlesPath));
    return writeWorkingSubtitles(converted->fileName(), outputPath, reason);
}

std::optional<QString> SubtitleSources::detectCharset(const QString &path)
{
    QFile file(path);
    if (SubtitlesParser::fileProblem(path) || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // A few megabytes decide the question for any subtitle file.
    return detectCharset(file.read(4 * 1024 * 1024), path);
}

std::optional<QString> SubtitleSources::detectCharset(const QByteArray &head, const QString &path)
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
        ToolRunner::runTool(fileTool, {QStringLiteral("-b"), QStringLiteral("--mime-encoding"),
                                       QStringLiteral("--"), path});
    const QString name = output.trimmed();
    if (!succeeded || name.isEmpty() || name.contains(u' ') || name == QLatin1String("binary"))
        return std::nullopt;
    // Eight-bit text that neither tool can place is most often Western European.
    if (name == QLatin1String("unknown-8bit"))
        return QStringLiteral("WINDOWS-1252");
    return name.toUpper();
}
