// The whole subtitles-to-speech job in the real window, under an X server, driven as a user
// drives it: keys and clicks on what is on screen, nothing called behind the window's back.
#include "AppDelegate.h"
#include "ProgressToolbarItem.h"
#include "Settings/UserSettings.h"
#include "TestSupport.h"
#include "VideoPlayerView.h"
#include "WindowController.h"
#include "WindowDriver.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace WindowDriver;

namespace {

QStringList streamsOf(const QString &path)
{
    const TestSupport::ProcessResult result = TestSupport::runProgram(
        QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_streams"),
         QStringLiteral("-of"), QStringLiteral("json"), path});
    QStringList streams;
    for (const QJsonValue &value :
         QJsonDocument::fromJson(result.out).object()[QStringLiteral("streams")].toArray())
        streams.append(value.toObject()[QStringLiteral("codec_type")].toString());
    return streams;
}

// The enabled state of every button and chooser of the window.
QStringList enabledStates(QWidget *window)
{
    QStringList states;
    for (QWidget *widget : window->findChildren<QWidget *>())
        if (widget->window() == window &&
            (qobject_cast<QAbstractButton *>(widget) || qobject_cast<QComboBox *>(widget)))
            states.append(widget->accessibleName() + (widget->isEnabled() ? u'+' : u'-'));
    return states;
}

// Opens the options dialog with its shortcut; null when it does not come up.
QDialog *openOptions(QWidget *window)
{
    QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
    QDialog *options = nullptr;
    TestSupport::waitUntil(
        [&] {
            return (options = onScreen<QDialog>(
                        [](QDialog *d) { return d->findChild<QCheckBox *>() != nullptr; }));
        },
        10000);
    return options;
}

} // namespace

TEST(MakeInTheWindow, OpenChooseMakeAndCancel)
{
    QTemporaryDir folder;
    const QString out = folder.filePath(QStringLiteral("out"));
    QDir().mkpath(out);
    UserSettings settings(folder.filePath(QStringLiteral("settings.ini")));
    settings.setOutputFolder(out);
    // A silent film with one subtitle stream: the speech is all the sound at the cue.
    const QString cues = folder.filePath(QStringLiteral("cues.srt"));
    TestSupport::writeFile(cues, "1\n00:00:02,000 --> 00:00:04,000\nHello, this is the voice.\n");
    const QString video = folder.filePath(QStringLiteral("my film.mkv"));
    TestSupport::ffmpeg("-f lavfi -i testsrc=d=8:s=320x240 -f lavfi -i "
                        "anullsrc=r=44100:cl=stereo -i %1 -t 8 -c:v libx264 -c:a aac -c:s srt "
                        "%2",
                        {cues, video});

    AppDelegate app(settings);
    WindowController *window = app.mainWindow();
    ASSERT_TRUE(showAndActivate(window));

    // Ctrl+O, the path into the file dialog, Enter.
    QTest::keyClick(window, Qt::Key_O, Qt::ControlModifier);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return onScreen<QFileDialog>(); }, 10000));
    EXPECT_EQ(onScreen<QFileDialog>()->windowTitle(), QStringLiteral("Select a Video file"));
    ASSERT_TRUE(chooseFile(video));
    auto *subtitles = shown<QComboBox>(window, QStringLiteral("Subtitles"));
    auto *make = shown<QPushButton>(window, QStringLiteral("Make"));
    ASSERT_TRUE(subtitles && make);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return make->isEnabled(); }, 30000));
    EXPECT_EQ(subtitles->currentText(), QStringLiteral("Track 2 Subtitles"));

    // The voice: the chooser's list opened, the language's name typed, Enter.
    auto *language = shown<QComboBox>(window, QStringLiteral("Language"));
    ASSERT_NE(language, nullptr);
    QTest::mouseClick(language, Qt::LeftButton);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return language->view()->isVisible(); }, 5000));
    QTest::keyClicks(language->view(), QStringLiteral("English (United States)"));
    QTest::keyClick(language->view(), Qt::Key_Return);
    EXPECT_EQ(language->currentText(), QStringLiteral("English (United States)"));
    EXPECT_EQ(settings.stringValue(UserSettings::voiceLanguageKey), QStringLiteral("en_US"));

    // The subtitles as a stream of their own, from the options dialog.
    QDialog *options = openOptions(window);
    ASSERT_NE(options, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(options));
    auto *asStream = shown<QCheckBox>(options, QStringLiteral("Add the subtitles as a stream"));
    ASSERT_NE(asStream, nullptr);
    // On the box itself: the row is wider than its label, and only the two take a click.
    QTest::mouseClick(asStream, Qt::LeftButton, {}, QPoint(8, asStream->height() / 2));
    QTest::mouseClick(shown<QPushButton>(options, QStringLiteral("OK")), Qt::LeftButton);
    EXPECT_TRUE(settings.boolValue(UserSettings::newSubtitlesStreamKey));

    const QStringList before = enabledStates(window);
    QTest::mouseClick(make, Qt::LeftButton);
    EXPECT_EQ(make->text(), QStringLiteral("Cancel"));
    QMessageBox *done = nullptr;
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] {
            return (done = onScreen<QMessageBox>([](QMessageBox *box) {
                        return box->text() == QStringLiteral("Congratulations");
                    }));
        },
        180000));
    const QString made = out + QStringLiteral("/my film_Kelvorandix_en_US.mkv");
    EXPECT_TRUE(done->informativeText().endsWith(made)) << done->informativeText();
    EXPECT_TRUE(done->informativeText().startsWith(QStringLiteral("Of ")))
        << done->informativeText();
    QTest::mouseClick(done->button(QMessageBox::Ok), Qt::LeftButton);
    EXPECT_EQ(streamsOf(made),
              (QStringList{QStringLiteral("video"), QStringLiteral("audio"),
                           QStringLiteral("subtitle"), QStringLiteral("subtitle")}));
    const double cue = TestSupport::meanVolume(made, 2.1, 1.5);
    const double gap = TestSupport::meanVolume(made, 5.5, 1.5);
    EXPECT_GT(cue, gap + 20) << "cue " << cue << " dB, gap " << gap << " dB";
    EXPECT_EQ(enabledStates(window), before);

    // Again, with an ffmpeg that writes the video at the film's pace, and Cancel in the middle.
    const auto slow = TestSupport::slowFfmpegFirstOnPath(folder.filePath(QStringLiteral("bin")),
                                                         QStringLiteral("-map"));
    QTest::mouseClick(make, Qt::LeftButton);
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] {
            return window->progressItem()->taskLabel().startsWith(
                QStringLiteral("Processing video"));
        },
        60000))
        << window->progressItem()->taskLabel();
    QTest::mouseClick(make, Qt::LeftButton);
    EXPECT_EQ(make->text(), QStringLiteral("Make"));
    EXPECT_TRUE(TestSupport::waitUntil([&] { return TestSupport::processesWith(out).isEmpty(); }));
    EXPECT_TRUE(TestSupport::waitUntil([&] { return TestSupport::entriesOf(out).size() == 1; }))
        << TestSupport::entriesOf(out).join(u' ');
    EXPECT_EQ(enabledStates(window), before);
    EXPECT_EQ(onScreen<QMessageBox>(), nullptr);
}

