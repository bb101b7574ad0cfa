// kelvorandix-cli probe and subtitles on media made at test time and on real files.
#include "Subtitles/SubtitlesParser.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

using TestSupport::runCli;

namespace {

class MediaCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestSupport::writeFile(folder.filePath(QStringLiteral("in.srt")),
                               "1\n00:00:00,500 --> 00:00:01,500\nÉcoute-moi bien\n\n"
                               "2\n00:00:02,000 --> 00:00:03,000\nOn y va\n");
        TestSupport::ffmpeg("-f lavfi -i testsrc=d=3:s=160x120 -f lavfi -i sine=d=3 -i %1 -map 0 "
                            "-map 1 -map 2 -c:v libx264 -c:a aac -c:s mov_text -metadata:s:s:0 "
                            "language=fre %2",
                            {folder.filePath(QStringLiteral("in.srt")), video});
    }
    QTemporaryDir folder;
    QString video = folder.filePath(QStringLiteral("my \"clip\" ü.mp4"));
};

} // namespace

TEST_F(MediaCommands, ProbeShowsTheTrackChoosersLists)
{
    TestSupport::ProcessResult result =
        runCli({QStringLiteral("probe"), video, QStringLiteral("--json")});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QJsonObject info = QJsonDocument::fromJson(result.out).object();
    EXPECT_NEAR(info[QStringLiteral("duration")].toDouble(), 3000, 100);
    const QJsonArray subtitles = info[QStringLiteral("subtitlesStreams")].toArray();
    ASSERT_EQ(subtitles.size(), 1);
    EXPECT_EQ(subtitles[0].toObject()[QStringLiteral("streamIndex")].toInt(), 2);
    EXPECT_EQ(subtitles[0].toObject()[QStringLiteral("title")].toString(),
              QStringLiteral("Track 2 Subtitles(fre) - default"));
    EXPECT_EQ(info[QStringLiteral("videoStreams")]
                  .toArray()[0]
                  .toObject()[QStringLiteral("width")]
                  .toInt(),
              160);

    result = runCli({QStringLiteral("probe"), video});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.out.contains("Track 1 Audio")) << result.out.toStdString();

    TestSupport::writeFile(folder.filePath(QStringLiteral("notes.mkv")), "not a video");
    result = runCli({QStringLiteral("probe"), folder.filePath(QStringLiteral("notes.mkv"))});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains("is not a media file")) << result.err.toStdString();
}

TEST_F(MediaCommands, NamesThatLookLikeUrlsAreFiles)
{
    // ffmpeg reads "pipe:0" as standard input and "concat:a|b" as other files: given as they
    // are, the first waits for input for ever and the second probes what it names.
    for (const QString &name : {QStringLiteral("pipe:0"), QStringLiteral("concat:a.mp4|b.mp4")}) {
        ASSERT_TRUE(QFile::copy(video, folder.filePath(name)));
        const TestSupport::ProcessResult result =
            TestSupport::runIn(folder.path(), QStringLiteral(KELVORANDIX_CLI_PATH),
                               {QStringLiteral("probe"), name, QStringLiteral("--json")});
        EXPECT_EQ(result.exitCode, 0) << name.toStdString() << result.err.toStdString();
        EXPECT_EQ(QJsonDocument::fromJson(result.out)
                      .object()[QStringLiteral("audioStreams")]
                      .toArray()
                      .size(),
                  1)
            << name.toStdString();
    }
}

TEST_F(MediaCommands, SubtitlesExtractsAStreamOrConvertsAFile)
{
    const QString out = folder.filePath(QStringLiteral("out dir/subtitles.srt"));
    QDir().mkpath(QFileInfo(out).absolutePath());
    TestSupport::ProcessResult result =
        runCli({QStringLiteral("subtitles"), video, QStringLiteral("--stream"), QStringLiteral("2"),
                QStringLiteral("--out"), out});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    std::optional<SubtitlesParser> parsed = SubtitlesParser::fromFile(out);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->subtitles.size(), 2);
    EXPECT_EQ(parsed->subtitles[0].text, QStringList{QStringLiteral("Écoute-moi bien")});

    // The video stream is not a subtitle stream.
    result = runCli({QStringLiteral("subtitles"), video, QStringLiteral("--stream"),
                     QStringLiteral("0"), QStringLiteral("--out"), out});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.startsWith("Invalid subtitles or subtitles format is not supported: "))
        << result.err.toStdString();
    // The earlier result is still there, whole.
    EXPECT_TRUE(SubtitlesParser::fromFile(out).has_value());

    KELVORANDIX_REQUIRE_CORPUS(chinese, QStringLiteral("juvo_media_player_subs_gb2312.srt"));
    result = runCli({QStringLiteral("subtitles"), chinese, QStringLiteral("--out"), out});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    parsed = SubtitlesParser::fromFile(out);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->subtitles.size(), 9);
    const QString text = parsed->subtitles.first().text.join(u' ');
    EXPECT_TRUE(std::any_of(text.begin(), text.end(), [](QChar c) {
        return c.script() == QChar::Script_Han;
    })) << text;

    TestSupport::writeFile(folder.filePath(QStringLiteral("notes.txt")), "nothing to see");
    result = runCli({QStringLiteral("subtitles"), folder.filePath(QStringLiteral("notes.txt")),
                     QStringLiteral("--out"), out});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, QStringLiteral("Invalid subtitles or subtitles format is not supported: "
                                         "ffmpeg: %1: Invalid data found when processing input\n")
                              .arg(folder.filePath(QStringLiteral("notes.txt")))
                              .toUtf8());
}

