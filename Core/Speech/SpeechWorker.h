#pragma once

#include <optional>

// The program's second life as a speech worker, started by SpeechWorkerPool with
// "--speech-worker VOICE sync|plain". It reads one cue per line on its standard input and answers
// each with one line on its standard output, followed by the samples of the cue's clip.
//
// Speech engines keep state from one utterance to the next (espeak-ng's output depends on what it
// spoke before), so each cue is fitted in a child forked from the worker while its engine is still
// untouched: every cue is then spoken from the same state, whichever worker fits it, and the
// track is the same whatever the number of workers. Every program that runs speech jobs calls
// serveIfAsked first thing in main.
class SpeechWorker {
public:
    static inline const char *const modeArgument = "--speech-worker";

    // The worker's exit status when the program was started as a worker, else nothing.
    static std::optional<int> serveIfAsked(int argc, char **argv);
};
