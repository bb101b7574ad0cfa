#pragma once

#include "ToolOperation.h"
#include "VideoProcessor/AudioMix.h"
#include "VideoProcessor/LoudnessMeasure.h"
#include "VideoProcessor/OutputOptions.h"
#include "VideoProcessor/VideoInfo.h"

#include <optional>

// Second job of every chain: raises the speech track to full scale, makes the ducking gain track
// and measures the loudness where the options ask for them, and runs the output video command,
// waiting for ffmpeg on the job's semaphore.
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
    // The copy of the mix that the loudness target's make-up measurement reads, in the working
    // folder, and the most it may take (a quarter of the room there at most).
    static inline const QString mixCopyFileName = QStringLiteral("loudness_mix.wav");
    static constexpr qint64 mixCopyLimit = qint64(1) << 30;
    // The ducking gain track's name in the working folder.
    static inline const QString duckingGainFileName = QStringLiteral("ducking_gain.f32");

    // The voiced audio as measured for the loudness target, once this job has measured it.
    std::optional<LoudnessMeasure::Measurement> loudness;
    // A sentence for the user where the gain's cap keeps the voiced audio more than
    // makeUpTolerance under the target, with the loudness it reaches; empty otherwise.
    QString loudnessNote;

protected:
    void run() override;

private:
    // The share of the bar, against the output's pass, that each loudness measuring pass takes:
    // about what one costs beside the output's pass (measured on a 720p film).
    static constexpr double measuringShare = 0.15;
    // The most make-up measurements of a heavily limited mix, and how near the target a result
    // must come before they stop (LU).
    static constexpr int makeUpPasses = 4;
    static constexpr double makeUpTolerance = 0.5;
    // The ducking gain track and the loudness measurement the options ask for; nothing, with
    // the failure shown, when they cannot be made, or when the job was cancelled meanwhile.
    std::optional<AudioMix> prepareMix(const OutputOptions &chosen, const QString &track);
    // Sets loudnessNote when the audio reaches only this loudness with the most gain there is.
    void noteWhenShort(double reached, int target);
};
