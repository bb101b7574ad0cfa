#include "ContainerFormats.h"

#include "VideoInfo.h"

std::optional<QString> ContainerFormats::outputProblem(const QString &outputVideo,
                                                       const VideoInfo &videoInfo, int audioTrack)
{
    const QString extension = pathExtension(outputVideo);
    const std::optional<ContainerFormat> container = containerFormat(extension);
    if (container && container->streamSupport == 1 && audioTrack == -1 &&
        !videoInfo.audioStreams.isEmpty())
        return QStringLiteral("'.%1' videos hold one audio stream, and this video has its own: "
                              "choose the audio track the speech is mixed into")
            .arg(extension);
    return std::nullopt;
}

const QList<std::pair<QString, ContainerFormat>> &ContainerFormats::containerFormats()
{
    static const QList<std::pair<QString, ContainerFormat>> table = {
        {QStringLiteral("mkv"), {3, QStringLiteral("aac"), QStringLiteral("srt")}},
        {QStringLiteral("3gp"), {3, QStringLiteral("aac"), QStringLiteral("mov_text")}},
        {QStringLiteral("3g2"), {3, QStringLiteral("aac"), QStringLiteral("mov_text")}},
        {QStringLiteral("webm"), {3, QStringLiteral("opus"), QStringLiteral("webvtt")}},
        {QStringLiteral("mp4"), {3, QStringLiteral("aac"), QStringLiteral("mov_text")}},
        {QStringLiteral("m4v"), {3, QStringLiteral("aac"), QStringLiteral("mov_text")}},
        {QStringLiteral("mov"), {3, QStringLiteral("aac"), QStringLiteral("mov_text")}},
        {QStringLiteral("vob"), {3, QStringLiteral("aac"), QStringLiteral("mov_text")}},
        {QStringLiteral("wmv"), {2, QStringLiteral("wmav2"), QString()}},
        {QStringLiteral("asf"), {2, QStringLiteral("wmav2"), QString()}},
        {QStringLiteral("wma"), {2, QStringLiteral("wmav2"), QString()}},
        {QStringLiteral("avi"), {2, QStringLiteral("mp3"), QString()}},
        {QStringLiteral("mpg"), {2, QStringLiteral("mp2"), QString()}},
        {QStringLiteral("mpeg"), {2, QStringLiteral("mp2"), QString()}},
        {QStringLiteral("ts"), {2, QStringLiteral("mp2"), QString()}},
        {QStringLiteral("m2ts"), {2, QStringLiteral("mp2"), QString()}},
        {QStringLiteral("mts"), {2, QStringLiteral("mp2"), QString()}},
        {QStringLiteral("ogg"), {2, QStringLiteral("vorbis"), QString()}},
        {QStringLiteral("ogv"), {2, QStringLiteral("vorbis"), QString()}},
        {QStringLiteral("flv"), {1, QStringLiteral("mp3"), QString()}},
        {QStringLiteral("f4v"), {1, QStringLiteral("mp3"), QString()}},
        {QStringLiteral("mxf"), {1, QStringLiteral("pcm_s16le"), QString()}},
    };
    return table;
}

std::optional<ContainerFormat> ContainerFormats::containerFormat(const QString &extension)
{
    for (const auto &[key, format] : containerFormats())
        if (key == extension)
            return format;
    return std::nullopt;
}

bool ContainerFormats::supportsNewAudioStream(const QString &path)
{
    const std::optional<ContainerFormat> format = containerFormat(pathExtension(path));
    return format && format->streamSupport != 1;
}

bool ContainerFormats::supportsNewSubtitlesStream(const QString &path)
{
    const std::optional<ContainerFormat> format = containerFormat(pathExtension(path));
    return format && format->streamSupport == 3;
}

QStringList ContainerFormats::videoFileTypes()
{
    QStringList keys;
    for (const auto &[key, format] : containerFormats())
        keys.append(key);
    return keys;
}

QString ContainerFormats::pathExtension(const QString &path)
{
    const QString name = path.mid(path.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.mid(dot + 1) : QString();
}
