// Short clips on the audio-only player: from memory or from a file, every play ends in finished,
// whether or not there is a sound server to play it on.
#include "AudioClipPlayer.h"
#include "TestSupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

TEST(AudioClipPlayerTest, EveryClipEndsInFinishedOnce)
{
    QTemporaryDir folder;
    const QString tone = folder.filePath(QStringLiteral("tone.wav"));
    TestSupport::generateTone(tone, 44100, 1, 0.5, QStringLiteral("pcm_s16le"));
    AudioClipPlayer player;
    QSignalSpy finished(&player, &AudioClipPlayer::finished);
    QSignalSpy durations(&player, &AudioClipPlayer::durationKnown);

    player.play(TestSupport::readFile(tone));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !finished.isEmpty(); }, 30000));
    ASSERT_EQ(durations.size(), 1);
    EXPECT_NEAR(durations.first().at(0).toLongLong(), 500, 30);
    EXPECT_FALSE(player.isPlaying());

    player.playFile(tone);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return finished.size() == 2; }, 30000));
    EXPECT_EQ(finished.at(0), finished.at(1)) << "memory and file clips end alike";

    // Bytes that are no audio at all end without success.
    player.play(QByteArray(4096, 'x'));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return finished.size() == 3; }, 30000));
    EXPECT_FALSE(finished.at(2).at(0).toBool());

    // A stopped clip ends without finished.
    player.playFile(tone);
    player.stop();
    QTest::qWait(1500);
    EXPECT_EQ(finished.size(), 3);
}

} // namespace
