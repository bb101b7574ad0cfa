// The arithmetic of fitting speech to its cue when the speech keeps pace with the subtitles.
#include "Speech/SyncFitting.h"
#include "Speech/SpeechClip.h"

#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <vector>

using Action = SyncFitting::Action;

TEST(SyncFittingTest, TheSpanBorrowsTheQuietAfterACueButNeverTheNextSlot)
{
    // A lone last cue borrows the full second; the speech begins on the cue.
    SyncFitting::Span span = SyncFitting::span(5000, 7000, std::nullopt, 0);
    EXPECT_DOUBLE_EQ(span.clipStart, 4980);
    EXPECT_DOUBLE_EQ(span.end, 8000);
    EXPECT_DOUBLE_EQ(span.speechRoom(), 3000);
    // A next cue 300 ms later: the clip ends where the next clip begins.
    span = SyncFitting::span(5000, 7000, 7300.0, 0);
    EXPECT_DOUBLE_EQ(span.end, 7280);
    // Back to back and overlapping cues keep their own slot (less the next clip's lead-in) and
    // borrow nothing.
    EXPECT_DOUBLE_EQ(SyncFitting::span(5000, 7000, 7000.0, 0).end, 6980);
    EXPECT_DOUBLE_EQ(SyncFitting::span(5000, 7000, 6500.0, 0).end, 6980);
    // A track pushed past the cue's start by the previous clip leaves less room; a cue at the
    // very start cannot begin before the track.
    span = SyncFitting::span(5000, 7000, 9000.0, 5600);
    EXPECT_DOUBLE_EQ(span.clipStart, 5600);
    EXPECT_DOUBLE_EQ(span.speechRoom(), 8000 - 5600 - 20);
    EXPECT_DOUBLE_EQ(SyncFitting::span(0, 1000, std::nullopt, 0).clipStart, 0);
    // A cue that ends before it starts has no room at all.
    EXPECT_LT(SyncFitting::span(5000, 4000, 4500.0, 0).speechRoom(), 0);
}

TEST(SyncFittingTest, TheRateIsEstimatedOnceThenVerifiedOneStepFurther)
{
    // A short cue that fits at the first rate is spoken once.
    SyncFitting fits(1500);
    EXPECT_EQ(fits.measured(200, 1500).action, Action::Use);
    EXPECT_EQ(fits.syntheses(), 1);

    // 3000 ms of speech for 2000 ms: 300 words per minute exactly, not a step more.
    SyncFitting exact(2000);
    SyncFitting::Step step = exact.measured(200, 3000);
    EXPECT_EQ(step.action, Action::Speak);
    EXPECT_FLOAT_EQ(step.rate, 300);
    EXPECT_EQ(exact.measured(300, 1990).action, Action::Use);
    EXPECT_EQ(exact.syntheses(), 2);

    // Rounded up to the next step; still long at the estimate, one step more; still long, then
    // it is compressed, never with a fourth utterance.
    SyncFitting longCue(2000);
    step = longCue.measured(200, 2300);
    EXPECT_EQ(step.action, Action::Speak);
    EXPECT_FLOAT_EQ(step.rate, 240);
    step = longCue.measured(240, 2100);
    EXPECT_EQ(step.action, Action::Speak);
    EXPECT_FLOAT_EQ(step.rate, 260);
    step = longCue.measured(260, 2050);
    EXPECT_EQ(step.action, Action::Compress);
    EXPECT_DOUBLE_EQ(step.tempo, 2050.0 / 2000.0);
    EXPECT_EQ(longCue.syntheses(), 3);
}

TEST(SyncFittingTest, CompressionIsTheLastResortAndCapped)
{
    // Far too long: the estimate is the top rate, after which there is no step more.
    SyncFitting tooLong(1000);
    SyncFitting::Step step = tooLong.measured(200, 4000);
    EXPECT_FLOAT_EQ(step.rate, SyncFitting::topRate);
    step = tooLong.measured(SyncFitting::topRate, 2400);
    EXPECT_EQ(step.action, Action::Compress);
    EXPECT_DOUBLE_EQ(step.tempo, SyncFitting::tempoLimit);
    EXPECT_EQ(tooLong.syntheses(), 2);

    // No room at all (a cue ending before it starts) still gets at most the cap.
    SyncFitting noRoom(-20);
    EXPECT_FLOAT_EQ(noRoom.measured(200, 800).rate, SyncFitting::topRate);
    EXPECT_DOUBLE_EQ(noRoom.measured(SyncFitting::topRate, 500).tempo, SyncFitting::tempoLimit);
    EXPECT_DOUBLE_EQ(SyncFitting::tempoFor(900, 1000), 1.0);
}

TEST(SyncFittingTest, LongPausesInsideTheSpeechAreShortenedFromTheirMiddle)
{
    // 10 ms of quiet, 200 ms of voice, a 300 ms pause, 200 ms of voice, a 50 ms gap, 200 ms of
    // voice and 100 ms of quiet, at 1 kHz: one frame per millisecond.
    std::vector<short> frames;
    const auto quiet = [&](int ms) { frames.insert(frames.end(), size_t(ms), 0); };
    const auto voice = [&](int ms, short level) {
        for (int i = 0; i < ms; ++i)
            frames.push_back(short(i % 2 ? level : -level));
    };
    quiet(10);
    voice(200, 1000);
    quiet(300);
    voice(200, 2000);
    quiet(50);
    voice(200, 3000);
    quiet(100);
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("clip.wav"));
    SF_INFO info{};
    info.samplerate = 1000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *out = sf_open(file.toUtf8().constData(), SFM_WRITE, &info);
    ASSERT_NE(out, nullptr);
    sf_writef_short(out, frames.data(), sf_count_t(frames.size()));
    sf_close(out);

    SpeechClip clip(file);
    EXPECT_DOUBLE_EQ(clip.speechMs(), 950);
    clip.shortenPauses(SyncFitting::longestPause);
    // Only the long pause is cut, down to the longest kept; the short gap and the quiet around
    // the speech stay.
    EXPECT_DOUBLE_EQ(clip.speechMs(), 950 - 300 + SyncFitting::longestPause);
    EXPECT_DOUBLE_EQ(clip.onsetMs(), 10);
    EXPECT_DOUBLE_EQ(clip.lengthMs(), 1060 - 300 + SyncFitting::longestPause);

    // The voice itself is untouched: every loud frame is still there, in order.
    clip.write(file);
    SNDFILE *in = sf_open(file.toUtf8().constData(), SFM_READ, &info);
    ASSERT_NE(in, nullptr);
    std::vector<short> read(size_t(info.frames));
    sf_readf_short(in, read.data(), info.frames);
    sf_close(in);
    std::vector<short> loudBefore;
    std::vector<short> loudAfter;
    std::copy_if(frames.begin(), frames.end(), std::back_inserter(loudBefore),
                 [](short s) { return s != 0; });
    std::copy_if(read.begin(), read.end(), std::back_inserter(loudAfter),
                 [](short s) { return s != 0; });
    EXPECT_EQ(loudBefore, loudAfter);
}
