#pragma once

#include "Subtitle.h"
#include "SubtitleType.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>

// Reads SubRip text into cues.
//
// Strict about shape, lenient about numbers: a file whose head is not SubRip, or any block that
// is too short or lacks the time arrow, fails the whole file; a block whose index or times do not
// read as numbers is skipped.
//
// A failure can say where: problem, when given, is set to the first line that could not be
// read, numbered from 1 as an editor shows the file and quoted ("line 6: '00:00:03,000-->'"),
// or to why the file could not be read as text.
class SubtitlesParser {
public:
    // Fails (nothing) when the file cannot be read as text, is not SubRip or does not parse.
    static std::optional<SubtitlesParser> fromFile(const QString &path, QString *problem = nullptr);
    static std::optional<SubtitlesParser> fromText(const QString &text, QString *problem = nullptr);

    // Subtitle files are read whole; anything larger is not a subtitle file.
    static constexpr qint64 maximumFileSize = 64 * 1024 * 1024;
    // Why path cannot be read as a subtitle file (missing, a folder, a device or pipe, too
    // large, unreadable), or nothing when it can. Nothing of the file is read.
    static std::optional<QString> fileProblem(const QString &path);

    // The file's text: a byte-order mark (UTF-8, UTF-16 or UTF-32, either byte order) decides
    // the encoding, otherwise the bytes must be valid UTF-8. Nothing when unreadable or invalid.
    static std::optional<QString> readText(const QString &path, QString *problem = nullptr);

    static SubtitleType detectType(const QString &text, QString *problem = nullptr);

    // Appends the cues of text to subtitles; false when the whole text fails.
    bool parse(const QString &text, QString *problem = nullptr);

    // Optional sign, optional digits with one point or comma, then digits.
    static std::optional<double> parseDecimal(QStringView text);
    // Optional sign, then ASCII digits only; nothing on overflow.
    static std::optional<qint64> parseInteger(QStringView text);

    // The text that is spoken or shown for a cue: each line followed by one space, tags removed.
    static QString plainText(const QStringList &lines);

    QList<Subtitle> subtitles;
};
