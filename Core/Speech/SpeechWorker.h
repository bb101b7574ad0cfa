#pragma once

#include <QString>
#include <optional>

// The program's second life as a speech worker: started by SpeechWorkerPool with
// "--speech-worker VOICE sync|plain FOLDER", it reads one cue per line on its standard input,
// fits it with its own speech engine, writes the clip into FOLDER and answers with one line on its
// standard output. Every program that runs speech jobs calls serveIfAsked first thing in main.
class SpeechWorker {
public:
    static inline const char *const modeArgument = "--speech-worker";

    // The worker's exit status when the program was started as a worker, else nothing.
    static std::optional<int> serveIfAsked(int argc, char **argv);
};
