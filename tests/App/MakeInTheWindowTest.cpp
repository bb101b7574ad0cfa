// The whole subtitles-to-speech job in the real window, under an X server, driven as a user
// drives it: keys and clicks on what is on screen, nothing called behind the window's back.
#include "AppDelegate.h"
#include "ProgressToolbarItem.h"
#include "Settings/UserSettings.h"
#include "TestSupport.h"
#include "VideoPlayerView.h"
#include "WindowController.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
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
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

template <typename T> T *visible(const std::function<bool(T *)> &matches = {})
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        QList<T *> candidates = top->findChildren<T *>();
        if (auto *self = qobject_cast<T *>(top))
            candidates.prepend(self);
        for (T *candidate : candidates)
            if (candidate->isVisible() && (!matches || matches(candidate)))
                return candidate;
    }
    return nullptr;
}

template <typename T> T *named(QWidget *root, const QString &name)
{
    for (T *widget : root->findChildren<T *>())
        if (widget->isVisible() &&
            (widget->accessibleName() == name || widget->property("text") == name))
            return widget;
    return nullptr;
}

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
    TestSupport::ffmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                         QStringLiteral("testsrc=d=8:s=320x240"), QStringLiteral("-f"),
                         QStringLiteral("lavfi"), QStringLiteral("-i"),
                         QStringLiteral("anullsrc=r=44100:cl=stereo"), QStringLiteral("-i"), cues,
                         QStringLiteral("-t"), QStringLiteral("8"), QStringLiteral("-c:v"),
                         QStringLiteral("libx264"), QStringLiteral("-c:a"), QStringLiteral("aac"),
                         QStringLiteral("-c:s"), QStringLiteral("srt"), video});

    AppDelegate app(settings);
    WindowController *window = app.mainWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    // No window manager runs under the test X server to give the window the focus.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));

    // Ctrl+O, the path typed into the file dialog, Enter.
    QTest::keyClick(window, Qt::Key_O, Qt::ControlModifier);
    QFileDialog *dialog = nullptr;
    ASSERT_TRUE(TestSupport::waitUntil([&] { return (dialog = visible<QFileDialog>()); }, 10000));
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Select a Video file"));
    auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    // The whole path pasted at once (typed a letter at a time, the dialog would take each folder
    // as it comes).
    QGuiApplication::clipboard()->setText(video);
    QTest::keyClick(name, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(name, Qt::Key_Return);
    auto *subtitles = named<QComboBox>(window, QStringLiteral("Subtitles"));
    auto *make = named<QPushButton>(window, QStringLiteral("Make"));
    ASSERT_TRUE(subtitles && make);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return make->isEnabled(); }, 30000));
    EXPECT_EQ(subtitles->currentText(), QStringLiteral("Track 2 Subtitles"));

    // The voice: the chooser's list opened, the language's name typed, Enter.
    auto *language = named<QComboBox>(window, QStringLiteral("Language"));
    ASSERT_NE(language, nullptr);
    QTest::mouseClick(language, Qt::LeftButton);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return language->view()->isVisible(); }, 5000));
    QTest::keyClicks(language->view(), QStringLiteral("English (United States)"));
    QTest::keyClick(language->view(), Qt::Key_Return);
    EXPECT_EQ(language->currentText(), QStringLiteral("English (United States)"));
    EXPECT_EQ(settings.stringValue(UserSettings::voiceLanguageKey), QStringLiteral("en_US"));

    // The subtitles as a stream of their own, from the options dialog.
    QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
    QDialog *options = nullptr;
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] {
            return (options = visible<QDialog>(
                        [](QDialog *d) { return d->findChild<QCheckBox *>() != nullptr; }));
        },
        10000));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(options));
    auto *asStream = named<QCheckBox>(options, QStringLiteral("Add the subtitles as a stream"));
    ASSERT_NE(asStream, nullptr);
    // On the box itself: the row is wider than its label, and only the two take a click.
    QTest::mouseClick(asStream, Qt::LeftButton, {}, QPoint(8, asStream->height() / 2));
    QTest::mouseClick(named<QPushButton>(options, QStringLiteral("OK")), Qt::LeftButton);
    EXPECT_TRUE(settings.boolValue(UserSettings::newSubtitlesStreamKey));

    const QStringList before = enabledStates(window);
    QTest::mouseClick(make, Qt::LeftButton);
    EXPECT_EQ(make->text(), QStringLiteral("Cancel"));
    QMessageBox *done = nullptr;
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] {
            return (done = visible<QMessageBox>([](QMessageBox *box) {
                        return box->text() == QStringLiteral("Congratulations");
                    }));
        },
        180000));
    const QString made = out + QStringLiteral("/my film_Kelvorandix_en_US.mkv");
    EXPECT_TRUE(done->informativeText().endsWith(made)) << done->informativeText();
    QTest::mouseClick(done->button(QMessageBox::Ok), Qt::LeftButton);
    EXPECT_EQ(streamsOf(made),
              (QStringList{QStringLiteral("video"), QStringLiteral("audio"),
                           QStringLiteral("subtitle"), QStringLiteral("subtitle")}));
    const double cue = TestSupport::meanVolume(made, 2.1, 1.5);
    const double gap = TestSupport::meanVolume(made, 5.5, 1.5);
    EXPECT_GT(cue, gap + 20) << "cue " << cue << " dB, gap " << gap << " dB";
    EXPECT_EQ(enabledStates(window), before);

    // Again, with an ffmpeg that writes the video at the film's pace, and Cancel in the middle.
    const QString bin = folder.filePath(QStringLiteral("bin"));
    QDir().mkpath(bin);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH",
            (TestSupport::slowFfmpegFolder(bin, QStringLiteral("-map")) + u':').toUtf8() + path);
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
    EXPECT_EQ(visible<QMessageBox>(), nullptr);
    qputenv("PATH", path);
}

