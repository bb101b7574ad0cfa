// The output container table.
#include "VideoProcessor/ContainerFormats.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

TEST(ContainerTable, AnswersTheLayoutQuestions)
{
    EXPECT_EQ(ContainerFormats::containerFormats().size(), 22);
    EXPECT_EQ(ContainerFormats::videoFileTypes().first(), QStringLiteral("mkv"));
    EXPECT_EQ(ContainerFormats::videoFileTypes().last(), QStringLiteral("mxf"));
    EXPECT_FALSE(ContainerFormats::supportsNewAudioStream(QStringLiteral("/v/a.flv")));
    EXPECT_FALSE(ContainerFormats::supportsNewSubtitlesStream(QStringLiteral("/v/a.flv")));
    EXPECT_TRUE(ContainerFormats::supportsNewAudioStream(QStringLiteral("/v/a.avi")));
    EXPECT_FALSE(ContainerFormats::supportsNewSubtitlesStream(QStringLiteral("/v/a.avi")));
    EXPECT_TRUE(ContainerFormats::supportsNewAudioStream(QStringLiteral("/v/a.webm")));
    EXPECT_TRUE(ContainerFormats::supportsNewSubtitlesStream(QStringLiteral("/v/a.webm")));
    EXPECT_EQ(ContainerFormats::containerFormat(QStringLiteral("webm")),
              (ContainerFormat{3, QStringLiteral("opus"), QStringLiteral("webvtt")}));
    EXPECT_EQ(ContainerFormats::containerFormat(QStringLiteral("mxf")),
              (ContainerFormat{1, QStringLiteral("pcm_s16le"), QString()}));
    for (const QString &path :
         {QStringLiteral("/v/a.MKV"), QStringLiteral("/v/a"), QStringLiteral("/v.mkv/a")}) {
        EXPECT_FALSE(ContainerFormats::supportsNewAudioStream(path)) << path;
        EXPECT_FALSE(ContainerFormats::supportsNewSubtitlesStream(path)) << path;
    }
}