TEST_F(MediaCommands, SubtitlesSaysWhatIsWrongAndLeavesNothingHalfDone)
{
    const QString input = folder.filePath(QStringLiteral("in.srt"));
    auto convert = [&](const QString &out, const QStringList &environment = {},
                       qint64 fileSizeLimit = -1) {
        return runCli({QStringLiteral("subtitles"), input, QStringLiteral("--out"), out},
                      environment, fileSizeLimit);
    };
    TestSupport::ProcessResult result = convert(folder.path());
    EXPECT_EQ(result.err,
              QStringLiteral("Could not write '%1': it is a folder\n").arg(folder.path()).toUtf8());
    result = convert(folder.filePath(QStringLiteral("nowhere/out.srt")));
    EXPECT_EQ(result.err, QStringLiteral("Could not write '%1': there is no folder '%2'\n")
                              .arg(folder.filePath(QStringLiteral("nowhere/out.srt")),
                                   folder.filePath(QStringLiteral("nowhere")))
                              .toUtf8());
    const QByteArray original = TestSupport::readFile(input);
    result = convert(input);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains("it is the input")) << result.err.toStdString();
    EXPECT_EQ(TestSupport::readFile(input), original);

    // A full disk (a file size limit stands in for one) fails with ffmpeg's report, and no
    // part of the file is left.
    TestSupport::writeFile(input, TestSupport::manyCues(2000));
    const QString outFolder = folder.filePath(QStringLiteral("out"));
    QDir().mkpath(outFolder);
    const QString temp = folder.filePath(QStringLiteral("tmp"));
    QDir().mkpath(temp);
    result =
        convert(outFolder + QStringLiteral("/full.srt"), {QStringLiteral("TMPDIR=") + temp}, 40000);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains("File too large")) << result.err.toStdString();
    EXPECT_TRUE(TestSupport::entriesOf(outFolder).isEmpty())
        << TestSupport::entriesOf(outFolder).join(u' ').toStdString();
    EXPECT_TRUE(TestSupport::entriesOf(temp).isEmpty());

    // Ctrl-C while ffmpeg converts: no partial file, no ffmpeg, no working folder.
    TestSupport::CliRun run(
        {QStringLiteral("subtitles"), input, QStringLiteral("--out"),
         outFolder + QStringLiteral("/slow.srt")},
        {QStringLiteral("TMPDIR=") + temp,
         QStringLiteral("PATH=") +
             TestSupport::slowFfmpegFolder(folder.filePath(QStringLiteral("bin"))) + u':' +
             qEnvironmentVariable("PATH")});
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] { return !TestSupport::processesWith(outFolder).isEmpty(); }, 20000));
    run.signal(SIGINT);
    EXPECT_EQ(run.waitForExit(), 130) << run.err.toStdString();
    EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
    EXPECT_TRUE(TestSupport::entriesOf(outFolder).isEmpty())
        << TestSupport::entriesOf(outFolder).join(u' ').toStdString();
    EXPECT_TRUE(TestSupport::entriesOf(temp).isEmpty());
    EXPECT_TRUE(TestSupport::processesWith(temp).isEmpty());
}

TEST_F(MediaCommands, MissingToolsNameThePackage)
{
    const TestSupport::ProcessResult result =
        runCli({QStringLiteral("probe"), video}, {QStringLiteral("PATH=/nonexistent")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains("ffprobe")) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains("apt-get install ffmpeg")) << result.err.toStdString();
}
