#pragma once

#include <QList>
#include <memory>

class MakeOutputOperation;
class TerminalProgress;

// Runs a chain of output jobs through the job queue, as the app does, and waits for its end.
// Ctrl-C (or SIGTERM) cancels the whole chain.
class ChainRunner {
public:
    // Interrupted: the caller turns it into 128 + the signal.
    enum Status { Succeeded = 0, Failed = 1, Interrupted = 130 };

    explicit ChainRunner(TerminalProgress &progress);
    // The exit status: Succeeded when the last job ended uncancelled.
    int run(const QList<std::shared_ptr<MakeOutputOperation>> &chain);

private:
    TerminalProgress &progress;
};
