#include "VoiceChoice.h"

#include "Settings/UserSettings.h"
#include "Speech/VoiceCatalogue.h"

std::optional<QString> VoiceChoice::resolve(const std::optional<QString> &requested)
{
    if (requested)
        return requested;
    UserSettings &settings = UserSettings::shared();
    if (settings.stringValue(UserSettings::voiceLanguageKey).isEmpty())
        return std::nullopt;
    VoiceCatalogue catalogue(settings);
    catalogue.refreshLanguages();
    return catalogue.selectedVoice();
}
