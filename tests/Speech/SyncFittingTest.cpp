// The arithmetic of fitting speech to its cue when the speech keeps pace with the subtitles.
#include "Speech/SyncFitting.h"

#include <gtest/gtest.h>

using Action = SyncFitting::Action;

TEST(SyncFittingTest, TheSpanBorrowsTheQuietAfterACueButNeverTheNextSlot)
{
    // A lone last cue borrows the full second; the speech begins on the cue.
    SyncFitting::Span span = SyncFitting::span(5000, 7000, std::nullopt, 0);
    EXPECT_DOUBLE_EQ(span.clipStart, 4980);
    EXPECT_DOUBLE_EQ(span.end, 8000);
    EXPECT_DOUBLE_EQ(span.speechRoom(), 2980);
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
    EXPECT_DOUBLE_EQ(span.speechRoom(), 8000 - 5600 - 40);
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
    SyncFitting noRoom(-40);
    EXPECT_FLOAT_EQ(noRoom.measured(200, 800).rate, SyncFitting::topRate);
    EXPECT_DOUBLE_EQ(noRoom.measured(SyncFitting::topRate, 500).tempo, SyncFitting::tempoLimit);
    EXPECT_DOUBLE_EQ(SyncFitting::tempoFor(900, 1000), 1.0);
}
