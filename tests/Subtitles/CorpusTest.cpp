// The parser's rules applied to real subtitle files written by others.
#include "Subtitles/SubtitlesParser.h"
#include "Subtitles/SubtitlesSeeker.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

struct CorpusCase {
    const char *file;
    int cues; // -1: the file fails to parse
    const char *why;
};

void PrintTo(const CorpusCase &c, std::ostream *os)
{
    *os << c.file;
}

const CorpusCase corpusCases[] = {
    {"astisub_example-in-carriage-return.srt", 3, "carriage returns alone end its lines"},
    {"astisub_example-in-non-utf8.srt", 6, "UTF-16 LE, malformed but readable times"},
    {"pysrt_bom-utf-16-le.srt", 7, "UTF-16 LE with its mark"},
    {"pysrt_bom-utf-16-be.srt", 7, "UTF-16 BE with its mark"},
    {"pysrt_capability_tester.srt", 37, "tags, position hints, a zero-length cue"},
    {"pysrt_overlapping-dialogues.srt", 4, "one-digit seconds, cues out of order"},
    {"pysrt_utf-8_full_film.srt", 1332, "first index 0"},
    {"subtitlejs_LaLaLand.srt", 1333, "blank and tab-only lines after the last cue"},
    {"srtparser_HouseOfCards_S02E01.srt", 811, "a cue that ends before it starts"},
    {"srtparser_213_Exodus_nul_bytes.srt", 550, "NUL characters are text"},
    {"srtparser_Zombieland_malformed_times.srt", 804, "'00:13:04, 500' skips one block"},
    {"pysrt_empty_text_cues.srt", -1, "cues without text lines"},
    {"pytitle_shameless_s03e01.srt", -1, "blank lines inside the first cue"},
    {"srtparser_MadMen_S05E10.srt", -1, "a cue without text"},
    {"stb_missing_timestamps.srt", -1, "a block without a time line"},
    {"srtparser_empty.srt", -1, "nothing but a line end"},
    {"juvo_media_player_subs_gb2312.srt", -1, "GB2312 is not UTF-8"},
    {"juvo_media_player_subs_windows-1252.srt", -1, "Windows-1252 is not UTF-8"},
    {"pysrt_windows-1252_full_film.srt", -1, "Latin-1 is not UTF-8"},
    {"pytitle_grown_ups_cp1256_full_film.srt", -1, "Windows-1256 is not UTF-8"},
    {"se_auto_detect_windows-1250_full_film.srt", -1, "Windows-1250 is not UTF-8"},
    {"se_auto_detect_windows-1251.srt", -1, "Windows-1251 is not UTF-8"},
    {"stb_japanese-shift_jis_RECONSTRUCTED.srt", -1, "Shift-JIS is not UTF-8"},
    {"stb_one-bad-byte_RECONSTRUCTED.srt", -1, "one byte that is not UTF-8"},
};

class CorpusFile : public ::testing::TestWithParam<CorpusCase> {};

std::optional<SubtitlesParser> parseCorpus(const char *name)
{
    const std::optional<QString> path = TestSupport::corpusFile(QString::fromLatin1(name));
    return path ? SubtitlesParser::fromFile(*path) : std::nullopt;
}

} // namespace

TEST_P(CorpusFile, ParsesToTheExpectedCueCount)
{
    const CorpusCase &c = GetParam();
    KELVORANDIX_REQUIRE_CORPUS(path, QString::fromLatin1(c.file));
    const std::optional<SubtitlesParser> parser = SubtitlesParser::fromFile(path);
    if (c.cues < 0) {
        EXPECT_FALSE(parser.has_value()) << c.why;
        return;
    }
    ASSERT_TRUE(parser.has_value()) << c.why;
    EXPECT_EQ(parser->subtitles.size(), c.cues) << c.why;
    // Every cue is found by the seeker at its own start, unless an earlier cue covers it.
    const SubtitlesSeeker seeker(parser->subtitles);
    for (const Subtitle &cue : parser->subtitles) {
        if (cue.end < cue.start || cue.start < 0)
            continue;
        const std::optional<Subtitle> found = seeker.seek(qint64(cue.start));
        ASSERT_TRUE(found.has_value()) << cue.start;
        EXPECT_LE(found->start, cue.start);
        EXPECT_GE(found->end, qint64(cue.start));
    }
}

