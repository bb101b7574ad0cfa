#pragma once

#include <optional>

// How one cue's speech is fitted when the speech keeps pace with its subtitles.
//
// A clip is an utterance with its silence trimmed to keptSilence before and after the speech, and
// its pauses shortened to longestPause.
// It may lie from its cue's start (less the kept silence, so that the speech itself begins on the
// cue) to the end of the cue's slot plus up to borrowLimit of the quiet after it, never reaching
// into the next cue's slot. The first utterance, at firstRate, tells how fast the cue must be
// spoken to fill that room: it is spoken once more at that rate, rounded up to a whole rateStep,
// and once more a step faster if it still runs long, never faster than topRate. What still runs
// long is time-compressed by at most tempoLimit; only what is left then pushes the next cue.
class SyncFitting {
public:
    static constexpr double keptSilence = 20; // milliseconds
    // Pauses inside a clip (after a clause or a sentence) are shortened to this.
    static constexpr double longestPause = 100;
    static constexpr double borrowLimit = 1000;
    static constexpr float firstRate = 200; // words per minute
    static constexpr float rateStep = 20;
    static constexpr float topRate = 360;
    static constexpr double tempoLimit = 1.25;

    // Where a cue's clip may lie on the track, in milliseconds.
    struct Span {
        double clipStart = 0; // where the clip goes: the speech begins keptSilence later
        double end = 0;       // the latest end of the clip
        // Room for the speech itself, after the kept silence before it; negative when there is
        // none. The silence after the speech is only what is left before the end, up to
        // keptSilence, so back-to-back cues lose no room to it.
        double speechRoom() const { return end - clipStart - keptSilence; }
    };
    // trackEnd: how long the track already is (the previous cue's clip may have run past start).
    static Span span(double start, double end, std::optional<double> nextStart, double trackEnd);

    enum class Action { Use, Speak, Compress };
    struct Step {
        Action action = Action::Use;
        float rate = firstRate; // Speak: the rate to speak at
        double tempo = 1.0;     // Compress: how much faster to play the speech
    };

    // One cue's fitting into speechRoom milliseconds of speech.
    explicit SyncFitting(double speechRoom)
        : room(speechRoom)
    {}
    // What to do after an utterance at rate whose speech lasts speechMs (trimmed).
    Step measured(float rate, double speechMs);
    int syntheses() const { return count; }

    // The rate at which speech of speechMs at rate would fill room, rounded up to a whole step,
    // at most topRate; topRate when there is no room.
    static float estimatedRate(float rate, double speechMs, double room);
    // How much to speed up speech of speechMs to fit room, at most tempoLimit.
    static double tempoFor(double speechMs, double room);

private:
    const double room;
    int count = 0;
};
