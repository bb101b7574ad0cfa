// A settings file of any content, read through every accessor.
#include "FuzzSupport.h"
#include "Settings/UserSettings.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = FuzzSupport::bytes(data, size);
    const QString path = FuzzSupport::writeFile(QStringLiteral("fuzzed.ini"), bytes);
    const UserSettings settings(path);
    for (const QString &key :
         {UserSettings::voiceLanguageKey, UserSettings::voiceNameKey, UserSettings::volumeKey,
          UserSettings::outputFolderKey, UserSettings::defaultAudioStreamKey,
          UserSettings::keepSpeechInSyncKey, UserSettings::mainWindowSplitKey}) {
        settings.contains(key);
        settings.boolValue(key);
        settings.integerValue(key);
        settings.doubleValue(key);
        settings.stringValue(key);
    }
    settings.volume();
    settings.storedVolumeOutOfRange();
    settings.playerVolume();
    settings.isFirstTimeRunning();
    settings.mainWindowFrame();
    settings.securityScopedBookmark();
    settings.recentProjects();
    settings.outputFolder();
    return 0;
}
