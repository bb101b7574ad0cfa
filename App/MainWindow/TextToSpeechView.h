#pragma once

#include "Speech/VoiceCatalogue.h"

#include <QString>
#include <QWidget>
#include <optional>

class QComboBox;
class UserSettings;

// The voice chooser: language, gender and name lists over the voice catalogue, which keeps the
// user's last choice in the settings. The lists hold what the catalogue's lists hold; a list with
// nothing in it is disabled.
class TextToSpeechView : public QWidget {
    Q_OBJECT
public:
    // Voices come from the speech engine.
    explicit TextToSpeechView(UserSettings &settings, QWidget *parent = nullptr);
    // Voices come from source, in its order.
    TextToSpeechView(UserSettings &settings, VoiceCatalogue::VoiceSource source,
                     QWidget *parent = nullptr);

    // The voice identifier of the current selection, or nothing when no voice matches it.
    std::optional<QString> selectedVoice() const { return catalogue.selectedVoice(); }
    // The selected language's locale identifier ("en_US"), or an empty text.
    QString selectedLocale() const { return catalogue.selectedLocale(); }

    // Rebuilds the catalogue and the three lists, restoring the saved choice.
    void refreshLanguages();
    // Disabling remembers each list's state, so that enabling gives back a list that was
    // disabled before (an empty one) disabled.
    void setChooserEnabled(bool enabled);

    QComboBox *languagePopup() const { return languageList; }
    QComboBox *genderPopup() const { return genderList; }
    QComboBox *namePopup() const { return nameList; }

signals:
    // The user picked another language, gender or name.
    void voiceChanged();

private:
    struct Choice {
        QString locale;
        std::optional<QString> voice;
        bool operator==(const Choice &) const = default;
    };

    void languagePopupClicked(int index);
    void genderPopupClicked(int index);
    void namePopupClicked(int index);
    // Shows the catalogue's lists from the given one on (0 language, 1 gender, 2 name).
    void showLists(int from);
    Choice choice() const;
    void emitIfChanged(const Choice &before);

    VoiceCatalogue catalogue;
    QComboBox *languageList = nullptr;
    QComboBox *genderList = nullptr;
    QComboBox *nameList = nullptr;
    bool chooserEnabled = true;
    bool languagePopupEnableStatus = true;
    bool genderPopupEnableStatus = true;
    bool namePopupEnableStatus = true;
};
