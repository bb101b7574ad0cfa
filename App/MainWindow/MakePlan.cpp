#include "MakePlan.h"

#include "Settings/UserSettings.h"
#include "Subtitles/Utils.h"
#include "VideoProcessor/ContainerFormats.h"
#include "VideoProcessor/OutputOptions.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

QString MakePlan::text(const UserSettings &settings, const Choice &choice)
{
    const std::optional<QString> &video = choice.video;
    const OutputOptions options =
        OutputOptions::fromSettings(settings).applicableTo(video.value_or(QString()));
    QStringList lines;
    if (video) {
        bool fallback = false;
        const QString folder = settings.outputFolderFor(*video, false, &fallback);
        if (folder.isEmpty())
            lines << tr("Output: none, the output folder %1 cannot be written to (see Options)")
                         .arg(settings.outputFolder());
        else
            lines << tr("Output: %1")
                         .arg(Utils::outputFilePath(
                             QDir(folder).filePath(QFileInfo(*video).fileName()),
                             choice.voiceLocale));
        if (fallback)
            lines << tr("(beside the video: the output folder %1 cannot be made)")
                         .arg(settings.outputFolder());
    } else {
        lines << tr("Output folder: %1").arg(settings.outputFolder());
    }
    const bool noAudio = choice.audioTrack < 0;
    if (!video)
        lines << tr("Speech: mixed into the chosen audio, or added as a new audio stream");
    else if (noAudio && choice.videoInfo && !choice.videoInfo->audioStreams.isEmpty() &&
             !ContainerFormats::supportsNewAudioStream(*video))
        lines << tr("Speech: a new audio stream, which this container cannot hold beside its "
                    "own (choose its audio track)");
    else if (noAudio)
        lines << tr("Speech: added on its own as a new audio stream");
    else if (options.newAudioStream)
        lines << tr("Speech: added as a new audio stream");
    else
        lines << tr("Speech: mixed into %1. %2").arg(choice.audioTrackTitle, mixLine(options));
    if (options.newSubtitlesStream)
        lines << tr("Subtitles: added as a subtitle stream");
    if (options.keepSpeechInSync)
        lines << tr("Timing: each line's speech kept in sync with its subtitle");
    if (options.maximizeOutputVolume || options.loudnessTarget)
        lines << tr("Loudness: %1").arg(loudnessLine(options));
    return lines.join(u'\n');
}

QString MakePlan::mixLine(const OutputOptions &options)
{
    if (options.duckOriginalAudio)
        return tr("Original at %1% under the voice, 100% between lines").arg(options.volume);
    return tr("Original at %1% all through; the mix then halves it and the voice")
        .arg(options.volume);
}

QString MakePlan::loudnessLine(const OutputOptions &options)
{
    if (options.loudnessTarget == -23)
        return tr("brought to -23 LUFS (broadcast) in the same pass, peaks at most -1 dBTP");
    if (options.loudnessTarget == -16)
        return tr("brought to -16 LUFS (online video) in the same pass, peaks at most -1 dBTP");
    if (options.maximizeOutputVolume)
        return tr("the loudest peak raised to full scale, in a second pass");
    return tr("as mixed");
}
