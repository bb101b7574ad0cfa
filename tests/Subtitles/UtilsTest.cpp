#include "Subtitles/Utils.h"
#include "Settings/UserSettings.h"
#include "Subtitles/NSUtils.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <gtest/gtest.h>

TEST(TimeTexts, PrintEveryFormAsTheUserSeesIt)
{
    EXPECT_EQ(Utils::fullTimeString(0), QStringLiteral("00:00:00.000"));
    EXPECT_EQ(Utils::fullTimeString(3723004), QStringLiteral("01:02:03.004"));
    EXPECT_EQ(Utils::fullTimeString(360000000), QStringLiteral("100:00:00.000"));
    EXPECT_EQ(Utils::shortTimeString(999), QStringLiteral("00.999"));
    EXPECT_EQ(Utils::shortTimeString(4500), QStringLiteral("04.500"));
    EXPECT_EQ(Utils::shortTimeString(60000), QStringLiteral("01:00.000"));
    EXPECT_EQ(Utils::shortTimeString(62500), QStringLiteral("01:02.500"));
    EXPECT_EQ(Utils::shortTimeString(3600000), QStringLiteral("01:00:00.000"));
    EXPECT_EQ(Utils::shortTimeString(5400000), QStringLiteral("01:30:00.000"));
    EXPECT_EQ(Utils::clockTimeString(0), QStringLiteral("00:00"));
    EXPECT_EQ(Utils::clockTimeString(61999), QStringLiteral("01:01"));
    EXPECT_EQ(Utils::clockTimeString(3661000), QStringLiteral("01:01:01"));
}

TEST(TimeTexts, NegativePartsPrintAsZeros)
{
    EXPECT_EQ(Utils::fullTimeString(-1), QStringLiteral("00:00:00.000"));
    EXPECT_EQ(Utils::fullTimeString(-3723004), QStringLiteral("00:00:00.000"));
    EXPECT_EQ(Utils::clockTimeString(-5000), QStringLiteral("00:00"));
    EXPECT_EQ(Utils::timeComponents(std::numeric_limits<qint64>::max()).value(0),
              QStringLiteral("2562047788015"));
}

class OutputFilePathTest : public ::testing::Test {
protected:
    void SetUp() override { UserSettings::shared().remove(UserSettings::voiceLanguageKey); }
    void TearDown() override { SetUp(); }
    QString inFolder(const QString &name) const { return folder.filePath(name); }
    void touch(const QString &name) { TestSupport::writeFile(inFolder(name), "x"); }
    QTemporaryDir folder;
};

TEST_F(OutputFilePathTest, TagsWithTheStoredVoiceLanguageAndCountsUp)
{
    UserSettings::shared().setString(UserSettings::voiceLanguageKey, QStringLiteral("en_US"));
    EXPECT_EQ(Utils::outputFilePath(inFolder(QStringLiteral("walk.mp4"))),
              inFolder(QStringLiteral("walk_Kelvorandix_en_US.mp4")));
    touch(QStringLiteral("walk_Kelvorandix_en_US.mp4"));
    touch(QStringLiteral("walk_Kelvorandix_en_US_1.mp4"));
    EXPECT_EQ(Utils::outputFilePath(inFolder(QStringLiteral("walk.mp4"))),
              inFolder(QStringLiteral("walk_Kelvorandix_en_US_2.mp4")));
    // A folder or a dangling link at a candidate also makes it taken.
    QDir(folder.path()).mkdir(QStringLiteral("walk_Kelvorandix_en_US_2.mp4"));
    QFile::link(inFolder(QStringLiteral("nowhere")),
                inFolder(QStringLiteral("walk_Kelvorandix_en_US_3.mp4")));
    EXPECT_EQ(Utils::outputFilePath(inFolder(QStringLiteral("walk.mp4"))),
              inFolder(QStringLiteral("walk_Kelvorandix_en_US_4.mp4")));
}

TEST_F(OutputFilePathTest, NameShapes)
{
    EXPECT_EQ(Utils::outputFilePath(inFolder(QStringLiteral("walk.mp4"))),
              inFolder(QStringLiteral("walk_Kelvorandix_.mp4")));
    EXPECT_EQ(Utils::outputFilePath(inFolder(QStringLiteral("walk")), QStringLiteral("fr_CA")),
              inFolder(QStringLiteral("walk_Kelvorandix_fr_CA.")));
    EXPECT_EQ(
        Utils::outputFilePath(inFolder(QStringLiteral("my film.v2.mkv")), QStringLiteral("de")),
        inFolder(QStringLiteral("my film.v2_Kelvorandix_de.mkv")));
    EXPECT_EQ(Utils::outputFilePath(inFolder(QStringLiteral(".hidden")), QStringLiteral("de")),
              inFolder(QStringLiteral(".hidden_Kelvorandix_de.")));
    // The voice language given for one run stands in for the stored one.
    UserSettings::shared().setString(UserSettings::voiceLanguageKey, QStringLiteral("en_US"));
    EXPECT_EQ(Utils::outputFilePath(inFolder(QStringLiteral("walk.mkv")), QStringLiteral("es_ES")),
              inFolder(QStringLiteral("walk_Kelvorandix_es_ES.mkv")));
}

TEST(LanguageName, GivesEnglishNamesOrNothing)
{
    EXPECT_EQ(NSUtils::languageName(QStringLiteral("fr_CA")), QStringLiteral("French (Canada)"));
    EXPECT_EQ(NSUtils::languageName(QStringLiteral("en_US")),
              QStringLiteral("English (United States)"));
    EXPECT_EQ(NSUtils::languageName(QStringLiteral("de")), QStringLiteral("German"));
    EXPECT_EQ(NSUtils::languageName(QStringLiteral("pt-BR")),
              QStringLiteral("Portuguese (Brazil)"));
    EXPECT_EQ(NSUtils::languageName(QStringLiteral("sr_Latn_RS")),
              QStringLiteral("Serbian (Latin, Serbia)"));
    EXPECT_FALSE(NSUtils::languageName(QStringLiteral("xx_YY")));
    EXPECT_FALSE(NSUtils::languageName(QStringLiteral("en_GB_x_RP")));
    EXPECT_FALSE(NSUtils::languageName(QStringLiteral("en_ZZ")));
    EXPECT_FALSE(NSUtils::languageName(QString()));
}

TEST(DefaultMoviesFolder, IsTheXdgVideosFolder)
{
    const QString home = QDir::homePath();
    const QString folder = NSUtils::defaultMoviesFolder();
    EXPECT_EQ(folder, QStandardPaths::writableLocation(QStandardPaths::MoviesLocation));
    EXPECT_TRUE(folder.startsWith(home)) << folder.toStdString();
}
