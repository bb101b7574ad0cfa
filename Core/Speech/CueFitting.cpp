#include "CueFitting.h"

#include "AIFFFile.h"

#include <algorithm>

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
        speakingRate += speechRateLevel;
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
    return placeClip(clipFile);
}

CueFitting::Placement CueFitting::place(const QString &clipFile)
{
    if (!keepInSync) {
        clip->write(clipFile);
        return {clipFile, cue.start, clip->onsetMs(), clip->speechMs(), speakingRate, 1.0,
                fits,     count};
    }
    return placeClip(clipFile);
}

CueFitting::Placement CueFitting::placeClip(const QString &clipFile)
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
    clip->write(clipFile);
    // libsonic's output may miss the exact length by a few frames.
    const bool fit =
        step.action == SyncFitting::Action::Use || clip->speechMs() <= span.speechRoom() + 1;
    return {clipFile, position, clip->onsetMs(), clip->speechMs(), speakingRate, step.tempo,
            fit,      count};
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
