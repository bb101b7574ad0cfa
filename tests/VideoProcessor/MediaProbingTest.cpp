// Probing, subtitle extraction and conversion with the real ffmpeg and ffprobe on media made at
// test time.
#include "Subtitles/SubtitlesParser.h"
#include "TestSupport.h"
#include "VideoProcessor/MediaProbe.h"
#include "VideoProcessor/SubtitleSources.h"

#include <QStringEncoder>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QByteArray srt = "1\n00:00:00,500 --> 00:00:01,500\nFirst line\n\n"
                       "2\n00:00:02,000 --> 00:00:03,250\nSecond line\nwith two rows\n";
const QByteArray ass =
    "[Script Info]\nScriptType: v4.00+\n\n[V4+ Styles]\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
    "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
    "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
    "Style: Default,Arial,20,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,"
    "100,0,0,1,1,0,2,10,10,10,1\n\n[Events]\n"
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
    "Dialogue: 0,0:00:00.50,0:00:01.50,Default,,0,0,0,,Bonjour\n";

class MediaToolsTest : public ::testing::Test {
protected:
    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = folder.filePath(name);
        TestSupport::writeFile(path, bytes);
        return path;
    }
    QTemporaryDir folder;
};

} // namespace

TEST_F(MediaToolsTest, MatroskaStreamsProbeToTheChooserLists)
{
    const QString video = folder.filePath(QStringLiteral("film with spaces ü.mkv"));
    TestSupport::ffmpeg(
        "-f lavfi -i testsrc=d=2:s=160x120 -f lavfi -i sine=d=2 -f lavfi -i "
        "sine=f=880:d=2 -i %1 -i %2 -map 0 -map 1 -map 2 -map 3 -map 4 -c:v "
        "libx264 -c:a aac -c:s:0 srt -c:s:1 ass -disposition:v:0 default "
        "-disposition:a:0 0 -disposition:a:1 default -disposition:s:0 0 "
        "-disposition:s:1 0 -metadata:s:a:1 language=eng -metadata:s:s:0 "
        "language=fre %3",
        {write(QStringLiteral("a.srt"), srt), write(QStringLiteral("b.ass"), ass), video});

    const VideoInfo info = MediaProbe::probeMedia(video);
    // The container lasts as long as its longest stream: the subtitles end at 3.25 s.
    EXPECT_NEAR(info.duration, 3250, 100);
    ASSERT_EQ(info.videoStreams.size(), 1);
    ASSERT_EQ(info.audioStreams.size(), 2);
    ASSERT_EQ(info.subtitlesStreams.size(), 2);
    EXPECT_EQ(info.videoStreams[0].trackTitle(), QStringLiteral("Track 0 Video - default"));
    EXPECT_EQ(info.videoStreams[0].videoWidth, 160);
    EXPECT_EQ(info.videoStreams[0].videoHeight, 120);
    EXPECT_EQ(info.audioStreams[0].trackTitle(), QStringLiteral("Track 1 Audio"));
    EXPECT_EQ(info.audioStreams[1].trackTitle(), QStringLiteral("Track 2 Audio(eng) - default"));
    EXPECT_EQ(info.subtitlesStreams[0].trackTitle(), QStringLiteral("Track 3 Subtitles(fre)"));
    EXPECT_EQ(info.subtitlesStreams[0].codec, QStringLiteral("subrip"));
    EXPECT_EQ(info.subtitlesStreams[1].trackTitle(), QStringLiteral("Track 4 Subtitles"));
    EXPECT_EQ(info.subtitlesStreams[1].codec, QStringLiteral("ass"));
    EXPECT_FALSE(info.videoStream.has_value());

    // Not a media file: empty, never a failure.
    const VideoInfo nothing =
        MediaProbe::probeMedia(write(QStringLiteral("notes.mp4"), "just text"));
    EXPECT_TRUE(nothing.isEmpty());
}

