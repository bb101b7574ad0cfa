// Two whole workflows of the real app, launched as the desktop launches it and used through what a
// screen reader sees, a real pointer and a real keyboard: subtitles handed over to the running
// app and made into a video (and Space after it), and a voice-over project made on the command
// line, opened, made, changed, and saved on the way out.
#include "AtspiDriver.h"
#include "TestSupport.h"

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

class WorkflowsThroughAccessibility : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!app.unavailable().isEmpty())
            GTEST_SKIP() << app.unavailable();
        // A home without a Videos folder: the first video goes there all the same.
        home = folder.filePath(QStringLiteral("home"));
        QDir().mkpath(home);
        settingsFile = folder.filePath(QStringLiteral("settings.ini"));
        // A silent film: what its audio holds is the speech alone. Two subtitle files whose
        // cues are far apart, so that the video tells which of them was spoken.
        video = folder.filePath(QStringLiteral("a film.mp4"));
        TestSupport::ffmpeg("-f lavfi -i testsrc=d=10:s=160x120:r=10 -c:v libx264 %1", {video});
        first = folder.filePath(QStringLiteral("first.srt"));
        TestSupport::writeFile(first, "1\n00:00:01,000 --> 00:00:03,000\nThe first file.\n");
        second = folder.filePath(QStringLiteral("second.srt"));
        TestSupport::writeFile(second, "1\n00:00:06,000 --> 00:00:08,000\nThe second file.\n");
    }

    QStringList environment() const
    {
        return QStringList{QStringLiteral("HOME=") + home,
                           QStringLiteral("XDG_CONFIG_HOME=") + home + QStringLiteral("/.config"),
                           QStringLiteral("KELVORANDIX_SETTINGS=") + settingsFile} +
               AtspiDriver::appEnvironment();
    }

    // Runs one of our programs to its end with the test's environment.
    TestSupport::ProcessResult run(const QString &program, const QStringList &arguments) const
    {
        return TestSupport::runIn(folder.path(), program, arguments, environment());
    }

    // Waits until the subtitles chooser shows path and Make can start, clicks Make with the
    // pointer, and closes the success report with OK.
    testing::AssertionResult makeWith(const QString &path)
    {
        const AtspiElement subtitles =
            app.waitFor(QStringLiteral("combo box"), QStringLiteral("Subtitles:"));
        if (testing::AssertionResult chosen = app.waitUntil(
                [&] { return subtitles.name() == path; }, QStringLiteral("subtitles ") + path);
            !chosen)
            return chosen;
        if (testing::AssertionResult ready =
                app.waitUntilEnabled(QStringLiteral("push button"), QStringLiteral("Make"), 60000);
            !ready)
            return ready;
        if (testing::AssertionResult clicked =
                app.click(app.waitFor(QStringLiteral("push button"), QStringLiteral("Make")));
            !clicked)
            return clicked;
        const AtspiElement done =
            app.waitFor(QStringLiteral("alert"), QStringLiteral("Congratulations"), 120000);
        if (!done)
            return testing::AssertionFailure() << "no success report";
        return app.click(done.find(QStringLiteral("push button"), QStringLiteral("OK")));
    }

    QString outputFolder() const { return home + QStringLiteral("/Videos"); }
    QStringList videosMade() const
    {
        return QDir(outputFolder()).entryList({QStringLiteral("*.mp4")}, QDir::Files);
    }

    // Pictures of the window (and what stands over it) for people to look at, kept where
    // KELVORANDIX_SCREENSHOTS says.
    void shoot(const QString &name)
    {
        const QByteArray shots = qgetenv("KELVORANDIX_SCREENSHOTS");
        if (shots.isEmpty())
            return;
        const QImage screen = app.display().grab();
        const AtspiElement window = app.find(QStringLiteral("frame"), QString());
        const QRect area = window ? window.extents() & screen.rect() : QRect();
        EXPECT_TRUE(screen.copy(area.isEmpty() ? screen.rect() : area)
                        .save(QString::fromLocal8Bit(shots) + u'/' + name));
    }

    AtspiDriver app;
    QTemporaryDir folder;
    QString home;
    QString settingsFile;
    QString video;
    QString first;
    QString second;
};

