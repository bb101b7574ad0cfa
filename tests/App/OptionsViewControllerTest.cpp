#include "OptionsViewController.h"
#include "Settings/UserSettings.h"
#include "TestSupport.h"
#include "VideoProcessor/OutputOptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class OptionsViewControllerTest : public ::testing::Test {
protected:
    QTemporaryDir folder;
    UserSettings settings{folder.filePath(QStringLiteral("settings.ini"))};
};

struct Availability {
    bool newAudio, defaultAudio, newSubtitles, defaultSubtitles;
    bool operator==(const Availability &) const = default;
};

void PrintTo(const Availability &a, std::ostream *os)
{
    *os << "{newAudio " << a.newAudio << ", defaultAudio " << a.defaultAudio << ", newSubtitles "
        << a.newSubtitles << ", defaultSubtitles " << a.defaultSubtitles << "}";
}

Availability availability(const OptionsViewController &options)
{
    return {options.newAudioStreamCheckbox()->isEnabled(),
            options.defaultAudioStreamCheckbox()->isEnabled(),
            options.newSubtitlesStreamCheckbox()->isEnabled(),
            options.defaultSubtitlesStreamCheckbox()->isEnabled()};
}

} // namespace

// The container decides by its extension alone, so the videos need not exist.
TEST_F(OptionsViewControllerTest, StreamOptionsFollowTheOpenVideosContainerAndShowStoredStates)
{
    for (const QString &key :
         {UserSettings::newAudioStreamKey, UserSettings::defaultAudioStreamKey,
          UserSettings::newSubtitlesStreamKey, UserSettings::defaultSubtitlesStreamKey})
        settings.setBool(key, true);

    const OptionsViewController mkv(settings, QStringLiteral("/videos/film.mkv"));
    EXPECT_EQ(availability(mkv), (Availability{true, true, true, true}));

    // Several audio streams, no subtitle stream.
    const OptionsViewController avi(settings, QStringLiteral("/videos/film.avi"));
    EXPECT_EQ(availability(avi), (Availability{true, true, false, false}));

    const OptionsViewController none(settings, QString());
    EXPECT_EQ(availability(none), (Availability{false, false, false, false}));
    EXPECT_TRUE(none.maximizeOutputVolume()->isEnabled());
    // Unavailable options still show what is stored, and showing them stores nothing.
    EXPECT_TRUE(none.newSubtitlesStreamCheckbox()->isChecked());
    EXPECT_TRUE(none.defaultAudioStreamCheckbox()->isChecked());
    EXPECT_TRUE(settings.boolValue(UserSettings::defaultSubtitlesStreamKey));
}

TEST_F(OptionsViewControllerTest, DefaultSubtitlesNeedsTheSubtitlesStreamOn)
{
    OptionsViewController options(settings, QStringLiteral("film.mkv"));
    QCheckBox *render = options.newSubtitlesStreamCheckbox();
    QCheckBox *makeDefault = options.defaultSubtitlesStreamCheckbox();
    EXPECT_FALSE(makeDefault->isEnabled());

    QTest::mouseClick(render, Qt::LeftButton);
    EXPECT_TRUE(settings.boolValue(UserSettings::newSubtitlesStreamKey));
    EXPECT_TRUE(makeDefault->isEnabled());

    QTest::mouseClick(makeDefault, Qt::LeftButton);
    EXPECT_TRUE(settings.boolValue(UserSettings::defaultSubtitlesStreamKey));
    QTest::mouseClick(render, Qt::LeftButton);
    EXPECT_FALSE(settings.boolValue(UserSettings::newSubtitlesStreamKey));
    EXPECT_FALSE(makeDefault->isEnabled());
}

TEST_F(OptionsViewControllerTest, VolumeShowsFiftyWithNothingStoredAndStoresEveryMove)
{
    OptionsViewController options(settings, QString());
    EXPECT_EQ(options.volumeBar()->value(), 50);
    EXPECT_EQ(options.volumeValueView()->text(), QStringLiteral("50%"));
    EXPECT_FALSE(settings.contains(UserSettings::volumeKey));

    options.volumeBar()->setFocus();
    QTest::keyClick(options.volumeBar(), Qt::Key_PageUp);
    EXPECT_EQ(options.volumeValueView()->text(), QStringLiteral("60%"));
    EXPECT_EQ(settings.volume(), 60);
}

