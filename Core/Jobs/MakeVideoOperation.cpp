#include "MakeVideoOperation.h"

#include "Settings/UserSettings.h"
#include "Speech/AIFFFile.h"
#include "VideoProcessor/DuckingEnvelope.h"
#include "VideoProcessor/LoudnessMeasure.h"
#include "VideoProcessor/LoudnessMeter.h"
#include "VideoProcessor/MakeVideoCommand.h"
#include "VideoProcessor/VolumeTools.h"
#include "WorkingFolder.h"

#include <QFile>
#include <QScopeGuard>
#include <QStorageInfo>
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
    const OutputOptions chosen =
        options.value_or(OutputOptions::fromSettings(UserSettings::shared()));
    // The loudness target's measuring passes come first on the bar, the output's pass after them.
    const double ahead =
        chosen.loudnessTarget ? 2 * measuringShare * std::max(0.0, videoInfo.duration) : 0.0;
    postSetupProgress(videoInfo.duration + ahead);
    if (isCancelled())
        return;
    // A track too long for AIFF was written as Wave64, under a name of that kind.
    const QString track = AIFFFile::writtenTrack(speechFile);
    VolumeTools::maximizeVolume(track, &cancelFlag());
    if (isCancelled())
        return;
    const std::optional<AudioMix> mix = prepareMix(chosen, track);
    if (mix && !isCancelled())
        runTool([this, track, chosen, mix, ahead](auto progress, auto finish) {
            return MakeVideoCommand::makeVideo(
                inputVideo, videoInfo, videoTrack, audioTrack, subtitlesTrack, language3Code,
                outputVideo, [progress, ahead](double value) { progress(ahead + value); }, finish,
                chosen, track, subtitlesFile, *mix);
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
        // Each measuring pass moves the bar through its own share, ahead of the output's.
        const double duration = std::max(0.0, videoInfo.duration);
        // The make-up passes share the second share between them.
        auto measure = [&](const QStringList &arguments, LoudnessMeter::Peak peak, double from,
                           double width, std::optional<LoudnessMeasure::Measurement> *result,
                           LoudnessMeter::Copy *copy) {
            const auto progress = progressCallback();
            return LoudnessMeter::measure(
                arguments, peak, &cancelFlag(),
                [&](double seconds) {
                    if (duration > 0)
                        progress(duration * measuringShare *
                                 (from + width * std::min(1.0, seconds * 1000.0 / duration)));
                },
                result, &error, copy);
        };
        // The mix is kept for the make-up measurement, where there is room for it.
        LoudnessMeter::Copy copy;
        copy.path = WorkingFolder::filePath(mixCopyFileName);
        copy.limit =
            std::min(mixCopyLimit, QStorageInfo(WorkingFolder::path()).bytesAvailable() / 4);
        copy.expectedSeconds = duration / 1000.0;
        const auto removeCopy = qScopeGuard([&copy] { QFile::remove(copy.path); });
        const QString measureFailure =
            QStringLiteral("Could not measure the loudness of the voiced audio: ");
        // First as mixed, before any gain or limit.
        AudioMix mixed = mix;
        mixed.limit = false;
        std::optional<LoudnessMeasure::Measurement> measured;
        const bool succeeded = measure(MakeVideoCommand::loudnessMeasurementArguments(
                                           inputVideo, videoInfo, audioTrack, chosen, mixed, track),
                                       LoudnessMeter::Peak::True, 0, 1, &measured, &copy);
        if (isCancelled())
            return std::nullopt;
        if (!succeeded)
            return fail(measureFailure + error);
        // Silence has no loudness to bring anywhere: it is written as it is.
        if (measured) {
            const int target = *chosen.loudnessTarget;
            mix.gainDb = LoudnessMeasure::gain(*measured, target);
            mix.limit = mix.limit || LoudnessMeasure::needsLimit(*measured, *mix.gainDb);
            loudness = measured;
            if (!LoudnessMeasure::limitsHeavily(*measured, *mix.gainDb))
                noteWhenShort(measured->integrated + *mix.gainDb, target);
            // Where the limiter has much to hold back it takes loudness off too: what it leaves
            // is measured again, its loudness alone, and the gain makes up for it. The more gain
            // it is given the more it holds back, so one step falls short where it holds back
            // much (2.4 LU under a -16 target, speech over a quiet bed): from the second step on,
            // the gain is led by how much the last step raised the loudness.
            std::optional<std::pair<double, double>> previous; // gain, loudness
            for (int pass = 0;
                 pass < makeUpPasses && LoudnessMeasure::limitsHeavily(*measured, *mix.gainDb);
                 ++pass) {
                std::optional<LoudnessMeasure::Measurement> limited;
                const bool limitedMeasured =
                    measure(copy.kept ? MakeVideoCommand::treatedMixArguments(copy.path, mix)
                                      : MakeVideoCommand::loudnessMeasurementArguments(
                                            inputVideo, videoInfo, audioTrack, chosen, mix, track),
                            LoudnessMeter::Peak::None, 1 + double(pass) / makeUpPasses,
                            1.0 / makeUpPasses, &limited, nullptr);
                if (isCancelled())
                    return std::nullopt;
                if (!limitedMeasured)
                    return fail(measureFailure + error);
                if (!limited)
                    break;
                const double missing = target - limited->integrated;
                if (std::abs(missing) <= makeUpTolerance)
                    break;
                double step = missing;
                if (previous) {
                    const double slope =
                        (limited->integrated - previous->second) / (*mix.gainDb - previous->first);
                    if (slope > 0.1)
                        step = missing / slope;
                }
                previous = std::make_pair(*mix.gainDb, limited->integrated);
                const double next = std::min(LoudnessMeasure::maximumGain, *mix.gainDb + step);
                if (next == *mix.gainDb) {
                    noteWhenShort(limited->integrated, target);
                    break;
                }
                mix.gainDb = next;
            }
        }
    }
    return mix;
}

void MakeVideoOperation::noteWhenShort(double reached, int target)
{
    if (target - reached <= makeUpTolerance)
        return;
    loudnessNote = QStringLiteral("The voiced audio reaches %1 LUFS, %2 LU under the %3 LUFS "
                                  "target: it is raised by %4 dB at most.")
                       .arg(reached, 0, 'f', 1)
                       .arg(target - reached, 0, 'f', 1)
                       .arg(target)
                       .arg(LoudnessMeasure::maximumGain, 0, 'f', 0);
}