// Seconds of sound at the start of the first stretch that is not silence.
double firstSoundAt(const QString &path)
{
    const TestSupport::ProcessResult detected = TestSupport::runProgram(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-hide_banner"), QStringLiteral("-i"), path, QStringLiteral("-af"),
         QStringLiteral("silencedetect=noise=-45dB:d=0.3"), QStringLiteral("-f"),
         QStringLiteral("null"), QStringLiteral("-")});
    const QRegularExpressionMatch end = QRegularExpression(QStringLiteral("silence_end: ([0-9.]+)"))
                                            .match(QString::fromUtf8(detected.err));
    return end.hasMatch() ? end.captured(1).toDouble() : 0;
}

} // namespace

TEST_F(WorkflowsThroughAccessibility, HandedOverSubtitlesAreTheOnesMadeAndSpaceOnlyPlays)
{
    ASSERT_TRUE(app.start(QStringLiteral(KELVORANDIX_APP_PATH), {video, first}, environment()));
    const AtspiElement window = app.waitForWindow(QStringLiteral("Kelvorandix"));
    ASSERT_TRUE(window);
    ASSERT_TRUE(app.waitUntilEnabled(QStringLiteral("push button"), QStringLiteral("Make"), 60000));

    // A second launch with other subtitles hands them to the running window and ends.
    const TestSupport::ProcessResult handedOver =
        run(QStringLiteral(KELVORANDIX_APP_PATH), {video, second});
    ASSERT_EQ(handedOver.exitCode, 0) << handedOver.err.toStdString();
    ASSERT_TRUE(makeWith(second));
    ASSERT_TRUE(app.waitUntilGone(QStringLiteral("alert"), QStringLiteral("Congratulations")));
    // The keyboard goes back to the window, as a window manager gives it.
    ASSERT_TRUE(app.activate(window));

    // Space, three times: the video plays, pauses and plays; no other video is made.
    // The player's own controls (they hide while the video plays).
    const AtspiElement controls =
        app.find(QStringLiteral("push button"), QStringLiteral("Back 5 seconds"),
                 AtspiElement::Scope::All)
            .parent();
    ASSERT_TRUE(controls);
    auto playing = [&] {
        return bool(controls.find(QStringLiteral("push button"), QStringLiteral("Pause"),
                                  AtspiElement::Scope::All));
    };
    EXPECT_FALSE(playing());
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(app.pressKey(QStringLiteral("space")));
        const bool expected = i % 2 == 0;
        EXPECT_TRUE(app.waitUntil([&] { return playing() == expected; },
                                  expected ? QStringLiteral("playing") : QStringLiteral("paused")));
    }
    QThread::msleep(1500);
    EXPECT_FALSE(app.find(QStringLiteral("push button"), QStringLiteral("Cancel")));
    const QStringList made = videosMade();
    ASSERT_EQ(made.size(), 1) << made.join(u' ').toStdString();

    // It speaks the second file: nothing before its cue at 6 s.
    EXPECT_NEAR(firstSoundAt(outputFolder() + u'/' + made.first()), 6.0, 0.4);

    ASSERT_TRUE(app.pressKey(QStringLiteral("Ctrl+Q")));
    EXPECT_EQ(app.waitForExit(30000), 0) << app.showing().toStdString();
}