TEST_F(OptionsViewControllerTest, ACheckBoxStoresItsKeyAtOnce)
{
    OptionsViewController options(settings, QStringLiteral("film.avi"));
    QTest::mouseClick(options.maximizeOutputVolume(), Qt::LeftButton);
    EXPECT_TRUE(UserSettings(settings.fileName()).boolValue(UserSettings::maximizeOutputVolumeKey));
    EXPECT_FALSE(options.keepSpeechInSyncCheckbox()->isChecked());
    QTest::mouseClick(options.keepSpeechInSyncCheckbox(), Qt::LeftButton);
    EXPECT_TRUE(UserSettings(settings.fileName()).boolValue(UserSettings::keepSpeechInSyncKey));
    // The window's Make reads the options from the store.
    EXPECT_TRUE(OutputOptions::fromSettings(settings).keepSpeechInSync);
    EXPECT_FALSE(settings.contains(UserSettings::newAudioStreamKey));
}

// A folder that cannot take videos would be shown here while every make quietly used another.
TEST_F(OptionsViewControllerTest, OnlyAFolderThatTakesFilesBecomesTheOutputFolder)
{
    OptionsViewController options(settings, QString());
    const QString shown = options.outputFolderView()->text();

    const QString missing = folder.filePath(QStringLiteral("missing"));
    options.folderSelected(missing);
    EXPECT_EQ(options.outputFolderView()->text(), shown);
    EXPECT_FALSE(settings.contains(UserSettings::outputFolderKey));
    QMessageBox *alert = options.findChild<QMessageBox *>();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->isVisible());
    alert->close();

    const QString chosen = folder.filePath(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkpath(chosen));
    options.folderSelected(chosen);
    EXPECT_EQ(options.outputFolderView()->text(), chosen);
    EXPECT_EQ(settings.outputFolder(), chosen);
}

TEST_F(OptionsViewControllerTest, DuckingAndTheLoudnessTargetSayWhatTheyDoAndExcludeMaximizing)
{
    settings.setInteger(UserSettings::volumeKey, 25);
    OptionsViewController options(settings, QStringLiteral("film.mkv"));
    EXPECT_EQ(options.mixLineView()->text(),
              QStringLiteral("Original at 25% all through; the mix then halves it and the voice"));
    EXPECT_EQ(options.loudnessLineView()->text(), QStringLiteral("As mixed"));
    QTest::mouseClick(options.duckOriginalAudioCheckbox(), Qt::LeftButton);
    EXPECT_TRUE(settings.boolValue(UserSettings::duckOriginalAudioKey));
    EXPECT_EQ(options.mixLineView()->text(),
              QStringLiteral("Original at 25% under the voice, 100% between lines"));

    // A target turns maximizing off, and maximizing turns the target off.
    QTest::mouseClick(options.maximizeOutputVolume(), Qt::LeftButton);
    options.loudnessTargetChooser()->setCurrentIndex(2);
    EXPECT_EQ(settings.loudnessTarget(), -16);
    EXPECT_FALSE(options.maximizeOutputVolume()->isChecked());
    EXPECT_FALSE(settings.boolValue(UserSettings::maximizeOutputVolumeKey));
    EXPECT_EQ(options.loudnessLineView()->text(),
              QStringLiteral(
                  "Brought to -16 LUFS (online video) in the same pass, peaks at most -1 dBTP"));
    QTest::mouseClick(options.maximizeOutputVolume(), Qt::LeftButton);
    EXPECT_EQ(options.loudnessTargetChooser()->currentIndex(), 0);
    EXPECT_FALSE(settings.loudnessTarget());
    EXPECT_TRUE(settings.boolValue(UserSettings::maximizeOutputVolumeKey));

    // Shown again, the dialog reads what is stored.
    settings.setLoudnessTarget(-23);
    settings.setBool(UserSettings::maximizeOutputVolumeKey, false);
    const OptionsViewController again(settings, QStringLiteral("film.mkv"));
    EXPECT_EQ(again.loudnessTargetChooser()->currentData().toInt(), -23);
    EXPECT_TRUE(again.duckOriginalAudioCheckbox()->isChecked());
}
