#include "MakeVideoCommand.h"

#include "ContainerFormats.h"
#include "DuckingEnvelope.h"
#include "LoudnessMeasure.h"
#include "LoudnessMeter.h"
#include "ToolRunner.h"
#include "WorkingFolder.h"

#include <algorithm>
#include <cmath>

std::optional<QStringList> MakeVideoCommand::makeVideoArguments(
    const QString &inputVideo, const VideoInfo &videoInfo, int videoTrack, int audioTrack,
    int subtitlesTrack, const std::optional<QString> &language3Code, const QString &outputVideo,
    const OutputOptions &options, const QString &speechFile, const QString &subtitlesFile,
    const AudioMix &mix)
{
    const std::optional<ContainerFormat> container =
        ContainerFormats::containerFormat(ContainerFormats::pathExtension(outputVideo));
    if (!container)
        return std::nullopt;

    QStringList filters;
    QStringList maps;
    QStringList codecs;
    QStringList marks;
    int output = 0;
    auto map = [&](const QString &source) { maps << QStringLiteral("-map") << source; };
    auto codec = [&](int n, const QString &name) {
        codecs << QStringLiteral("-c:%1").arg(n) << name;
        // ffmpeg's own Vorbis encoder writes stereo only; mono speech or a mono mix is spread
        // over both channels rather than refused.
        if (name == QLatin1String("vorbis"))
            codecs << QStringLiteral("-ac:%1").arg(n) << QStringLiteral("2");
    };
    auto disposition = [&](int n, const QString &value) {
        marks << QStringLiteral("-disposition:%1").arg(n) << value;
    };
    auto language = [&](int n) {
        if (language3Code)
            marks << QStringLiteral("-metadata:s:%1").arg(n)
                  << QStringLiteral("language=") + *language3Code;
    };
    // A stream this command makes (the speech, alone or mixed, or the working subtitles): encoded,
    // marked default with the speech, tagged with the voice's language.
    auto made = [&](const QString &source, const QString &encoder) {
        map(source);
        codec(output, encoder);
        if (options.defaultAudioStream)
            disposition(output, QStringLiteral("default"));
        language(output);
    };

    const QString videoSource = QStringLiteral("0:%1").arg(videoTrack);
    // This ffmpeg ends a filtered audio stream early when subtitle streams of the same input are
    // copied beside it (the mix stops a little after the input's last subtitle packet). The audio
    // to mix is then read from a second opening of the input video, input 3.
    const bool mixFromSecondInput = audioTrack != -1 && !videoInfo.subtitlesStreams.isEmpty();
    const bool ducking = audioTrack != -1 && !mix.duckingGainTrack.isEmpty();
    const int gainInput = mixFromSecondInput ? 4 : 3;
    QString audioSource;
    filters = audioFilters(videoInfo, audioTrack, options, mix, mixFromSecondInput ? 3 : 0,
                           gainInput, &audioSource);

    for (const MediaStream &stream : videoInfo.videoStreams) {
        if (stream.streamIndex == videoTrack) {
            map(videoSource);
            disposition(output, QStringLiteral("default"));
            language(output);
        } else {
            map(QStringLiteral("0:%1").arg(stream.streamIndex));
            disposition(output, QStringLiteral("none"));
        }
        codec(output, QStringLiteral("copy"));
        ++output;
    }

    // Limited near its ceiling, audio that AAC encodes at its default rate (about 70 kb/s for
    // mono) comes out with true peaks up to 2 dB higher; at 128 kb/s, by a few tenths (and the
    // encoder is no slower: at 192 kb/s it takes more than twice as long). The encoder's default
    // two-loop coder now and then lifts a peak of a limited mix by 3-4 dB (7 of 75 pink-noise
    // beds under full-scale lines, up to +1.4 dBTP); its fast coder, meant for such rates,
    // stayed within 0.4 dB on all of them. ffmpeg's own Opus encoder lifted the peaks of talk
    // limited to -16 LUFS by 2.4 dB, to -0.6 dBTP; libopus, by 1.4 dB.
    auto voiced = [&] {
        const bool shaped = !mix.isPlain();
        const QString &encoder = container->audioCodec;
        made(audioSource,
             shaped && encoder == QLatin1String("opus") ? QStringLiteral("libopus") : encoder);
        if (shaped && encoder == QLatin1String("aac"))
            codecs << QStringLiteral("-b:%1").arg(output) << QStringLiteral("128k")
                   << QStringLiteral("-aac_coder:%1").arg(output) << QStringLiteral("fast");
    };
    if (options.newAudioStream || audioTrack == -1) {
        voiced();
        ++output;
    }

    for (const MediaStream &stream : videoInfo.audioStreams) {
        if (options.defaultAudioStream && stream.isDefault)
            disposition(output, QStringLiteral("none"));
        if (stream.streamIndex == audioTrack && !options.newAudioStream) {
            voiced();
        } else {
            map(QStringLiteral("0:%1").arg(stream.streamIndex));
            codec(output, QStringLiteral("copy"));
        }
        ++output;
    }

    if (options.newSubtitlesStream && container->streamSupport == 3) {
        made(QStringLiteral("2:s:0"), container->subtitlesCodec);
        ++output;
    }

    for (const MediaStream &stream : videoInfo.subtitlesStreams) {
        map(QStringLiteral("0:%1").arg(stream.streamIndex));
        codec(output, QStringLiteral("copy"));
        if (stream.streamIndex == subtitlesTrack) {
            if (options.defaultSubtitlesStream)
                disposition(output, QStringLiteral("default"));
            // The stream's own language is what its text is in, whatever the voice speaks: only
            // a stream that has none is given the voice's.
            if (!stream.language || stream.language->isEmpty() ||
                *stream.language == QLatin1String("und"))
                language(output);
        } else if (options.defaultSubtitlesStream) {
            disposition(output, QStringLiteral("none"));
        }
        ++output;
    }

    QStringList arguments{QStringLiteral("-i"), ToolRunner::fileArgument(inputVideo),
                          QStringLiteral("-i"), ToolRunner::fileArgument(speechFile),
                          QStringLiteral("-i"), ToolRunner::fileArgument(subtitlesFile)};
    if (mixFromSecondInput)
        arguments << QStringLiteral("-i") << ToolRunner::fileArgument(inputVideo);
    if (ducking)
        arguments << gainTrackInput(mix.duckingGainTrack);
    if (!filters.isEmpty())
        arguments << QStringLiteral("-filter_complex") << filters.join(u';');
    // The hardware encoder switch of another platform's ffmpeg is left out: this ffmpeg rejects
    // it, and nothing here is encoded by that encoder anyway (video is always copied).
    arguments << maps << codecs << marks << QStringLiteral("-strict") << QStringLiteral("-2")
              << QStringLiteral("-y") << QStringLiteral("-hide_banner")
              << ToolRunner::fileArgument(outputVideo);
    return arguments;
}

