#pragma once

#include "MakeOutputOperation.h"

#include <QSemaphore>
#include <functional>
#include <memory>

class ToolProcess;

// A job whose worker is an ffmpeg run: the run starts on the main thread (where its callbacks
// then arrive), the job waits for its finish, and cancelling stops the tool and the wait.
class ToolOperation : public MakeOutputOperation {
public:
    using MakeOutputOperation::MakeOutputOperation;
    ~ToolOperation() override;

    void cancel() override;

protected:
    using Launch = std::function<std::shared_ptr<ToolProcess>(
        std::function<void(double)> progress, std::function<void(bool, const QString &)> finish)>;
    // Starts the tool through launch on the main thread, unless the job is cancelled by then,
    // and waits until it has finished. launch may return no process when it has already finished.
    void runTool(Launch launch);

private:
    QSemaphore semaphore{0};
    std::shared_ptr<ToolProcess> videoProcess; // main thread only
};
