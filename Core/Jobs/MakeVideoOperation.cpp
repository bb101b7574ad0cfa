#include "MakeVideoOperation.h"

#include "Settings/UserSettings.h"
#include "VideoProcessor/VideoProcessor.h"
#include "WorkingFolder.h"

MakeVideoOperation::MakeVideoOperation(QString taskName, QString inputVideo, int videoTrack,
                                       int audioTrack, VideoInfo videoInfo, int subtitlesTrack,
                                       std::optional<QString> language3Code, QString outputVideo,
                                       std::optional<OutputOptions> options, QString speechFile,
                                       QString subtitlesFile)
    : ToolOperation(std::move(taskName))
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
    postSetupProgress(videoInfo.duration);
    if (isCancelled())
        return;
    VideoProcessor::maximizeVolume(speechFile, &cancelFlag());
    if (isCancelled())
        return;
    runTool([this](auto progress, auto finish) {
        return VideoProcessor::makeVideo(
            inputVideo, videoInfo, videoTrack, audioTrack, subtitlesTrack, language3Code,
            outputVideo, progress, finish,
            options.value_or(OutputOptions::fromSettings(UserSettings::shared())), speechFile,
            subtitlesFile);
    });
}
