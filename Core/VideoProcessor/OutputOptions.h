#pragma once

class UserSettings;

// The user's stream options for one output video, as the options sheet stores them.
struct OutputOptions {
    bool newAudioStream = false;
    bool defaultAudioStream = false;
    bool newSubtitlesStream = false;
    bool defaultSubtitlesStream = false;
    int volume = 50; // percent: level of the input's audio under the speech when mixing
    bool maximizeOutputVolume = false;

    static OutputOptions fromSettings(const UserSettings &settings);
};
