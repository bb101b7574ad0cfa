#pragma once

#include "VoiceAttributes.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class UserSettings;

// The data behind the voice chooser: three lists (language, gender, name) that together pick one
// voice, rebuilt from the synthesizer's voices, with the user's last choice kept in the settings.
// The chooser views wrap this class and show its lists.
class VoiceCatalogue {
public:
    // One chooser list: its titles, the selected position (-1 when empty) and whether it is
    // enabled.
    struct PopupList {
        QStringList items;
        int selectedIndex = -1;
        bool enabled = true;

        QString titleOfSelectedItem() const { return items.value(selectedIndex); }
        bool selectItemWithTitle(const QString &title);
        void removeAllItems();
        void addItems(const QStringList &titles);
    };

    using VoiceSource = std::function<QList<VoiceAttributes>()>;

    // Voices come from source (every speech engine's voices when none is given), in its order.
    explicit VoiceCatalogue(UserSettings &settings, VoiceSource source = {});

    // Builds the catalogue and refreshes the three lists, restoring the saved selection.
    void refreshLanguages();
    void refreshGenders();
    void refreshNames();

    // The voice identifier of the current selection, or nothing when no voice matches it.
    std::optional<QString> selectedVoice() const;
    // The locale identifier of the selected language, or an empty text.
    QString selectedLocale() const;

    // The user picked an item; each persists only a changed choice and refreshes what follows.
    void languagePopupClicked(int index);
    void genderPopupClicked(int index);
    void namePopupClicked(int index);

    // Disabling remembers each list's state, so that enabling restores it.
    void setEnabled(bool enabled);

    // Every voice of the catalogue in the order the chooser offers them: languages by display
    // name, then genders, then names. Valid after refreshLanguages().
    struct Entry {
        QString language; // display name
        QString gender;   // the gender list's label
        VoiceAttributes voice;
    };
    QList<Entry> entries() const;

    // English display name of a locale as the language list shows it.
    QString displayName(const QString &localeIdentifier) const;

    const PopupList &languagePopup() const { return languages; }
    const PopupList &genderPopup() const { return genders; }
    const PopupList &namePopup() const { return names; }

    // display name -> locale identifier
    QHash<QString, QString> languagesToIDs;
    // locale identifier -> (gender label -> voice identifiers), in the synthesizer's order
    QHash<QString, QList<std::pair<QString, QStringList>>> voiceDict;

private:
    void buildCatalogue();
    const QStringList *voicesFor(const QString &locale, const QString &gender) const;

    UserSettings &settings;
    VoiceSource source;
    QHash<QString, VoiceAttributes> attributes;
    PopupList languages;
    PopupList genders;
    PopupList names;
    bool languagePopupEnableStatus = true;
    bool genderPopupEnableStatus = true;
    bool namePopupEnableStatus = true;
    bool disabled = false;
};
