// The output video command and the volume tools.
#include "VideoProcessor/MakeVideoCommand.h"
#include "Jobs/LanguageCodes.h"
#include "Speech/SpeechSynthesizer.h"
#include "TestSupport.h"
#include "VideoProcessor/AudioConversion.h"
#include "VideoProcessor/ToolProcess.h"
#include "VideoProcessor/VolumeTools.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

MediaStream stream(int index, MediaStream::StreamType type, bool isDefault = false)
{
    MediaStream media;
    media.streamIndex = index;
    media.type = type;
    media.isDefault = isDefault;
    return media;
}

// movie.mkv: stream 0 video, 1 audio (default), 2 audio, 3 SubRip subtitles.
VideoInfo movie()
{
    VideoInfo info;
    info.videoStreams = {stream(0, MediaStream::StreamType::Video, true)};
    info.audioStreams = {stream(1, MediaStream::StreamType::Audio, true),
                         stream(2, MediaStream::StreamType::Audio)};
    info.subtitlesStreams = {stream(3, MediaStream::StreamType::Subtitles)};
    return info;
}

QStringList words(const QString &text)
{
    return text.split(u' ', Qt::SkipEmptyParts);
}

QStringList afterInputs(const std::optional<QStringList> &arguments)
{
    EXPECT_TRUE(arguments.has_value());
    if (!arguments)
        return {};
    // Three inputs, or four when the mix reads the input video a second time.
    return arguments->mid(arguments->value(6) == QLatin1String("-i") ? 8 : 6);
}

const QString speech = QStringLiteral("/w/speech.aiff");
const QString subtitles = QStringLiteral("/w/subtitles.srt");

} // namespace

TEST(MakeVideoArguments, WorkedExample)
{
    OutputOptions options;
    options.volume = 50;
    options.defaultAudioStream = true;
    options.newSubtitlesStream = true;
    const std::optional<QStringList> arguments = MakeVideoCommand::makeVideoArguments(
        QStringLiteral("/m/movie.mkv"), movie(), 0, 1, 3, QStringLiteral("spa"),
        QStringLiteral("/m/out.mkv"), options, speech, subtitles);
    ASSERT_TRUE(arguments.has_value());
    // The audio to mix comes from a second opening of the input, since the input's subtitle
    // stream is copied too (the next test has the plain form).
    EXPECT_EQ(arguments->mid(0, 8),
              (QStringList{QStringLiteral("-i"), QStringLiteral("file:/m/movie.mkv"),
                           QStringLiteral("-i"), QStringLiteral("file:") + speech,
                           QStringLiteral("-i"), QStringLiteral("file:") + subtitles,
                           QStringLiteral("-i"), QStringLiteral("file:/m/movie.mkv")}));
    EXPECT_EQ(
        afterInputs(arguments),
        words(QStringLiteral(
            "-filter_complex [3:1]volume=0.50[a1];[a1][1:a:0]amix=inputs=2:duration=longest[a2] "
            "-map 0:0 -map [a2] -map 0:2 -map 2:s:0 -map 0:3 "
            "-c:0 copy -c:1 aac -c:2 copy -c:3 srt -c:4 copy "
            "-disposition:0 default -metadata:s:0 language=spa -disposition:1 none "
            "-disposition:1 default -metadata:s:1 language=spa -disposition:3 default "
            "-metadata:s:3 language=spa -metadata:s:4 language=spa "
            "-strict -2 -y -hide_banner file:/m/out.mkv")));
}

TEST(MakeVideoArguments, WithoutInputSubtitlesTheMixReadsInputZero)
{
    VideoInfo info = movie();
    info.subtitlesStreams.clear();
    OutputOptions options;
    options.defaultAudioStream = true;
    const std::optional<QStringList> arguments = MakeVideoCommand::makeVideoArguments(
        QStringLiteral("/m/movie.mkv"), info, 0, 1, -10, QStringLiteral("spa"),
        QStringLiteral("/m/out.mkv"), options, speech, subtitles);
    ASSERT_TRUE(arguments.has_value());
    EXPECT_EQ(
        arguments->mid(0, 8),
        (QStringList{
            QStringLiteral("-i"), QStringLiteral("file:/m/movie.mkv"), QStringLiteral("-i"),
            QStringLiteral("file:") + speech, QStringLiteral("-i"),
            QStringLiteral("file:") + subtitles, QStringLiteral("-filter_complex"),
            QStringLiteral("[0:1]volume=0.50[a1];[a1][1:a:0]amix=inputs=2:duration=longest[a2]")}));
}

