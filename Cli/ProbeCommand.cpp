#include "ProbeCommand.h"

#include "VideoProcessor/MediaProbe.h"
#include "VideoProcessor/ToolRunner.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonArray streamsJson(const QList<MediaStream> &streams)
{
    QJsonArray array;
    for (const MediaStream &stream : streams) {
        QJsonObject object{
            {QStringLiteral("streamIndex"), stream.streamIndex},
            {QStringLiteral("title"), stream.trackTitle()},
            {QStringLiteral("codec"), stream.codec.value_or(QString())},
            {QStringLiteral("language"),
             stream.language ? QJsonValue(*stream.language) : QJsonValue()},
            {QStringLiteral("isDefault"), stream.isDefault},
        };
        if (stream.type == MediaStream::StreamType::Video) {
            object.insert(QStringLiteral("width"), stream.videoWidth);
            object.insert(QStringLiteral("height"), stream.videoHeight);
        }
        array.append(object);
    }
    return array;
}

QString streamsText(const QString &heading, const QList<MediaStream> &streams)
{
    QString text = heading + QStringLiteral(":\n");
    if (streams.isEmpty())
        text += QStringLiteral("  (none)\n");
    for (const MediaStream &stream : streams) {
        text += QStringLiteral("  ") + stream.trackTitle() + QStringLiteral("  [") +
                stream.codec.value_or(QString());
        if (stream.type == MediaStream::StreamType::Video)
            text += QStringLiteral(", %1x%2").arg(stream.videoWidth).arg(stream.videoHeight);
        text += QStringLiteral("]\n");
    }
    return text;
}

} // namespace

int ProbeCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print JSON."));
    parser.addOption(json);
    parser.addPositionalArgument(QStringLiteral("VIDEO"), QStringLiteral("A media file."));
    int status = 0;
    if (!parseArguments(parser, arguments, status))
        return status;
    if (parser.positionalArguments().size() != 1) {
        printError(QStringLiteral("probe: expected one media file\n"));
        return 2;
    }
    const QString path = parser.positionalArguments().first();
    if (!checkInputFile(path) || !checkTools({ToolRunner::ffprobePath()}))
        return 1;
    const VideoInfo info = MediaProbe::probeMedia(path);
    if (info.isEmpty()) {
        printError(QStringLiteral("'%1' is not a media file that can be read\n").arg(path));
        return 1;
    }

    if (parser.isSet(json)) {
        const QJsonObject document{
            {QStringLiteral("duration"), info.duration},
            {QStringLiteral("videoStreams"), streamsJson(info.videoStreams)},
            {QStringLiteral("audioStreams"), streamsJson(info.audioStreams)},
            {QStringLiteral("subtitlesStreams"), streamsJson(info.subtitlesStreams)},
        };
        printOut(QString::fromUtf8(QJsonDocument(document).toJson()));
        return 0;
    }
    QString text = QStringLiteral("Duration: %1 s\n").arg(info.duration / 1000, 0, 'f', 3);
    text += streamsText(QStringLiteral("Video"), info.videoStreams);
    text += streamsText(QStringLiteral("Audio"), info.audioStreams);
    text += streamsText(QStringLiteral("Subtitles"), info.subtitlesStreams);
    printOut(text);
    return 0;
}
