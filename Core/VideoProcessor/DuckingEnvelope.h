#pragma once

#include <QList>
#include <QString>
#include <vector>

// Where the speech sounds on the speech track, and the gain that lowers the original audio under
// it: the volume's level while speech plays, full level elsewhere, with short linear ramps that
// end as a line starts and begin as it ends, so that no line's first syllable is masked.
class DuckingEnvelope {
public:
    struct Span {
        double start = 0; // seconds
        double end = 0;
        bool operator==(const Span &) const = default;
    };
    static constexpr double rampSeconds = 0.1;
    // A pause inside a line shorter than this keeps the original down, rather than letting it
    // swell between two words.
    static constexpr double pauseSeconds = 0.6;
    // Samples per second of the gain track; the mixing pass resamples it to the original's rate.
    static constexpr int gainRate = 1000;
    // Samples at or below this magnitude are silence: the track writer lays exact zeros between
    // clips, so the spans are where the clips lie.
    static constexpr float silenceFloor = 1.0f / 4096;

    // The sounding spans of interleaved samples, in order.
    static QList<Span> spansOfSamples(const float *samples, qsizetype frames, int channels,
                                      int sampleRate);
    // The same for an audio file, read in blocks; false with the reason when it cannot be read.
    static bool spansOfTrack(const QString &path, QList<Span> *spans, QString *error);
    // The gain at a time: level under a span, 1 away from every span, the lowest where ramps meet.
    static double gainAt(const QList<Span> &spans, double seconds, double level);
    // The gain track, lengthSeconds long at gainRate.
    static std::vector<float> gainTrack(const QList<Span> &spans, double level,
                                        double lengthSeconds);
    // Writes the gain track as raw little-endian 32-bit floats.
    static bool writeGainTrack(const QList<Span> &spans, double level, double lengthSeconds,
                               const QString &path, QString *error);
};