TEST_F(WorkflowsThroughAccessibility, AProjectFromTheCommandLineIsOpenedMadeChangedAndSaved)
{
    const QString cli = QStringLiteral(KELVORANDIX_CLI_PATH);
    const QString project = folder.filePath(QStringLiteral("voice over.s2s"));
    TestSupport::ProcessResult step =
        run(cli, {QStringLiteral("overlay"), QStringLiteral("new"), project,
                  QStringLiteral("--video"), video, QStringLiteral("--subtitles"), second});
    ASSERT_EQ(step.exitCode, 0) << step.err.toStdString();
    step =
        run(cli, {QStringLiteral("overlay"), QStringLiteral("speak"), project,
                  QStringLiteral("--all"), QStringLiteral("--voice"), QStringLiteral("gmw/en-US")});
    ASSERT_EQ(step.exitCode, 0) << step.err.toStdString();

    ASSERT_TRUE(app.start(QStringLiteral(KELVORANDIX_APP_PATH), {project}, environment()));
    ASSERT_TRUE(app.waitForWindow(QStringLiteral("voice over.s2s — Kelvorandix"), 60000))
        << app.windowTitles().join(u'|').toStdString();
    // Opened with its video and the subtitles its items came from, on the overlay's tab.
    ASSERT_TRUE(makeWith(second));
    ASSERT_EQ(videosMade().size(), 1);
    EXPECT_NEAR(firstSoundAt(outputFolder() + u'/' + videosMade().first()), 6.0, 0.4);

    // The item's text corrected: the project is unsaved, and the title says so.
    ASSERT_TRUE(
        app.click(app.waitFor(QStringLiteral("table cell"), QStringLiteral("The second file. "))));
    const AtspiElement text = app.waitFor(QStringLiteral("text"), QStringLiteral("Item text"));
    ASSERT_TRUE(app.click(text));
    ASSERT_TRUE(app.pressKey(QStringLiteral("End")));
    ASSERT_TRUE(app.typeText(QStringLiteral("Again.")));
    ASSERT_TRUE(app.waitForWindow(QStringLiteral("voice over.s2s* — Kelvorandix")))
        << app.windowTitles().join(u'|').toStdString();
    ASSERT_TRUE(app.click(app.waitFor(QStringLiteral("menu item"), QStringLiteral("File"))));
    ASSERT_TRUE(app.waitFor(QStringLiteral("menu item"), QStringLiteral("Save Project As...")));
    shoot(QStringLiteral("file-menu.png"));
    ASSERT_TRUE(app.pressKey(QStringLiteral("Escape")));

    // Quitting asks; Save keeps the correction, and the window closes.
    ASSERT_TRUE(app.pressKey(QStringLiteral("Ctrl+Q")));
    const AtspiElement prompt = app.waitFor(
        QStringLiteral("alert"), QStringLiteral("Save changes to the voice-over project?"));
    ASSERT_TRUE(prompt) << app.showing();
    shoot(QStringLiteral("quit-prompt.png"));
    ASSERT_TRUE(app.click(prompt.find(QStringLiteral("push button"), QStringLiteral("Save"))));
    EXPECT_EQ(app.waitForExit(30000), 0) << app.showing().toStdString();

    // Still there, every item with its audio, and the corrected text.
    step = run(cli, {QStringLiteral("overlay"), QStringLiteral("list"), project,
                     QStringLiteral("--json")});
    ASSERT_EQ(step.exitCode, 0) << step.err.toStdString();
    const QJsonArray items = QJsonDocument::fromJson(step.out).array();
    ASSERT_EQ(items.size(), 1);
    const QJsonObject item = items.first().toObject();
    EXPECT_EQ(item[QStringLiteral("text")].toString(), QStringLiteral("The second file. Again."));
    EXPECT_NE(item[QStringLiteral("audio")].toString(), QStringLiteral("00.000"));
}

TEST_F(WorkflowsThroughAccessibility, QuittingDuringAMakeStopsItAndLeavesNothingBehind)
{
    // A film whose video ffmpeg writes at its own pace: the Make is still running at Quit.
    const QString film = folder.filePath(QStringLiteral("long film.mkv"));
    TestSupport::ffmpeg("-f lavfi -i color=s=64x64:r=1:d=300 -c:v libx264 %1", {film});
    const QString slow = TestSupport::slowFfmpegFolder(folder.filePath(QStringLiteral("bin")),
                                                       QStringLiteral("-map"));
    ASSERT_TRUE(app.start(QStringLiteral(KELVORANDIX_APP_PATH), {film, first},
                          environment() << QStringLiteral("PATH=") + slow + u':' +
                                               qEnvironmentVariable("PATH")));
    const AtspiElement window = app.waitForWindow(QStringLiteral("Kelvorandix"));
    ASSERT_TRUE(app.waitUntilEnabled(QStringLiteral("push button"), QStringLiteral("Make"), 60000));
    ASSERT_TRUE(app.click(app.waitFor(QStringLiteral("push button"), QStringLiteral("Make"))));
    ASSERT_TRUE(app.waitFor(QStringLiteral("push button"), QStringLiteral("Cancel")));
    // Its ffmpeg writes the video under a hidden partial name.
    ASSERT_TRUE(app.waitUntil(
        [&] {
            return TestSupport::entriesOf(outputFolder())
                .join(u' ')
                .contains(QLatin1String(".partial."));
        },
        QStringLiteral("the video begun")));

    ASSERT_TRUE(app.pressKey(QStringLiteral("Ctrl+Q")));
    const AtspiElement asked =
        app.waitFor(QStringLiteral("alert"), QStringLiteral("A video is still being made."));
    ASSERT_TRUE(asked) << app.showing().toStdString();
    ASSERT_TRUE(
        app.click(asked.find(QStringLiteral("push button"), QStringLiteral("Stop and Quit"))));
    // The app ends once its ffmpeg has stopped and the partial video is gone.
    EXPECT_EQ(app.waitForExit(30000), 0);
    EXPECT_EQ(app.strays(), QStringList());
    EXPECT_EQ(TestSupport::entriesOf(outputFolder()), QStringList());
}
