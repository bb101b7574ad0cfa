#include "Settings/UserSettings.h"
#include "Subtitles/NSUtils.h"
#include "TestSupport.h"
#include "VideoProcessor/OutputOptions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

class UserSettingsTest : public ::testing::Test {
protected:
    QString file() const { return folder.filePath(QStringLiteral("prefs/settings.ini")); }
    QTemporaryDir folder;
    UserSettings settings{file()};
};

TEST_F(UserSettingsTest, KeyStringsAreTheStoredOnes)
{
    // Five field names differ from the strings stored in the file.
    EXPECT_EQ(UserSettings::voiceLanguageKey, QStringLiteral("voiceLanguage"));
    EXPECT_EQ(UserSettings::voiceGenderKey, QStringLiteral("voiceGender"));
    EXPECT_EQ(UserSettings::voiceNameKey, QStringLiteral("voiceName"));
    EXPECT_EQ(UserSettings::securityScopedBookmarkKey,
              QStringLiteral("outputFolderSecurityScopedBookmarkKey"));
    EXPECT_EQ(UserSettings::isSubtitlesVisibleKey, QStringLiteral("isSubtitlesVisible"));
    EXPECT_EQ(UserSettings::mainWindowFrameKeyW, QStringLiteral("mainWindowFrameKeyW"));
}

TEST_F(UserSettingsTest, AbsentKeysReadAsTheirDefaults)
{
    EXPECT_EQ(settings.volume(), 50);
    EXPECT_EQ(settings.playerVolume(), 100);
    EXPECT_TRUE(settings.isFirstTimeRunning());
    EXPECT_FALSE(settings.mainWindowFrame());
    EXPECT_FALSE(settings.securityScopedBookmark());
    EXPECT_FALSE(settings.boolValue(UserSettings::newAudioStreamKey));
    EXPECT_FALSE(settings.boolValue(UserSettings::isSubtitlesVisibleKey));
    EXPECT_EQ(settings.stringValue(UserSettings::voiceLanguageKey), QString());
    EXPECT_EQ(settings.stringValue(UserSettings::voiceLanguageKey).section(u'_', 0, 0), QString());
    EXPECT_EQ(settings.outputFolder(), NSUtils::defaultMoviesFolder());
    // Reading never creates the file.
    EXPECT_FALSE(QFile::exists(file()));
}

TEST_F(UserSettingsTest, ValuesPersistAcrossInstancesAtOnce)
{
    settings.setBool(UserSettings::maximizeOutputVolumeKey, true);
    settings.setInteger(UserSettings::volumeKey, 80);
    settings.setInteger(UserSettings::playerVolumeKey, 35);
    settings.setBool(UserSettings::isFirstTimeRunningKey, false);
    settings.setString(UserSettings::voiceLanguageKey, QStringLiteral("en_US"));
    EXPECT_TRUE(QFile::exists(file()));

    const UserSettings reread(file());
    EXPECT_TRUE(reread.boolValue(UserSettings::maximizeOutputVolumeKey));
    EXPECT_FALSE(reread.boolValue(UserSettings::newSubtitlesStreamKey));
    EXPECT_EQ(reread.volume(), 80);
    EXPECT_EQ(reread.playerVolume(), 35);
    EXPECT_FALSE(reread.isFirstTimeRunning());
    EXPECT_EQ(reread.stringValue(UserSettings::voiceLanguageKey).section(u'_', 0, 0),
              QStringLiteral("en"));
    const QByteArray ini = TestSupport::readFile(file());
    EXPECT_TRUE(ini.contains("voiceLanguage=en_US")) << ini.toStdString();
    EXPECT_TRUE(ini.contains("volumeKey=80")) << ini.toStdString();
}

