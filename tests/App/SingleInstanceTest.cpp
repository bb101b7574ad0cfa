// One running app per session: real launches of the app under an X server with a private session
// bus, a first one that stays and later ones that hand their files over. The first is watched from
// outside through its test probe on the bus (InstanceProbe): the track choosers' item counts, and
// whether an output chain runs; its Make and Cancel are pressed there by their accessible names.
#include "TestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTemporaryDir>
#include <QVariantMap>
#include <cmath>
#include <gtest/gtest.h>

namespace {

const QString serviceName = QStringLiteral("org.kelvorandix.Kelvorandix");
const QString probePath = QStringLiteral("/org/kelvorandix/Kelvorandix/TestProbe");
const QString probeInterface = QStringLiteral("org.kelvorandix.Kelvorandix.TestProbe");

class SingleInstance : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus: run under dbus-run-session";
        if (QDBusConnection::sessionBus().interface()->isServiceRegistered(serviceName))
            GTEST_SKIP() << "the app already runs on this session bus";
        settingsFile = folder.filePath(QStringLiteral("settings.ini"));
        QSettings settings(settingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("outputFolderKey"), folder.path());
        settings.sync();
        // A 20-second film with one subtitle stream (Make can start on it), and another with two
        // audio streams, which the choosers tell apart from the first.
        const QString cues = folder.filePath(QStringLiteral("cues.srt"));
        TestSupport::writeFile(cues, "1\n00:00:01,000 --> 00:00:03,000\nHello there.\n");
        TestSupport::ffmpeg(
            "-f lavfi -i testsrc=d=20:s=160x120:r=10 -f lavfi -i "
            "sine=frequency=220:duration=20 -i %1 -c:v libx264 -c:a aac -c:s srt %2",
            {cues, folder.filePath(QStringLiteral("film.mkv"))});
        TestSupport::ffmpeg("-f lavfi -i testsrc=d=2:s=160x120:r=10 -f lavfi -i "
                            "sine=frequency=220:duration=2 -map 0 -map 1 -map 1 -c:v libx264 -c:a "
                            "aac %1",
                            {folder.filePath(QStringLiteral("two voices.mp4"))});
    }

    void TearDown() override
    {
        if (first.state() != QProcess::NotRunning) {
            first.terminate();
            if (!first.waitForFinished(10000)) {
                first.kill();
                first.waitForFinished();
            }
        }
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KELVORANDIX_SETTINGS"), settingsFile);
        env.insert(QStringLiteral("KELVORANDIX_TEST_PROBE"), QStringLiteral("1"));
        // Leaks of Qt's X11 and D-Bus plumbing, never of our own code.
        env.insert(QStringLiteral("LSAN_OPTIONS"),
                   QStringLiteral("suppressions=" KELVORANDIX_SOURCE_DIR
                                  "/tests/Player/lsan.supp:print_suppressions=0"));
        return env;
    }

    // Starts the first instance and waits until it answers on the bus.
    void startFirst(const QStringList &arguments, const QString &path = QString())
    {
        QProcessEnvironment env = environment();
        if (!path.isEmpty())
            env.insert(QStringLiteral("PATH"), path + u':' + env.value(QStringLiteral("PATH")));
        first.setProcessEnvironment(env);
        first.setProcessChannelMode(QProcess::ForwardedChannels);
        first.start(QStringLiteral(KELVORANDIX_APP_PATH), arguments);
        ASSERT_TRUE(first.waitForStarted(10000));
        ASSERT_TRUE(TestSupport::waitUntil(
            [] {
                return QDBusConnection::sessionBus().interface()->isServiceRegistered(serviceName);
            },
            30000));
    }

    // A later launch, from the folder of the media; its exit status and how long it ran. It must
    // end by itself, well before the bus's 25 s call timeout or the 30 s given here; how fast it
    // hands over is measured by bench/hand_over, not asserted.
    std::pair<int, qint64> launchAgain(const QStringList &arguments)
    {
        QProcess later;
        later.setProcessEnvironment(environment());
        later.setWorkingDirectory(folder.path());
        later.setProcessChannelMode(QProcess::ForwardedChannels);
        QElapsedTimer timer;
        timer.start();
        later.start(QStringLiteral(KELVORANDIX_APP_PATH), arguments);
        if (!later.waitForFinished(30000)) {
            later.kill();
            later.waitForFinished();
            return {-1, timer.elapsed()};
        }
        return {later.exitStatus() == QProcess::NormalExit ? later.exitCode() : -1,
                timer.elapsed()};
    }

    QVariantMap state() const
    {
        const QDBusMessage reply =
            QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
                serviceName, probePath, probeInterface, QStringLiteral("State")));
        return qdbus_cast<QVariantMap>(reply.arguments().value(0));
    }

    QString tracks() const
    {
        const QVariantMap now = state();
        return QStringLiteral("%1 video, %2 audio, %3 subtitles")
            .arg(now.value(QStringLiteral("videoTracks"), -1).toInt())
            .arg(now.value(QStringLiteral("audioTracks"), -1).toInt())
            .arg(now.value(QStringLiteral("subtitlesTracks"), -1).toInt());
    }

    bool press(const QString &name) const
    {
        QDBusMessage call = QDBusMessage::createMethodCall(serviceName, probePath, probeInterface,
                                                           QStringLiteral("Press"));
        call << name;
        return QDBusConnection::sessionBus().call(call).arguments().value(0).toBool();
    }

    bool busy() const { return state().value(QStringLiteral("busy")).toBool(); }

    QString storedPath() const
    {
        return QSettings(settingsFile, QSettings::IniFormat)
            .value(QStringLiteral("fileOpenedWithFinderKey"))
            .toString();
    }

    QTemporaryDir folder;
    QString settingsFile;
    QProcess first;
};

} // namespace

