#include "ToolOperation.h"

#include "MainThread.h"
#include "VideoProcessor/ToolProcess.h"

ToolOperation::~ToolOperation() = default;

void ToolOperation::runTool(Launch launch)
{
    auto progress = progressCallback();
    auto finish = finishCallback(semaphore);
    if (isCancelled())
        return;
    MainThread::post(
        [this, self = shared_from_this(), launch = std::move(launch), progress, finish] {
            if (!isCancelled())
                videoProcess = launch(progress, finish);
        });
    waitFor(semaphore);
}

void ToolOperation::cancel()
{
    if (!markCancelled())
        return;
    // A stopped tool reports nothing, so the wait is released here.
    semaphore.release();
    MainThread::post([self = shared_from_this(), this] {
        if (videoProcess)
            videoProcess->stop();
    });
}
