// kelvorandix-cli speak: the speech job through the job queue, as a user runs it.
#include "Speech/AIFFFile.h"
#include "Subtitles/Utils.h"
#include "TestSupport.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

using TestSupport::runCli;

namespace {

QByteArray subtitles(int count, int slotMs = 2500)
{
    QByteArray text;
    for (int i = 0; i < count; ++i) {
        const int start = 1500 + i * (slotMs + 500);
        text += QStringLiteral("%1\n%2 --> %3\nThis is line %1 of the film.\n\n")
                    .arg(i + 1)
                    .arg(Utils::fullTimeString(start).replace(u'.', u','),
                         Utils::fullTimeString(start + slotMs).replace(u'.', u','))
                    .toUtf8();
    }
    return text;
}

class SpeakCommand : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(temp())); }
    QString temp() const { return folder.filePath(QStringLiteral("tmp")); }
    // Working folders left behind in the private temporary folder.
    QStringList leftovers() const
    {
        return QDir(temp()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }
    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = folder.filePath(name);
        TestSupport::writeFile(path, bytes);
        return path;
    }
    QStringList environment() const { return {QStringLiteral("TMPDIR=") + temp()}; }
    QTemporaryDir folder;
};

} // namespace

TEST_F(SpeakCommand, WritesTheSpeechTrackAndReportsWhatItCost)
{
    const QString input = write(QStringLiteral("my film's subs ü.srt"), subtitles(3));
    const QString out = folder.filePath(QStringLiteral("speech out.aiff"));
    const TestSupport::ProcessResult result = runCli(
        {QStringLiteral("speak"), input, QStringLiteral("--voice"), QStringLiteral("gmw/en+f2"),
         QStringLiteral("--out"), out, QStringLiteral("--stats")},
        environment());
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QJsonObject stats = QJsonDocument::fromJson(result.out).object();
    EXPECT_EQ(stats[QStringLiteral("cues")].toInt(), 3);
    EXPECT_EQ(stats[QStringLiteral("fitted")].toInt(), 3);
    // The last cue starts at 7500 ms.
    EXPECT_GT(AIFFFile::duration(out), 7500);
    EXPECT_TRUE(result.err.contains("Processing audio - 100.0% - ")) << result.err.toStdString();
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(u' ');
}

TEST_F(SpeakCommand, FailuresPrintTheAlertAndLeaveNoOutput)
{
    const QString out = folder.filePath(QStringLiteral("speech.aiff"));
    TestSupport::ProcessResult result =
        runCli({QStringLiteral("speak"), write(QStringLiteral("bad.srt"), "not subtitles"),
                QStringLiteral("--out"), out},
               environment());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains("Could not parse subtitles\n")) << result.err.toStdString();
    EXPECT_FALSE(QFile::exists(out));

    result =
        runCli({QStringLiteral("speak"), write(QStringLiteral("good.srt"), subtitles(1)),
                QStringLiteral("--voice"), QStringLiteral("nobody"), QStringLiteral("--out"), out},
               environment());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains("Could not initialize Speech Synthesizer\n"))
        << result.err.toStdString();
    EXPECT_FALSE(QFile::exists(out));
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(u' ');

    // A track an AIFF file cannot hold (a cue 28 hours in) is refused before it is written.
    result = runCli({QStringLiteral("speak"),
                     write(QStringLiteral("late.srt"), "1\n28:00:00,000 --> 28:00:02,000\nLate.\n"),
                     QStringLiteral("--voice"), QStringLiteral("gmw/en-US"),
                     QStringLiteral("--out"), out},
                    environment());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains("larger than the 4 GiB an AIFF file can hold"))
        << result.err.toStdString();
    EXPECT_FALSE(QFile::exists(out));

    // The subtitles themselves are no place for the speech: refused, and left as they were.
    const QString input = write(QStringLiteral("film.srt"), subtitles(1));
    result =
        runCli({QStringLiteral("speak"), input, QStringLiteral("--out"), input}, environment());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains("it is the input")) << result.err.toStdString();
    EXPECT_EQ(TestSupport::readFile(input), subtitles(1));
    // A file that merely has the name a partial track might have is none of ours.
    const QString unrelated = write(QStringLiteral("speech.aiff.partial"), "keep me");
    result = runCli({QStringLiteral("speak"), input, QStringLiteral("--out"), out}, environment());
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(TestSupport::readFile(unrelated), QByteArray("keep me"));
    EXPECT_EQ(TestSupport::entriesOf(folder.path()).size(), 7)
        << TestSupport::entriesOf(folder.path()).join(u' ');
}

TEST_F(SpeakCommand, InterruptCancelsCleanly)
{
    const QString input = write(QStringLiteral("long.srt"), subtitles(3000, 1000));
    const QString out = folder.filePath(QStringLiteral("speech.aiff"));
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), temp());
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(KELVORANDIX_CLI_PATH),
                  {QStringLiteral("speak"), input, QStringLiteral("--out"), out});
    ASSERT_TRUE(process.waitForStarted());
    QByteArray err;
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] {
            process.waitForReadyRead(50);
            err += process.readAllStandardError();
            return err.contains("Processing audio - ");
        },
        60000))
        << err.toStdString();
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 130) << (err + process.readAllStandardError()).toStdString();
    EXPECT_FALSE(QFile::exists(out));
    EXPECT_FALSE(QFile::exists(out + QStringLiteral(".partial")));
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(u' ');
}
