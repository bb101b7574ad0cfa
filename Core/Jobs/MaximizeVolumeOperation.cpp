#include "MaximizeVolumeOperation.h"

#include "VideoProcessor/VolumeTools.h"

MaximizeVolumeOperation::MaximizeVolumeOperation(QString inputFile, QString outputFile,
                                                 QString taskName)
    : ToolOperation(std::move(taskName))
    , inputFile(std::move(inputFile))
    , outputFile(std::move(outputFile))
{}

MaximizeVolumeOperation::~MaximizeVolumeOperation() = default;

void MaximizeVolumeOperation::run()
{
    if (isCancelled())
        return;
    // The bar keeps the video's length as its maximum; the label says what runs now, rather
    // than the finished video's "100.0%" all through the analysis.
    postTaskLabel();
    // The analysis reads the whole video; it runs here rather than holding up the main thread,
    // and a cancel stops it at once.
    const std::optional<double> peak = VolumeTools::detectVideoMaxVolume(inputFile, &cancelFlag());
    if (isCancelled())
        return;
    runTool([this, peak](auto progress, auto finish) {
        return VolumeTools::maximizeVideoVolume(inputFile, peak, progress, finish, outputFile);
    });
}
