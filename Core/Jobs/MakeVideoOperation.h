#pragma once

#include "ToolOperation.h"
#include "VideoProcessor/OutputOptions.h"
#include "VideoProcessor/VideoInfo.h"

#include <optional>

// Second job of every chain: raises the speech track to full scale and runs the output video
// command, waiting for ffmpeg on the job's semaphore.
class MakeVideoOperation : public ToolOperation {
public:
    // options: empty means the stored options, read when the command is built. Empty speech and
    // subtitles files mean the working files.
    MakeVideoOperation(QString taskName, QString inputVideo, int videoTrack, int audioTrack,
                       VideoInfo videoInfo, int subtitlesTrack,
                       std::optional<QString> language3Code, QString outputVideo,
                       std::optional<OutputOptions> options = std::nullopt,
                       QString speechFile = QString(), QString subtitlesFile = QString());
    ~MakeVideoOperation() override;

    const VideoInfo videoInfo;
    const QString inputVideo;
    const QString outputVideo;
    const int videoTrack;
    const int audioTrack;
    const int subtitlesTrack;
    const std::optional<QString> language3Code;
    const std::optional<OutputOptions> options;
    const QString speechFile;
    const QString subtitlesFile;

protected:
    void run() override;
};