std::shared_ptr<ToolProcess> MakeVideoCommand::makeVideo(
    const QString &inputVideo, const VideoInfo &videoInfo, int videoTrack, int audioTrack,
    int subtitlesTrack, const std::optional<QString> &language3Code, const QString &outputVideo,
    ToolRunner::Progress progress, ToolRunner::Completion completion, const OutputOptions &options,
    const QString &speechFile, const QString &subtitlesFile, const AudioMix &mix)
{
    const QString extension = ContainerFormats::pathExtension(outputVideo);
    if (!ContainerFormats::containerFormat(extension)) {
        completion(
            false,
            QStringLiteral("Videos cannot be written as '.%1' files; the output "
                           "video keeps the input's container, which must be one of: %2")
                .arg(extension, ContainerFormats::videoFileTypes().join(QStringLiteral(", "))));
        return nullptr;
    }
    return ToolRunner::runToolIntoPartialFile(
        ToolRunner::ffmpegPath(),
        [&](const QString &temporary) {
            return *makeVideoArguments(
                inputVideo, videoInfo, videoTrack, audioTrack, subtitlesTrack, language3Code,
                temporary, options, speechFile.isEmpty() ? WorkingFolder::speechFile() : speechFile,
                subtitlesFile.isEmpty() ? WorkingFolder::subtitlesFile() : subtitlesFile, mix);
        },
        std::move(progress), outputVideo, std::move(completion), ToolRunner::Target::Reserved);
}

QStringList MakeVideoCommand::gainTrackInput(const QString &gainTrack)
{
    return {QStringLiteral("-f"),  QStringLiteral("f32le"),
            QStringLiteral("-ar"), QString::number(DuckingEnvelope::gainRate),
            QStringLiteral("-ac"), QStringLiteral("1"),
            QStringLiteral("-i"),  ToolRunner::fileArgument(gainTrack)};
}

QStringList MakeVideoCommand::treatmentFilters(const AudioMix &mix)
{
    QStringList filters;
    if (mix.gainDb)
        filters << QStringLiteral("volume=") + LoudnessMeasure::gainText(*mix.gainDb) +
                       QStringLiteral("dB");
    if (mix.limit)
        filters << LoudnessMeasure::limiterFilter();
    return filters;
}

