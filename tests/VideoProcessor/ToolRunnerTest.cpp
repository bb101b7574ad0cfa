// The tool runner: real child processes, their exit statuses, progress lines and file steps.
#include "VideoProcessor/ToolRunner.h"
#include "Subtitles/Utils.h"
#include "TestSupport.h"
#include "VideoProcessor/ToolProcess.h"
#include "WorkingFolder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <thread>

namespace {

const QString shell = QStringLiteral("/bin/sh");

struct Outcome {
    QList<std::pair<bool, QString>> completions;
    QList<double> progress;
};

std::shared_ptr<ToolProcess> runShell(const QString &script, Outcome &outcome)
{
    return ToolRunner::runToolAsync(
        shell, {QStringLiteral("-c"), script},
        [&outcome](double ms) { outcome.progress.append(ms); },
        [&outcome](bool ok, const QString &message) {
            outcome.completions.append({ok, message});
        });
}

} // namespace

TEST(ProgressParsing, ReadsTheFirstStatusLineOnly)
{
    EXPECT_EQ(ToolRunner::parseProgressTime(QStringLiteral(
                  "frame=10 fps=0.0 size=0kB time=00:00:01.50 bitrate=0.2kbits/s speed=3x")),
              1500);
    EXPECT_EQ(ToolRunner::parseProgressTime(QStringLiteral(
                  "size=     256kB time=00:01:02.50 bitrate= 524.3kbits/s speed= 100x    \r"
                  "size=     512kB time=00:02:00.00 bitrate= 524.3kbits/s speed= 100x    \r")),
              62500);
    // The input banner's duration line has a time but no bitrate.
    EXPECT_FALSE(ToolRunner::parseProgressTime(QStringLiteral(
        "  Duration: 00:00:12.00, start: 0.000000, bitrate: 1 kb/s\n time=00:00:05.00\n")));
    EXPECT_FALSE(ToolRunner::parseProgressTime(
        QStringLiteral("size=       0kB time=N/A bitrate=N/A speed=N/A    \r")));
    // A first line whose time does not read ends the search.
    EXPECT_FALSE(ToolRunner::parseProgressTime(QStringLiteral(
        "size=0kB time=N/A bitrate=N/A\rsize=1kB time=00:00:02.00 bitrate=1kbits/s\r")));
    EXPECT_EQ(ToolRunner::parseProgressTime(
                  QStringLiteral("Stream mapping: ...\nsize=1kB time=1:05 bitrate=1kbits/s\n")),
              65000);
    EXPECT_FALSE(ToolRunner::parseProgressTime(QString()));
}

TEST(ToolRunner, SynchronousRunsReturnAllOutputAndTheStatus)
{
    auto [output, ok] = ToolRunner::runTool(
        shell, {QStringLiteral("-c"), QStringLiteral("echo out; echo err >&2; exit 0")});
    EXPECT_TRUE(ok);
    EXPECT_EQ(output, QStringLiteral("out\nerr\n"));
    std::tie(output, ok) = ToolRunner::runTool(
        shell, {QStringLiteral("-c"), QStringLiteral("echo 'No such file'; exit 1")});
    EXPECT_FALSE(ok);
    EXPECT_EQ(output, QStringLiteral("No such file\n"));
    // Invalid UTF-8 is replaced, not dropped.
    std::tie(output, ok) =
        ToolRunner::runTool(shell, {QStringLiteral("-c"), QStringLiteral("printf 'caf\\351 ok'")});
    EXPECT_TRUE(ok);
    EXPECT_EQ(output, QStringLiteral("caf\uFFFD ok"));
    // Arguments are passed as they are, never through a shell.
    std::tie(output, ok) = ToolRunner::runTool(
        QStringLiteral("/bin/echo"),
        {QStringLiteral("a b"), QStringLiteral("$HOME"), QStringLiteral("'\";|")});
    EXPECT_EQ(output, QStringLiteral("a b $HOME '\";|\n"));
}

TEST(ToolRunner, AMissingToolSaysWhatToInstall)
{
    auto [output, ok] = ToolRunner::runTool(QStringLiteral("/nonexistent/ffmpeg"), {});
    EXPECT_FALSE(ok);
    EXPECT_EQ(output, ToolRunner::missingToolMessage(QStringLiteral("ffmpeg")));
    EXPECT_TRUE(output.contains(QStringLiteral("apt-get install ffmpeg"))) << output;

    std::optional<std::pair<bool, QString>> completion;
    const auto run = ToolRunner::runToolAsync(
        QStringLiteral("/nonexistent/ffprobe"), {}, {},
        [&](bool ok, const QString &message) { completion = std::make_pair(ok, message); });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return completion.has_value(); }));
    EXPECT_FALSE(completion->first);
    EXPECT_TRUE(completion->second.startsWith(QStringLiteral("Could not start ffprobe")))
        << completion->second;

    // With nothing on PATH and nothing beside the program, the bundled path is returned as is.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", "/nonexistent");
    const QString ffmpeg = ToolRunner::ffmpegPath();
    qputenv("PATH", path);
    EXPECT_TRUE(ffmpeg.endsWith(QStringLiteral("/../libexec/kelvorandix/ffmpeg"))) << ffmpeg;
    EXPECT_TRUE(ToolRunner::ffmpegPath().endsWith(QStringLiteral("/ffmpeg")));
    EXPECT_TRUE(QFileInfo(ToolRunner::ffprobePath()).isExecutable());
}

