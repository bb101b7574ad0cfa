#pragma once

#include "VideoProcessor/VideoInfo.h"

#include <QCoreApplication>
#include <QString>
#include <optional>

class UserSettings;
struct OutputOptions;

// What Make would do now, in a few lines for the speech tab: the output file, how the speech goes
// in, the subtitles and the loudness, from what is chosen and the stored options.
class MakePlan {
    Q_DECLARE_TR_FUNCTIONS(MakePlan)
public:
    struct Choice {
        std::optional<QString> video;
        std::optional<VideoInfo> videoInfo;
        int audioTrack = -1; // -1: none
        QString audioTrackTitle;
        // The voice's locale, which names the output.
        QString voiceLocale;
    };
    static QString text(const UserSettings &settings, const Choice &choice);
    // One line on how the original sounds under the voice: "Original at 25% under the voice,
    // 100% between lines".
    static QString mixLine(const OutputOptions &options);
    // One line on the loudness of the result: as mixed, raised to full scale, or a target.
    static QString loudnessLine(const OutputOptions &options);
};
