#include "DuckingEnvelope.h"

#include <QFile>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <sndfile.h>

namespace {

// Follows runs of sound across blocks of samples.
class SpanFinder {
public:
    explicit SpanFinder(int sampleRate)
        : rate(sampleRate)
    {}

    void feed(const float *samples, qsizetype frames, int channels)
    {
        for (qsizetype frame = 0; frame < frames; ++frame, ++position) {
            const float *first = samples + frame * channels;
            const bool sounding = std::any_of(first, first + channels, [](float sample) {
                return std::fabs(sample) > DuckingEnvelope::silenceFloor;
            });
            if (!sounding)
                continue;
            if (!open || position - lastSounding > qint64(DuckingEnvelope::pauseSeconds * rate)) {
                close();
                open = true;
                start = position;
            }
            lastSounding = position;
        }
    }

    QList<DuckingEnvelope::Span> finish()
    {
        close();
        return spans;
    }

private:
    void close()
    {
        if (open)
            spans.append({double(start) / rate, double(lastSounding + 1) / rate});
        open = false;
    }

    int rate;
    qint64 position = 0;
    qint64 start = 0;
    qint64 lastSounding = 0;
    bool open = false;
    QList<DuckingEnvelope::Span> spans;
};

// The gain one span asks for at a time: level inside, a linear ramp to 1 on each side.
double spanGain(const DuckingEnvelope::Span &span, double seconds, double level)
{
    const double outside = std::max(span.start - seconds, seconds - span.end);
    const double ramp = std::clamp(outside / DuckingEnvelope::rampSeconds, 0.0, 1.0);
    return level + (1.0 - level) * ramp;
}

} // namespace

QList<DuckingEnvelope::Span> DuckingEnvelope::spansOfSamples(const float *samples, qsizetype frames,
                                                             int channels, int sampleRate)
{
    SpanFinder finder(sampleRate);
    finder.feed(samples, frames, channels);
    return finder.finish();
}

bool DuckingEnvelope::spansOfTrack(const QString &path, QList<Span> *spans, QString *error)
{
    SF_INFO info{};
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file || info.channels <= 0 || info.samplerate <= 0) {
        *error = QStringLiteral("Could not read the speech track '%1': %2")
                     .arg(path, QString::fromUtf8(sf_strerror(file)));
        if (file)
            sf_close(file);
        return false;
    }
    SpanFinder finder(info.samplerate);
    constexpr sf_count_t blockFrames = 65536;
    std::vector<float> block(size_t(blockFrames) * size_t(info.channels));
    sf_count_t read = 0;
    while ((read = sf_readf_float(file, block.data(), blockFrames)) > 0)
        finder.feed(block.data(), qsizetype(read), info.channels);
    sf_close(file);
    *spans = finder.finish();
    return true;
}

double DuckingEnvelope::gainAt(const QList<Span> &spans, double seconds, double level)
{
    double gain = 1.0;
    for (const Span &span : spans)
        gain = std::min(gain, spanGain(span, seconds, level));
    return gain;
}

std::vector<float> DuckingEnvelope::gainTrack(const QList<Span> &spans, double level,
                                              double lengthSeconds)
{
    const qint64 count = std::max<qint64>(0, qint64(std::ceil(lengthSeconds * gainRate)));
    std::vector<float> gains(size_t(count), 1.0f);
    // Each span touches only the samples of its ramps and its own length.
    for (const Span &span : spans) {
        const qint64 first =
            std::max<qint64>(0, qint64(std::floor((span.start - rampSeconds) * gainRate)));
        const qint64 last =
            std::min<qint64>(count - 1, qint64(std::ceil((span.end + rampSeconds) * gainRate)));
        for (qint64 i = first; i <= last; ++i)
            gains[size_t(i)] =
                std::min(gains[size_t(i)], float(spanGain(span, double(i) / gainRate, level)));
    }
    return gains;
}

bool DuckingEnvelope::writeGainTrack(const QList<Span> &spans, double level, double lengthSeconds,
                                     const QString &path, QString *error)
{
    const std::vector<float> gains = gainTrack(spans, level, lengthSeconds);
    std::vector<quint32> bytes(gains.size());
    for (size_t i = 0; i < gains.size(); ++i) {
        quint32 bits = 0;
        std::memcpy(&bits, &gains[i], sizeof bits);
        bytes[i] = qToLittleEndian(bits);
    }
    QFile file(path);
    const qint64 size = qint64(bytes.size() * sizeof(quint32));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char *>(bytes.data()), size) != size || !file.flush()) {
        *error = QStringLiteral("Could not write '%1': %2").arg(path, file.errorString());
        file.close();
        QFile::remove(path);
        return false;
    }
    return true;
}