TEST(ProbeOutput, ReadsOnlyWhatHasTheRightShape)
{
    const VideoInfo info = MediaProbe::parseProbeOutput(QStringLiteral(R"({
      "streams": [
        {"index": 0, "codec_type": "video", "codec_name": "h264", "disposition": {"default": 1}},
        {"index": 1, "codec_type": "audio", "codec_name": "aac", "disposition": {"default": 0},
         "tags": {"language": "ger"}},
        {"index": 2, "codec_type": "audio", "codec_name": "ac3"},
        {"index": 3, "codec_type": "subtitle", "codec_name": "hdmv_pgs_subtitle"},
        {"index": 4, "codec_type": "subtitle", "codec_name": "mov_text", "disposition": {"default": "1"}},
        {"index": 5, "codec_type": "data", "codec_name": "bin_data"},
        {"codec_type": "audio", "codec_name": "opus", "tags": {"language": 7}},
        {"index": 7, "codec_type": "audio"},
        {"index": 8.5, "codec_type": "video", "codec_name": "vp9", "width": 640.5, "height": 480},
        "not an object"
      ],
      "format": {"duration": "12.345000"}})"));
    EXPECT_DOUBLE_EQ(info.duration, 12345);
    ASSERT_EQ(info.videoStreams.size(), 2);
    EXPECT_TRUE(info.videoStreams[0].isDefault);
    EXPECT_EQ(info.videoStreams[0].videoWidth, 0);
    EXPECT_EQ(info.videoStreams[1].streamIndex, -1);
    EXPECT_EQ(info.videoStreams[1].videoWidth, 0);
    EXPECT_EQ(info.videoStreams[1].videoHeight, 480);
    ASSERT_EQ(info.audioStreams.size(), 3);
    EXPECT_FALSE(info.audioStreams[0].isDefault);
    EXPECT_EQ(info.audioStreams[0].language, QStringLiteral("ger"));
    EXPECT_FALSE(info.audioStreams[1].isDefault);
    EXPECT_EQ(info.audioStreams[2].streamIndex, -1);
    EXPECT_FALSE(info.audioStreams[2].language.has_value());
    ASSERT_EQ(info.subtitlesStreams.size(), 1);
    EXPECT_EQ(info.subtitlesStreams[0].streamIndex, 4);
    EXPECT_FALSE(info.subtitlesStreams[0].isDefault);

    EXPECT_EQ(
        MediaProbe::parseProbeOutput(QStringLiteral(R"({"format": {"duration": "N/A"}})")).duration,
        0);
    EXPECT_EQ(MediaProbe::parseProbeOutput(QStringLiteral(R"({"format": {"duration": "12.5x"}})"))
                  .duration,
              0);
    EXPECT_EQ(
        MediaProbe::parseProbeOutput(QStringLiteral(R"({"format": {"duration": 12.5}})")).duration,
        0);
    EXPECT_TRUE(
        MediaProbe::parseProbeOutput(QStringLiteral("/tmp/x: Invalid data found")).isEmpty());
    EXPECT_TRUE(MediaProbe::parseProbeOutput(QStringLiteral("[1, 2]")).isEmpty());
    EXPECT_TRUE(MediaProbe::parseProbeOutput(QString()).isEmpty());
}

