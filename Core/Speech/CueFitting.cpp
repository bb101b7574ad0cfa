#include "CueFitting.h"

#include "AIFFFile.h"

#include <algorithm>
#include <cmath>

CueFitting::CueFitting(const Subtitle &cue, std::optional<double> nextStart, double trackEnd,
                       bool keepInSync)
    : cue(cue)
    , nextStart(nextStart)
    , trackEnd(trackEnd)
    , keepInSync(keepInSync)
{
    if (keepInSync) {
        span = SyncFitting::span(cue.start, cue.end, nextStart, trackEnd);
        fitting.emplace(span.speechRoom());
    }
}

bool CueFitting::spoken(const QString &utteranceFile)
{
    if (!keepInSync)
        return measured(AIFFFile::duration(utteranceFile));
    return spoken(SpeechClip(utteranceFile));
}

bool CueFitting::spoken(SpeechClip utterance)
{
    clip.emplace(std::move(utterance));
    if (!keepInSync)
        // As AIFFFile::duration() tells it from the file.
        return measured(double(clip->frames()) * (1000.0 / clip->sampleRate()) * 1.0);
    ++count;
    clip->shortenPauses(SyncFitting::longestPause);
    step = fitting->measured(speakingRate, clip->speechMs());
    if (step.action == SyncFitting::Action::Speak) {
        speakingRate = step.rate;
        return true;
    }
    return false;
}

bool CueFitting::measured(double duration)
{
    ++count;
    const double slot = cue.end - cue.start;
    const bool tooLong = slot < duration + margin;
    if (tooLong && speakingRate < maxSpeechRate) {
        const float spokenAt = speakingRate;
        speakingRate += speechRateLevel;
        while (skipsRates && speakingRate < maxSpeechRate) {
            const std::optional<double> ratio = shortestRatio(spokenAt, speakingRate, duration);
            if (!ratio || !(slot < duration * *ratio + margin))
                break;
            speakingRate += speechRateLevel;
        }
        return true;
    }
    fits = !tooLong;
    return false;
}

CueFitting::Placement CueFitting::place(const QString &utteranceFile, const QString &clipFile)
{
    if (!keepInSync) {
        // Only read, to tell where the utterance's own silence ends and its speech begins.
        const SpeechClip spoken(utteranceFile);
        return {utteranceFile, cue.start, spoken.onsetMs(), spoken.speechMs(), speakingRate, 1.0,
                fits,          count};
    }
    Placement placement = fitClip();
    clip->write(clipFile);
    placement.clipFile = clipFile;
    return placement;
}

CueFitting::Placement CueFitting::placeInMemory()
{
    Placement placement;
    if (!keepInSync)
        placement = {QString(), cue.start, clip->onsetMs(), clip->speechMs(), speakingRate, 1.0,
                     fits,      count};
    else
        placement = fitClip();
    placement.samples = std::make_shared<const std::vector<short>>(clip->toShorts());
    placement.sampleRate = int(clip->sampleRate());
    return placement;
}

CueFitting::Placement CueFitting::fitClip()
{
    clip->trim(SyncFitting::keptSilence);
    clip->compress(step.tempo);
    // The speech itself begins on the cue, its kept silence just before. The silence after it
    // is what is left before the span's end; speech that runs long keeps all of it, so that it
    // never runs into the next line.
    const double position = std::max(cue.start - clip->onsetMs(), 0.0);
    const double clipAt = std::max(position, trackEnd);
    const double left = span.end - (clipAt + clip->onsetMs() + clip->speechMs());
    clip->trim(SyncFitting::keptSilence,
               left < 0 ? SyncFitting::keptSilence : std::min(left, SyncFitting::keptSilence));
    // libsonic's output may miss the exact length by a few frames.
    const bool fit =
        step.action == SyncFitting::Action::Use || clip->speechMs() <= span.speechRoom() + 1;
    return {QString(), position, clip->onsetMs(), clip->speechMs(), speakingRate, step.tempo,
            fit,       count};
}

std::optional<double> CueFitting::shortestRatio(float from, float to, double durationMs)
{
    // Measured on film dialogue: 386 lines of a second or more (English and Arabic with
    // espeak-ng, English with flite), each spoken at every step from 200 to 300 words per
    // minute. The least ratio seen between two rates, less a tenth. espeak-ng's speech gets
    // shorter faster than its rate grows, and the more so the higher the rate.
    static constexpr double least[5][5] = {
        {0.78, 0.69, 0.60, 0.52, 0.45}, // from 200 to 220, 240, 260, 280, 300
        {0, 0.78, 0.67, 0.58, 0.51},    // from 220
        {0, 0, 0.78, 0.67, 0.59},       // from 240
        {0, 0, 0, 0.78, 0.68},          // from 260
        {0, 0, 0, 0, 0.77},             // from 280
    };
    const auto step = [](float rate) { return (rate - defaultSpeechRate) / speechRateLevel; };
    const float row = step(from);
    const float column = step(to) - 1;
    if (durationMs < shortestRatioMinimumMs || row != std::floor(row) ||
        column != std::floor(column) || row < 0 || column < row || column > 4)
        return std::nullopt;
    return least[int(row)][int(column)];
}

bool CueFitting::holdsFor(const Subtitle &cue, bool keepInSync, double trackEnd, double length)
{
    if (!keepInSync || length == trackEnd)
        return true;
    // A track that ends before the clip's kept silence begins changes neither the span nor
    // where the clip goes.
    const double free = std::max(cue.start - SyncFitting::keptSilence, 0.0);
    return length <= free && trackEnd <= free;
}