TEST_F(UserSettingsTest, MistypedValuesFallBack)
{
    TestSupport::writeFile(file(), "[General]\nvolumeKey=loud\nplayerVolumeKey=99999999999\n"
                                   "isFirstTimeRunningKey=false\nnewAudioStreamKey=1\n"
                                   "defaultAudioStreamKey=nonsense\nvoiceName=Anna\n");
    EXPECT_EQ(settings.volume(), 50);
    EXPECT_EQ(settings.playerVolume(), 100);
    EXPECT_FALSE(settings.isFirstTimeRunning());
    EXPECT_TRUE(settings.boolValue(UserSettings::newAudioStreamKey));
    EXPECT_FALSE(settings.boolValue(UserSettings::defaultAudioStreamKey));
    EXPECT_EQ(settings.stringValue(UserSettings::voiceNameKey), QStringLiteral("Anna"));
}

TEST_F(UserSettingsTest, SerializedValuesThatClaimGigabytesAreDroppedNotDecoded)
{
    // Found by fuzzing: Qt would allocate what the size inside claims, and the program would end.
    TestSupport::writeFile(file(), "[General]\nvolumeKey=30\nsplitKey=@Variant(\\0\\0\\0\\x7f\\0\\0"
                                   "\\0\\x6QSize\\0)\nwhen=@DateTime(\\xff\\xff\\xff\\xff)\n"
                                   "voiceName=Anna\n");
    EXPECT_EQ(settings.volume(), 30);
    EXPECT_EQ(settings.stringValue(UserSettings::voiceNameKey), QStringLiteral("Anna"));
    EXPECT_FALSE(settings.contains(QStringLiteral("splitKey")));
    QFile stored(file());
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_FALSE(stored.readAll().contains("@"));
}

TEST_F(UserSettingsTest, WindowFrameOfZerosReadsAsAbsent)
{
    settings.setMainWindowFrame(QRectF(10, 20, 800, 600));
    EXPECT_EQ(settings.mainWindowFrame(), QRectF(10, 20, 800, 600));
    settings.setMainWindowFrame(QRectF(0, 0, 0, 1));
    EXPECT_EQ(settings.mainWindowFrame(), QRectF(0, 0, 0, 1));
    settings.setMainWindowFrame(QRectF(-1.5, 0.25, 1024.5, 700));
    EXPECT_EQ(UserSettings(file()).mainWindowFrame(), QRectF(-1.5, 0.25, 1024.5, 700));
    settings.setMainWindowFrame(QRectF(0, 0, 0, 0));
    EXPECT_FALSE(settings.mainWindowFrame());
    settings.setMainWindowFrame(std::nullopt);
    EXPECT_FALSE(settings.mainWindowFrame());
    EXPECT_EQ(settings.doubleValue(UserSettings::mainWindowFrameKeyH), 0.0);
}

