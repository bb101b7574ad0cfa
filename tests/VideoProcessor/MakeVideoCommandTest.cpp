// The output video command.
#include "VideoProcessor/MakeVideoCommand.h"
#include "Jobs/LanguageCodes.h"
#include "Speech/SpeechSynthesizer.h"
#include "TestSupport.h"
#include "VideoProcessor/ToolProcess.h"

#include <QSet>
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
        TestSupport::words(QStringLiteral(
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
        TestSupport::words(QStringLiteral(
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
    EXPECT_EQ(afterInputs(MakeVideoCommand::makeVideoArguments(
                  QStringLiteral("/m/in.mp4"), silent, 0, -1, -1, std::nullopt,
                  QStringLiteral("/m/o.mp4"), options, speech, subtitles)),
              TestSupport::words(QStringLiteral(
                  "-map 0:0 -map 1:a:0 -map 2:s:0 -c:0 copy -c:1 aac -c:2 mov_text "
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
