#include "Speech/VoiceCatalogue.h"
#include "Settings/UserSettings.h"
#include "Speech/SpeechSynthesizer.h"
#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

VoiceAttributes voice(const QString &id, const QString &name, const QString &locale,
                      const QString &gender)
{
    return VoiceAttributes{id, name, locale, gender, QStringLiteral("Demo."), QString()};
}

const QList<VoiceAttributes> fixedVoices = {
    voice(QStringLiteral("fr-1"), QStringLiteral("Thomas"), QStringLiteral("fr_FR"),
          QStringLiteral("Male")),
    voice(QStringLiteral("en-1"), QStringLiteral("Zoe"), QStringLiteral("en_US"),
          QStringLiteral("Female")),
    voice(QStringLiteral("en-2"), QStringLiteral("Alex"), QStringLiteral("en_US"),
          QStringLiteral("Male")),
    voice(QStringLiteral("en-3"), QStringLiteral("Ava"), QStringLiteral("en_US"),
          QStringLiteral("Female")),
    voice(QStringLiteral("en-4"), QStringLiteral("Robo"), QStringLiteral("en_US"),
          QStringLiteral("Neuter")),
    voice(QStringLiteral("de-1"), QStringLiteral("Anna"), QStringLiteral("de_DE"),
          QStringLiteral("Female")),
    voice(QStringLiteral("x-1"), QStringLiteral("Nobody"), QString(), QStringLiteral("Male")),
};

class VoiceCatalogueTest : public ::testing::Test {
protected:
    QString file() const { return folder.filePath(QStringLiteral("settings.ini")); }
    VoiceCatalogue catalogue(const QList<VoiceAttributes> &voices = fixedVoices)
    {
        return VoiceCatalogue(settings, [voices] { return voices; });
    }
    QTemporaryDir folder;
    UserSettings settings{file()};
};

} // namespace

TEST_F(VoiceCatalogueTest, ListsFollowTheVoicesAndKeepTheSynthesizersOrder)
{
    VoiceCatalogue chooser = catalogue();
    chooser.refreshLanguages();
    EXPECT_EQ(chooser.languagePopup().items,
              (QStringList{QStringLiteral("English (United States)"),
                           QStringLiteral("French (France)"), QStringLiteral("German (Germany)")}));
    EXPECT_EQ(chooser.languagesToIDs.value(QStringLiteral("French (France)")),
              QStringLiteral("fr_FR"));
    EXPECT_EQ(chooser.languagePopup().selectedIndex, 0);
    EXPECT_EQ(chooser.genderPopup().items,
              (QStringList{QStringLiteral("Female"), QStringLiteral("Male")}));
    // Two voices of one locale and gender, in the synthesizer's order; neuter counts as female.
    EXPECT_EQ(chooser.namePopup().items,
              (QStringList{QStringLiteral("Zoe"), QStringLiteral("Ava"), QStringLiteral("Robo")}));
    EXPECT_EQ(chooser.selectedVoice(), QStringLiteral("en-1"));
    // Nothing was written by showing the lists.
    EXPECT_FALSE(QFile::exists(file()));
}

TEST_F(VoiceCatalogueTest, SavedSelectionIsRestored)
{
    settings.setString(UserSettings::voiceLanguageKey, QStringLiteral("en_US"));
    settings.setString(UserSettings::voiceGenderKey, QStringLiteral("Female"));
    settings.setString(UserSettings::voiceNameKey, QStringLiteral("Ava"));
    VoiceCatalogue chooser = catalogue();
    chooser.refreshLanguages();
    EXPECT_EQ(chooser.languagePopup().titleOfSelectedItem(),
              QStringLiteral("English (United States)"));
    EXPECT_EQ(chooser.namePopup().titleOfSelectedItem(), QStringLiteral("Ava"));
    EXPECT_EQ(chooser.selectedVoice(), QStringLiteral("en-3"));
}

TEST_F(VoiceCatalogueTest, SavedLanguageWithoutVoicesFallsBackToTheFirst)
{
    settings.setString(UserSettings::voiceLanguageKey, QStringLiteral("it_IT"));
    settings.setString(UserSettings::voiceGenderKey, QStringLiteral("Male"));
    settings.setString(UserSettings::voiceNameKey, QStringLiteral("Thomas"));
    VoiceCatalogue chooser = catalogue();
    chooser.refreshLanguages();
    EXPECT_EQ(chooser.languagePopup().selectedIndex, 0);
    EXPECT_EQ(chooser.genderPopup().titleOfSelectedItem(), QStringLiteral("Male"));
    EXPECT_EQ(chooser.namePopup().items, QStringList{QStringLiteral("Alex")});
    EXPECT_EQ(chooser.selectedVoice(), QStringLiteral("en-2"));
}

