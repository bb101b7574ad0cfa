#include "MaximizeVolumeOperation.h"

#include "MainThread.h"
#include "VideoProcessor/ToolProcess.h"
#include "VideoProcessor/VideoProcessor.h"

MaximizeVolumeOperation::MaximizeVolumeOperation(QString inputFile, QString taskName)
    : MakeOutputOperation(std::move(taskName))
    , inputFile(std::move(inputFile))
{}

MaximizeVolumeOperation::~MaximizeVolumeOperation() = default;

void MaximizeVolumeOperation::run()
{
    if (isCancelled())
        return;
    auto progress = progressCallback();
    auto finish = finishCallback(semaphore);
    if (isCancelled())
        return;
    // The analysis reads the whole video; it runs here rather than holding up the main thread.
    const std::optional<double> peak = VideoProcessor::detectMaxVolume(inputFile);
    if (isCancelled())
        return;
    MainThread::post([this, self = shared_from_this(), peak, progress, finish] {
        if (isCancelled())
            return;
        videoProcess = VideoProcessor::maximizeVideoVolume(inputFile, peak, progress, finish);
    });
    waitFor(semaphore);
}

void MaximizeVolumeOperation::cancel()
{
    MakeOutputOperation::cancel();
    semaphore.release();
    MainThread::post([self = shared_from_this(), this] {
        if (videoProcess)
            videoProcess->stop();
    });
}