TEST(ToolRunner, AsynchronousRunsCompleteByExitStatus)
{
    Outcome ok;
    auto run = runShell(QStringLiteral("printf 'size=1kB time=00:00:02.50 bitrate=1kbits/s\\r'; "
                                       "sleep 0.2; printf 'done'; exit 0"),
                        ok);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !ok.completions.isEmpty(); }));
    EXPECT_EQ(ok.completions, (QList<std::pair<bool, QString>>{{true, QStringLiteral("done")}}));
    EXPECT_EQ(ok.progress, QList<double>{2500});

    Outcome failed;
    run = runShell(QStringLiteral("echo 'Invalid data found'; exit 1"), failed);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !failed.completions.isEmpty(); }));
    EXPECT_EQ(failed.completions,
              (QList<std::pair<bool, QString>>{{false, QStringLiteral("Invalid data found\n")}}));

    // ffmpeg's 255 (stopped by a signal) is a failure when nobody here asked for the stop:
    // another hand killed the tool, and the chain must not wait for it for ever.
    Outcome killed;
    run =
        runShell(QStringLiteral("echo 'Exiting normally, received signal 15.'; exit 255"), killed);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !killed.completions.isEmpty(); }));
    EXPECT_EQ(killed.completions,
              (QList<std::pair<bool, QString>>{
                  {false, QStringLiteral("sh was stopped before it finished. Exiting normally, "
                                         "received signal 15.")}}));

    // ffmpeg 5.1 exits with 0 after failing to write its output: that is a failure too.
    Outcome full;
    run = runShell(QStringLiteral("printf 'frame=1 size=0kB time=00:00:00.00 bitrate=N/A\r"
                                  "Error writing trailer of out.mp4: No space left on device\n'; "
                                  "sleep 0.1; echo 'video:209kB audio:43kB'; exit 0"),
                   full);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !full.completions.isEmpty(); }));
    EXPECT_EQ(
        full.completions,
        (QList<std::pair<bool, QString>>{
            {false, QStringLiteral("Error writing trailer of out.mp4: No space left on device")}}));
}

TEST(ToolRunner, SynchronousRunsStopWhenAskedAndFailOnWriteErrors)
{
    const auto [full, written] = ToolRunner::runTool(
        shell, {QStringLiteral("-c"), QStringLiteral("echo 'Error closing file o.srt: File too "
                                                     "large'; exit 0")});
    EXPECT_FALSE(written) << full;

    // A cancelled job's analysis of a long film must not run to its end.
    std::atomic<bool> stop{false};
    QElapsedTimer clock;
    clock.start();
    std::thread canceller([&] {
        QThread::msleep(300);
        stop.store(true);
    });
    const auto [output, ok] =
        ToolRunner::runTool(shell, {QStringLiteral("-c"), QStringLiteral("sleep 60")}, &stop);
    canceller.join();
    EXPECT_FALSE(ok);
    EXPECT_LT(clock.elapsed(), 20000) << "the tool was not stopped";
}

TEST(ToolRunner, WriteFailuresAreFfmpegsOwnLinesNotTheInputsMetadata)
{
    // The input's tags are listed indented: a title may say anything.
    const QString banner = QStringLiteral("Input #0, matroska,webm, from 'in.mkv':\n"
                                          "  Metadata:\n"
                                          "    title           : No space left on device\n"
                                          "    comment         : File too large\n");
    EXPECT_EQ(ToolRunner::writeFailure(banner), std::nullopt);
    EXPECT_EQ(
        ToolRunner::writeFailure(
            banner + QStringLiteral("[out#0/mkv @ 0x1] Error writing trailer: File too large")),
        QStringLiteral("Error writing trailer: File too large"));
}

TEST(ToolRunner, StoppingEscalatesAndCompletesSilently)
{
    Outcome outcome;
    // A tool that ignores terminate and interrupt is killed in the end.
    const auto run = runShell(
        QStringLiteral("trap '' TERM INT; echo started; while :; do sleep 0.05; done"), outcome);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return run->isRunning(); }));
    TestSupport::waitUntil([] { return false; }, 200);
    run->stop(100);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !run->isRunning(); }, 5000));
    TestSupport::waitUntil([] { return false; }, 200);
    EXPECT_TRUE(outcome.completions.isEmpty());
    EXPECT_TRUE(run->wasStopped());
}

