#pragma once

#include "MediaStream.h"

#include <QList>
#include <optional>

// What probing found in a media file. Empty (duration 0, no streams) when it could not be read.
struct VideoInfo {
    double duration = 0; // milliseconds
    QList<MediaStream> videoStreams;
    QList<MediaStream> audioStreams;
    QList<MediaStream> subtitlesStreams;    // text subtitles only
    std::optional<MediaStream> videoStream; // not set by probing

    bool isEmpty() const
    {
        return duration == 0 && videoStreams.isEmpty() && audioStreams.isEmpty() &&
               subtitlesStreams.isEmpty();
    }
};
