#include "SpeechClip.h"

#include "TimeCompressor.h"
#include "VSError.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr double fullScale = 2147483648.0;

QString libraryMessage(SNDFILE *file)
{
    return QString::fromLocal8Bit(sf_strerror(file));
}

} // namespace

SpeechClip::SpeechClip(const QString &file)
{
    SNDFILE *source = sf_open(QFile::encodeName(file).constData(), SFM_READ, &info);
    if (!source)
        throw VSError(libraryMessage(nullptr));
    if (info.channels <= 0 || info.samplerate <= 0 || info.frames < 0) {
        sf_close(source);
        throw VSError(QStringLiteral("'%1' holds no audio that can be read").arg(file));
    }
    samples.resize(size_t(info.frames) * size_t(info.channels));
    const sf_count_t read = sf_readf_int(source, samples.data(), info.frames);
    sf_close(source);
    samples.resize(size_t(std::max<sf_count_t>(read, 0)) * size_t(info.channels));
    findSpeech();
}

SpeechClip::SpeechClip(const std::vector<short> &spoken, int sampleRate)
{
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
    info.frames = sf_count_t(spoken.size());
    // As the audio library reads 16-bit samples into 32 bits.
    samples.reserve(spoken.size());
    for (short sample : spoken)
        samples.push_back(int(sample) * 65536);
    findSpeech();
}

void SpeechClip::findSpeech()
{
    const double threshold = fullScale * std::pow(10.0, silenceLevelDb / 20.0);
    const auto loud = [threshold](int sample) { return std::abs(double(sample)) > threshold; };
    const auto first = std::find_if(samples.begin(), samples.end(), loud);
    if (first == samples.end()) {
        speechBegin = speechEnd = 0;
        return;
    }
    const auto last = std::find_if(samples.rbegin(), samples.rend(), loud);
    speechBegin = qint64(first - samples.begin()) / info.channels;
    speechEnd = (qint64(samples.rend() - last) - 1) / info.channels + 1;
}

void SpeechClip::trim(double keptBeforeMs, double keptAfterMs)
{
    const auto frameCount = [this](double ms) {
        return std::max<qint64>(0, qint64(std::llround(ms * info.samplerate / 1000.0)));
    };
    const qint64 channels = info.channels;
    if (speechBegin == speechEnd) {
        samples.clear();
        return;
    }
    const qint64 from = std::max<qint64>(0, speechBegin - frameCount(keptBeforeMs));
    const qint64 to = std::min(frames(), speechEnd + frameCount(keptAfterMs));
    samples.erase(samples.begin() + to * channels, samples.end());
    samples.erase(samples.begin(), samples.begin() + from * channels);
    speechBegin -= from;
    speechEnd -= from;
}

void SpeechClip::shortenPauses(double longestMs)
{
    const qint64 longest = qint64(std::llround(longestMs * info.samplerate / 1000.0));
    const qint64 channels = info.channels;
    const double threshold = fullScale * std::pow(10.0, silenceLevelDb / 20.0);
    const auto quiet = [&](qint64 frame) {
        for (qint64 channel = 0; channel < channels; ++channel)
            if (std::abs(double(samples[size_t(frame * channels + channel)])) > threshold)
                return false;
        return true;
    };
    // Copies the speech onto itself, run by run of loud or quiet frames, leaving out the middle
    // of each long pause.
    const auto moveDown = [&](qint64 from, qint64 to, qint64 at) {
        if (from != at)
            std::copy(samples.begin() + from * channels, samples.begin() + to * channels,
                      samples.begin() + at * channels);
        return at + (to - from);
    };
    qint64 kept = speechBegin;
    qint64 frame = speechBegin;
    while (frame < speechEnd) {
        qint64 runEnd = frame;
        while (runEnd < speechEnd && !quiet(runEnd))
            ++runEnd;
        if (runEnd > frame) {
            kept = moveDown(frame, runEnd, kept);
            frame = runEnd;
            continue;
        }
        while (runEnd < speechEnd && quiet(runEnd))
            ++runEnd;
        qint64 copyFrom = frame;
        if (runEnd - frame > longest) {
            // Keep the first half and the last half of the allowed pause.
            const qint64 head = longest / 2;
            kept = moveDown(frame, frame + head, kept);
            copyFrom = runEnd - (longest - head);
        }
        kept = moveDown(copyFrom, runEnd, kept);
        frame = runEnd;
    }
    if (kept == speechEnd)
        return;
    samples.erase(samples.begin() + kept * channels, samples.begin() + speechEnd * channels);
    speechEnd = kept;
}

void SpeechClip::compress(double tempo)
{
    if (tempo == 1.0 || speechBegin == speechEnd)
        return;
    const qint64 channels = info.channels;
    const auto begin = samples.begin() + speechBegin * channels;
    const auto end = samples.begin() + speechEnd * channels;
    std::vector<float> speech;
    speech.reserve(size_t(end - begin));
    for (auto sample = begin; sample != end; ++sample)
        speech.push_back(float(double(*sample) / fullScale));
    const std::vector<float> faster =
        TimeCompressor::compress(speech, info.channels, info.samplerate, tempo);
    std::vector<int> converted;
    converted.reserve(faster.size());
    for (float sample : faster)
        converted.push_back(
            int(std::clamp(std::lround(double(sample) * fullScale), -2147483648L, 2147483647L)));
    samples.erase(begin, end);
    samples.insert(samples.begin() + speechBegin * channels, converted.begin(), converted.end());
    speechEnd = speechBegin + qint64(converted.size()) / channels;
}

std::vector<short> SpeechClip::toShorts() const
{
    // The audio library keeps the high 16 bits.
    std::vector<short> shorts(samples.size());
    std::transform(samples.begin(), samples.end(), shorts.begin(),
                   [](int sample) { return short(sample >> 16); });
    return shorts;
}

void SpeechClip::write(const QString &file) const
{
    SF_INFO format = info;
    format.frames = 0;
    SNDFILE *target = sf_open(QFile::encodeName(file).constData(), SFM_WRITE, &format);
    if (!target)
        throw VSError(libraryMessage(nullptr));
    const sf_count_t count = frames();
    const sf_count_t written = count > 0 ? sf_writef_int(target, samples.data(), count) : 0;
    const QString failure = written != count ? libraryMessage(target) : QString();
    const int closed = sf_close(target);
    if (!failure.isEmpty())
        throw VSError(failure);
    if (closed != 0)
        throw VSError(QString::fromLocal8Bit(sf_error_number(closed)));
}
