#include "Subtitles/SubtitlesParser.h"
#include "Subtitles/Time.h"
#include "TestSupport.h"

#include <QStringEncoder>
#include <gtest/gtest.h>

namespace {

const QString twoCues = QStringLiteral("1\n00:00:01,000 --> 00:00:02,500\nHello\n\n"
                                       "2\n00:00:03,000 --> 00:00:04,000\n<i>Two</i>\nlines\n");

QList<Subtitle> cuesOf(const QString &text)
{
    const std::optional<SubtitlesParser> parser = SubtitlesParser::fromText(text);
    EXPECT_TRUE(parser.has_value()) << text.toStdString();
    return parser ? parser->subtitles : QList<Subtitle>{};
}

bool fails(const QString &text)
{
    return !SubtitlesParser::fromText(text).has_value();
}

// What a refusal of text says (empty when it parses).
QString problemOf(const QString &text)
{
    QString problem;
    const bool parsed = SubtitlesParser::fromText(text, &problem).has_value();
    return parsed ? QString() : problem;
}

QList<double> startsOf(const QList<Subtitle> &cues)
{
    QList<double> starts;
    for (const Subtitle &cue : cues)
        starts.append(cue.start);
    return starts;
}

} // namespace

TEST(SubtitlesParser, ReadsCueFieldsExactlyAsWritten)
{
    const QList<Subtitle> cues = cuesOf(twoCues);
    ASSERT_EQ(cues.size(), 2);
    EXPECT_EQ(cues[0],
              (Subtitle{1000, 2500, {QStringLiteral("Hello")}, QStringLiteral("00:00:02,500")}));
    EXPECT_EQ(cues[1].text, (QStringList{QStringLiteral("<i>Two</i>"), QStringLiteral("lines")}));
    EXPECT_EQ(cues[1].endTimeStr, QStringLiteral("00:00:04,000"));
}

TEST(SubtitlesParser, LineEndStylesParseAlike)
{
    const QList<Subtitle> plain = cuesOf(twoCues);
    QString crlf = twoCues;
    crlf.replace(u'\n', QStringLiteral("\r\n"));
    EXPECT_EQ(cuesOf(crlf), plain);
    // Carriage returns alone would otherwise leave one block holding every cue.
    QString cr = twoCues;
    cr.replace(u'\n', u'\r');
    EXPECT_EQ(cuesOf(cr), plain);
    // Blank lines before the first cue and after the last are ignored.
    EXPECT_EQ(cuesOf(QStringLiteral("\n\n  \n") + twoCues + QStringLiteral("\n\n \t\n\n")), plain);
}

TEST(SubtitlesParser, DetectTypeLooksAtTheFirstCueShape)
{
    EXPECT_EQ(SubtitlesParser::detectType(QString()), SubtitleType::Unknown);
    EXPECT_EQ(SubtitlesParser::detectType(QStringLiteral(" \n\t \n")), SubtitleType::Unknown);
    EXPECT_EQ(SubtitlesParser::detectType(twoCues), SubtitleType::SubRip);
    EXPECT_EQ(SubtitlesParser::detectType(QStringLiteral("\n\n1\n\n00:00:01,000 --> 00:00:02,000")),
              SubtitleType::SubRip);
    EXPECT_EQ(SubtitlesParser::detectType(QStringLiteral("WEBVTT\n\n00:01.000 --> 00:02.000\nHi")),
              SubtitleType::Unknown);
    EXPECT_EQ(SubtitlesParser::detectType(QStringLiteral("1\n00:00:01,000-->00:00:02,000\nHi")),
              SubtitleType::Unknown);
    // Only the first time line counts: a line end stops the scanned run.
    EXPECT_EQ(SubtitlesParser::detectType(QStringLiteral("1\n00:00:01,000\n --> 00:00:02,000\n")),
              SubtitleType::Unknown);
    EXPECT_EQ(SubtitlesParser::detectType(
                  QStringLiteral("1\n00:00:01,000 --> 00:00:02,000 --> 00:00:03,000\nHi")),
              SubtitleType::Unknown);
    EXPECT_TRUE(fails(QString()));
    EXPECT_TRUE(fails(QStringLiteral("   \n  ")));
}

