#include "OutputOptions.h"

#include "Settings/UserSettings.h"

OutputOptions OutputOptions::fromSettings(const UserSettings &settings)
{
    OutputOptions options;
    options.newAudioStream = settings.boolValue(UserSettings::newAudioStreamKey);
    options.defaultAudioStream = settings.boolValue(UserSettings::defaultAudioStreamKey);
    options.newSubtitlesStream = settings.boolValue(UserSettings::newSubtitlesStreamKey);
    options.defaultSubtitlesStream = settings.boolValue(UserSettings::defaultSubtitlesStreamKey);
    options.volume = settings.volume();
    options.maximizeOutputVolume = settings.boolValue(UserSettings::maximizeOutputVolumeKey);
    return options;
}