TEST(MakeVideoArguments, NewAudioStreamKeepsTheOriginal)
{
    OutputOptions options;
    options.newAudioStream = true;
    options.defaultAudioStream = true;
    options.newSubtitlesStream = true;
    EXPECT_EQ(
        afterInputs(MakeVideoCommand::makeVideoArguments(
            QStringLiteral("/m/movie.mkv"), movie(), 0, 1, 3, QStringLiteral("spa"),
            QStringLiteral("/m/out.mkv"), options, speech, subtitles)),
        words(QStringLiteral(
            "-filter_complex [3:1]volume=0.50[a1];[a1][1:a:0]amix=inputs=2:duration=longest[a2] "
            "-map 0:0 -map [a2] -map 0:1 -map 0:2 -map 2:s:0 -map 0:3 "
            "-c:0 copy -c:1 aac -c:2 copy -c:3 copy -c:4 srt -c:5 copy "
            "-disposition:0 default -metadata:s:0 language=spa -disposition:1 default "
            "-metadata:s:1 language=spa -disposition:2 none -disposition:4 default "
            "-metadata:s:4 language=spa -metadata:s:5 language=spa "
            "-strict -2 -y -hide_banner file:/m/out.mkv")));
}

TEST(MakeVideoArguments, Variants)
{
    OutputOptions options;
    VideoInfo silent;
    silent.videoStreams = {stream(0, MediaStream::StreamType::Video)};
    options.newSubtitlesStream = true;
    // No audio chosen: the speech alone is added after the video streams.
    EXPECT_EQ(
        afterInputs(MakeVideoCommand::makeVideoArguments(
            QStringLiteral("/m/in.mp4"), silent, 0, -1, -1, std::nullopt,
            QStringLiteral("/m/o.mp4"), options, speech, subtitles)),
        words(QStringLiteral("-map 0:0 -map 1:a:0 -map 2:s:0 -c:0 copy -c:1 aac -c:2 mov_text "
                             "-disposition:0 default -strict -2 -y -hide_banner file:/m/o.mp4")));
    // 100 per cent and more: one chain without a volume filter.
    options.volume = 100;
    QStringList arguments = afterInputs(MakeVideoCommand::makeVideoArguments(
        QStringLiteral("in.avi"), movie(), 0, 2, -1, QStringLiteral("eng"), QStringLiteral("o.avi"),
        options, speech, subtitles));
    EXPECT_EQ(arguments.mid(0, 2),
              (QStringList{QStringLiteral("-filter_complex"),
                           QStringLiteral("[3:2][1:a:0]amix=inputs=2:duration=longest[a2]")}));
    // A known length pads the original with silence to it, so that the mix lasts as long as
    // the video even where the chosen audio ends early.
    VideoInfo timed = movie();
    timed.duration = 12000.4;
    arguments = afterInputs(MakeVideoCommand::makeVideoArguments(
        QStringLiteral("/m/in.avi"), timed, 0, 2, -1, QStringLiteral("eng"),
        QStringLiteral("/m/o.avi"), options, speech, subtitles));
    EXPECT_EQ(arguments.value(1), QStringLiteral("[3:2]apad=whole_dur=12001ms[a1];[a1][1:a:0]amix="
                                                 "inputs=2:duration=longest[a2]"));
    arguments = afterInputs(MakeVideoCommand::makeVideoArguments(
        QStringLiteral("in.avi"), movie(), 0, 2, -1, QStringLiteral("eng"), QStringLiteral("o.avi"),
        options, speech, subtitles));
    // An .avi holds no subtitle stream of ours, and mixes with its own audio codec.
    EXPECT_FALSE(arguments.contains(QStringLiteral("2:s:0")));
    EXPECT_TRUE(arguments.contains(QStringLiteral("mp3")));
    options.volume = 0;
    arguments = afterInputs(MakeVideoCommand::makeVideoArguments(
        QStringLiteral("in.flv"), movie(), 0, 1, 3, std::nullopt, QStringLiteral("o.flv"), options,
        speech, subtitles));
    EXPECT_EQ(arguments.value(1),
              QStringLiteral("[3:1]volume=0.00[a1];[a1][1:a:0]amix=inputs=2:duration=longest[a2]"));
    // Without a language code there are no language marks at all.
    EXPECT_FALSE(arguments.join(u' ').contains(QStringLiteral("-metadata:s:")));
    // Choosing the input's subtitle stream as default clears the others.
    VideoInfo two = movie();
    two.subtitlesStreams.append(stream(4, MediaStream::StreamType::Subtitles, true));
    options.defaultSubtitlesStream = true;
    arguments = afterInputs(MakeVideoCommand::makeVideoArguments(
        QStringLiteral("in.mkv"), two, 0, 1, 3, QStringLiteral("ger"), QStringLiteral("o.mkv"),
        options, speech, subtitles));
    EXPECT_TRUE(arguments.join(u' ').contains(
        QStringLiteral("-disposition:4 default -metadata:s:4 language=ger -disposition:5 none")))
        << arguments.join(u' ');
    // A stream that has a language of its own keeps it: its text is not in the voice's.
    two.subtitlesStreams[0].language = QStringLiteral("fre");
    arguments = afterInputs(MakeVideoCommand::makeVideoArguments(
        QStringLiteral("in.mkv"), two, 0, 1, 3, QStringLiteral("eng"), QStringLiteral("o.mkv"),
        options, speech, subtitles));
    EXPECT_TRUE(arguments.join(u' ').contains(
        QStringLiteral("-disposition:4 default -disposition:5 none -strict")))
        << arguments.join(u' ');
    // A container outside the table cannot be built.
    EXPECT_FALSE(MakeVideoCommand::makeVideoArguments(QStringLiteral("in.MKV"), movie(), 0, 1, 3,
                                                      std::nullopt, QStringLiteral("o.MKV"),
                                                      options, speech, subtitles));
}

