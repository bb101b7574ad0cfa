#pragma once

#include <QString>
#include <optional>

// A loudness target for the voiced audio: its measurement (integrated loudness and true peak,
// taken by LoudnessMeter), the linear gain and limit that bring it there, and ffmpeg's own EBU
// R128 meter, which checks a result independently of ours.
class LoudnessMeasure {
public:
    struct Measurement {
        double integrated = 0; // LUFS
        double truePeak = 0;   // dBTP
    };
    // The limit a result may reach.
    static constexpr double truePeakLimit = -1.0;
    // The limiter's sample-peak ceiling: a margin under truePeakLimit for the peaks between
    // samples and for the audio encoder, whose peaks outgrow the limited audio's. With AAC at
    // ffmpeg's default rate the overshoot was 1.4 dB on the 10-minute benchmark film at -16 LUFS
    // (speech over a steady tone, the limiter holding back 7 dB), and 1 dB at this ceiling.
    static constexpr double limiterCeiling = -3.0;
    // No gain above this: a nearly silent track is not raised into its noise.
    static constexpr double maximumGain = 24.0;

    // ffmpeg's meter's filter, which prints its summary when the run ends. The true peak costs more
    // than the rest of the meter (it looks at the audio four times oversampled); without it the
    // summary's peak is the sample peak.
    static QString meterFilter(bool truePeak = true);
    // The limiter's filter: a look-ahead limiter at limiterCeiling, its delay compensated.
    static QString limiterFilter();
    // The summary's integrated loudness and true peak; nothing when the output holds none, or
    // the meter found nothing loud enough to gate (silence).
    static std::optional<Measurement> parse(const QString &output);
    // The gain in dB from the measurement to the target.
    static double gain(const Measurement &measurement, int target);
    // Whether the gained audio may pass the limiter's ceiling.
    static bool needsLimit(const Measurement &measurement, double gain);
    // Whether the limiter would hold peaks back by so much (over heavyLimit dB) that it lowers
    // the loudness noticeably.
    static bool limitsHeavily(const Measurement &measurement, double gain);
    static constexpr double heavyLimit = 3.0;
    // "-16.0" style text of a gain for the volume filter.
    static QString gainText(double gain);
};