TEST_F(MediaToolsTest, MovTextStreamIsExtractedToTheSameCues)
{
    const QString video = folder.filePath(QStringLiteral("clip.mp4"));
    TestSupport::ffmpeg("-f lavfi -i testsrc=d=4:s=160x120 -i %1 -map 0 -map 1 -c:v libx264 "
                        "-c:s mov_text %2",
                        {write(QStringLiteral("in.srt"), srt), video});
    const VideoInfo info = MediaProbe::probeMedia(video);
    ASSERT_EQ(info.subtitlesStreams.size(), 1);
    EXPECT_EQ(info.subtitlesStreams[0].codec, QStringLiteral("mov_text"));

    const QString out = write(QStringLiteral("subtitles.srt"), "an older file");
    ASSERT_TRUE(SubtitleSources::extractSubtitlesTrack(
        video, QString::number(info.subtitlesStreams[0].streamIndex), out));
    const std::optional<SubtitlesParser> extracted = SubtitlesParser::fromFile(out);
    const std::optional<SubtitlesParser> original =
        SubtitlesParser::fromText(QString::fromUtf8(srt));
    ASSERT_TRUE(extracted && original);
    ASSERT_EQ(extracted->subtitles.size(), original->subtitles.size());
    for (qsizetype i = 0; i < original->subtitles.size(); ++i) {
        EXPECT_EQ(extracted->subtitles[i].start, original->subtitles[i].start);
        EXPECT_EQ(extracted->subtitles[i].end, original->subtitles[i].end);
        EXPECT_EQ(extracted->subtitles[i].text, original->subtitles[i].text);
    }
    // A stream that is not there fails.
    EXPECT_FALSE(SubtitleSources::extractSubtitlesTrack(video, QStringLiteral("7"), out));
}

TEST(SubtitleCommands, ArgumentListsAreExact)
{
    EXPECT_EQ(SubtitleSources::extractSubtitlesArguments(QStringLiteral("/v/in put.mkv"),
                                                         QStringLiteral("2"),
                                                         QStringLiteral("/t/subtitles.srt")),
              (QStringList{QStringLiteral("-i"), QStringLiteral("file:/v/in put.mkv"),
                           QStringLiteral("-map"), QStringLiteral("0:2"), QStringLiteral("-c:s"),
                           QStringLiteral("srt"), QStringLiteral("-hide_banner"),
                           QStringLiteral("-y"), QStringLiteral("file:/t/subtitles.srt")}));
    EXPECT_EQ(
        SubtitleSources::convertSubtitlesArguments(
            QStringLiteral("/s/a.srt"), QStringLiteral("/t/o.srt"), QStringLiteral("iso-8859-1")),
        (QStringList{QStringLiteral("-sub_charenc"), QStringLiteral("ISO-8859-1"),
                     QStringLiteral("-i"), QStringLiteral("file:/s/a.srt"), QStringLiteral("-y"),
                     QStringLiteral("-hide_banner"), QStringLiteral("file:/t/o.srt")}));
    const QStringList plain{QStringLiteral("-i"), QStringLiteral("file:/s/a.srt"),
                            QStringLiteral("-y"), QStringLiteral("-hide_banner"),
                            QStringLiteral("file:/t/o.srt")};
    EXPECT_EQ(SubtitleSources::convertSubtitlesArguments(QStringLiteral("/s/a.srt"),
                                                         QStringLiteral("/t/o.srt"), std::nullopt),
              plain);
    EXPECT_EQ(SubtitleSources::convertSubtitlesArguments(
                  QStringLiteral("/s/a.srt"), QStringLiteral("/t/o.srt"), QStringLiteral("utf-8")),
              plain);
    EXPECT_EQ(SubtitleSources::convertSubtitlesArguments(
                  QStringLiteral("/s/a.srt"), QStringLiteral("/t/o.srt"), QStringLiteral("ASCII")),
              plain);
    EXPECT_EQ(SubtitleSources::convertSubtitlesArguments(QStringLiteral("/s/a.srt"),
                                                         QStringLiteral("/t/o.srt"),
                                                         QStringLiteral("UTF-16LE")),
              plain);
}

class CharsetConversion
    : public MediaToolsTest,
      public ::testing::WithParamInterface<std::pair<const char *, const char *>> {};

