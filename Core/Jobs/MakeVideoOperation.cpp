#include "MakeVideoOperation.h"

#include "MainThread.h"
#include "Settings/UserSettings.h"
#include "VideoProcessor/ToolProcess.h"
#include "VideoProcessor/VideoProcessor.h"
#include "WorkingFolder.h"

MakeVideoOperation::MakeVideoOperation(QString taskName, QString inputVideo, int videoTrack,
                                       int audioTrack, VideoInfo videoInfo, int subtitlesTrack,
                                       std::optional<QString> language3Code, QString outputVideo,
                                       std::optional<OutputOptions> options, QString speechFile,
                                       QString subtitlesFile)
    : MakeOutputOperation(std::move(taskName))
    , videoInfo(std::move(videoInfo))
    , inputVideo(std::move(inputVideo))
    , outputVideo(std::move(outputVideo))
    , videoTrack(videoTrack)
    , audioTrack(audioTrack)
    , subtitlesTrack(subtitlesTrack)
    , language3Code(std::move(language3Code))
    , options(std::move(options))
    , speechFile(speechFile.isEmpty() ? WorkingFolder::speechFile() : speechFile)
    , subtitlesFile(subtitlesFile.isEmpty() ? WorkingFolder::subtitlesFile() : subtitlesFile)
{}

MakeVideoOperation::~MakeVideoOperation() = default;

void MakeVideoOperation::run()
{
    if (isCancelled())
        return;
    const std::weak_ptr<MakeOutputOperation> weak = weak_from_this();
    const double duration = videoInfo.duration;
    MainThread::post([weak, duration] {
        if (const auto self = weak.lock())
            self->setupProgress(duration);
    });
    if (isCancelled())
        return;
    VideoProcessor::maximizeVolume(speechFile);
    if (isCancelled())
        return;
    auto progress = progressCallback();
    auto finish = finishCallback(semaphore);
    if (isCancelled())
        return;
    MainThread::post([this, self = shared_from_this(), progress, finish] {
        if (isCancelled())
            return;
        videoProcess = VideoProcessor::makeVideo(
            inputVideo, videoInfo, videoTrack, audioTrack, subtitlesTrack, language3Code,
            outputVideo, progress, finish,
            options.value_or(OutputOptions::fromSettings(UserSettings::shared())), speechFile,
            subtitlesFile);
    });
    waitFor(semaphore);
}

void MakeVideoOperation::cancel()
{
    MakeOutputOperation::cancel();
    // The stopped ffmpeg reports nothing, so the wait is released here.
    semaphore.release();
    MainThread::post([self = shared_from_this(), this] {
        if (videoProcess)
            videoProcess->stop();
    });
}
