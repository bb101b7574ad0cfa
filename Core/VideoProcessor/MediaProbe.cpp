#include "MediaProbe.h"

#include "ToolRunner.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <climits>
#include <cmath>
#include <locale.h>

namespace {

std::optional<int> jsonInteger(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number != std::floor(number) || number < INT_MIN || number > INT_MAX)
        return std::nullopt;
    return int(number);
}

} // namespace

std::optional<double> MediaProbe::cDecimal(const QString &text)
{
    const QByteArray bytes = text.toLatin1();
    if (bytes.isEmpty() || text.size() != bytes.size())
        return std::nullopt;
    static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", locale_t(nullptr));
    char *end = nullptr;
    const double value = strtod_l(bytes.constData(), &end, cLocale);
    if (end != bytes.constData() + bytes.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QStringList MediaProbe::probeArguments(const QString &path)
{
    return {QStringLiteral("-i"),
            ToolRunner::fileArgument(path),
            QStringLiteral("-v"),
            QStringLiteral("quiet"),
            QStringLiteral("-print_format"),
            QStringLiteral("json"),
            QStringLiteral("-show_streams"),
            QStringLiteral("-show_format"),
            QStringLiteral("-hide_banner")};
}

VideoInfo MediaProbe::probeMedia(const QString &path)
{
    return parseProbeOutput(
        ToolRunner::runTool(ToolRunner::ffprobePath(), probeArguments(path)).first);
}

const QStringList &MediaProbe::supportedSubtitleCodecs()
{
    static const QStringList codecs = {
        QStringLiteral("subrip"),   QStringLiteral("srt"),
        QStringLiteral("ssa"),      QStringLiteral("ass"),
        QStringLiteral("webvtt"),   QStringLiteral("hdmv_text_subtitle"),
        QStringLiteral("mov_text"), QStringLiteral("realtext"),
        QStringLiteral("text"),     QStringLiteral("ttml")};
    return codecs;
}

VideoInfo MediaProbe::parseProbeOutput(const QString &output)
{
    VideoInfo info;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(output.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return info;
    const QJsonObject top = document.object();

    const QJsonValue format = top.value(QStringLiteral("format"));
    if (format.isObject()) {
        const QJsonValue duration = format.toObject().value(QStringLiteral("duration"));
        if (duration.isString())
            if (const std::optional<double> seconds = cDecimal(duration.toString()))
                info.duration = *seconds * 1000;
    }

    const QJsonValue streams = top.value(QStringLiteral("streams"));
    if (!streams.isArray())
        return info;
    for (const QJsonValue &value : streams.toArray()) {
        if (!value.isObject())
            continue;
        const QJsonObject stream = value.toObject();
        const QJsonValue codecType = stream.value(QStringLiteral("codec_type"));
        const QJsonValue codecName = stream.value(QStringLiteral("codec_name"));
        if (!codecType.isString() || !codecName.isString())
            continue;
        const QString kind = codecType.toString();
        const QString codec = codecName.toString();
        const bool isVideo = kind == QLatin1String("video");
        const bool isAudio = kind == QLatin1String("audio");
        const bool isText =
            kind == QLatin1String("subtitle") && supportedSubtitleCodecs().contains(codec);
        if (!isVideo && !isAudio && !isText)
            continue;

        MediaStream media;
        media.codec = codec;
        if (const std::optional<int> index = jsonInteger(stream.value(QStringLiteral("index"))))
            media.streamIndex = *index;
        const QJsonValue disposition = stream.value(QStringLiteral("disposition"));
        if (disposition.isObject())
            if (const std::optional<int> flag =
                    jsonInteger(disposition.toObject().value(QStringLiteral("default"))))
                media.isDefault = *flag == 1;
        const QJsonValue tags = stream.value(QStringLiteral("tags"));
        if (tags.isObject()) {
            const QJsonValue language = tags.toObject().value(QStringLiteral("language"));
            if (language.isString())
                media.language = language.toString();
        }
        if (isVideo) {
            media.type = MediaStream::StreamType::Video;
            if (const std::optional<int> width = jsonInteger(stream.value(QStringLiteral("width"))))
                media.videoWidth = *width;
            if (const std::optional<int> height =
                    jsonInteger(stream.value(QStringLiteral("height"))))
                media.videoHeight = *height;
            info.videoStreams.append(media);
        } else if (isAudio) {
            media.type = MediaStream::StreamType::Audio;
            // ffprobe writes the rate as a text ("48000") and the channel count as a number.
            const QJsonValue rate = stream.value(QStringLiteral("sample_rate"));
            bool isNumber = false;
            const int hertz = rate.toString().toInt(&isNumber);
            if (isNumber && hertz > 0)
                media.audioSampleRate = hertz;
            if (const std::optional<int> channels =
                    jsonInteger(stream.value(QStringLiteral("channels")));
                channels && *channels > 0)
                media.audioChannels = *channels;
            info.audioStreams.append(media);
        } else {
            media.type = MediaStream::StreamType::Subtitles;
            info.subtitlesStreams.append(media);
        }
    }
    return info;
}
