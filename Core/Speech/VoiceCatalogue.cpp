#include "VoiceCatalogue.h"

#include "Settings/UserSettings.h"
#include "SpeechEngine.h"
#include "Subtitles/NSUtils.h"

#include <algorithm>

bool VoiceCatalogue::PopupList::selectItemWithTitle(const QString &title)
{
    const qsizetype index = items.indexOf(title);
    if (index < 0)
        return false;
    selectedIndex = int(index);
    return true;
}

void VoiceCatalogue::PopupList::removeAllItems()
{
    items.clear();
    selectedIndex = -1;
}

void VoiceCatalogue::PopupList::addItems(const QStringList &titles)
{
    items.append(titles);
    if (selectedIndex < 0 && !items.isEmpty())
        selectedIndex = 0;
}

VoiceCatalogue::VoiceCatalogue(UserSettings &settings, VoiceSource source)
    : settings(settings)
    , source(source ? std::move(source) : [] { return SpeechEngine::allVoices(); })
{}

void VoiceCatalogue::buildCatalogue()
{
    voiceDict.clear();
    attributes.clear();
    for (const VoiceAttributes &voice : source()) {
        if (voice.localeIdentifier.isEmpty())
            continue;
        // Anything but male, neuter and missing genders included, is listed as female.
        const QString gender =
            voice.gender == VoiceAttributes::male ? VoiceAttributes::male : VoiceAttributes::female;
        auto &byGender = voiceDict[voice.localeIdentifier];
        auto list = std::find_if(byGender.begin(), byGender.end(),
                                 [&](const auto &entry) { return entry.first == gender; });
        if (list == byGender.end())
            list = byGender.insert(byGender.end(), {gender, QStringList()});
        list->second.append(voice.identifier);
        attributes.insert(voice.identifier, voice);
    }
}

QString VoiceCatalogue::displayName(const QString &localeIdentifier) const
{
    if (const std::optional<QString> name = NSUtils::languageName(localeIdentifier))
        return *name;
    // Locales without an English name show the synthesizer's own name of the language.
    const auto byGender = voiceDict.constFind(localeIdentifier);
    if (byGender != voiceDict.cend()) {
        for (const auto &[gender, voices] : *byGender) {
            for (const QString &voice : voices) {
                const QString name = attributes.value(voice).languageName;
                if (!name.isEmpty())
                    return name;
            }
        }
    }
    return localeIdentifier;
}

void VoiceCatalogue::refreshLanguages()
{
    buildCatalogue();
    languages.removeAllItems();
    languagesToIDs.clear();
    QStringList titles;
    for (auto it = voiceDict.cbegin(); it != voiceDict.cend(); ++it) {
        QString title = displayName(it.key());
        // Two locales must never share a title, or one of them could not be chosen.
        if (languagesToIDs.contains(title))
            title += QStringLiteral(" [") + it.key() + u']';
        languagesToIDs.insert(title, it.key());
        titles.append(title);
    }
    std::sort(titles.begin(), titles.end());
    languages.addItems(titles);

    const QString saved = settings.stringValue(UserSettings::voiceLanguageKey);
    for (auto it = languagesToIDs.cbegin(); it != languagesToIDs.cend(); ++it) {
        if (it.value() == saved) {
            languages.selectItemWithTitle(it.key());
            break;
        }
    }
    refreshGenders();
}

void VoiceCatalogue::refreshGenders()
{
    genders.removeAllItems();
    const QString locale = selectedLocale();
    QStringList titles;
    for (const auto &[gender, voices] : voiceDict.value(locale))
        titles.append(gender);
    genders.addItems(titles);
    genders.selectItemWithTitle(settings.stringValue(UserSettings::voiceGenderKey));
    refreshNames();
}

void VoiceCatalogue::refreshNames()
{
    names.removeAllItems();
    QStringList titles;
    if (const QStringList *voices = voicesFor(selectedLocale(), genders.titleOfSelectedItem())) {
        for (const QString &voice : *voices)
            titles.append(attributes.value(voice).name);
    }
    names.addItems(titles);
    names.selectItemWithTitle(settings.stringValue(UserSettings::voiceNameKey));
}

const QStringList *VoiceCatalogue::voicesFor(const QString &locale, const QString &gender) const
{
    const auto byGender = voiceDict.constFind(locale);
    if (byGender == voiceDict.cend())
        return nullptr;
    for (const auto &entry : *byGender)
        if (entry.first == gender)
            return &entry.second;
    return nullptr;
}

QString VoiceCatalogue::selectedLocale() const
{
    return languagesToIDs.value(languages.titleOfSelectedItem());
}

std::optional<QString> VoiceCatalogue::selectedVoice() const
{
    const QStringList *voices = voicesFor(selectedLocale(), genders.titleOfSelectedItem());
    if (!voices)
        return std::nullopt;
    const QString name = names.titleOfSelectedItem();
    for (const QString &voice : *voices)
        if (attributes.value(voice).name == name)
            return voice;
    return std::nullopt;
}

void VoiceCatalogue::languagePopupClicked(int index)
{
    if (index < 0 || index >= languages.items.size())
        return;
    languages.selectedIndex = index;
    const QString locale = selectedLocale();
    if (locale == settings.stringValue(UserSettings::voiceLanguageKey))
        return;
    settings.setString(UserSettings::voiceLanguageKey, locale);
    refreshGenders();
}

void VoiceCatalogue::genderPopupClicked(int index)
{
    if (index < 0 || index >= genders.items.size())
        return;
    genders.selectedIndex = index;
    const QString gender = genders.titleOfSelectedItem();
    if (gender != settings.stringValue(UserSettings::voiceGenderKey))
        settings.setString(UserSettings::voiceGenderKey, gender);
    refreshNames();
}

void VoiceCatalogue::namePopupClicked(int index)
{
    if (index < 0 || index >= names.items.size())
        return;
    names.selectedIndex = index;
    const QString name = names.titleOfSelectedItem();
    if (name != settings.stringValue(UserSettings::voiceNameKey))
        settings.setString(UserSettings::voiceNameKey, name);
}

void VoiceCatalogue::setEnabled(bool enabled)
{
    if (enabled == !disabled)
        return;
    disabled = !enabled;
    if (!enabled) {
        languagePopupEnableStatus = languages.enabled;
        genderPopupEnableStatus = genders.enabled;
        namePopupEnableStatus = names.enabled;
        languages.enabled = genders.enabled = names.enabled = false;
        return;
    }
    languages.enabled = languagePopupEnableStatus;
    genders.enabled = genderPopupEnableStatus;
    names.enabled = namePopupEnableStatus;
}

QList<VoiceCatalogue::Entry> VoiceCatalogue::entries() const
{
    QList<Entry> all;
    for (const QString &language : languages.items) {
        for (const auto &[gender, voices] : voiceDict.value(languagesToIDs.value(language))) {
            for (const QString &voice : voices)
                all.append({language, gender, attributes.value(voice)});
        }
    }
    return all;
}
