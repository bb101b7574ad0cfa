#include "OutputOptions.h"

#include "ContainerFormats.h"
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
    options.keepSpeechInSync = settings.boolValue(UserSettings::keepSpeechInSyncKey);
    options.duckOriginalAudio = settings.boolValue(UserSettings::duckOriginalAudioKey);
    options.loudnessTarget = settings.loudnessTarget();
    // A target and raising the peak to full scale exclude each other (the dialog keeps only one
    // on); should a hand-edited store hold both, the target wins.
    if (options.loudnessTarget)
        options.maximizeOutputVolume = false;
    return options;
}

OutputOptions::Availability OutputOptions::availability(const QString &videoPath,
                                                        bool newSubtitlesStreamOn)
{
    Availability available;
    if (videoPath.isEmpty())
        return available;
    available.newAudioStream = available.defaultAudioStream =
        ContainerFormats::supportsNewAudioStream(videoPath);
    available.newSubtitlesStream = ContainerFormats::supportsNewSubtitlesStream(videoPath);
    available.defaultSubtitlesStream = available.newSubtitlesStream && newSubtitlesStreamOn;
    return available;
}

OutputOptions OutputOptions::applicableTo(const QString &videoPath) const
{
    const Availability available = availability(videoPath, newSubtitlesStream);
    OutputOptions applied = *this;
    applied.newAudioStream = newAudioStream && available.newAudioStream;
    applied.defaultAudioStream = defaultAudioStream && available.defaultAudioStream;
    applied.newSubtitlesStream = newSubtitlesStream && available.newSubtitlesStream;
    applied.defaultSubtitlesStream = defaultSubtitlesStream && available.defaultSubtitlesStream;
    return applied;
}