TEST_F(SingleInstance, ASecondLaunchHandsItsFileToTheFirstAndEndsAtOnce)
{
    startFirst({});
    EXPECT_EQ(tracks(), QStringLiteral("0 video, 0 audio, 0 subtitles"));

    // A path relative to the second launch's folder, which is not the first one's, shown at the
    // time asked for.
    const auto [status, elapsed] =
        launchAgain({QStringLiteral("film.mkv"), QStringLiteral("--at"), QStringLiteral("3000")});
    EXPECT_EQ(status, 0);
    EXPECT_LT(elapsed, 10000);
    EXPECT_TRUE(TestSupport::waitUntil(
        [&] { return tracks() == QLatin1String("1 video, 2 audio, 1 subtitles"); }, 30000))
        << tracks();
    EXPECT_TRUE(TestSupport::waitUntil(
        [&] {
            return std::abs(state().value(QStringLiteral("playTime")).toLongLong() - 3000) < 200;
        },
        10000))
        << state().value(QStringLiteral("playTime")).toLongLong();
    EXPECT_EQ(storedPath(), QString());
    EXPECT_EQ(first.state(), QProcess::Running);

    // Launched with no file, a later one only brings the window forward.
    EXPECT_EQ(launchAgain({}).first, 0);
    EXPECT_EQ(tracks(), QStringLiteral("1 video, 2 audio, 1 subtitles"));
}

TEST_F(SingleInstance, ALaunchWhileAChainRunsLeavesTheFirstUntouched)
{
    // Launched with a file, the first opens it as its window loads. The output video then takes
    // the film's own 20 seconds to write.
    const QString slow = TestSupport::slowFfmpegFolder(folder.filePath(QStringLiteral("bin")),
                                                       QStringLiteral("-map"));
    startFirst({folder.filePath(QStringLiteral("film.mkv"))}, slow);
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] { return tracks() == QLatin1String("1 video, 2 audio, 1 subtitles"); }, 30000))
        << tracks();
    EXPECT_EQ(storedPath(), QString());
    ASSERT_TRUE(TestSupport::waitUntil([&] { return press(QStringLiteral("Make")); }, 30000));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return busy(); }, 10000));

    const auto [status, elapsed] = launchAgain({QStringLiteral("two voices.mp4")});
    EXPECT_EQ(status, 0);
    EXPECT_LT(elapsed, 10000);
    // The probe's answer comes after the handed-over file has been dealt with.
    EXPECT_EQ(tracks(), QStringLiteral("1 video, 2 audio, 1 subtitles"));
    EXPECT_TRUE(busy());
    EXPECT_EQ(storedPath(), QString());

    // The file was dropped, not kept for later: once the chain is cancelled, the window still has
    // the film, and a new hand-over opens at once.
    ASSERT_TRUE(press(QStringLiteral("Cancel")));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !busy(); }, 30000));
    EXPECT_EQ(tracks(), QStringLiteral("1 video, 2 audio, 1 subtitles"));
    EXPECT_EQ(launchAgain({QStringLiteral("two voices.mp4")}).first, 0);
    EXPECT_TRUE(TestSupport::waitUntil(
        [&] { return tracks() == QLatin1String("1 video, 3 audio, 0 subtitles"); }, 30000))
        << tracks();
}
