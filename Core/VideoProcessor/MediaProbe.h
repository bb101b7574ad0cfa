#pragma once

#include "VideoInfo.h"

#include <QString>
#include <QStringList>
#include <optional>

// What ffprobe says about a media file: its duration and the streams the app can use.
class MediaProbe {
public:
    // ffprobe's view of a media file; empty when it cannot be read. Blocks until ffprobe exits.
    static VideoInfo probeMedia(const QString &path);
    static QStringList probeArguments(const QString &path);
    // Interprets ffprobe's JSON output.
    static VideoInfo parseProbeOutput(const QString &output);
    static const QStringList &supportedSubtitleCodecs();

    // A number as the tools print it: the whole text, a decimal in the C locale, finite.
    static std::optional<double> cDecimal(const QString &text);
};