QStringList MakeVideoCommand::audioFilters(const VideoInfo &videoInfo, int audioTrack,
                                           const OutputOptions &options, const AudioMix &mix,
                                           int originalInput, int gainInput, QString *audioSource)
{
    QStringList filters;
    const QStringList after = treatmentFilters(mix);
    if (audioTrack == -1) {
        if (after.isEmpty()) {
            *audioSource = QStringLiteral("1:a:0");
        } else {
            filters << QStringLiteral("[1:a:0]") + after.join(u',') + QStringLiteral("[a2]");
            *audioSource = QStringLiteral("[a2]");
        }
        return filters;
    }

    const bool ducking = !mix.duckingGainTrack.isEmpty();
    const QString chosen = QStringLiteral("[%1:%2]").arg(originalInput).arg(audioTrack);
    // The mix lasts as long as the longer of its inputs, and the original is padded with
    // silence to the video's length: speech after the end of a short audio stream is kept.
    // An original that is long enough passes the padding unchanged.
    QStringList original;
    // Ducked, the gain track sets the original's level; the plain mix lowers it throughout.
    if (!ducking && options.volume < 100)
        original << QStringLiteral("volume=") + QString::asprintf("%.2f", options.volume / 100.0);
    if (videoInfo.duration > 0)
        original
            << QStringLiteral("apad=whole_dur=%1ms").arg(qint64(std::ceil(videoInfo.duration)));
    // Ducked, the inputs are added as they are: amix's normalisation would halve the speech.
    QString mixChain = QStringLiteral("[1:a:0]amix=inputs=2:duration=longest");
    if (ducking)
        mixChain += QStringLiteral(":normalize=0");
    if (!after.isEmpty())
        mixChain += u',' + after.join(u',');
    mixChain += QStringLiteral("[a2]");
    if (ducking) {
        const auto stream =
            std::find_if(videoInfo.audioStreams.begin(), videoInfo.audioStreams.end(),
                         [&](const MediaStream &audio) { return audio.streamIndex == audioTrack; });
        const int rate = stream != videoInfo.audioStreams.end() ? stream->audioSampleRate : 0;
        const int channels = stream != videoInfo.audioStreams.end() && stream->audioChannels > 0
                                 ? stream->audioChannels
                                 : 2;
        // The gain track is brought to the original's rate and copied into each of its
        // channels, so that the multiplication changes nothing else about the original.
        QStringList gain;
        if (rate > 0)
            gain << QStringLiteral("aresample=%1").arg(rate);
        QString pan = QStringLiteral("pan=%1c").arg(channels);
        for (int channel = 0; channel < channels; ++channel)
            pan += QStringLiteral("|c%1=c0").arg(channel);
        gain << pan;
        filters << chosen + (original.isEmpty() ? QStringLiteral("anull") : original.join(u',')) +
                       QStringLiteral("[a1]");
        filters << QStringLiteral("[%1:a:0]").arg(gainInput) + gain.join(u',') +
                       QStringLiteral("[g]");
        filters << QStringLiteral("[a1][g]amultiply[a3]");
        filters << QStringLiteral("[a3]") + mixChain;
    } else if (!original.isEmpty()) {
        filters << chosen + original.join(u',') + QStringLiteral("[a1]");
        filters << QStringLiteral("[a1]") + mixChain;
    } else {
        filters << chosen + mixChain;
    }
    *audioSource = QStringLiteral("[a2]");
    return filters;
}

QStringList MakeVideoCommand::loudnessMeasurementArguments(
    const QString &inputVideo, const VideoInfo &videoInfo, int audioTrack,
    const OutputOptions &options, const AudioMix &treatment, const QString &speechFile)
{
    // The same mix as the output's, read without the video.
    AudioMix mix = treatment;
    if (audioTrack == -1)
        mix.duckingGainTrack.clear();
    QString audioSource;
    const QStringList filters =
        audioFilters(videoInfo, audioTrack, options, mix, 0, 2, &audioSource);
    QStringList arguments{QStringLiteral("-i"), ToolRunner::fileArgument(inputVideo),
                          QStringLiteral("-i"), ToolRunner::fileArgument(speechFile)};
    if (!mix.duckingGainTrack.isEmpty())
        arguments << gainTrackInput(mix.duckingGainTrack);
    arguments << QStringLiteral("-hide_banner") << QStringLiteral("-nostats");
    if (!filters.isEmpty())
        arguments << QStringLiteral("-filter_complex") << filters.join(u';');
    arguments << QStringLiteral("-map") << audioSource << LoudnessMeter::streamOutput();
    return arguments;
}

QStringList MakeVideoCommand::treatedMixArguments(const QString &mixCopy, const AudioMix &mix)
{
    QStringList arguments{QStringLiteral("-i"), ToolRunner::fileArgument(mixCopy),
                          QStringLiteral("-hide_banner"), QStringLiteral("-nostats")};
    const QStringList filters = treatmentFilters(mix);
    if (!filters.isEmpty())
        arguments << QStringLiteral("-af") << filters.join(u',');
    return arguments + LoudnessMeter::streamOutput();
}
