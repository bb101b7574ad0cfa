// Audio of any form converted to the overlay project's own.
#include "VideoProcessor/AudioConversion.h"
#include "TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(AudioConversion, AnyAudioBecomesTheProjectsPcmForm)
{
    QTemporaryDir folder;
    const QString mp3 = folder.filePath(QStringLiteral("voice.mp3"));
    TestSupport::ffmpeg("-f lavfi -i sine=d=1:sample_rate=48000 -ac 1 %1", {mp3});
    const QString aiff = folder.filePath(QStringLiteral("project_item.aiff"));
    ASSERT_TRUE(AudioConversion::convertToPCMAudio(mp3, aiff));
    const TestSupport::ProcessResult probe = TestSupport::runProgram(
        QStringLiteral("ffprobe"),
        TestSupport::words(QStringLiteral(
            "-v error -show_entries stream=codec_name,sample_rate,channels -of csv=p=0")) +
            QStringList{aiff});
    EXPECT_EQ(probe.out.trimmed(), QByteArray("pcm_s32be,44100,2"));
    EXPECT_EQ(AudioConversion::convertToPCMAudioArguments(mp3, aiff).size(), 14);
    EXPECT_FALSE(
        AudioConversion::convertToPCMAudio(folder.filePath(QStringLiteral("missing.mp3")), aiff));
}