TEST(SubtitlesParser, ShapeFaultsFailTheWholeFileNamingTheirLine)
{
    // A cue with an index and a time line but no text: its last line is named.
    EXPECT_EQ(problemOf(QStringLiteral("1\n00:00:01,000 --> 00:00:02,000\nA\n\n"
                                       "2\n00:00:03,000 --> 00:00:04,000\n\n"
                                       "3\n00:00:05,000 --> 00:00:06,000\nC\n")),
              QStringLiteral("line 6: '00:00:03,000 --> 00:00:04,000'"));
    // Four line feeds in a row leave an empty block.
    EXPECT_EQ(problemOf(QStringLiteral("1\n00:00:01,000 --> 00:00:02,000\nA\n\n\n\n"
                                       "2\n00:00:03,000 --> 00:00:04,000\nB\n")),
              QStringLiteral("line 5: ''"));
    // A later cue without blanks around its arrow, after leading blank lines and with Windows
    // or old Mac line ends, which number lines alike.
    for (const QString &end : {QStringLiteral("\n"), QStringLiteral("\r\n"), QStringLiteral("\r")})
        EXPECT_EQ(problemOf(QStringLiteral("\n \n1\n00:00:01,000 --> 00:00:02,000\nA\n\n"
                                           "2\n00:00:03,000-->00:00:04,000\nB\n")
                                .replace(u'\n', end)),
                  QStringLiteral("line 8: '00:00:03,000-->00:00:04,000'"));
    // A head that is not SubRip names the line where it stops being SubRip.
    EXPECT_EQ(problemOf(QStringLiteral("WEBVTT\n\n00:01.000 --> 00:02.000\nA\n")),
              QStringLiteral("line 1: 'WEBVTT'"));
    EXPECT_EQ(problemOf(QStringLiteral("\n1\n00:00:01,000 -> 00:00:02,000\nA\n")),
              QStringLiteral("line 3: '00:00:01,000 -> 00:00:02,000'"));
    EXPECT_EQ(problemOf(QStringLiteral(" \n ")), QStringLiteral("it holds no text"));
}

TEST(SubtitlesParser, UnreadableNumbersSkipTheirBlockOnly)
{
    const QList<Subtitle> cues = cuesOf(QStringLiteral("1\n00:00:01,000 --> 00:00:02,000\nA\n\n"
                                                       "12 \n00:00:03,000 --> 00:00:04,000\nB\n\n"
                                                       "x\n00:00:05,000 --> 00:00:06,000\nC\n\n"
                                                       "4\nab:cd:ef,ghi --> 00:00:08,000\nD\n\n"
                                                       "5\n00:00:09,000 --> soon\nE\n\n"
                                                       "6\n00:00:11,000 --> 00:00:12,000\nF\n"));
    EXPECT_EQ(startsOf(cues), (QList<double>{1000, 11000}));

    // Every index line ends in a blank: nothing read, and no failure.
    const std::optional<SubtitlesParser> none =
        SubtitlesParser::fromText(QStringLiteral("1 \n00:00:01,000 --> 00:00:02,000\nA\n\n"
                                                 "2 \n00:00:03,000 --> 00:00:04,000\nB\n"));
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->subtitles.isEmpty());
}

TEST(SubtitlesParser, ThreeLineFeedsStartTheNextBlockWithAnEmptyLine)
{
    const QList<Subtitle> cues = cuesOf(QStringLiteral("1\n00:00:01,000 --> 00:00:02,000\nA\n\n\n"
                                                       "2\n00:00:03,000 --> 00:00:04,000\nB\n\n"
                                                       "3\n00:00:05,000 --> 00:00:06,000\nC\n"));
    EXPECT_EQ(startsOf(cues), (QList<double>{1000, 5000}));
}

