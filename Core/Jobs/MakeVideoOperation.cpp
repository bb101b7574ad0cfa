#include "MakeVideoOperation.h"

#include "Settings/UserSettings.h"
#include "Speech/AIFFFile.h"
#include "VideoProcessor/MakeVideoCommand.h"
#include "VideoProcessor/VolumeTools.h"
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
    // A track too long for AIFF was written as Wave64, under a name of that kind.
    const QString track = AIFFFile::writtenTrack(speechFile);
    VolumeTools::maximizeVolume(track, &cancelFlag());
    if (isCancelled())
        return;
    runTool([this, track](auto progress, auto finish) {
        return MakeVideoCommand::makeVideo(
            inputVideo, videoInfo, videoTrack, audioTrack, subtitlesTrack, language3Code,
            outputVideo, progress, finish,
            options.value_or(OutputOptions::fromSettings(UserSettings::shared())), track,
            subtitlesFile);
    });
}
