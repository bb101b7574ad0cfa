#include "SpeakCommand.h"

#include "ChainRunner.h"
#include "Jobs/SubtitlesToSpeechOperation.h"
#include "Settings/UserSettings.h"
#include "Speech/SubtitlesToSpeech.h"
#include "Subtitles/SubtitlesParser.h"
#include "Subtitles/WorkingSubtitles.h"
#include "TerminalProgress.h"
#include "VSError.h"
#include "VideoProcessor/SubtitleSources.h"
#include "VideoProcessor/ToolRunner.h"
#include "VoiceChoice.h"
#include "WorkingFolder.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Puts the finished track at target without ever leaving half of one there. On the working
// folder's file system the track is moved, replacing target in one step and keeping the
// permissions it had; elsewhere (or for a target that is a link) it is copied under a name of
// its own and moved into place.
bool moveIntoPlace(const QString &track, const QString &target)
{
    const QFileInfo existing(target);
    if (!existing.isSymLink()) {
        if (existing.exists())
            QFile::setPermissions(track, existing.permissions());
        if (::rename(QFile::encodeName(track).constData(), QFile::encodeName(target).constData()) ==
            0)
            return true;
        if (errno != EXDEV) {
            Command::printError(QStringLiteral("Could not write '%1': %2\n")
                                    .arg(target, QString::fromLocal8Bit(std::strerror(errno))));
            return false;
        }
    }
    QFile speech(track);
    QSaveFile output(target);
    bool written = speech.open(QIODevice::ReadOnly) && output.open(QIODevice::WriteOnly);
    while (written && !speech.atEnd()) {
        const QByteArray chunk = speech.read(1 << 20);
        written = !chunk.isEmpty() && output.write(chunk) == chunk.size();
    }
    if (!written || !output.commit()) {
        Command::printError(QStringLiteral("Could not write '%1': %2\n")
                                .arg(target, output.error() != QFileDevice::NoError
                                                 ? output.errorString()
                                                 : speech.errorString()));
        return false;
    }
    return true;
}

} // namespace

int SpeakCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption voice(QStringLiteral("voice"),
                                   QStringLiteral("Voice identifier (see 'voices'); by default "
                                                  "the stored voice choice."),
                                   QStringLiteral("ID"));
    const QCommandLineOption out(QStringLiteral("out"),
                                 QStringLiteral("Where to write the speech track (AIFF)."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption stats(QStringLiteral("stats"),
                                   QStringLiteral("Print what the speech cost as JSON: cues, "
                                                  "synthesis passes per cue, cues that fit."));
    const QCommandLineOption sync(QStringLiteral("sync"),
                                  QStringLiteral("Keep the speech in sync: fit each line into its "
                                                 "time and the quiet after it, compressing what "
                                                 "is still too long."));
    const QCommandLineOption noSync(QStringLiteral("no-sync"),
                                    QStringLiteral("Only raise each line's speaking rate, up to "
                                                   "300 words per minute."));
    const QCommandLineOption report(QStringLiteral("report"),
                                    QStringLiteral("Write where each line's speech went as JSON."),
                                    QStringLiteral("FILE"));
    parser.addOptions({voice, out, sync, noSync, report, stats, jobsOption()});
    parser.addPositionalArgument(
        QStringLiteral("SUBTITLES"),
        QStringLiteral("A subtitle file in any text format ffmpeg reads."));
    int status = 0;
    if (!parseArguments(parser, arguments, status))
        return status;
    if (parser.positionalArguments().size() != 1 || !parser.isSet(out)) {
        printError(QStringLiteral("speak: expected one subtitle file and --out FILE\n"));
        return 2;
    }
    const std::optional<int> workers = jobs(parser, QStringLiteral("speak"));
    if (!workers)
        return 2;
    if (parser.isSet(sync) && parser.isSet(noSync)) {
        printError(QStringLiteral("speak: --sync and --no-sync contradict each other\n"));
        return 2;
    }
    const QString input = parser.positionalArguments().first();
    const QString target = QFileInfo(parser.value(out)).absoluteFilePath();
    if (!checkSubtitlesFile(input))
        return 1;
    if (!checkOutputFile(target, {input}))
        return 1;
    const QString reportFile =
        parser.isSet(report) ? QFileInfo(parser.value(report)).absoluteFilePath() : QString();
    if (!reportFile.isEmpty() && !checkOutputFile(reportFile, {input, target}))
        return 1;

    if (!checkTools({ToolRunner::ffmpegPath()}))
        return 1;

    // The subtitles become the working SubRip file the way make's do: any text format and
    // character set ffmpeg reads.
    const std::optional<QString> workingFile = workingSubtitlesFile();
    if (!workingFile)
        return 1;
    const QString working = *workingFile;
    QString failure;
    if (!SubtitleSources::convertSubtitlesFile(input, working, &failure)) {
        QFile::remove(working);
        if (interrupted())
            return 1;
        if (const std::optional<QString> line = WorkingSubtitles::unreadableLine(input))
            printError(*line + u'\n');
        printError(QStringLiteral("Invalid subtitles or subtitles format is not supported: ") +
                   failure + u'\n');
        return 1;
    }

    auto job = std::make_shared<SubtitlesToSpeechOperation>(
        QStringLiteral("Processing audio"),
        VoiceChoice::resolve(parser.isSet(voice) ? std::optional<QString>(parser.value(voice))
                                                 : std::nullopt));
    // The track asked for is an AIFF file: one too long for that is refused, not cut short.
    job->overflow = AIFFFile::Overflow::Refuse;
    job->jobs = *workers;
    job->keepSpeechInSync =
        parser.isSet(sync) || (!parser.isSet(noSync) &&
                               UserSettings::shared().boolValue(UserSettings::keepSpeechInSyncKey));
    TerminalProgress progress;
    status = ChainRunner(progress).run({job});
    if (status != ChainRunner::Succeeded)
        return status;

    if (!moveIntoPlace(job->speechFile, target))
        return 1;
    if (parser.isSet(stats)) {
        const std::shared_ptr<SubtitlesToSpeech> renderer = job->renderer();
        QJsonArray passes;
        for (int count : renderer->passesPerCue())
            passes.append(count);
        const QList<bool> &fits = renderer->fitsPerCue();
        const QJsonObject report{
            {QStringLiteral("cues"), renderer->subtitles.size()},
            {QStringLiteral("passes"), passes},
            {QStringLiteral("fitted"), int(std::count(fits.begin(), fits.end(), true))},
        };
        printOut(QString::fromUtf8(QJsonDocument(report).toJson(QJsonDocument::Compact)) + u'\n');
    }
    const SyncReport &placed = job->renderer()->report();
    QString reason;
    if (!reportFile.isEmpty() && !placed.write(reportFile, &reason)) {
        printError(QStringLiteral("Could not write '%1': %2\n").arg(reportFile, reason));
        return 1;
    }
    printError(placed.summary() + u'\n');
    return 0;
}
