#pragma once

#include <QString>

// What an output container can hold, and the encoders of newly added streams.
struct ContainerFormat {
    // 1: one audio stream only (speech is mixed into it); 2: several audio streams, no subtitle
    // streams; 3: several audio streams and subtitle streams.
    int streamSupport = 0;
    QString audioCodec;
    QString subtitlesCodec; // empty below 3

    bool operator==(const ContainerFormat &) const = default;
};
