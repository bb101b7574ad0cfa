#include "SubtitlesCommand.h"

#include "InterruptHandler.h"
#include "Subtitles/SubtitlesParser.h"
#include "VideoProcessor/SubtitleSources.h"
#include "VideoProcessor/ToolRunner.h"

#include <QCommandLineParser>
#include <QFileInfo>

int SubtitlesCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption out(QStringLiteral("out"), QStringLiteral("The SubRip file to write."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption stream(QStringLiteral("stream"),
                                    QStringLiteral("Extract this subtitle stream (its index, as "
                                                   "'probe' shows it) of the video INPUT."),
                                    QStringLiteral("N"));
    parser.addOptions({out, stream});
    parser.addPositionalArgument(QStringLiteral("INPUT"),
                                 QStringLiteral("A subtitle file, or a video with --stream."));
    int status = 0;
    if (!parseArguments(parser, arguments, status))
        return status;
    if (parser.positionalArguments().size() != 1 || !parser.isSet(out)) {
        printError(QStringLiteral("subtitles: expected one input and --out FILE\n"));
        return 2;
    }
    std::optional<qint64> index;
    if (parser.isSet(stream)) {
        index = SubtitlesParser::parseInteger(parser.value(stream));
        if (!index || *index < 0) {
            printError(QStringLiteral("subtitles: --stream takes a stream index\n"));
            return 2;
        }
    }
    const QString input = parser.positionalArguments().first();
    const QString target = QFileInfo(parser.value(out)).absoluteFilePath();
    if (!checkInputFile(input) || !checkOutputFile(target, {input}))
        return 1;
    if (!checkTools({ToolRunner::ffmpegPath()}))
        return 1;

    // The conversion writes the target whole or leaves it as it was.
    QString reason;
    const bool converted = index ? SubtitleSources::extractSubtitlesTrack(
                                       input, QString::number(*index), target, &reason)
                                 : SubtitleSources::convertSubtitlesFile(input, target, &reason);
    if (!converted) {
        if (InterruptHandler::receivedSignal() == 0)
            printError(QStringLiteral("Invalid subtitles or subtitles format is not supported: ") +
                       reason + u'\n');
        return 1;
    }
    return 0;
}