TEST_P(CharsetConversion, LegacyTextComesOutAsTheSameUtf8)
{
    const auto [encoding, language] = GetParam();
    const QMap<QString, QStringList> sentences = {
        {QStringLiteral("ru"),
         {QStringLiteral("Где ты был прошлой ночью?"),
          QStringLiteral("Я ждал тебя у старого моста до самого утра."),
          QStringLiteral("Никто не знает, что случилось с деньгами."),
          QStringLiteral("Пойдём домой, уже поздно и холодно."),
          QStringLiteral("Ты мне обещал, что это больше не повторится.")}},
        {QStringLiteral("fr"),
         {QStringLiteral("Où étais-tu hier soir ?"),
          QStringLiteral("Je t'ai attendu près du vieux pont jusqu'à l'aube."),
          QStringLiteral("Personne ne sait ce qui est arrivé à l'argent."),
          QStringLiteral("Rentrons, il est déjà tard et il fait froid."),
          QStringLiteral("Tu m'avais promis que ça ne se reproduirait plus, garçon.")}},
        {QStringLiteral("ja"),
         {QStringLiteral("昨日の夜はどこにいたの？"),
          QStringLiteral("夜明けまで古い橋のそばで待っていた。"),
          QStringLiteral("お金がどうなったのか誰も知らない。"),
          QStringLiteral("もう遅いし寒いから家に帰ろう。"),
          QStringLiteral("二度とこんなことはしないと約束したじゃないか。")}},
    };
    QString text;
    const QStringList lines = sentences.value(QString::fromLatin1(language));
    for (int i = 0; i < lines.size(); ++i)
        text += QStringLiteral("%1\n00:00:0%2,000 --> 00:00:0%3,500\n%4\n\n")
                    .arg(i + 1)
                    .arg(i + 1)
                    .arg(i + 1)
                    .arg(lines[i]);
    QStringEncoder encoder(encoding);
    ASSERT_TRUE(encoder.isValid()) << encoding;
    QByteArray bytes = encoder.encode(text);
    if (QByteArray(encoding) == "UTF-16LE")
        bytes.prepend("\xFF\xFE");
    const QString input = write(QStringLiteral("legacy.srt"), bytes);
    const QString output = folder.filePath(QStringLiteral("subtitles.srt"));
    ASSERT_TRUE(SubtitleSources::convertSubtitlesFile(input, output)) << encoding;
    const std::optional<SubtitlesParser> converted = SubtitlesParser::fromFile(output);
    ASSERT_TRUE(converted.has_value()) << encoding;
    ASSERT_EQ(converted->subtitles.size(), lines.size());
    for (int i = 0; i < lines.size(); ++i)
        EXPECT_EQ(converted->subtitles[i].text, QStringList{lines[i]}) << encoding;
}

INSTANTIATE_TEST_SUITE_P(Encodings, CharsetConversion,
                         ::testing::Values(std::make_pair("windows-1251", "ru"),
                                           std::make_pair("ISO-8859-1", "fr"),
                                           std::make_pair("Shift_JIS", "ja"),
                                           std::make_pair("UTF-16LE", "ru")),
                         [](const auto &info) {
                             std::string name = info.param.first;
                             std::erase(name, '-');
                             std::erase(name, '_');
                             return name;
                         });

TEST_F(MediaToolsTest, RealFilesInLegacyEncodingsConvert)
{
    KELVORANDIX_REQUIRE_CORPUS(cyrillic, QStringLiteral("se_auto_detect_windows-1251.srt"));
    KELVORANDIX_REQUIRE_CORPUS(chinese, QStringLiteral("juvo_media_player_subs_gb2312.srt"));
    EXPECT_EQ(SubtitleSources::detectCharset(cyrillic), QStringLiteral("WINDOWS-1251"));
    EXPECT_EQ(SubtitleSources::detectCharset(chinese), QStringLiteral("GB18030"));
    const QString output = folder.filePath(QStringLiteral("subtitles.srt"));
    ASSERT_TRUE(SubtitleSources::convertSubtitlesFile(cyrillic, output));
    const std::optional<SubtitlesParser> converted = SubtitlesParser::fromFile(output);
    ASSERT_TRUE(converted.has_value());
    EXPECT_EQ(converted->subtitles.size(), 595);
    // Cyrillic letters, not mojibake.
    const QString all =
        converted->subtitles[10].text.join(u' ') + converted->subtitles[200].text.join(u' ');
    EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](QChar c) {
        return c.script() == QChar::Script_Cyrillic;
    })) << all;
    EXPECT_FALSE(all.contains(QChar(0xFFFD)));
}