// The README's pictures of the window, taken when KELVORANDIX_SCREENSHOTS names a folder
// (docs/screenshots/capture does): the bundled sample with its subtitles, the options dialog, a
// chain running, and the success report.
TEST(MakeInTheWindow, Screenshots)
{
    if (qEnvironmentVariableIsEmpty("KELVORANDIX_SCREENSHOTS"))
        GTEST_SKIP() << "KELVORANDIX_SCREENSHOTS names no folder";
    QTemporaryDir folder;
    const QString out = folder.filePath(QStringLiteral("Videos"));
    QDir().mkpath(out);
    UserSettings settings(folder.filePath(QStringLiteral("settings.ini")));
    settings.setOutputFolder(out);
    // The player keeps its own choices in the process's settings.
    UserSettings::shared().setBool(UserSettings::isSubtitlesVisibleKey, true);
    settings.setString(UserSettings::voiceLanguageKey, QStringLiteral("en_US"));
    settings.setBool(UserSettings::newAudioStreamKey, true);
    const QString samples = QStringLiteral(KELVORANDIX_SOURCE_DIR "/Resources/samples/");
    AppDelegate app(settings);
    WindowController *window = app.mainWindow();
    window->resize(1200, 800);
    ASSERT_TRUE(showAndActivate(window));
    app.openFile(samples + QStringLiteral("sample.mp4"));
    app.openFile(samples + QStringLiteral("sample.srt"));
    auto *make = shown<QPushButton>(window, QStringLiteral("Make"));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return make->isEnabled(); }, 30000));
    window->playerView()->seek(1500);
    shoot(window, QStringLiteral("main-window.png"));

    QDialog *options = openOptions(window);
    ASSERT_NE(options, nullptr);
    shoot(window, QStringLiteral("options.png"));
    options->accept();

    {
        // The slow ffmpeg for the picture of a running chain only.
        const auto slow = TestSupport::slowFfmpegFirstOnPath(folder.filePath(QStringLiteral("bin")),
                                                             QStringLiteral("-map"));
        QTest::mouseClick(make, Qt::LeftButton);
        ASSERT_TRUE(TestSupport::waitUntil(
            [&] {
                return window->progressItem()->taskLabel().contains(QStringLiteral("%")) &&
                       window->progressItem()->taskLabel().startsWith(
                           QStringLiteral("Processing video"));
            },
            60000));
        TestSupport::waitUntil([] { return false; }, 3000);
        shoot(window, QStringLiteral("making.png"));

        QTest::mouseClick(make, Qt::LeftButton);
    }
    TestSupport::waitUntil([&] { return TestSupport::processesWith(out).isEmpty(); });

    QTest::mouseClick(make, Qt::LeftButton);
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] {
            return onScreen<QMessageBox>(
                [](QMessageBox *box) { return box->text() == QStringLiteral("Congratulations"); });
        },
        180000));
    shoot(window, QStringLiteral("congratulations.png"));
}
