#include "CuesCommand.h"

#include "Subtitles/SubtitlesParser.h"
#include "Subtitles/SubtitlesSeeker.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonObject cueObject(const Subtitle &cue)
{
    return QJsonObject{
        {QStringLiteral("start"), cue.start},
        {QStringLiteral("end"), cue.end},
        {QStringLiteral("text"), QJsonArray::fromStringList(cue.text)},
        {QStringLiteral("endTimeStr"), cue.endTimeStr ? QJsonValue(*cue.endTimeStr) : QJsonValue()},
        {QStringLiteral("plain"), SubtitlesParser::plainText(cue.text)},
    };
}

} // namespace

int CuesCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The SubRip file."));
    const QCommandLineOption at(QStringLiteral("at"),
                                QStringLiteral("Print only the cue shown at this time (ms)."),
                                QStringLiteral("MS"));
    parser.addOption(at);
    int status = 0;
    if (!parseArguments(parser, arguments, status))
        return status;

    const QStringList files = parser.positionalArguments();
    if (files.size() != 1) {
        printError(QStringLiteral("cues: expected one subtitle file\n"));
        return 2;
    }
    std::optional<qint64> time;
    if (parser.isSet(at)) {
        time = SubtitlesParser::parseInteger(parser.value(at));
        if (!time) {
            printError(QStringLiteral("cues: --at takes a whole number of milliseconds, not '%1'\n")
                           .arg(parser.value(at)));
            return 2;
        }
    }

    const QString path = files.first();
    if (!checkSubtitlesFile(path))
        return 1;
    QString problem;
    const std::optional<SubtitlesParser> parsed = SubtitlesParser::fromFile(path, &problem);
    if (interrupted())
        return 1;
    if (!parsed) {
        printError(QStringLiteral("Could not parse subtitles: %1\n").arg(problem));
        return 1;
    }

    if (time) {
        const std::optional<Subtitle> cue = SubtitlesSeeker(parsed->subtitles).seek(*time);
        printOut(cue ? QString::fromUtf8(QJsonDocument(cueObject(*cue)).toJson())
                     : QStringLiteral("null\n"));
        return 0;
    }
    QJsonArray cues;
    for (const Subtitle &cue : parsed->subtitles) {
        if (cues.size() % 1024 == 0 && interrupted())
            return 1;
        cues.append(cueObject(cue));
    }
    return printOutUntilInterrupted(QString::fromUtf8(QJsonDocument(cues).toJson())) ? 0 : 1;
}
