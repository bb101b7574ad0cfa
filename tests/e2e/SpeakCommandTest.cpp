// kelvorandix-cli speak: the speech job through the job queue, as a user runs it.
#include "Settings/UserSettings.h"
#include "Speech/AIFFFile.h"
#include "Subtitles/Utils.h"
#include "TestSupport.h"

#include <QDir>
#include <QJsonArray>
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

TEST_F(SpeakCommand, KeepingInSyncIsAnOptionWithAReport)
{
    // The middle line is far too long for its time and the quiet after it.
    const QString input =
        write(QStringLiteral("three.srt"),
              "1\n00:00:01,000 --> 00:00:03,000\nHello there.\n\n"
              "2\n00:00:04,000 --> 00:00:04,600\nThis sentence is far too long to fit in the "
              "tiny slot it was given, so it runs over.\n\n"
              "3\n00:00:05,000 --> 00:00:08,000\nNext line.\n");
    auto speak = [&](const QString &name, const QStringList &options, bool storedSync) {
        const QString settings = folder.filePath(name + QStringLiteral(".ini"));
        UserSettings(settings).setBool(UserSettings::keepSpeechInSyncKey, storedSync);
        const QString report = folder.filePath(name + QStringLiteral(".json"));
        const TestSupport::ProcessResult result =
            runCli(QStringList{QStringLiteral("speak"), input, QStringLiteral("--voice"),
                               QStringLiteral("gmw/en-US"), QStringLiteral("--out"),
                               folder.filePath(name + QStringLiteral(".aiff")),
                               QStringLiteral("--report"), report} +
                       options,
                   environment() + QStringList{QStringLiteral("KELVORANDIX_SETTINGS=") + settings});
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        const QList<QByteArray> lines = result.err.trimmed().split('\n');
        return std::make_pair(QString::fromUtf8(lines.last()),
                              QJsonDocument::fromJson(TestSupport::readFile(report)).array());
    };
    auto track = [&](const QString &name) {
        return TestSupport::readFile(folder.filePath(name + QStringLiteral(".aiff")));
    };

    // Off, stored or switched, the track is the one the rate rule alone writes.
    const auto plain = speak(QStringLiteral("plain"), {}, false);
    speak(QStringLiteral("switched off"), {QStringLiteral("--no-sync")}, true);
    EXPECT_EQ(track(QStringLiteral("switched off")), track(QStringLiteral("plain")));
    EXPECT_TRUE(
        plain.first.startsWith(QStringLiteral("3 lines: 1 fit, 0 compressed, 1 run long, ")))
        << plain.first.toStdString();

    const auto synced = speak(QStringLiteral("synced"), {QStringLiteral("--sync")}, false);
    speak(QStringLiteral("stored"), {}, true);
    EXPECT_EQ(track(QStringLiteral("stored")), track(QStringLiteral("synced")));
    EXPECT_NE(track(QStringLiteral("synced")), track(QStringLiteral("plain")));
    EXPECT_TRUE(synced.first.startsWith(
        QStringLiteral("3 lines: 1 fit, 1 compressed, 1 start late (worst ")))
        << synced.first.toStdString();
    const QJsonArray report = synced.second;
    ASSERT_EQ(report.size(), 3);
    const QJsonObject first = report[0].toObject();
    EXPECT_EQ(first.keys(), (QStringList{QStringLiteral("duration"), QStringLiteral("end"),
                                         QStringLiteral("index"), QStringLiteral("late"),
                                         QStringLiteral("placedStart"), QStringLiteral("rate"),
                                         QStringLiteral("start"), QStringLiteral("tempo")}));
    EXPECT_EQ(first[QStringLiteral("index")].toInt(), 1);
    EXPECT_EQ(first[QStringLiteral("start")].toInt(), 1000);
    EXPECT_EQ(first[QStringLiteral("end")].toInt(), 3000);
    EXPECT_EQ(first[QStringLiteral("rate")].toDouble(), 200);
    EXPECT_EQ(first[QStringLiteral("tempo")].toDouble(), 1.0);
    EXPECT_EQ(report[1].toObject()[QStringLiteral("tempo")].toDouble(), 1.25);
    const QJsonObject last = report[2].toObject();
    EXPECT_GT(last[QStringLiteral("late")].toDouble(), 250);
    EXPECT_DOUBLE_EQ(last[QStringLiteral("late")].toDouble(),
                     last[QStringLiteral("placedStart")].toDouble() - 5000);
}

TEST_F(SpeakCommand, FailuresPrintTheAlertAndLeaveNoOutput)
{
    const QString out = folder.filePath(QStringLiteral("speech.aiff"));
    TestSupport::ProcessResult result =
        runCli({QStringLiteral("speak"), write(QStringLiteral("bad.srt"), "not subtitles"),
                QStringLiteral("--out"), out},
               environment());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains("Could not parse subtitles: line 1: 'not subtitles'\n"))
        << result.err.toStdString();
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

TEST_F(SpeakCommand, ReadsWhatMakeReads)
{
    // Windows-1252 with Windows line ends, a cue with no text and a last cue whose times have
    // too few digits: the strict reader refuses it, the conversion make uses does not.
    const QString input = write(QStringLiteral("film.srt"),
                                "1\r\n00:00:01,000 --> 00:00:02,500\r\nCaf\xE9 cr\xE8me.\r\n\r\n"
                                "2\r\n00:00:03,000 --> 00:00:04,000\r\n\r\n"
                                "9999\r\n00:00:0,500 --> 00:00:6,00\r\n<i>Na\xEFve.</i>\r\n");
    const QString out = folder.filePath(QStringLiteral("speech.aiff"));
    const TestSupport::ProcessResult result = runCli(
        {QStringLiteral("speak"), input, QStringLiteral("--voice"), QStringLiteral("gmw/en-US"),
         QStringLiteral("--out"), out, QStringLiteral("--stats")},
        environment());
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(result.out).object()[QStringLiteral("cues")].toInt(), 2);
    EXPECT_GT(AIFFFile::duration(out), 1000);
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(u' ');
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