TEST_F(MediaToolsTest, NoCueIsLostOnTheWayToTheWorkingFile)
{
    // ffmpeg stops at a NUL byte, skips a cue with a byte that is not UTF-8, and writes a forced
    // line break as an empty line that ends the cue for a SubRip reader.
    const QByteArray awkward = QByteArray("1\n00:00:01,000 --> 00:00:02,000\nLe caf\xC3\xA9 "
                                          "ouvre \xC3\xA0 midi, Caf\xE9 noir\n\n"
                                          "2\n00:00:03,000 --> 00:00:04,000\nwith a NUL") +
                               QByteArray(1, '\0') +
                               "\n\n3\n00:00:05,000 --> 00:00:06,000\nfirst\\Nsecond\n\n"
                               "4\n00:00:07,000 --> 00:00:08,000\nthe last one\n";
    const QString source = write(QStringLiteral("awkward.srt"), awkward);
    const QString output = folder.filePath(QStringLiteral("subtitles.srt"));
    QString reason;
    ASSERT_TRUE(SubtitleSources::convertSubtitlesFile(source, output, &reason)) << reason;
    std::optional<SubtitlesParser> converted = SubtitlesParser::fromFile(output);
    ASSERT_TRUE(converted.has_value()) << TestSupport::readFile(output).toStdString();
    ASSERT_EQ(converted->subtitles.size(), 4);
    const QStringList first{QStringLiteral("Le caf\u00E9 ouvre \u00E0 midi, Caf\uFFFD noir")};
    EXPECT_EQ(converted->subtitles[0].text, first);
    EXPECT_EQ(converted->subtitles[1].text, QStringList{QStringLiteral("with a NUL")});
    EXPECT_EQ(converted->subtitles[2].text,
              (QStringList{QStringLiteral("first"), QStringLiteral("second")}));

    // The same bytes in a video's SubRip stream come through whole as well.
    const QString video = folder.filePath(QStringLiteral("bad bytes.mkv"));
    TestSupport::ffmpeg(
        "-f lavfi -i testsrc=d=9:s=64x64 -i %1 -map 0 -map 1 -c:v libx264 -c:s "
        "copy %2",
        {write(QStringLiteral("stream.srt"), QByteArray(awkward).replace('\0', ' ')), video});
    ASSERT_TRUE(SubtitleSources::extractSubtitlesTrack(video, QStringLiteral("1"), output, &reason))
        << reason;
    converted = SubtitlesParser::fromFile(output);
    ASSERT_TRUE(converted.has_value());
    EXPECT_EQ(converted->subtitles.size(), 4);
    EXPECT_EQ(converted->subtitles[0].text, first);

    // Real files: the last three cues of this one follow a NUL; this one has a forced break.
    KELVORANDIX_REQUIRE_CORPUS(nul, QStringLiteral("srtparser_213_Exodus_nul_bytes.srt"));
    KELVORANDIX_REQUIRE_CORPUS(tester, QStringLiteral("pysrt_capability_tester.srt"));
    for (const auto &[file, cues] : {std::pair(nul, 550), std::pair(tester, 37)}) {
        ASSERT_TRUE(SubtitleSources::convertSubtitlesFile(file, output, &reason)) << reason;
        converted = SubtitlesParser::fromFile(output);
        ASSERT_TRUE(converted.has_value()) << file;
        EXPECT_EQ(converted->subtitles.size(), cues) << file;
    }
}