TEST(MakeVideoArguments, OptionsThatCannotApplyToTheVideoDoNothing)
{
    OutputOptions stored;
    stored.newAudioStream = stored.defaultAudioStream = true;
    stored.defaultSubtitlesStream = true;
    // The default subtitles mark goes with the new subtitle stream, greyed out without it.
    OutputOptions applied = stored.applicableTo(QStringLiteral("/films/a.mkv"));
    EXPECT_TRUE(applied.newAudioStream);
    EXPECT_FALSE(applied.defaultSubtitlesStream);
    stored.newSubtitlesStream = true;
    EXPECT_TRUE(stored.applicableTo(QStringLiteral("/films/a.mkv")).defaultSubtitlesStream);
    // An .avi holds no subtitle stream; an .flv no second audio stream; no video, no options.
    applied = stored.applicableTo(QStringLiteral("/films/a.avi"));
    EXPECT_FALSE(applied.newSubtitlesStream || applied.defaultSubtitlesStream);
    EXPECT_TRUE(applied.newAudioStream);
    applied = stored.applicableTo(QStringLiteral("/films/a.flv"));
    EXPECT_FALSE(applied.newAudioStream || applied.defaultAudioStream);
    applied = stored.applicableTo(QString());
    EXPECT_FALSE(applied.newAudioStream || applied.newSubtitlesStream);
    EXPECT_EQ(applied.volume, stored.volume);
}

