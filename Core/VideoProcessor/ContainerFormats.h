#pragma once

#include "ContainerFormat.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

struct VideoInfo;

// The containers an output video may be written in, and what each can hold.
class ContainerFormats {
public:
    // Output containers by lower-case extension, in table order.
    static const QList<std::pair<QString, ContainerFormat>> &containerFormats();
    static std::optional<ContainerFormat> containerFormat(const QString &extension);
    static bool supportsNewAudioStream(const QString &path);
    static bool supportsNewSubtitlesStream(const QString &path);
    static QStringList videoFileTypes();
    // The extension of a path's last component ("" for none or a leading point only).
    static QString pathExtension(const QString &path);

    // Why the output video cannot hold what is asked of it, before any work starts: a container
    // that holds one audio stream, for a video whose own audio stays beside the speech.
    static std::optional<QString> outputProblem(const QString &outputVideo,
                                                const VideoInfo &videoInfo, int audioTrack);
};
