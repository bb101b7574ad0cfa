#pragma once

#include <QString>
#include <optional>

class UserSettings;

// The user's stream options for one output video, as the options sheet stores them.
struct OutputOptions {
    bool newAudioStream = false;
    bool defaultAudioStream = false;
    bool newSubtitlesStream = false;
    bool defaultSubtitlesStream = false;
    int volume = 50; // percent: level of the input's audio under the speech when mixing
    bool maximizeOutputVolume = false;
    // Fit each cue's speech to keep pace with the subtitles, rather than only raise its rate.
    bool keepSpeechInSync = false;
    // Lower the original only while the speech plays, to volume percent of its level, and keep
    // it whole between lines; the speech keeps its full level.
    bool duckOriginalAudio = false;
    // LUFS the voiced audio stream is brought to (-23 or -16), in the mixing pass itself.
    std::optional<int> loudnessTarget;

    static OutputOptions fromSettings(const UserSettings &settings);

    // Which stream options can apply to a video (the options dialog offers exactly these): the
    // audio ones where its container holds another audio stream, the new subtitle stream where
    // it holds one, and the default subtitles mark only together with that stream. No video, no
    // stream options.
    struct Availability {
        bool newAudioStream = false;
        bool defaultAudioStream = false;
        bool newSubtitlesStream = false;
        bool defaultSubtitlesStream = false;
    };
    static Availability availability(const QString &videoPath, bool newSubtitlesStreamOn);
    // These options less those that cannot apply to the video: a choice shown greyed out does
    // nothing.
    OutputOptions applicableTo(const QString &videoPath) const;
};
