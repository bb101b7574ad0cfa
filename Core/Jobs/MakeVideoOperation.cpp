#include "MakeVideoOperation.h"

#include "Settings/UserSettings.h"
#include "Speech/AIFFFile.h"
#include "VideoProcessor/DuckingEnvelope.h"
#include "VideoProcessor/LoudnessMeasure.h"
#include "VideoProcessor/MakeVideoCommand.h"
#include "VideoProcessor/ToolRunner.h"
#include "VideoProcessor/VolumeTools.h"
#include "WorkingFolder.h"

#include <QFile>
#include <algorithm>

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
    const OutputOptions chosen =
        options.value_or(OutputOptions::fromSettings(UserSettings::shared()));
    const std::optional<AudioMix> mix = prepareMix(chosen, track);
    if (mix && !isCancelled())
        runTool([this, track, chosen, mix](auto progress, auto finish) {
            return MakeVideoCommand::makeVideo(inputVideo, videoInfo, videoTrack, audioTrack,
                                               subtitlesTrack, language3Code, outputVideo, progress,
                                               finish, chosen, track, subtitlesFile, *mix);
        });
    // The gain track is written only for this run, and whatever became of it.
    QFile::remove(WorkingFolder::filePath(duckingGainFileName));
}

std::optional<AudioMix> MakeVideoOperation::prepareMix(const OutputOptions &chosen,
                                                       const QString &track)
{
    AudioMix mix;
    QString error;
    auto fail = [this](const QString &message) {
        if (!isCancelled()) {
            showError(failureTitle, message);
            cancel();
        }
        return std::nullopt;
    };
    if (chosen.duckOriginalAudio && audioTrack != -1) {
        QList<DuckingEnvelope::Span> spans;
        if (!DuckingEnvelope::spansOfTrack(track, &spans, &error))
            return fail(error);
        // As long as the mix: the original padded to the video's length, or the speech.
        double length = std::max(0.0, videoInfo.duration / 1000.0);
        if (!spans.isEmpty())
            length = std::max(length, spans.last().end);
        const QString gainTrack = WorkingFolder::filePath(duckingGainFileName);
        if (!DuckingEnvelope::writeGainTrack(spans, chosen.volume / 100.0, length + 2.0, gainTrack,
                                             &error))
            return fail(error);
        mix.duckingGainTrack = gainTrack;
        // Both at full level may pass full scale.
        mix.limit = true;
    }
    if (chosen.loudnessTarget) {
        auto measure = [&](const AudioMix &trial, bool truePeak, bool *failed) {
            const auto [output, succeeded] =
                ToolRunner::runTool(ToolRunner::ffmpegPath(),
                                    MakeVideoCommand::loudnessMeasurementArguments(
                                        inputVideo, videoInfo, audioTrack, chosen, trial, track),
                                    &cancelFlag());
            *failed = !succeeded;
            if (!succeeded)
                error = ToolRunner::toolFailure(output);
            return succeeded ? LoudnessMeasure::parse(output) : std::nullopt;
        };
        bool failed = false;
        // First as mixed, before any gain or limit.
        AudioMix mixed = mix;
        mixed.limit = false;
        const std::optional<LoudnessMeasure::Measurement> measured = measure(mixed, true, &failed);
        if (isCancelled())
            return std::nullopt;
        if (failed)
            return fail(QStringLiteral("Could not measure the loudness of the voiced audio: ") +
                        error);
        // Silence has no loudness to bring anywhere: it is written as it is.
        if (measured) {
            const int target = *chosen.loudnessTarget;
            mix.gainDb = LoudnessMeasure::gain(*measured, target);
            mix.limit = mix.limit || LoudnessMeasure::needsLimit(*measured, *mix.gainDb);
            loudness = measured;
            // Where the limiter has much to hold back it takes loudness off too: what it leaves
            // is measured once more, and the gain makes up for it.
            if (LoudnessMeasure::limitsHeavily(*measured, *mix.gainDb)) {
                const std::optional<LoudnessMeasure::Measurement> limited =
                    measure(mix, false, &failed);
                if (isCancelled())
                    return std::nullopt;
                if (failed)
                    return fail(
                        QStringLiteral("Could not measure the loudness of the voiced audio: ") +
                        error);
                if (limited)
                    mix.gainDb = std::min(LoudnessMeasure::maximumGain,
                                          *mix.gainDb + (target - limited->integrated));
            }
        }
    }
    return mix;
}
