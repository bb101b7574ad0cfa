#include "LoudnessMeter.h"

#include "ToolRunner.h"

#include <QtEndian>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <ebur128.h>
#include <limits>

namespace {

// Speaker bits of a WAV stream's channel mask.
constexpr quint32 lowFrequency = 0x8;
// The channels behind the listener, and those to the sides: back left, right and centre, side
// left and right, top back left, centre and right.
constexpr quint32 surround = 0x10 | 0x20 | 0x100 | 0x200 | 0x400 | 0x8000 | 0x10000 | 0x20000;

// Enough for the format and the few short chunks (ffmpeg's INFO list) before the samples.
constexpr qsizetype headerLimit = 64 * 1024;

// Reported every this many seconds of audio.
constexpr double progressStep = 5.0;

quint16 le16(const QByteArray &bytes, qsizetype at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

quint32 le32(const QByteArray &bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

const QString notFloatWave =
    QStringLiteral("The audio to measure did not come as 32-bit float WAV from ffmpeg");

} // namespace

struct LoudnessMeter::State {
    explicit State(ebur128_state *meter)
        : meter(meter)
    {}
    ~State() { ebur128_destroy(&meter); }
    State(const State &) = delete;
    State &operator=(const State &) = delete;
    ebur128_state *meter;
};

LoudnessMeter::LoudnessMeter(Peak peak)
    : peak(peak)
{}

LoudnessMeter::~LoudnessMeter() = default;

QStringList LoudnessMeter::streamOutput()
{
    return {QStringLiteral("-c:a"), QStringLiteral("pcm_f32le"), QStringLiteral("-f"),
            QStringLiteral("wav"), QStringLiteral("pipe:1")};
}

bool LoudnessMeter::readHeader(QString *error)
{
    if (pending.size() < 12)
        return true;
    if (!pending.startsWith("RIFF") || pending.mid(8, 4) != "WAVE") {
        *error = notFloatWave;
        return false;
    }
    // Chunks up to the samples: the format, and others that are skipped. A stream written to a
    // pipe gives no sizes for the whole or its samples, which are read to the end.
    int formatChannels = 0;
    int formatRate = 0;
    quint32 mask = 0;
    qsizetype at = 12;
    while (pending.size() >= at + 8) {
        const QByteArray id = pending.mid(at, 4);
        const quint32 size = le32(pending, at + 4);
        if (id == "data") {
            if (formatChannels == 0) {
                *error = notFloatWave;
                return false;
            }
            pending.remove(0, at + 8);
            inData = true;
            return start(formatChannels, formatRate, mask, error);
        }
        const qsizetype next = at + 8 + qsizetype(size) + (size & 1);
        if (next > headerLimit) {
            *error = notFloatWave;
            return false;
        }
        if (pending.size() < next)
            return true;
        if (id == "fmt ") {
            const qsizetype body = at + 8;
            const quint16 tag = size >= 16 ? le16(pending, body) : 0;
            // The extensible format names its sample format and its speakers after the basic
            // fields.
            const bool extensible = tag == 0xFFFE && size >= 40;
            const quint16 format = extensible ? le16(pending, body + 24) : tag;
            if (format != 3 || le16(pending, body + 14) != 32 || le16(pending, body + 2) == 0) {
                *error = notFloatWave;
                return false;
            }
            formatChannels = le16(pending, body + 2);
            formatRate = int(std::min<quint32>(le32(pending, body + 4), 1u << 30));
            mask = extensible ? le32(pending, body + 20) : 0;
        }
        at = next;
    }
    if (pending.size() > headerLimit) {
        *error = notFloatWave;
        return false;
    }
    return true;
}

bool LoudnessMeter::start(int streamChannels, int streamRate, quint32 speakerMask, QString *error)
{
    int mode = EBUR128_MODE_I;
    if (peak == Peak::True)
        mode |= EBUR128_MODE_TRUE_PEAK;
    else if (peak == Peak::Sample)
        mode |= EBUR128_MODE_SAMPLE_PEAK;
    ebur128_state *meter = ebur128_init(unsigned(streamChannels), unsigned(streamRate), mode);
    if (!meter) {
        *error = QStringLiteral("The loudness meter cannot read %1 channels at %2 Hz")
                     .arg(streamChannels)
                     .arg(streamRate);
        return false;
    }
    state = std::make_unique<State>(meter);
    channels = streamChannels;
    sampleRate = streamRate;
    // The mask's set bits name the channels in order; a channel it does not name counts fully.
    // libebur128 reads a channel's kind only for its weight.
    quint32 speakers = speakerMask;
    for (int channel = 0; channel < channels; ++channel) {
        const quint32 speaker = speakers & (~speakers + 1);
        speakers &= ~speaker;
        const int kind = (speaker & lowFrequency) ? EBUR128_UNUSED
                         : (speaker & surround)   ? EBUR128_LEFT_SURROUND
                                                  : EBUR128_CENTER;
        ebur128_set_channel(state->meter, unsigned(channel), kind);
    }
    return true;
}

bool LoudnessMeter::add(QByteArrayView bytes, QString *error)
{
    if (!inData) {
        pending.append(bytes);
        const QByteArray received = copy ? pending : QByteArray();
        if (!readHeader(error))
            return false;
        if (!inData)
            return true;
        // Once the header tells the stream's size: the header and the samples that came with it.
        if (copy && copy->expectedSeconds * sampleRate * channels * double(sizeof(float)) <
                        double(copy->limit)) {
            copyFile = std::make_unique<QFile>(copy->path);
            if (copyFile->open(QIODevice::WriteOnly | QIODevice::Truncate))
                keepCopy(received);
            else
                copyFile.reset();
        }
        bytes = {};
    } else if (copyFile) {
        keepCopy(bytes);
    }
    // Whole frames go to the meter; the start of a split one waits for its end.
    const qsizetype frameBytes = qsizetype(sizeof(float)) * channels;
    if (!pending.isEmpty()) {
        const qsizetype missing = (frameBytes - pending.size() % frameBytes) % frameBytes;
        const qsizetype taken = std::min(missing, bytes.size());
        pending.append(bytes.first(taken));
        bytes = bytes.sliced(taken);
        const qsizetype whole = pending.size() / frameBytes;
        if (!addFrames(pending.constData(), whole, error))
            return false;
        pending.remove(0, whole * frameBytes);
    }
    const qsizetype whole = bytes.size() / frameBytes;
    if (!addFrames(bytes.data(), whole, error))
        return false;
    pending.append(bytes.sliced(whole * frameBytes));
    return true;
}

bool LoudnessMeter::addFrames(const char *data, qsizetype count, QString *error)
{
    if (count == 0)
        return true;
    samples.resize(size_t(count * channels));
    std::memcpy(samples.data(), data, samples.size() * sizeof(float));
    if constexpr (std::endian::native == std::endian::big)
        for (float &sample : samples)
            sample = std::bit_cast<float>(qFromLittleEndian(std::bit_cast<quint32>(sample)));
    if (ebur128_add_frames_float(state->meter, samples.data(), size_t(count)) != EBUR128_SUCCESS) {
        *error = QStringLiteral("The loudness meter ran out of memory");
        return false;
    }
    frames += count;
    return true;
}

void LoudnessMeter::keepCopy(QByteArrayView bytes)
{
    if (copyFile->pos() + bytes.size() > copy->limit ||
        copyFile->write(bytes.data(), bytes.size()) != bytes.size())
        dropCopy();
}

void LoudnessMeter::dropCopy()
{
    if (!copyFile)
        return;
    copyFile->close();
    copyFile->remove();
    copyFile.reset();
}

double LoudnessMeter::seconds() const
{
    return sampleRate > 0 ? double(frames) / sampleRate : 0.0;
}

std::optional<LoudnessMeasure::Measurement> LoudnessMeter::measurement() const
{
    if (!state || frames == 0)
        return std::nullopt;
    double integrated = 0;
    // Nothing passed the gate (libebur128 gives minus infinity): silence, as ffmpeg's meter
    // reports it at its floor of -70 LUFS.
    if (ebur128_loudness_global(state->meter, &integrated) != EBUR128_SUCCESS ||
        !std::isfinite(integrated) || integrated <= -70.0)
        return std::nullopt;
    double highest = peak == Peak::None ? std::numeric_limits<double>::quiet_NaN() : 0.0;
    for (int channel = 0; channel < channels && peak != Peak::None; ++channel) {
        double value = 0;
        if (peak == Peak::True)
            ebur128_true_peak(state->meter, unsigned(channel), &value);
        else
            ebur128_sample_peak(state->meter, unsigned(channel), &value);
        highest = std::max(highest, value);
    }
    const double peakDb = peak == Peak::None ? highest
                          : highest > 0      ? 20.0 * std::log10(highest)
                                             : -std::numeric_limits<double>::infinity();
    return LoudnessMeasure::Measurement{integrated, peakDb};
}

bool LoudnessMeter::measure(const QStringList &arguments, Peak peak, const std::atomic<bool> *stop,
                            const std::function<void(double seconds)> &progress,
                            std::optional<LoudnessMeasure::Measurement> *result, QString *error,
                            Copy *copy)
{
    LoudnessMeter meter(peak);
    meter.copy = copy;
    if (copy)
        copy->kept = false;
    QString meterError;
    double reported = 0;
    const auto [output, succeeded] = ToolRunner::runToolReading(
        ToolRunner::ffmpegPath(), arguments,
        [&](QByteArrayView bytes) {
            if (!meter.add(bytes, &meterError))
                return false;
            if (progress && meter.seconds() >= reported + progressStep) {
                reported = meter.seconds();
                progress(reported);
            }
            return true;
        },
        stop);
    if (meter.copyFile && meterError.isEmpty() && succeeded && meter.copyFile->flush()) {
        meter.copyFile->close();
        copy->kept = true;
    } else {
        meter.dropCopy();
    }
    if (!meterError.isEmpty()) {
        *error = meterError;
        return false;
    }
    if (!succeeded) {
        *error = ToolRunner::toolFailure(output);
        return false;
    }
    *result = meter.measurement();
    return true;
}
