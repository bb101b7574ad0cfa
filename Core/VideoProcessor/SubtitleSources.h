#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// The working subtitles from a video's subtitle stream or from a subtitle file of any text
// format and character set.
class SubtitleSources {
public:
    // The subtitle stream (its stream index as text) of a video, converted to SubRip. Every cue
    // comes through, or the conversion fails and says why in reason. The output is replaced
    // whole or left as it was.
    static bool extractSubtitlesTrack(const QString &videoPath, const QString &stream,
                                      const QString &outputPath, QString *reason = nullptr);
    static QStringList extractSubtitlesArguments(const QString &videoPath, const QString &stream,
                                                 const QString &outputPath);
    // A subtitle file in any text format and character set ffmpeg reads, as UTF-8 SubRip, with
    // bytes that are not valid text replaced and NULs removed; otherwise as above.
    static bool convertSubtitlesFile(const QString &subtitlesPath, const QString &outputPath,
                                     QString *reason = nullptr);
    static QStringList convertSubtitlesArguments(const QString &subtitlesPath,
                                                 const QString &outputPath,
                                                 const std::optional<QString> &charset);
    // The character set of a text file (uchardet, then `file --mime-encoding`), upper-cased as
    // ffmpeg's -sub_charenc takes it; nothing when unknown.
    static std::optional<QString> detectCharset(const QString &path);
    // The same for a file's first bytes (path: for the fallback tool).
    static std::optional<QString> detectCharset(const QByteArray &head, const QString &path);

private:
    // ffmpeg's SubRip output, kept whole, as outputPath.
    static bool writeWorkingSubtitles(const QString &converted, const QString &outputPath,
                                      QString *reason);
};