TEST(ToolRunner, IntoFileRunsReplaceTheTargetOnlyOnSuccess)
{
    QTemporaryDir folder;
    const QString target = folder.filePath(QStringLiteral("video ü.mp4"));
    const QString temporary = folder.filePath(QStringLiteral("video.tmp.mp4"));
    auto runInto = [&](const QString &script) {
        std::optional<std::pair<bool, QString>> completion;
        const auto run = ToolRunner::runToolIntoFile(
            shell, {QStringLiteral("-c"), script, QStringLiteral("sh"), temporary}, {}, temporary,
            target,
            [&](bool ok, const QString &message) { completion = std::make_pair(ok, message); });
        TestSupport::waitUntil([&] { return completion.has_value() || !run->isRunning(); });
        TestSupport::waitUntil([] { return false; }, 200);
        return completion;
    };

    TestSupport::writeFile(target, "original");
    auto completion =
        runInto(QStringLiteral("printf half > \"$1\"; echo 'Conversion failed'; exit 1"));
    ASSERT_TRUE(completion.has_value());
    EXPECT_FALSE(completion->first);
    EXPECT_EQ(completion->second, QStringLiteral("Conversion failed\n"));
    EXPECT_EQ(TestSupport::readFile(target), QByteArray("original"));
    EXPECT_FALSE(QFile::exists(temporary));

    // Stopped by someone else (status 255): a failure, the target untouched, no temporary file.
    completion = runInto(QStringLiteral("printf half > \"$1\"; exit 255"));
    ASSERT_TRUE(completion.has_value());
    EXPECT_FALSE(completion->first);
    EXPECT_EQ(TestSupport::readFile(target), QByteArray("original"));
    EXPECT_FALSE(QFile::exists(temporary));

    completion = runInto(QStringLiteral("printf louder > \"$1\"; exit 0"));
    ASSERT_TRUE(completion.has_value());
    EXPECT_TRUE(completion->first);
    EXPECT_EQ(TestSupport::readFile(target), QByteArray("louder"));
    EXPECT_FALSE(QFile::exists(temporary));

    // Stopped through its handle: nothing reported, and nothing left on disk or listed for the
    // next start to clean up.
    bool completed = false;
    const auto run = ToolRunner::runToolIntoFile(
        shell,
        {QStringLiteral("-c"), QStringLiteral("printf half > \"$1\"; sleep 60"),
         QStringLiteral("sh"), temporary},
        {}, temporary, target, [&](bool, const QString &) { completed = true; });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return QFile::exists(temporary); }));
    run->stop();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !run->isRunning(); }));
    TestSupport::waitUntil([] { return false; }, 200);
    EXPECT_FALSE(completed);
    EXPECT_FALSE(QFile::exists(temporary));
    QFile listed(WorkingFolder::filePath(QStringLiteral(".outputs")));
    EXPECT_FALSE(listed.open(QIODevice::ReadOnly) && listed.readAll().contains(temporary.toUtf8()));
}

TEST(ToolRunner, AReservedNameTakesOnlyItsOwnVideo)
{
    // Two runs at once on the same input: each reserves its own name, and a finished video
    // replaces only its own empty placeholder, never a file that came meanwhile.
    QTemporaryDir folder;
    const QString planned = folder.filePath(QStringLiteral("walk.mp4"));
    const QString first = Utils::reserveOutputFilePath(planned, QStringLiteral("en_US"));
    const QString second = Utils::reserveOutputFilePath(planned, QStringLiteral("en_US"));
    EXPECT_EQ(first, folder.filePath(QStringLiteral("walk_Kelvorandix_en_US.mp4")));
    EXPECT_EQ(second, folder.filePath(QStringLiteral("walk_Kelvorandix_en_US_1.mp4")));
    EXPECT_EQ(QFileInfo(first).size(), 0);

    auto runInto = [&](const QString &target, const QString &text) {
        const QString temporary = target + QStringLiteral(".partial");
        std::optional<std::pair<bool, QString>> completion;
        const auto run = ToolRunner::runToolIntoFile(
            shell,
            {QStringLiteral("-c"), QStringLiteral("printf '%s' \"$2\" > \"$1\""),
             QStringLiteral("sh"), temporary, text},
            {}, temporary, target,
            [&](bool ok, const QString &message) { completion = std::make_pair(ok, message); },
            ToolRunner::Target::Reserved);
        TestSupport::waitUntil([&] { return completion.has_value(); });
        EXPECT_FALSE(QFile::exists(temporary));
        return completion.value_or(std::make_pair(false, QStringLiteral("no completion")));
    };
    EXPECT_TRUE(runInto(first, QStringLiteral("first video")).first);
    EXPECT_EQ(TestSupport::readFile(first), QByteArray("first video"));
    const auto [replaced, message] = runInto(first, QStringLiteral("second video"));
    EXPECT_FALSE(replaced);
    EXPECT_TRUE(message.contains(QLatin1String("another file"))) << message;
    EXPECT_EQ(TestSupport::readFile(first), QByteArray("first video"));
    // A name whose placeholder has gone is taken only if it is still free.
    QFile::remove(second);
    EXPECT_TRUE(runInto(second, QStringLiteral("second video")).first);
    EXPECT_EQ(TestSupport::readFile(second), QByteArray("second video"));
}