TEST_F(UserSettingsTest, OutputFolderFallsBackWhenNotWritable)
{
    const QString chosen = folder.filePath(QStringLiteral("out folder ü"));
    ASSERT_TRUE(QDir().mkpath(chosen));
    settings.setOutputFolder(chosen);
    EXPECT_EQ(settings.outputFolder(), chosen);
    EXPECT_EQ(settings.stringValue(UserSettings::outputFolderKey), chosen);

    QFile::setPermissions(chosen, QFile::ReadOwner | QFile::ExeOwner);
    const bool rootIgnoresModes = QFileInfo(chosen).isWritable();
    if (!rootIgnoresModes) {
        EXPECT_EQ(settings.outputFolder(), NSUtils::defaultMoviesFolder());
    }
    QFile::setPermissions(chosen, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    ASSERT_TRUE(QDir(chosen).removeRecursively());
    EXPECT_EQ(settings.outputFolder(), NSUtils::defaultMoviesFolder());
    // A stored path naming a file is not a folder to write into.
    TestSupport::writeFile(chosen, "x");
    EXPECT_EQ(settings.outputFolder(), NSUtils::defaultMoviesFolder());
}

TEST_F(UserSettingsTest, AMissingVideosFolderIsMadeOrTheVideoStaysBesideItsInput)
{
    const QString home = folder.filePath(QStringLiteral("home"));
    QDir().mkpath(home);
    const TestSupport::ScopedVariable homeVariable("HOME", QFile::encodeName(home));
    const TestSupport::ScopedVariable config(
        "XDG_CONFIG_HOME", QFile::encodeName(folder.filePath(QStringLiteral("config"))));
    const QString video = folder.filePath(QStringLiteral("film/clip.mp4"));
    QDir().mkpath(folder.filePath(QStringLiteral("film")));
    const QString videos = home + QStringLiteral("/Videos");
    ASSERT_EQ(settings.outputFolder(), videos);
    // Planned there before it exists, made when a video goes there.
    bool fallback = true;
    EXPECT_EQ(settings.outputFolderFor(video, false, &fallback), videos);
    EXPECT_FALSE(fallback);
    EXPECT_FALSE(QFileInfo::exists(videos));
    EXPECT_EQ(settings.outputFolderFor(video, true, &fallback), videos);
    EXPECT_TRUE(QFileInfo(videos).isDir());

    // A home where no folder can be made: beside the video, and said so.
    const QString blocked = folder.filePath(QStringLiteral("a file"));
    TestSupport::writeFile(blocked, "x");
    const TestSupport::ScopedVariable fileHome("HOME", QFile::encodeName(blocked));
    EXPECT_EQ(settings.outputFolderFor(video, true, &fallback), QFileInfo(video).absolutePath());
    EXPECT_TRUE(fallback);
    EXPECT_EQ(settings.outputFolderFor(QString(), true, &fallback), QString());
}

TEST_F(UserSettingsTest, RecentProjectsNewestFirstOnceEachAndAtMostTen)
{
    for (int i = 0; i < 12; ++i)
        settings.addRecentProject(QStringLiteral("/p/%1.s2s").arg(i));
    settings.addRecentProject(QStringLiteral("/p/5.s2s"));
    const QStringList recent = settings.recentProjects();
    ASSERT_EQ(recent.size(), UserSettings::recentProjectsLimit);
    EXPECT_EQ(recent.mid(0, 3),
              (QStringList{QStringLiteral("/p/5.s2s"), QStringLiteral("/p/11.s2s"),
                           QStringLiteral("/p/10.s2s")}));
    EXPECT_EQ(recent.count(QStringLiteral("/p/5.s2s")), 1);
    settings.removeRecentProject(QStringLiteral("/p/5.s2s"));
    EXPECT_EQ(UserSettings(file()).recentProjects().first(), QStringLiteral("/p/11.s2s"));
}

TEST(UserSettingsShared, UsesTheFileNamedByTheEnvironment)
{
    EXPECT_EQ(UserSettings::shared().fileName(),
              QString::fromLocal8Bit(qgetenv(UserSettings::settingsFileVariable)));
    EXPECT_EQ(&UserSettings::shared(), &UserSettings::shared());
}

TEST_F(UserSettingsTest, ALoudnessTargetIsOneOfTwoAndExcludesMaximizing)
{
    EXPECT_FALSE(settings.loudnessTarget());
    EXPECT_FALSE(OutputOptions::fromSettings(settings).duckOriginalAudio);
    settings.setInteger(UserSettings::loudnessTargetKey, -20);
    EXPECT_FALSE(settings.loudnessTarget());
    settings.setString(UserSettings::loudnessTargetKey, QStringLiteral("loud"));
    EXPECT_FALSE(settings.loudnessTarget());
    settings.setLoudnessTarget(-16);
    EXPECT_EQ(UserSettings(file()).loudnessTarget(), -16);
    // Both stored (a hand-edited file): the target wins, as the dialog would have it.
    settings.setBool(UserSettings::maximizeOutputVolumeKey, true);
    settings.setBool(UserSettings::duckOriginalAudioKey, true);
    const OutputOptions options = OutputOptions::fromSettings(settings);
    EXPECT_EQ(options.loudnessTarget, -16);
    EXPECT_FALSE(options.maximizeOutputVolume);
    EXPECT_TRUE(options.duckOriginalAudio);
    settings.setLoudnessTarget(std::nullopt);
    EXPECT_FALSE(settings.contains(UserSettings::loudnessTargetKey));
    EXPECT_TRUE(OutputOptions::fromSettings(settings).maximizeOutputVolume);
}
