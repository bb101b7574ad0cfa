#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Time texts as the user sees them, the name of an output video, and whether an input file can
// be read.
class Utils {
public:
    // Hours, minutes, seconds and milliseconds of ms as texts; negative parts print as zeros.
    static QStringList timeComponents(qint64 ms);
    // HH:MM:SS.mmm
    static QString fullTimeString(qint64 ms);
    // The full form without leading zero hours, then without leading zero minutes.
    static QString shortTimeString(qint64 ms);
    // HH:MM:SS, or MM:SS when the hours are zero.
    static QString clockTimeString(qint64 ms);

    // A free path for the output video planned at path (output folder + input file name), tagged
    // with the stored voice language: walk.mp4 gives walk_Kelvorandix_en_US.mp4, then
    // walk_Kelvorandix_en_US_1.mp4 and so on. Nothing is created.
    static QString outputFilePath(const QString &path);
    // The same with the voice language given rather than read from the settings.
    static QString outputFilePath(const QString &path, const QString &voiceLanguage);
    // The same name, reserved: an empty file is created there in one step that fails when the
    // name is taken, so two runs at once never choose the same name. Throws VSError when the
    // folder takes no file.
    static QString reserveOutputFilePath(const QString &path, const QString &voiceLanguage);

    // Why path cannot be read as an input, as "Could not read '<path>': <reason>": it is
    // missing, a folder, not a regular file, larger than maximumSize (when given) for a file of
    // its kind ("subtitles file"), or unreadable. Nothing when it can be; nothing of it is read.
    static std::optional<QString> inputFileProblem(const QString &path,
                                                   std::optional<qint64> maximumSize = std::nullopt,
                                                   const QString &kind = QString());
};
