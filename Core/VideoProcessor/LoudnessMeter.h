#pragma once

#include "LoudnessMeasure.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// An EBU R128 meter (libebur128) reading the WAV stream of 32-bit float samples that ffmpeg
// writes to a pipe: the integrated loudness, and the true peak, the sample peak or no peak.
// Channels are weighted by the stream's speaker mask as ffmpeg's own meter weights them: the
// low-frequency channels not at all, the surround and back channels by 1.41, the others by 1.
class LoudnessMeter {
public:
    enum class Peak { True, Sample, None };

    explicit LoudnessMeter(Peak peak = Peak::True);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter &) = delete;
    LoudnessMeter &operator=(const LoudnessMeter &) = delete;

    // Takes the next bytes of the stream; false, with the reason, when the stream is not such a
    // WAV stream.
    bool add(QByteArrayView bytes, QString *error);
    // Seconds of audio metered so far.
    double seconds() const;
    // The integrated loudness and the peak asked for (NaN for none) of all the audio added;
    // nothing when there was none or none of it passed the gate (silence).
    std::optional<LoudnessMeasure::Measurement> measurement() const;

    // The output options that make ffmpeg write the stream this meter reads to its standard
    // output.
    static QStringList streamOutput();
    // A copy of the stream as it comes, a WAV file that ffmpeg reads back: for a second look at
    // the same audio without making it again. It is begun only when a stream of the expected
    // length fits within limit bytes, and given up (removed) past the limit or when a write fails;
    // kept tells whether it holds the whole stream.
    struct Copy {
        QString path;
        qint64 limit = 0;
        double expectedSeconds = 0;
        bool kept = false;
    };
    // Runs ffmpeg with these arguments (which end in streamOutput()) and meters what it writes;
    // progress, when given, is told the seconds metered every few seconds of audio. False, with
    // ffmpeg's last words or the meter's reason, when the run fails or is stopped; otherwise
    // *result is the measurement.
    static bool measure(const QStringList &arguments, Peak peak, const std::atomic<bool> *stop,
                        const std::function<void(double seconds)> &progress,
                        std::optional<LoudnessMeasure::Measurement> *result, QString *error,
                        Copy *copy = nullptr);

private:
    bool readHeader(QString *error);
    bool start(int channels, int sampleRate, quint32 speakerMask, QString *error);
    bool addFrames(const char *data, qsizetype count, QString *error);
    void keepCopy(QByteArrayView bytes);
    void dropCopy();

    Peak peak;
    // libebur128's state, once the stream has said what it holds.
    struct State;
    std::unique_ptr<State> state;
    int channels = 0;
    int sampleRate = 0;
    qint64 frames = 0;
    // The header read so far, then the bytes of a frame split between two additions.
    QByteArray pending;
    bool inData = false;
    std::vector<float> samples;
    Copy *copy = nullptr;
    std::unique_ptr<QFile> copyFile;
};