TEST(MakeVideoArguments, UnknownContainerFailsThroughTheCompletion)
{
    std::optional<std::pair<bool, QString>> completion;
    const auto run = MakeVideoCommand::makeVideo(
        QStringLiteral("/v/in.xyz"), movie(), 0, 1, 3, std::nullopt, QStringLiteral("/v/out.xyz"),
        {}, [&](bool ok, const QString &message) { completion = std::make_pair(ok, message); },
        OutputOptions(), speech, subtitles);
    EXPECT_EQ(run, nullptr);
    ASSERT_TRUE(completion.has_value());
    EXPECT_FALSE(completion->first);
    EXPECT_TRUE(completion->second.contains(QStringLiteral("'.xyz'"))) << completion->second;
}

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
    TestSupport::runProgram(QStringLiteral("ffmpeg"),
                            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"),
                             QStringLiteral("lavfi"), QStringLiteral("-i"),
                             QStringLiteral("aevalsrc=0.5*sin(2*PI*440*t):s=22050:d=1"),
                             QStringLiteral("-c:a"), QStringLiteral("pcm_s16be"), track});
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
    TestSupport::runProgram(QStringLiteral("ffmpeg"),
                            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"),
                             QStringLiteral("lavfi"), QStringLiteral("-i"),
                             QStringLiteral("testsrc=d=1:s=160x120"), QStringLiteral("-c:v"),
                             QStringLiteral("libx264"), video});
    std::optional<std::pair<bool, QString>> completion;
    const auto run =
        VolumeTools::maximizeVideoVolume(video, {}, [&](bool ok, const QString &message) {
            completion = std::make_pair(ok, message);
        });
    EXPECT_EQ(run, nullptr);
    EXPECT_EQ(completion, std::make_pair(true, QString()));
}

TEST(VolumeTools, AnyAudioBecomesTheProjectsPcmForm)
{
    QTemporaryDir folder;
    const QString mp3 = folder.filePath(QStringLiteral("voice.mp3"));
    TestSupport::runProgram(QStringLiteral("ffmpeg"),
                            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"),
                             QStringLiteral("lavfi"), QStringLiteral("-i"),
                             QStringLiteral("sine=d=1:sample_rate=48000"), QStringLiteral("-ac"),
                             QStringLiteral("1"), mp3});
    const QString aiff = folder.filePath(QStringLiteral("project_item.aiff"));
    ASSERT_TRUE(AudioConversion::convertToPCMAudio(mp3, aiff));
    const TestSupport::ProcessResult probe = TestSupport::runProgram(
        QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
         QStringLiteral("stream=codec_name,sample_rate,channels"), QStringLiteral("-of"),
         QStringLiteral("csv=p=0"), aiff});
    EXPECT_EQ(probe.out.trimmed(), QByteArray("pcm_s32be,44100,2"));
    EXPECT_EQ(AudioConversion::convertToPCMAudioArguments(mp3, aiff).size(), 14);
    EXPECT_FALSE(
        AudioConversion::convertToPCMAudio(folder.filePath(QStringLiteral("missing.mp3")), aiff));
}

TEST(LanguageCodesTable, CoversEveryVoiceLanguage)
{
    EXPECT_EQ(LanguageCodes::twoLetterCode(QStringLiteral("es_ES")), QStringLiteral("es"));
    EXPECT_EQ(LanguageCodes::twoLetterCode(QStringLiteral("pt_BR")), QStringLiteral("pt"));
    EXPECT_EQ(LanguageCodes::twoLetterCode(QStringLiteral("de")), QStringLiteral("de"));
    EXPECT_EQ(LanguageCodes::twoLetterCode(QString()), QString());
    EXPECT_EQ(LanguageCodes::threeLetterCode(QStringLiteral("es")), QStringLiteral("spa"));
    EXPECT_EQ(LanguageCodes::threeLetterCode(QStringLiteral("en")), QStringLiteral("eng"));
    EXPECT_EQ(LanguageCodes::threeLetterCode(QStringLiteral("fr")), QStringLiteral("fre"));
    EXPECT_FALSE(LanguageCodes::threeLetterCode(QString()));
    EXPECT_FALSE(LanguageCodes::threeLetterCode(QStringLiteral("xx")));
    QSet<QString> codes;
    for (const QString &voice : SpeechSynthesizer::availableVoices())
        codes.insert(LanguageCodes::twoLetterCode(
            SpeechSynthesizer::attributesForVoice(voice)->localeIdentifier));
    for (const QString &code : std::as_const(codes)) {
        ASSERT_TRUE(LanguageCodes::threeLetterCode(code).has_value()) << code;
        EXPECT_EQ(LanguageCodes::threeLetterCode(code)->size(), 3) << code;
    }
    EXPECT_FALSE(LanguageCodes::parsePropertyList("<plist><array/></plist>"));
    EXPECT_FALSE(LanguageCodes::parsePropertyList(
        "<plist><dict><key>en</key><integer>1</integer></dict></plist>"));
    EXPECT_FALSE(LanguageCodes::parsePropertyList("not xml"));
}