TEST(SubtitlesParser, TimeLineVariants)
{
    const QList<Subtitle> cues =
        cuesOf(QStringLiteral("1\n00:00:01,000 --> 00:00:02,000 X1:10 X2:20\nA\n\n"
                              "2\n00:00:01.500 --> 00:00:03.25\nB\n\n"
                              "3\n1:02:03,4 --> 1:02:04,000\nC\n\n"
                              "4\n00:00:30,000 --> 00:00:20,000\nBackwards\n"));
    ASSERT_EQ(cues.size(), 4);
    EXPECT_EQ(cues[0].end, 2000);
    EXPECT_EQ(cues[0].endTimeStr, QStringLiteral("00:00:02,000"));
    EXPECT_EQ(cues[1].start, 1500);
    EXPECT_EQ(cues[1].end, 3250);
    EXPECT_EQ(cues[2].start, 3723400);
    // Cues keep the order of the file and are not checked for sense.
    EXPECT_EQ(cues[3].start, 30000);
    EXPECT_EQ(cues[3].end, 20000);
}

TEST(SubtitlesParser, FileOrderIsKeptAndInnerEmptyLinesStay)
{
    const QList<Subtitle> cues =
        cuesOf(QStringLiteral("7\n00:00:09,000 --> 00:00:10,000\nLate\n\n"
                              "3\n00:00:01,000 --> 00:00:02,000\nEarly\r\rline\n"));
    EXPECT_EQ(startsOf(cues), (QList<double>{9000, 1000}));
    EXPECT_EQ(cues[1].text,
              (QStringList{QStringLiteral("Early"), QString(), QStringLiteral("line")}));
}

TEST(SubtitlesParser, OtherLineEndCharactersSplitLinesInsideABlock)
{
    const QList<Subtitle> cues = cuesOf(
        QStringLiteral("1\n00:00:01,000 --> 00:00:02,000\nA\u2028B\u000BC\u0085D\u2029E\u000CF\n"));
    ASSERT_EQ(cues.size(), 1);
    EXPECT_EQ(cues[0].text.join(u'|'), QStringLiteral("A|B|C|D|E|F"));
}

TEST(TimeParse, ReadsHoursMinutesAndSeconds)
{
    EXPECT_EQ(Time::parse(u"00:00:04,000")->milliseconds, 4000);
    EXPECT_EQ(Time::parse(u"00:02:01.5")->milliseconds, 121500);
    EXPECT_EQ(Time::parse(u"7,25")->milliseconds, 7250);
    EXPECT_EQ(Time::parse(u"10:00")->milliseconds, 600000);
    EXPECT_EQ(Time::parse(u"99:00:00:01")->milliseconds, 1000);
    EXPECT_EQ(Time::parse(u"-00:00:01.5")->milliseconds, 1500);
    EXPECT_EQ(Time::parse(u"-01:00:00,000")->milliseconds, -3600000);
}

TEST(TimeParse, UnreadablePiecesEndTheReading)
{
    EXPECT_EQ(Time::parse(u"xx:05,000")->milliseconds, 5000);
    // Unreadable minutes stop before the hours are looked at.
    EXPECT_EQ(Time::parse(u"01:x:05,000")->milliseconds, 5000);
    EXPECT_EQ(Time::parse(u"x:01:05,000")->milliseconds, 65000);
    EXPECT_EQ(Time::parse(u" 1:05")->milliseconds, 5000);
    EXPECT_FALSE(Time::parse(u"00:00:05,"));
    EXPECT_FALSE(Time::parse(u"00:00:"));
    EXPECT_FALSE(Time::parse(u""));
    EXPECT_FALSE(Time::parse(u"00:00:04,000 "));
    EXPECT_FALSE(Time::parse(u"N/A"));
}

TEST(ParseDecimal, AcceptsOnlySignDigitsAndOneSeparator)
{
    EXPECT_EQ(SubtitlesParser::parseDecimal(u".5"), 0.5);
    EXPECT_EQ(SubtitlesParser::parseDecimal(u"+1,25"), 1.25);
    EXPECT_EQ(SubtitlesParser::parseDecimal(u"-3"), -3);
    EXPECT_EQ(SubtitlesParser::parseDecimal(u"007"), 7);
    for (const char16_t *bad : {u"5.", u"1.2.3", u"", u"+", u" 1", u"1 ", u"1e3", u"0x10", u"１"})
        EXPECT_FALSE(SubtitlesParser::parseDecimal(bad)) << QString::fromUtf16(bad).toStdString();
    // Too many digits for a double reads as the C library reads it, not as a failure.
    EXPECT_TRUE(qIsInf(*SubtitlesParser::parseDecimal(QString(400, u'9'))));
}