TEST_F(VoiceCatalogueTest, SelectionActionsPersistOnlyChanges)
{
    VoiceCatalogue chooser = catalogue();
    chooser.refreshLanguages();
    chooser.languagePopupClicked(1);
    EXPECT_EQ(settings.stringValue(UserSettings::voiceLanguageKey), QStringLiteral("fr_FR"));
    EXPECT_EQ(chooser.genderPopup().items, QStringList{QStringLiteral("Male")});
    EXPECT_EQ(chooser.selectedVoice(), QStringLiteral("fr-1"));

    chooser.languagePopupClicked(0);
    chooser.genderPopupClicked(1);
    chooser.namePopupClicked(0);
    EXPECT_EQ(settings.stringValue(UserSettings::voiceGenderKey), QStringLiteral("Male"));
    EXPECT_EQ(settings.stringValue(UserSettings::voiceNameKey), QStringLiteral("Alex"));
    EXPECT_EQ(chooser.selectedVoice(), QStringLiteral("en-2"));

    // Choosing the saved language again writes nothing and leaves the gender list as it is.
    const QDateTime written = QFileInfo(file()).lastModified();
    QThread::msleep(20);
    chooser.languagePopupClicked(0);
    EXPECT_EQ(chooser.genderPopup().titleOfSelectedItem(), QStringLiteral("Male"));
    EXPECT_EQ(QFileInfo(file()).lastModified(), written);
    EXPECT_EQ(settings.stringValue(UserSettings::voiceLanguageKey), QStringLiteral("en_US"));
}

TEST_F(VoiceCatalogueTest, NoMatchingVoiceGivesNothing)
{
    VoiceCatalogue empty = catalogue({});
    empty.refreshLanguages();
    EXPECT_TRUE(empty.languagePopup().items.isEmpty());
    EXPECT_EQ(empty.languagePopup().selectedIndex, -1);
    EXPECT_FALSE(empty.selectedVoice());
}

TEST_F(VoiceCatalogueTest, EnablingRestoresEachListsState)
{
    VoiceCatalogue chooser = catalogue();
    chooser.refreshLanguages();
    chooser.setEnabled(false);
    chooser.setEnabled(false);
    EXPECT_FALSE(chooser.namePopup().enabled);
    chooser.setEnabled(true);
    EXPECT_TRUE(chooser.languagePopup().enabled);
    EXPECT_TRUE(chooser.namePopup().enabled);
}

TEST_F(VoiceCatalogueTest, RealVoicesGiveEveryLanguageBothGenders)
{
    VoiceCatalogue chooser(settings);
    chooser.refreshLanguages();
    ASSERT_GT(chooser.languagePopup().items.size(), 100);
    EXPECT_TRUE(
        std::is_sorted(chooser.languagePopup().items.begin(), chooser.languagePopup().items.end()));
    for (const QString &locale : chooser.voiceDict.keys()) {
        const auto &byGender = chooser.voiceDict.value(locale);
        EXPECT_EQ(byGender.size(), 2) << locale;
    }
    // Locales without an English name of their own show the engine's name of the language.
    EXPECT_TRUE(chooser.languagePopup().items.contains(QStringLiteral("English (Scotland)")));
    // The name list keeps the engine's order: the standard voice first.
    settings.setString(UserSettings::voiceLanguageKey, QStringLiteral("en_US"));
    settings.setString(UserSettings::voiceGenderKey, QStringLiteral("Male"));
    chooser.refreshLanguages();
    EXPECT_EQ(chooser.namePopup().items.value(0), QStringLiteral("Standard"));
    EXPECT_EQ(chooser.selectedVoice(), QStringLiteral("gmw/en-US"));
    ASSERT_NE(SpeechSynthesizer::create(chooser.selectedVoice()), nullptr);
}

TEST_F(VoiceCatalogueTest, FliteVoicesAreChosenUnderAmericanEnglish)
{
    struct Expected {
        QString identifier, gender, name;
    };
    const QList<Expected> expected = {
        {QStringLiteral("flite/slt"), QStringLiteral("Female"), QStringLiteral("Flite SLT")},
        {QStringLiteral("flite/rms"), QStringLiteral("Male"), QStringLiteral("Flite RMS")},
        {QStringLiteral("flite/awb"), QStringLiteral("Male"),
         QStringLiteral("Flite AWB (Scottish)")},
        {QStringLiteral("flite/kal16"), QStringLiteral("Male"), QStringLiteral("Flite KAL")},
    };
    VoiceCatalogue chooser(settings);
    chooser.refreshLanguages();
    QList<VoiceCatalogue::Entry> flite = chooser.entries();
    flite.removeIf([](const VoiceCatalogue::Entry &entry) {
        return !entry.voice.identifier.startsWith(QStringLiteral("flite/"));
    });
    ASSERT_EQ(flite.size(), expected.size());
    for (const Expected &voice : expected) {
        const auto entry = std::find_if(flite.cbegin(), flite.cend(), [&](const auto &e) {
            return e.voice.identifier == voice.identifier;
        });
        ASSERT_NE(entry, flite.cend()) << voice.identifier;
        EXPECT_EQ(entry->language, QStringLiteral("English (United States)"));
        EXPECT_EQ(entry->gender, voice.gender);
        EXPECT_EQ(entry->voice.name, voice.name);
        EXPECT_FALSE(entry->voice.demoText.isEmpty());
        // Picking it in the chooser selects it.
        settings.setString(UserSettings::voiceLanguageKey, QStringLiteral("en_US"));
        settings.setString(UserSettings::voiceGenderKey, voice.gender);
        settings.setString(UserSettings::voiceNameKey, voice.name);
        chooser.refreshLanguages();
        EXPECT_EQ(chooser.selectedVoice(), voice.identifier);
    }
    // They come right after the standard voice, not after the dozens of variants.
    EXPECT_EQ(chooser.namePopup().items.mid(0, 4),
              (QStringList{QStringLiteral("Standard"), QStringLiteral("Flite RMS"),
                           QStringLiteral("Flite AWB (Scottish)"), QStringLiteral("Flite KAL")}));
}
