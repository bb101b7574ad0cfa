#pragma once

#include "SpeechClip.h"
#include "Subtitles/Subtitle.h"
#include "SyncFitting.h"

#include <QString>
#include <memory>
#include <optional>
#include <vector>

// How one cue is spoken and fitted to its place on the track: the rate of each utterance, and the
// clip laid down at the end.
//
// By the plain rule the cue is spoken at 200 words per minute, then again 20 faster while its
// speech is longer than its slot, up to 300, and the last utterance is laid at the cue's start.
// Kept in sync, SyncFitting decides, and the clip is trimmed, compressed and written anew.
// The same fitting gives the same clip wherever it runs, so cues may be fitted ahead of the track
// (in worker processes) as long as the track then has the length they were fitted for.
class CueFitting {
public:
    static constexpr double margin = 0;
    static constexpr float defaultSpeechRate = 200;
    static constexpr float speechRateLevel = 20;
    static constexpr float maxSpeechRate = 300;

    // Where a fitted clip goes, and what it holds.
    struct Placement {
        QString clipFile;    // the audio to lay down, unless samples holds it
        double position = 0; // milliseconds: at or after this point of the track
        double onsetMs = 0;  // where the speech begins in the clip
        double speechMs = 0; // how long the speech lasts
        float rate = 0;      // words per minute of the utterance used
        double tempo = 1.0;  // how much faster it is played
        bool fits = true;    // whether it ended within its room
        int passes = 0;      // how many utterances it took
        // The clip itself (mono, 16-bit, at sampleRate) when it is held in memory.
        std::shared_ptr<const std::vector<short>> samples = nullptr;
        int sampleRate = 0;
    };

    // trackEnd: how long the track is when the cue is laid down.
    CueFitting(const Subtitle &cue, std::optional<double> nextStart, double trackEnd,
               bool keepInSync);

    // By the plain rule, rates that the last utterance shows to be too slow are not spoken:
    // an utterance at a higher rate lasts at least shortestRatio() of it. The rate the rule ends
    // at is the same; fewer utterances are spoken on the way. Only for an engine of its own (a
    // worker's): the utterances an engine has spoken shape the next one's samples.
    void skipRatesSurelyTooSlow() { skipsRates = true; }
    // The least share of an utterance at rate `from` (words per minute, a step of the rule)
    // that the same text spoken at rate `to` lasts; nothing for utterances shorter than
    // shortestRatioMinimumMs.
    static std::optional<double> shortestRatio(float from, float to, double durationMs);
    static constexpr double shortestRatioMinimumMs = 1000;

    // The rate of the next utterance.
    float rate() const { return speakingRate; }
    int passes() const { return count; }
    // The utterance at rate() was written to utteranceFile: true when the cue must be spoken
    // again, at the new rate(). Throws VSError when the file cannot be read.
    bool spoken(const QString &utteranceFile);
    // The same for an utterance held in memory, which placeInMemory() then lays down.
    bool spoken(SpeechClip utterance);
    // The clip to lay down, made of the last utterance: the utterance file itself by the plain
    // rule, clipFile (written here) when kept in sync. Throws VSError.
    Placement place(const QString &utteranceFile, const QString &clipFile);
    // The clip to lay down, made of the last utterance held in memory: in the placement's
    // samples, with no file.
    Placement placeInMemory();
    // Whether the placement of a cue fitted for a track trackEnd long stays the same on one
    // length long.
    static bool holdsFor(const Subtitle &cue, bool keepInSync, double trackEnd, double length);

private:
    // By the plain rule: an utterance lasting duration milliseconds was spoken.
    bool measured(double duration);
    // Trims and compresses the clip kept in sync for its place on the track.
    Placement fitClip();

    const Subtitle cue;
    const std::optional<double> nextStart;
    const double trackEnd;
    const bool keepInSync;
    bool skipsRates = false;
    float speakingRate = defaultSpeechRate;
    int count = 0;
    bool fits = true;
    SyncFitting::Span span;
    std::optional<SyncFitting> fitting;
    SyncFitting::Step step;
    std::optional<SpeechClip> clip; // the last utterance, kept in sync or held in memory
};
