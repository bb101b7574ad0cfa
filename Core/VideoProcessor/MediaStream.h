#pragma once

#include <QString>
#include <optional>

// One stream of a media file as the prober reported it.
struct MediaStream {
    enum class StreamType { Video, Audio, Subtitles };
    // "Video", "Audio" or "Subtitles"
    static QString rawValue(StreamType type);

    int streamIndex = -1; // the index across all streams of the file; the track number elsewhere
    bool isDefault = false;
    std::optional<QString> language;
    std::optional<QString> codec;
    std::optional<StreamType> type;
    int videoWidth = 0;
    int videoHeight = 0;
    int audioSampleRate = 0; // Hz; 0 when not reported
    int audioChannels = 0;   // 0 when not reported

    // "Track 1 Audio(eng) - default"
    QString trackTitle() const;

    bool operator==(const MediaStream &) const = default;
};
