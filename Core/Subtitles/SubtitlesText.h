#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Subtitle text on its way into the working SubRip file.
class SubtitlesText {
public:
    // The bytes of a subtitle file as text, from the given character set (none: UTF-8). Bytes
    // that are not valid in it become U+FFFD and NUL characters are dropped, so that no cue is
    // lost to them further on. Nothing when the character set is unknown.
    static std::optional<QString> decode(const QByteArray &bytes, const QString &charset);

    // SubRip text as ffmpeg writes it, with every cue kept whole: ffmpeg turns a forced line
    // break into an empty line inside a cue, which a SubRip reader takes for the cue's end.
    // Cues are numbered anew, empty lines inside them are dropped, and cues with no text left
    // are left out.
    static QString keepCuesWhole(const QString &subRip, int *cueCount = nullptr);
};
