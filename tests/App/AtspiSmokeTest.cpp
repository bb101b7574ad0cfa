// The real app, launched as its own process with a film and its subtitles, used through what a
// screen reader sees of it and a real pointer and keyboard.
#include "AtspiDriver.h"
#include "TestSupport.h"

#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <csignal>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

class AtspiSmoke : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!app.unavailable().isEmpty())
            GTEST_SKIP() << app.unavailable();
        settingsFile = folder.filePath(QStringLiteral("settings.ini"));
        QSettings settings(settingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("outputFolderKey"), folder.path());
        settings.sync();
        subtitles = folder.filePath(QStringLiteral("film.srt"));
        TestSupport::writeFile(subtitles, "1\n00:00:01,000 --> 00:00:02,500\nHello there.\n");
        video = folder.filePath(QStringLiteral("film.mkv"));
        TestSupport::ffmpeg("-f lavfi -i testsrc=d=4:s=160x120:r=10 -f lavfi -i "
                            "sine=frequency=220:duration=4 -c:v libx264 -c:a aac %1",
                            {video});
    }

    QStringList environment() const
    {
        return QStringList{QStringLiteral("KELVORANDIX_SETTINGS=") + settingsFile} +
               AtspiDriver::appEnvironment();
    }

    AtspiDriver app;
    QTemporaryDir folder;
    QString settingsFile;
    QString video;
    QString subtitles;
};

} // namespace

TEST_F(AtspiSmoke, OpensAFilmAnswersThePointerAndKeyboardAndQuits)
{
    ASSERT_TRUE(app.start(QStringLiteral(KELVORANDIX_APP_PATH), {video, subtitles}, environment()));
    ASSERT_TRUE(app.waitForWindow(QStringLiteral("Kelvorandix")));
    // The film and its subtitles are read: Make can start.
    ASSERT_TRUE(app.waitUntilEnabled(QStringLiteral("push button"), QStringLiteral("Make"), 60000));

    // A menu opens under the pointer and closes from the keyboard.
    ASSERT_TRUE(app.click(app.waitFor(QStringLiteral("menu item"), QStringLiteral("File"))));
    ASSERT_TRUE(app.waitFor(QStringLiteral("menu item"), QStringLiteral("Open Video...")));
    ASSERT_TRUE(app.pressKey(QStringLiteral("Escape")));
    ASSERT_TRUE(app.waitUntilGone(QStringLiteral("menu item"), QStringLiteral("Open Video...")));

    // A click on a chooser opens its list of the film's tracks, which has the keyboard while it
    // is open; once it closes, the focus is the chooser's.
    const AtspiElement audio = app.waitFor(QStringLiteral("combo box"), QStringLiteral("Audio:"));
    ASSERT_TRUE(audio);
    EXPECT_FALSE(audio.isFocused());
    EXPECT_EQ(audio.itemNames(),
              (QStringList{QStringLiteral("Track 1 Audio"), QStringLiteral("None")}));
    ASSERT_TRUE(app.click(audio));
    ASSERT_TRUE(app.waitFor(QStringLiteral("list item"), QStringLiteral("Track 1 Audio")));
    ASSERT_TRUE(app.pressKey(QStringLiteral("Escape")));
    ASSERT_TRUE(app.waitUntilGone(QStringLiteral("list item"), QStringLiteral("Track 1 Audio")));
    EXPECT_TRUE(app.waitUntil([&] { return audio.isFocused(); },
                              QStringLiteral("the audio chooser focused")));

    const QString picture = folder.filePath(QStringLiteral("shots/window.png"));
    ASSERT_TRUE(app.screenshot(picture));
    EXPECT_TRUE(TestSupport::readFile(picture).startsWith("\x89PNG\r\n\x1a\n"));
    EXPECT_EQ(QImage(picture).size(), app.display().screen().size());

    ASSERT_TRUE(app.pressKey(QStringLiteral("Ctrl+Q")));
    EXPECT_EQ(app.waitForExit(30000), 0) << app.showing();
    EXPECT_EQ(app.strays(), QStringList());
}

TEST_F(AtspiSmoke, TypesIntoADialogAndSaysWhatItDidNotFind)
{
    ASSERT_TRUE(app.start(QStringLiteral(KELVORANDIX_APP_PATH), {}, environment()));
    ASSERT_TRUE(app.waitForWindow(QStringLiteral("Kelvorandix")));

    // What is not there fails with what was looked for and what the app shows instead.
    const testing::AssertionResult absent =
        app.waitUntilEnabled(QStringLiteral("push button"), QStringLiteral("Nowhere"), 300);
    EXPECT_FALSE(absent);
    EXPECT_THAT(absent.message(), testing::HasSubstr("no showing push button \"Nowhere\""));
    EXPECT_THAT(absent.message(), testing::HasSubstr("menu item \"File\""));

    // The window has the keyboard, so its shortcut opens the file dialog, whose name field takes
    // what is typed, characters the keyboard map lacks included.
    ASSERT_TRUE(app.pressKey(QStringLiteral("Ctrl+O")));
    ASSERT_TRUE(app.waitForWindow(QStringLiteral("Select a Video file")));
    const AtspiElement name = app.waitFor(QStringLiteral("text"), QStringLiteral("File name:"));
    ASSERT_TRUE(name);
    EXPECT_TRUE(name.isFocused());
    const QString typed = QStringLiteral("Crème brûlée → 2.mkv");
    ASSERT_TRUE(app.typeText(typed));
    EXPECT_TRUE(app.waitUntil([&] { return name.text() == typed; }, QStringLiteral("typed")))
        << name.text();
    ASSERT_TRUE(app.pressKey(QStringLiteral("Escape")));
    ASSERT_TRUE(app.waitUntilGone(QStringLiteral("dialog"), QStringLiteral("Select a Video file")));

    // Ended from outside, the app reports the signal.
    EXPECT_EQ(app.stop(), 128 + SIGTERM);
    EXPECT_EQ(app.strays(), QStringList());
}
