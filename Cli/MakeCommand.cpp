#include "MakeCommand.h"

#include "ChainRunner.h"
#include "InterruptHandler.h"
#include "Jobs/MakeOutputChain.h"
#include "Settings/UserSettings.h"
#include "Speech/SpeechSynthesizer.h"
#include "Speech/SyncReport.h"
#include "Subtitles/SubtitlesParser.h"
#include "TerminalProgress.h"
#include "VSError.h"
#include "VideoProcessor/ContainerFormats.h"
#include "VideoProcessor/MediaProbe.h"
#include "VideoProcessor/SubtitleSources.h"
#include "VideoProcessor/ToolRunner.h"
#include "VoiceChoice.h"
#include "WorkingFolder.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

namespace {

// The stream with the default mark, else the first; -1 when there is none.
int defaultStream(const QList<MediaStream> &streams)
{
    for (const MediaStream &stream : streams)
        if (stream.isDefault)
            return stream.streamIndex;
    return streams.isEmpty() ? -1 : streams.first().streamIndex;
}

bool hasStream(const QList<MediaStream> &streams, qint64 index)
{
    return std::any_of(streams.begin(), streams.end(),
                       [&](const MediaStream &stream) { return stream.streamIndex == index; });
}

} // namespace

int MakeCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption subtitles(QStringLiteral("subtitles"),
                                       QStringLiteral("Subtitle file to speak (any text format "
                                                      "and character set)."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption subtitlesStream(
        QStringLiteral("subtitles-stream"),
        QStringLiteral("Speak this text subtitle stream of the video (see 'probe')."),
        QStringLiteral("N"));
    const QCommandLineOption voice(QStringLiteral("voice"),
                                   QStringLiteral("Voice identifier (see 'voices'); by default "
                                                  "the stored voice choice."),
                                   QStringLiteral("ID"));
    const QCommandLineOption videoTrack(QStringLiteral("video-track"),
                                        QStringLiteral("Video stream to use; by default the "
                                                       "default video stream."),
                                        QStringLiteral("N"));
    const QCommandLineOption audioTrack(QStringLiteral("audio-track"),
                                        QStringLiteral("Audio stream to mix the speech into, or "
                                                       "'none' to add the speech alone; by "
                                                       "default the default audio stream."),
                                        QStringLiteral("N|none"));
    const QCommandLineOption outputDir(QStringLiteral("output-dir"),
                                       QStringLiteral("Folder for the voiced video; by default "
                                                      "the stored output folder."),
                                       QStringLiteral("DIR"));
    const QCommandLineOption volume(QStringLiteral("volume"),
                                    QStringLiteral("Level of the original audio under the speech "
                                                   "when mixing, in percent."),
                                    QStringLiteral("PERCENT"));
    // Each stored option can be switched on and off, so that a script gets the same result
    // whatever the stored preferences say.
    struct Switch {
        QCommandLineOption on;
        QCommandLineOption off;
        bool OutputOptions::*flag;
    };
    const Switch switches[] = {
        {{QStringLiteral("new-audio-stream"),
          QStringLiteral("Add the speech as a new audio stream and keep the original.")},
         {QStringLiteral("no-new-audio-stream"),
          QStringLiteral("Mix the speech into the chosen audio stream.")},
         &OutputOptions::newAudioStream},
        {{QStringLiteral("default-audio-stream"),
          QStringLiteral("Mark the voiced audio stream default.")},
         {QStringLiteral("no-default-audio-stream"),
          QStringLiteral("Leave the default marks of the audio streams as they are.")},
         &OutputOptions::defaultAudioStream},
        {{QStringLiteral("subtitles-as-stream"),
          QStringLiteral("Add the subtitles as a new subtitle stream.")},
         {QStringLiteral("no-subtitles-as-stream"), QStringLiteral("Add no subtitle stream.")},
         &OutputOptions::newSubtitlesStream},
        {{QStringLiteral("default-subtitles-stream"),
          QStringLiteral("Mark the chosen subtitle stream default.")},
         {QStringLiteral("no-default-subtitles-stream"),
          QStringLiteral("Leave the default marks of the subtitle streams as they are.")},
         &OutputOptions::defaultSubtitlesStream},
        {{QStringLiteral("maximize-volume"),
          QStringLiteral("Raise the finished video's loudness to full scale.")},
         {QStringLiteral("no-maximize-volume"),
          QStringLiteral("Leave the finished video's loudness as it is.")},
         &OutputOptions::maximizeOutputVolume},
        {{QStringLiteral("sync"),
          QStringLiteral("Keep the speech in sync: fit each line into its time and the quiet "
                         "after it, compressing what is still too long.")},
         {QStringLiteral("no-sync"),
          QStringLiteral("Only raise each line's speaking rate, up to 300 words per minute.")},
         &OutputOptions::keepSpeechInSync},
        {{QStringLiteral("duck"),
          QStringLiteral("Lower the original audio to --volume only while the speech plays, "
                         "keeping it whole between lines.")},
         {QStringLiteral("no-duck"),
          QStringLiteral("Keep the original at --volume all through the mix.")},
         &OutputOptions::duckOriginalAudio},
    };
    const QCommandLineOption loudness(
        QStringLiteral("loudness"),
        QStringLiteral("Bring the voiced audio to a loudness target: -23 LUFS (broadcast) or -16 "
                       "LUFS (online video), peaks kept at -1 dBTP. Excludes "
                       "--maximize-volume: the later of the two wins."),
        QStringLiteral("-23|-16"));
    const QCommandLineOption noLoudness(QStringLiteral("no-loudness"),
                                        QStringLiteral("No loudness target."));
    // Used by 'overlay make': the project's rendered items are the speech.
    QCommandLineOption project(QStringLiteral("project"), QString(), QStringLiteral("PROJECT"));
    project.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({subtitles, subtitlesStream, voice, videoTrack, audioTrack, outputDir});
    for (const Switch &option : switches)
        parser.addOptions({option.on, option.off});
    const QCommandLineOption report(QStringLiteral("report"),
                                    QStringLiteral("Write where each line's speech went as JSON."),
                                    QStringLiteral("FILE"));
    parser.addOptions({loudness, noLoudness, volume, report, project, jobsOption()});
    parser.addPositionalArgument(QStringLiteral("VIDEO"), QStringLiteral("The video to voice."));
    int status = 0;
    if (!parseArguments(parser, arguments, status))
        return status;
    auto usage = [&](const QString &message) {
        printError(QStringLiteral("make: ") + message + u'\n');
        return 2;
    };
    if (parser.positionalArguments().size() != 1)
        return usage(QStringLiteral("expected one video"));
    if (parser.isSet(subtitles) == parser.isSet(subtitlesStream))
        return usage(QStringLiteral("give either --subtitles FILE or --subtitles-stream N"));

    UserSettings &settings = UserSettings::shared();
    OutputOptions options = OutputOptions::fromSettings(settings);
    if (const std::optional<qint64> stored = settings.storedVolumeOutOfRange();
        stored && !parser.isSet(volume))
        printError(QStringLiteral("The stored volume %1% is outside 0 to 100; %2% is used\n")
                       .arg(*stored)
                       .arg(options.volume));
    for (const Switch &option : switches) {
        if (parser.isSet(option.on) && parser.isSet(option.off))
            return usage(QStringLiteral("--%1 and --%2 contradict each other")
                             .arg(option.on.names().first(), option.off.names().first()));
        if (parser.isSet(option.on))
            options.*option.flag = true;
        if (parser.isSet(option.off))
            options.*option.flag = false;
    }
    const std::optional<int> workers = jobs(parser, QStringLiteral("make"));
    if (!workers)
        return 2;
    if (parser.isSet(loudness) && parser.isSet(noLoudness))
        return usage(QStringLiteral("--loudness and --no-loudness contradict each other"));
    if (parser.isSet(loudness)) {
        const std::optional<qint64> target = SubtitlesParser::parseInteger(parser.value(loudness));
        if (!target || (*target != -23 && *target != -16))
            return usage(QStringLiteral("--loudness takes -23 (broadcast) or -16 (online video)"));
        options.loudnessTarget = int(*target);
    }
    if (parser.isSet(noLoudness))
        options.loudnessTarget.reset();
    // A loudness target and raising the peak to full scale exclude each other: the one given
    // on the command line wins over the stored one, and of two given, the later.
    const QStringList given = parser.optionNames();
    const qsizetype maximizeAt = given.lastIndexOf(QStringLiteral("maximize-volume"));
    const qsizetype loudnessAt = given.lastIndexOf(QStringLiteral("loudness"));
    if (maximizeAt >= 0 && loudnessAt >= 0)
        printError(loudnessAt > maximizeAt
                       ? QStringLiteral("--loudness comes after --maximize-volume and replaces "
                                        "it: a loudness target and full-scale volume exclude "
                                        "each other\n")
                       : QStringLiteral("--maximize-volume comes after --loudness and replaces "
                                        "it: a loudness target and full-scale volume exclude "
                                        "each other\n"));
    if (loudnessAt > maximizeAt)
        options.maximizeOutputVolume = false;
    else if (maximizeAt > loudnessAt)
        options.loudnessTarget.reset();
    if (parser.isSet(volume)) {
        const std::optional<qint64> percent = SubtitlesParser::parseInteger(parser.value(volume));
        if (!percent || *percent < 0 || *percent > 100)
            return usage(QStringLiteral("--volume takes a percentage from 0 to 100"));
        options.volume = int(*percent);
    }

    const QString input = QFileInfo(parser.positionalArguments().first()).absoluteFilePath();
    if (!checkInputFile(input))
        return 1;
    const QString reportFile =
        parser.isSet(report) ? QFileInfo(parser.value(report)).absoluteFilePath() : QString();
    if (!reportFile.isEmpty() && !checkOutputFile(reportFile, {input}))
        return 1;
    if (!checkTools({ToolRunner::ffmpegPath(), ToolRunner::ffprobePath()}))
        return 1;
    const QString extension = ContainerFormats::pathExtension(input);
    if (!ContainerFormats::containerFormat(extension)) {
        printError(
            QStringLiteral("Could not make the output video: '.%1' files are not "
                           "supported (supported: %2)\n")
                .arg(extension, ContainerFormats::videoFileTypes().join(QStringLiteral(", "))));
        return 1;
    }
    const VideoInfo info = MediaProbe::probeMedia(input);
    if (InterruptHandler::receivedSignal() != 0)
        return 1;
    if (info.videoStreams.isEmpty()) {
        printError(QStringLiteral("Could not make the output video: '%1' has no video stream that "
                                  "can be read\n")
                       .arg(input));
        return 1;
    }

    MakeOutputRequest request;
    request.speechJobs = *workers;
    request.inputVideo = input;
    request.videoInfo = info;
    // As the window does: options the container cannot apply do nothing, and are said to.
    request.options = options.applicableTo(input);
    if (options.newAudioStream && !request.options->newAudioStream)
        printError(QStringLiteral("'.%1' videos hold one audio stream: the speech is mixed into "
                                  "the chosen one\n")
                       .arg(extension));
    request.maximizeOutputVolume = options.maximizeOutputVolume;
    request.videoTrack = defaultStream(info.videoStreams);
    if (parser.isSet(videoTrack)) {
        const std::optional<qint64> index = SubtitlesParser::parseInteger(parser.value(videoTrack));
        if (!index || !hasStream(info.videoStreams, *index))
            return usage(QStringLiteral("--video-track must be a video stream of the input"));
        request.videoTrack = int(*index);
    }
    request.audioTrack = defaultStream(info.audioStreams);
    if (parser.isSet(audioTrack)) {
        if (parser.value(audioTrack) == QLatin1String("none")) {
            request.audioTrack = -1;
        } else {
            const std::optional<qint64> index =
                SubtitlesParser::parseInteger(parser.value(audioTrack));
            if (!index || !hasStream(info.audioStreams, *index))
                return usage(QStringLiteral("--audio-track must be an audio stream of the input "
                                            "or 'none'"));
            request.audioTrack = int(*index);
        }
    }

    // The voice, and its locale for this run's language marks and output name.
    if (parser.isSet(voice)) {
        const std::optional<VoiceAttributes> attributes =
            SpeechSynthesizer::attributesForVoice(parser.value(voice));
        if (!attributes) {
            printError(QStringLiteral("Could not initialize the specified voice\n"));
            return 1;
        }
        request.voice = attributes->identifier;
        request.voiceLanguage = attributes->localeIdentifier;
    } else {
        request.voice = VoiceChoice::resolve(std::nullopt);
        request.voiceLanguage = settings.stringValue(UserSettings::voiceLanguageKey);
        if (!request.voice) {
            const std::optional<VoiceAttributes> standard =
                SpeechSynthesizer::attributesForVoice(SpeechSynthesizer::defaultVoice());
            request.voiceLanguage = standard ? standard->localeIdentifier : QString();
        }
    }

    request.outputFolder = parser.isSet(outputDir)
                               ? QFileInfo(parser.value(outputDir)).absoluteFilePath()
                               : settings.outputFolder();
    if (!QDir().mkpath(request.outputFolder) || !QFileInfo(request.outputFolder).isWritable()) {
        printError(QStringLiteral("Could not write to the output folder '%1'\n")
                       .arg(request.outputFolder));
        return 1;
    }

    // The subtitles become the working SubRip file that every job reads.
    const std::optional<QString> workingFile = workingSubtitlesFile();
    if (!workingFile)
        return 1;
    const QString working = *workingFile;
    bool converted = false;
    QString reason;
    if (parser.isSet(subtitles)) {
        request.subtitlesTrack = -10;
        const QString file = parser.value(subtitles);
        if (!checkSubtitlesFile(file))
            return 1;
        converted = SubtitleSources::convertSubtitlesFile(file, working, &reason);
    } else {
        const std::optional<qint64> index =
            SubtitlesParser::parseInteger(parser.value(subtitlesStream));
        if (!index || !hasStream(info.subtitlesStreams, *index))
            return usage(QStringLiteral("--subtitles-stream must be a text subtitle stream of the "
                                        "input (see 'probe')"));
        request.subtitlesTrack = int(*index);
        converted = SubtitleSources::extractSubtitlesTrack(input, QString::number(*index), working,
                                                           &reason);
    }
    if (!converted) {
        QFile::remove(working);
        if (InterruptHandler::receivedSignal() == 0)
            printError(QStringLiteral("Invalid subtitles or subtitles format is not supported: ") +
                       reason + u'\n');
        return 1;
    }

    if (parser.isSet(project))
        request.projectFile = QFileInfo(parser.value(project)).absoluteFilePath();
    std::optional<MakeOutputChain> chain;
    try {
        chain.emplace(request);
    } catch (const VSError &error) {
        printError(error.message + u'\n');
        return 1;
    }
    TerminalProgress progress;
    status = ChainRunner(progress).run(chain->operations);
    // Whatever the chain left at the output path is removed unless the video was finished.
    const std::optional<QString> finished = chain->finish();
    if (status != ChainRunner::Succeeded)
        return status;
    if (!finished)
        return ChainRunner::Failed;
    printOut(*finished + u'\n');
    if (const SyncReport *placed = chain->speechReport()) {
        QString reason;
        if (!reportFile.isEmpty() && !placed->write(reportFile, &reason)) {
            printError(QStringLiteral("Could not write '%1': %2\n").arg(reportFile, reason));
            return 1;
        }
        printError(placed->summary() + u'\n');
    }
    if (const QString note = chain->loudnessNote(); !note.isEmpty())
        printError(note + u'\n');
    return 0;
}