INSTANTIATE_TEST_SUITE_P(Subtitles, CorpusFile, ::testing::ValuesIn(corpusCases),
                         [](const auto &info) {
                             std::string name = info.param.file;
                             for (char &ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

TEST(CorpusDetails, CarriageReturnFileGivesItsThreeCues)
{
    KELVORANDIX_REQUIRE_CORPUS(path, QStringLiteral("astisub_example-in-carriage-return.srt"));
    const QList<Subtitle> cues = SubtitlesParser::fromFile(path)->subtitles;
    ASSERT_EQ(cues.size(), 3);
    EXPECT_EQ(cues[0], (Subtitle{0,
                                 3766,
                                 {QStringLiteral("Did one of the last stories strike you as"),
                                  QStringLiteral("more interesting than the other?")},
                                 QStringLiteral("00:00:03.766")}));
    EXPECT_TRUE(cues[1].text[0].contains(QStringLiteral("don\u2019t")));
    EXPECT_EQ(cues[2].end, 14066);
}

TEST(CorpusDetails, MalformedTimesReadByTheTimeRule)
{
    KELVORANDIX_REQUIRE_CORPUS(path, QStringLiteral("astisub_example-in-non-utf8.srt"));
    const QList<Subtitle> cues = SubtitlesParser::fromFile(path)->subtitles;
    ASSERT_EQ(cues.size(), 6);
    // 00:01:39 has no milliseconds; ,04 is four hundredths.
    EXPECT_EQ(cues[0].start, 99000);
    EXPECT_EQ(cues[0].end, 101040);
    EXPECT_EQ(cues[0].endTimeStr, QStringLiteral("00:01:41,04"));
    // The position hint after the end time is dropped.
    EXPECT_EQ(cues[1].endTimeStr, QStringLiteral("00:02:07,12"));
    EXPECT_EQ(cues[1].text,
              (QStringList{QStringLiteral("MAN:"), QStringLiteral("How did we end up here?")}));
    EXPECT_EQ(cues[2].start, 132160);
    EXPECT_EQ(SubtitlesParser::plainText(cues[5].text),
              QStringLiteral("(computer playing electronic melody) "));
}

TEST(CorpusDetails, BothUtf16ByteOrdersReadTheSame)
{
    const std::optional<SubtitlesParser> le = parseCorpus("pysrt_bom-utf-16-le.srt");
    const std::optional<SubtitlesParser> be = parseCorpus("pysrt_bom-utf-16-be.srt");
    if (!TestSupport::corpusFile(QStringLiteral("pysrt_bom-utf-16-le.srt")))
        GTEST_SKIP() << "corpus not available";
    ASSERT_TRUE(le && be);
    EXPECT_EQ(le->subtitles, be->subtitles);
}

TEST(CorpusDetails, ZombielandTimesFollowTheRule)
{
    KELVORANDIX_REQUIRE_CORPUS(path, QStringLiteral("srtparser_Zombieland_malformed_times.srt"));
    const QList<Subtitle> cues = SubtitlesParser::fromFile(path)->subtitles;
    auto byEnd = [&](const QString &token) -> std::optional<Subtitle> {
        for (const Subtitle &cue : cues)
            if (cue.endTimeStr == token)
                return cue;
        return std::nullopt;
    };
    EXPECT_EQ(byEnd(QStringLiteral("00:21:004,732"))->end, 1264732);
    // A colon before the milliseconds shifts every piece: 41 h 32 min 59 s.
    EXPECT_EQ(byEnd(QStringLiteral("00:41:32:059"))->end, 149579000);
    // Two-digit milliseconds are hundredths.
    EXPECT_EQ(byEnd(QStringLiteral("00:50:19,000"))->start, 3017000);
    EXPECT_FALSE(byEnd(QStringLiteral("00:13:04,")));
}

TEST(CorpusDetails, CapabilityTesterKeepsTagsInTextAndDropsThemInPlainText)
{
    KELVORANDIX_REQUIRE_CORPUS(path, QStringLiteral("pysrt_capability_tester.srt"));
    const QList<Subtitle> cues = SubtitlesParser::fromFile(path)->subtitles;
    int zeroLength = 0;
    int tagged = 0;
    for (const Subtitle &cue : cues) {
        zeroLength += cue.start == 0 && cue.end == 0;
        if (cue.text.join(u' ').contains(u'<')) {
            ++tagged;
            EXPECT_FALSE(SubtitlesParser::plainText(cue.text).contains(QStringLiteral("<b>")));
        }
        EXPECT_FALSE(cue.endTimeStr->contains(u' '));
    }
    EXPECT_EQ(zeroLength, 1);
    EXPECT_GT(tagged, 10);
}
