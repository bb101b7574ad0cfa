#pragma once

#include <QString>
#include <optional>

// What the output video command does to the voiced audio stream beyond the plain mix: the
// original lowered under the speech by a gain track, a linear gain to a loudness target, and a
// true-peak limit. The default treats nothing, and the command is the plain one.
struct AudioMix {
    // Raw mono 32-bit float samples at DuckingEnvelope::gainRate; empty: no ducking.
    QString duckingGainTrack;
    // Linear gain in dB to the loudness target.
    std::optional<double> gainDb;
    // The limiter that keeps true peaks at or below -1 dBTP.
    bool limit = false;

    bool isPlain() const { return duckingGainTrack.isEmpty() && !gainDb && !limit; }
};
