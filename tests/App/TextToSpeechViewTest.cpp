#include "MainWindow/TextToSpeechView.h"
#include "Settings/UserSettings.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

VoiceAttributes voice(const char *id, const char *name, const char *locale, const char *gender)
{
    return VoiceAttributes{QString::fromLatin1(id),     QString::fromLatin1(name),
                           QString::fromLatin1(locale), QString::fromLatin1(gender),
                           QStringLiteral("Demo."),     QString()};
}

const QList<VoiceAttributes> voices = {
    voice("fr-1", "Thomas", "fr_FR", "Male"), voice("en-1", "Zoe", "en_US", "Female"),
    voice("en-2", "Alex", "en_US", "Male"),   voice("en-3", "Ava", "en_US", "Female"),
    voice("de-1", "Anna", "de_DE", "Female"),
};

QStringList titles(const QComboBox *list)
{
    QStringList all;
    for (int i = 0; i < list->count(); ++i)
        all.append(list->itemText(i));
    return all;
}

// As the user does it: the list shows the item, then reports the choice.
void pick(QComboBox *list, const QString &title)
{
    const int index = list->findText(title);
    ASSERT_GE(index, 0) << title;
    list->setCurrentIndex(index);
    emit list->activated(index);
}

class TextToSpeechViewTest : public ::testing::Test {
protected:
    QTemporaryDir folder;
    UserSettings settings{folder.filePath(QStringLiteral("settings.ini"))};
};

} // namespace

TEST_F(TextToSpeechViewTest, ASavedLanguageWithoutVoicesFallsBackToTheFirstLanguage)
{
    settings.setString(UserSettings::voiceLanguageKey, QStringLiteral("ja_JP"));
    settings.setString(UserSettings::voiceGenderKey, QStringLiteral("Male"));
    const TextToSpeechView chooser(settings, [] { return voices; });
    EXPECT_EQ(titles(chooser.languagePopup()),
              (QStringList{QStringLiteral("English (United States)"),
                           QStringLiteral("French (France)"), QStringLiteral("German (Germany)")}));
    EXPECT_EQ(chooser.languagePopup()->currentIndex(), 0);
    EXPECT_EQ(chooser.genderPopup()->currentText(), QStringLiteral("Male"));
    EXPECT_EQ(titles(chooser.namePopup()), QStringList{QStringLiteral("Alex")});
    EXPECT_EQ(chooser.selectedVoice(), QStringLiteral("en-2"));
    EXPECT_EQ(chooser.selectedLocale(), QStringLiteral("en_US"));
}

TEST_F(TextToSpeechViewTest, EnablingGivesBackEachListsStateFromBefore)
{
    QList<VoiceAttributes> installed;
    TextToSpeechView chooser(settings, [&] { return installed; });
    const QList<QComboBox *> lists = {chooser.languagePopup(), chooser.genderPopup(),
                                      chooser.namePopup()};
    // Nothing to choose from: the lists stay disabled through a disable and enable.
    for (QComboBox *list : lists)
        EXPECT_FALSE(list->isEnabled());
    chooser.setChooserEnabled(false);
    chooser.setChooserEnabled(true);
    for (QComboBox *list : lists)
        EXPECT_FALSE(list->isEnabled()) << list->accessibleName();

    // Voices that appear while a job runs are shown, but only usable once it ends.
    chooser.setChooserEnabled(false);
    installed = voices;
    chooser.refreshLanguages();
    EXPECT_EQ(chooser.languagePopup()->count(), 3);
    for (QComboBox *list : lists)
        EXPECT_FALSE(list->isEnabled()) << list->accessibleName();
    chooser.setChooserEnabled(true);
    for (QComboBox *list : lists)
        EXPECT_TRUE(list->isEnabled()) << list->accessibleName();
}

TEST_F(TextToSpeechViewTest, ChangingTheLanguageStoresItAndShowsItsVoices)
{
    TextToSpeechView chooser(settings, [] { return voices; });
    QSignalSpy changed(&chooser, &TextToSpeechView::voiceChanged);

    pick(chooser.languagePopup(), QStringLiteral("German (Germany)"));
    EXPECT_EQ(settings.stringValue(UserSettings::voiceLanguageKey), QStringLiteral("de_DE"));
    EXPECT_EQ(chooser.selectedVoice(), QStringLiteral("de-1"));
    EXPECT_EQ(changed.count(), 1);

    // Another chooser (the overlay's) saves French; choosing French here must still show French
    // voices, although nothing new is stored.
    TextToSpeechView other(settings, [] { return voices; });
    pick(other.languagePopup(), QStringLiteral("French (France)"));
    pick(chooser.languagePopup(), QStringLiteral("French (France)"));
    EXPECT_EQ(titles(chooser.namePopup()), QStringList{QStringLiteral("Thomas")});
    EXPECT_EQ(chooser.selectedVoice(), QStringLiteral("fr-1"));
    EXPECT_EQ(changed.count(), 2);

    // The same choice again changes nothing.
    pick(chooser.languagePopup(), QStringLiteral("French (France)"));
    EXPECT_EQ(changed.count(), 2);
}