// The README's pictures of the window, taken when KELVORANDIX_SCREENSHOTS names a folder
// (docs/screenshots/capture does): the bundled sample with its subtitles, the options dialog, a
// chain running, and the success report.
TEST(MakeInTheWindow, Screenshots)
{
    const QString shots = qEnvironmentVariable("KELVORANDIX_SCREENSHOTS");
    if (shots.isEmpty())
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
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    window->activateWindow();
    auto shoot = [&](const QString &name) {
        TestSupport::waitUntil([] { return false; }, 700);
        const QRect frame = window->frameGeometry();
        QGuiApplication::primaryScreen()
            ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
            .save(shots + u'/' + name);
    };
    app.openFile(samples + QStringLiteral("sample.mp4"));
    app.openFile(samples + QStringLiteral("sample.srt"));
    auto *make = named<QPushButton>(window, QStringLiteral("Make"));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return make->isEnabled(); }, 30000));
    window->playerView()->seek(1500);
    shoot(QStringLiteral("main-window.png"));

    QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
    QDialog *options = nullptr;
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] {
            return (options = visible<QDialog>(
                        [](QDialog *d) { return d->findChild<QCheckBox *>() != nullptr; }));
        },
        10000));
    shoot(QStringLiteral("options.png"));
    options->accept();

    const QString bin = folder.filePath(QStringLiteral("bin"));
    QDir().mkpath(bin);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH",
            (TestSupport::slowFfmpegFolder(bin, QStringLiteral("-map")) + u':').toUtf8() + path);
    QTest::mouseClick(make, Qt::LeftButton);
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] {
            return window->progressItem()->taskLabel().contains(QStringLiteral("%")) &&
                   window->progressItem()->taskLabel().startsWith(
                       QStringLiteral("Processing video"));
        },
        60000));
    TestSupport::waitUntil([] { return false; }, 3000);
    shoot(QStringLiteral("making.png"));

    QTest::mouseClick(make, Qt::LeftButton);
    qputenv("PATH", path);
    TestSupport::waitUntil([&] { return TestSupport::processesWith(out).isEmpty(); });

    QTest::mouseClick(make, Qt::LeftButton);
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] {
            return visible<QMessageBox>(
                [](QMessageBox *box) { return box->text() == QStringLiteral("Congratulations"); });
        },
        180000));
    shoot(QStringLiteral("congratulations.png"));
}
