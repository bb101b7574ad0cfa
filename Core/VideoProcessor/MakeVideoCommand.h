#pragma once

#include "AudioMix.h"
#include "OutputOptions.h"
#include "ToolRunner.h"
#include "VideoInfo.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class ToolProcess;

// The output video: the input video with the speech track, and optionally the working subtitles,
// added.
class MakeVideoCommand {
public:
    // The output video command: the input's streams copied, the speech added as a new audio
    // stream or mixed into the chosen one, the working subtitles optionally added, default marks
    // and language tags set. Nothing when the output extension is not an output container.
    static std::optional<QStringList>
    makeVideoArguments(const QString &inputVideo, const VideoInfo &videoInfo, int videoTrack,
                       int audioTrack, int subtitlesTrack,
                       const std::optional<QString> &language3Code, const QString &outputVideo,
                       const OutputOptions &options, const QString &speechFile,
                       const QString &subtitlesFile, const AudioMix &mix = AudioMix());
    // Runs the output video command. The video is written under a hidden name of its own beside
    // outputVideo and takes its name only when complete, so a failed or stopped run leaves
    // nothing at outputVideo; it replaces only the empty placeholder that reserved the name,
    // never a file that appeared there. Empty speech and subtitles files mean the working files.
    static std::shared_ptr<ToolProcess>
    makeVideo(const QString &inputVideo, const VideoInfo &videoInfo, int videoTrack, int audioTrack,
              int subtitlesTrack, const std::optional<QString> &language3Code,
              const QString &outputVideo, ToolRunner::Progress progress,
              ToolRunner::Completion completion, const OutputOptions &options,
              const QString &speechFile = QString(), const QString &subtitlesFile = QString(),
              const AudioMix &mix = AudioMix());
    // The filter chains that make the voiced audio stream from the original (input
    // originalInput) and the speech (input 1), with a ducking gain track at input gainInput;
    // audioSource is what to map: a chain's label, or the speech itself when nothing is mixed.
    static QStringList audioFilters(const VideoInfo &videoInfo, int audioTrack,
                                    const OutputOptions &options, const AudioMix &mix,
                                    int originalInput, int gainInput, QString *audioSource);
    // Writes the voiced audio stream as the output command would make it with this mix, without
    // the video, for LoudnessMeter to measure.
    static QStringList loudnessMeasurementArguments(const QString &inputVideo,
                                                    const VideoInfo &videoInfo, int audioTrack,
                                                    const OutputOptions &options,
                                                    const AudioMix &mix, const QString &speechFile);
    // Writes a copy of the mixed stream that loudnessMeasurementArguments wrote, with the gain
    // and the limit of this mix, for LoudnessMeter to measure: the same audio as the output's
    // without making the mix again.
    static QStringList treatedMixArguments(const QString &mixCopy, const AudioMix &mix);
    // What follows the mix: the loudness target's gain, then the limiter.
    static QStringList treatmentFilters(const AudioMix &mix);
    // The input options that read a gain track.
    static QStringList gainTrackInput(const QString &gainTrack);
};