TEST(ParseInteger, IsStrict)
{
    EXPECT_EQ(SubtitlesParser::parseInteger(u"12"), 12);
    EXPECT_EQ(SubtitlesParser::parseInteger(u"+12"), 12);
    EXPECT_EQ(SubtitlesParser::parseInteger(u"-9223372036854775808"),
              std::numeric_limits<qint64>::min());
    for (const char16_t *bad : {u"", u"-", u"12 ", u" 12", u"1a", u"9223372036854775808", u"٣"})
        EXPECT_FALSE(SubtitlesParser::parseInteger(bad)) << QString::fromUtf16(bad).toStdString();
}

TEST(PlainText, JoinsLinesWithTrailingBlanksAndDropsTags)
{
    EXPECT_EQ(SubtitlesParser::plainText({QStringLiteral("<i>Hello</i>"), QStringLiteral("world")}),
              QStringLiteral("Hello world "));
    EXPECT_EQ(SubtitlesParser::plainText({}), QString());
    EXPECT_EQ(SubtitlesParser::plainText({QStringLiteral("<font color=\"#ff0\">a < b</font>")}),
              QStringLiteral("a  "));
    EXPECT_EQ(SubtitlesParser::plainText({QStringLiteral("x <> y <b"), QStringLiteral("c>")}),
              QStringLiteral("x <> y  "));
}

class SubtitlesFileTest : public ::testing::Test {
protected:
    QString write(const QByteArray &bytes)
    {
        const QString path = folder.filePath(QStringLiteral("cues %1 ünï.srt").arg(++count));
        TestSupport::writeFile(path, bytes);
        return path;
    }
    QTemporaryDir folder;
    int count = 0;
};

TEST_F(SubtitlesFileTest, ByteOrderMarksChooseTheEncoding)
{
    const QString text = QStringLiteral("1\n00:00:01,000 --> 00:00:02,000\nПривет, ça va? 日本\n");
    const QList<Subtitle> expected = cuesOf(text);
    const QList<std::pair<QStringConverter::Encoding, QByteArray>> encodings = {
        {QStringConverter::Utf8, QByteArray()},
        {QStringConverter::Utf8, QByteArray("\xEF\xBB\xBF")},
        {QStringConverter::Utf16LE, QByteArray("\xFF\xFE")},
        {QStringConverter::Utf16BE, QByteArray("\xFE\xFF")},
        {QStringConverter::Utf32LE, QByteArray("\xFF\xFE\x00\x00", 4)},
        {QStringConverter::Utf32BE, QByteArray("\x00\x00\xFE\xFF", 4)},
    };
    for (const auto &[encoding, mark] : encodings) {
        QStringEncoder encoder(encoding, QStringConverter::Flag::Stateless);
        const QByteArray body = encoder.encode(text);
        const std::optional<SubtitlesParser> parser = SubtitlesParser::fromFile(write(mark + body));
        ASSERT_TRUE(parser.has_value()) << "encoding " << int(encoding) << " mark " << mark.size();
        EXPECT_EQ(parser->subtitles, expected);
    }
}

TEST_F(SubtitlesFileTest, TextThatIsNotValidFailsCreation)
{
    // Windows-1252 bytes are not UTF-8: the refusal names their line.
    QString problem;
    EXPECT_FALSE(
        SubtitlesParser::fromFile(write("1\n00:00:01,000 --> 00:00:02,000\nCaf\xE9\n"), &problem));
    EXPECT_EQ(problem, QStringLiteral("line 3 is not valid UTF-8 text"));
    // UTF-16 with a byte missing at the end.
    EXPECT_FALSE(SubtitlesParser::fromFile(write(QByteArray("\xFF\xFE"
                                                            "1\0\n",
                                                            6))));
    EXPECT_FALSE(SubtitlesParser::fromFile(folder.filePath(QStringLiteral("missing.srt"))));
    EXPECT_FALSE(SubtitlesParser::fromFile(folder.path()));
    EXPECT_FALSE(SubtitlesParser::fromFile(write(QByteArray())));
}
