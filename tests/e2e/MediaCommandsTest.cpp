// kelvorandix-cli probe and subtitles on media made at test time and on real files.
#include "Subtitles/SubtitlesParser.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
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
        TestSupport::ffmpeg({QStringLiteral("-f"),
                             QStringLiteral("lavfi"),
                             QStringLiteral("-i"),
                             QStringLiteral("testsrc=d=3:s=160x120"),
                             QStringLiteral("-f"),
                             QStringLiteral("lavfi"),
                             QStringLiteral("-i"),
                             QStringLiteral("sine=d=3"),
                             QStringLiteral("-i"),
                             folder.filePath(QStringLiteral("in.srt")),
                             QStringLiteral("-map"),
                             QStringLiteral("0"),
                             QStringLiteral("-map"),
                             QStringLiteral("1"),
                             QStringLiteral("-map"),
                             QStringLiteral("2"),
                             QStringLiteral("-c:v"),
                             QStringLiteral("libx264"),
                             QStringLiteral("-c:a"),
                             QStringLiteral("aac"),
                             QStringLiteral("-c:s"),
                             QStringLiteral("mov_text"),
                             QStringLiteral("-metadata:s:s:0"),
                             QStringLiteral("language=fre"),
                             video});
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
    EXPECT_EQ(result.err, QByteArray("Invalid subtitles or subtitles format is not supported\n"));
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
    EXPECT_EQ(result.err, QByteArray("Invalid subtitles or subtitles format is not supported\n"));
}

TEST_F(MediaCommands, MissingToolsNameThePackage)
{
    const TestSupport::ProcessResult result =
        runCli({QStringLiteral("probe"), video}, {QStringLiteral("PATH=/nonexistent")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains("ffprobe")) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains("apt-get install ffmpeg")) << result.err.toStdString();
}
