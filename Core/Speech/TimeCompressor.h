#pragma once

#include <vector>

// Plays speech faster with its pitch kept, over libsonic.
class TimeCompressor {
public:
    // Interleaved samples in -1..1 of channels channels at sampleRate frames per second, played
    // tempo times as fast (tempo 1 gives them back unchanged).
    static std::vector<float> compress(const std::vector<float> &samples, int channels,
                                       int sampleRate, double tempo);
};
