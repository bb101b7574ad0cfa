#include "Subtitles/SubtitlesSeeker.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

Subtitle cue(double start, double end, const QString &text)
{
    return Subtitle{start, end, {text}, std::nullopt};
}

QString textAt(const SubtitlesSeeker &seeker, qint64 ms)
{
    const std::optional<Subtitle> found = seeker.seek(ms);
    return found ? found->text.value(0) : QStringLiteral("<none>");
}

} // namespace

TEST(SubtitlesSeeker, EmptyListFindsNothing)
{
    const SubtitlesSeeker seeker({});
    for (qint64 ms : {0LL, 5000LL, -1LL, 10000000LL})
        EXPECT_FALSE(seeker.seek(ms).has_value());
}

TEST(SubtitlesSeeker, BoundsAreInclusiveAndGapsFindNothing)
{
    const SubtitlesSeeker seeker(
        {cue(12000, 15000, QStringLiteral("a")), cue(16000, 17000, QStringLiteral("b"))});
    EXPECT_EQ(textAt(seeker, 11999), QStringLiteral("<none>"));
    EXPECT_EQ(textAt(seeker, 12000), QStringLiteral("a"));
    EXPECT_EQ(textAt(seeker, 15000), QStringLiteral("a"));
    EXPECT_EQ(textAt(seeker, 15001), QStringLiteral("<none>"));
    EXPECT_EQ(textAt(seeker, 15500), QStringLiteral("<none>"));
    EXPECT_EQ(textAt(seeker, 16000), QStringLiteral("b"));
    const std::optional<Subtitle> found = seeker.seek(13000);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, cue(12000, 15000, QStringLiteral("a")));
}

TEST(SubtitlesSeeker, EarlierCueInTheFileWinsWhereCuesMeetOrOverlap)
{
    const SubtitlesSeeker seeker({cue(1000, 5000, QStringLiteral("first")),
                                  cue(3000, 8000, QStringLiteral("second")),
                                  cue(8000, 9000, QStringLiteral("third"))});
    EXPECT_EQ(textAt(seeker, 4000), QStringLiteral("first"));
    EXPECT_EQ(textAt(seeker, 6000), QStringLiteral("second"));
    EXPECT_EQ(textAt(seeker, 8000), QStringLiteral("second"));
    EXPECT_EQ(textAt(seeker, 8001), QStringLiteral("third"));
}

TEST(SubtitlesSeeker, FractionsAreTruncatedWhenFiled)
{
    const SubtitlesSeeker seeker({cue(11999.9, 15000.9, QStringLiteral("a"))});
    EXPECT_EQ(textAt(seeker, 11999), QStringLiteral("a"));
    EXPECT_EQ(textAt(seeker, 15000), QStringLiteral("a"));
    EXPECT_EQ(textAt(seeker, 15001), QStringLiteral("<none>"));
}

TEST(SubtitlesSeeker, CuesAcrossBucketBoundariesAreFoundThroughout)
{
    const SubtitlesSeeker seeker({cue(9500, 12000, QStringLiteral("across")),
                                  cue(10500, 31000, QStringLiteral("long")),
                                  cue(19000, 21000, QStringLiteral("later"))});
    EXPECT_EQ(textAt(seeker, 9500), QStringLiteral("across"));
    EXPECT_EQ(textAt(seeker, 10000), QStringLiteral("across"));
    EXPECT_EQ(textAt(seeker, 12000), QStringLiteral("across"));
    EXPECT_EQ(textAt(seeker, 12001), QStringLiteral("long"));
    EXPECT_EQ(textAt(seeker, 20000), QStringLiteral("long"));
    EXPECT_EQ(textAt(seeker, 30999), QStringLiteral("long"));
    EXPECT_EQ(textAt(seeker, 31001), QStringLiteral("<none>"));
}

TEST(SubtitlesSeeker, NegativeAndHugeSpansStayCorrect)
{
    const SubtitlesSeeker seeker({cue(-15000, -12000, QStringLiteral("before")),
                                  cue(-500, 500, QStringLiteral("zero")),
                                  cue(100, 1e300, QStringLiteral("forever")),
                                  cue(7200000, 7201000, QStringLiteral("hidden")),
                                  cue(50, 40, QStringLiteral("backwards"))});
    EXPECT_EQ(textAt(seeker, -13000), QStringLiteral("before"));
    EXPECT_EQ(textAt(seeker, -100), QStringLiteral("zero"));
    EXPECT_EQ(textAt(seeker, 300), QStringLiteral("zero"));
    EXPECT_EQ(textAt(seeker, 600), QStringLiteral("forever"));
    // The earlier cue wins even when it sits in the list of very long cues.
    EXPECT_EQ(textAt(seeker, 7200500), QStringLiteral("forever"));
    EXPECT_EQ(textAt(seeker, 45), QStringLiteral("zero"));
}

TEST(SubtitlesSeeker, LongCueDoesNotHideAnEarlierShortOne)
{
    const SubtitlesSeeker seeker(
        {cue(5000000, 5001000, QStringLiteral("short")), cue(0, 1e12, QStringLiteral("forever"))});
    EXPECT_EQ(textAt(seeker, 5000500), QStringLiteral("short"));
    EXPECT_EQ(textAt(seeker, 5001001), QStringLiteral("forever"));
}
