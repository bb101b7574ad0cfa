// Peak measuring and raising audio to full scale, with the real ffmpeg on media made at test time.
#include "VideoProcessor/VolumeTools.h"
#include "TestSupport.h"
#include "VideoProcessor/ToolProcess.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using TestSupport::words;

TEST(VolumeTools, PeakAndGainTexts)
{
    EXPECT_EQ(VolumeTools::parseMaxVolume(
                  QStringLiteral("[Parsed_volumedetect_0 @ 0x55] mean_volume: -20.1 dB\n"
                                 "[Parsed_volumedetect_0 @ 0x55] max_volume: -6.4 dB\n")),
              -6.4);
    EXPECT_EQ(VolumeTools::parseMaxVolume(QStringLiteral("x  max_volume: -3.5 dB\r")), -3.5);
    EXPECT_FALSE(VolumeTools::parseMaxVolume(QStringLiteral("max_volume: -3.5\n")));
    EXPECT_FALSE(VolumeTools::parseMaxVolume(QStringLiteral("max_volume: loud dB\n")));
    EXPECT_FALSE(VolumeTools::parseMaxVolume(QStringLiteral("Output file is empty\n")));
    EXPECT_EQ(VolumeTools::gainText(-6.4), QStringLiteral("6.4"));
    EXPECT_EQ(VolumeTools::gainText(-12), QStringLiteral("12.0"));
    EXPECT_EQ(VolumeTools::gainText(-3.5), QStringLiteral("3.5"));
    EXPECT_EQ(VolumeTools::gainText(0.5), QStringLiteral("-0.5"));
    EXPECT_EQ(VolumeTools::detectMaxVolumeArguments(QStringLiteral("/f.mkv")).size(), 11);
    EXPECT_EQ(VolumeTools::parseMaxVolumes(
                  QStringLiteral("[Parsed_volumedetect_0 @ 0x1] max_volume: -17.7 dB\n"
                                 "[Parsed_volumedetect_1 @ 0x2] max_volume: -13.5 dB\n")),
              (QList<double>{-17.7, -13.5}));
    EXPECT_EQ(VolumeTools::maximizeVideoVolumeArguments(QStringLiteral("/v/a.mp4"), -3.5,
                                                        QStringLiteral("/v/t.mp4")),
              words(QStringLiteral("-i file:/v/a.mp4 -map 0 -c copy -c:a aac -filter:a "
                                   "volume=3.5dB -strict -2 -y file:/v/t.mp4")));
}

TEST(VolumeTools, MaximizingAVideoKeepsEveryStreamAndRaisesEveryAudio)
{
    QTemporaryDir folder;
    const QString cues = folder.filePath(QStringLiteral("cues.srt"));
    TestSupport::writeFile(cues, "1\n00:00:00,500 --> 00:00:01,500\nHi\n");
    // Two audio streams at different levels (the louder peaks near -14 dB), two subtitle
    // streams; languages and default marks that are not ffmpeg's own choice.
    const QString video = folder.filePath(QStringLiteral("two voices.mkv"));
    TestSupport::ffmpeg(
        words(QStringLiteral("-f lavfi -i testsrc=d=3:s=160x120 -f lavfi -i "
                             "sine=d=3:f=440 -f lavfi -i sine=d=3:f=880")) +
        QStringList{QStringLiteral("-i"), cues, QStringLiteral("-i"), cues} +
        words(QStringLiteral("-map 0 -map 1 -map 2 -map 3 -map 4 -filter:a:0 volume=0.2 "
                             "-filter:a:1 volume=0.4 -c:v libx264 -c:a aac -c:s srt "
                             "-metadata:s:a:0 language=eng -metadata:s:a:1 language=spa "
                             "-metadata:s:s:0 language=fra -metadata:s:s:1 language=deu "
                             "-disposition:a:0 0 -disposition:a:1 default -disposition:s:0 0 "
                             "-disposition:s:1 default")) +
        QStringList{video});
    auto streams = [](const QString &path) {
        return QString::fromUtf8(
            TestSupport::runProgram(
                QStringLiteral("ffprobe"),
                words(QStringLiteral("-v error -show_entries stream=codec_type:stream_tags="
                                     "language:stream_disposition=default -of csv=p=0")) +
                    QStringList{path})
                .out);
    };
    const QString before = streams(video);
    const double quiet = TestSupport::meanVolume(video, 0.5, 2, 0);
    const double loud = TestSupport::meanVolume(video, 0.5, 2, 1);

    std::optional<std::pair<bool, QString>> completion;
    const auto run =
        VolumeTools::maximizeVideoVolume(video, {}, [&](bool ok, const QString &message) {
            completion = std::make_pair(ok, message);
        });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return completion.has_value(); }));
    EXPECT_EQ(completion, std::make_pair(true, QString()));
    EXPECT_EQ(streams(video), before);
    // Both raised by the same gain: the louder one to full scale, the other as much.
    const double raised = TestSupport::meanVolume(video, 0.5, 2, 1) - loud;
    EXPECT_GT(raised, 10);
    EXPECT_NEAR(TestSupport::meanVolume(video, 0.5, 2, 0) - quiet, raised, 1.0);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), 2);
}

TEST(VolumeTools, SpeechTrackIsRaisedToFullScaleInPlace)
{
    QTemporaryDir folder;
    const QString track = folder.filePath(QStringLiteral("speech.aiff"));
    // A sine at half amplitude peaks at about -6 dB.
    TestSupport::ffmpeg("-f lavfi -i aevalsrc=0.5*sin(2*PI*440*t):s=22050:d=1 -c:a pcm_s16be %1",
                        {track});
    const std::optional<double> before = VolumeTools::detectMaxVolume(track);
    ASSERT_TRUE(before.has_value());
    EXPECT_NEAR(*before, -6.0, 0.5);
    VolumeTools::maximizeVolume(track);
    const std::optional<double> after = VolumeTools::detectMaxVolume(track);
    ASSERT_TRUE(after.has_value());
    EXPECT_NEAR(*after, 0.0, 0.2);
    EXPECT_FALSE(QFile::exists(folder.filePath(QStringLiteral("speech_max.aiff"))));
    // Already at full scale: untouched.
    const QByteArray full = TestSupport::readFile(track);
    if (*after == 0.0) {
        VolumeTools::maximizeVolume(track);
        EXPECT_EQ(TestSupport::readFile(track), full);
    }
    // Not audio: untouched, and no report.
    const QString text = folder.filePath(QStringLiteral("notes.aiff"));
    TestSupport::writeFile(text, "not audio");
    VolumeTools::maximizeVolume(text);
    EXPECT_EQ(TestSupport::readFile(text), QByteArray("not audio"));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), 2);
}

TEST(VolumeTools, VideoWithoutAudioNeedsNoPass)
{
    QTemporaryDir folder;
    const QString video = folder.filePath(QStringLiteral("silent.mp4"));
    TestSupport::ffmpeg("-f lavfi -i testsrc=d=1:s=160x120 -c:v libx264 %1", {video});
    std::optional<std::pair<bool, QString>> completion;
    const auto run =
        VolumeTools::maximizeVideoVolume(video, {}, [&](bool ok, const QString &message) {
            completion = std::make_pair(ok, message);
        });
    EXPECT_EQ(run, nullptr);
    EXPECT_EQ(completion, std::make_pair(true, QString()));
}
