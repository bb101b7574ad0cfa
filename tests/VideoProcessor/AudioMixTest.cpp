// Ducking the original under the speech, and the loudness target: the envelope, the
// measurement, the command's filters, and real ffmpeg runs on a pink-noise bed.
#include "TestSupport.h"
#include "VideoProcessor/DuckingEnvelope.h"
#include "VideoProcessor/LoudnessMeasure.h"
#include "VideoProcessor/LoudnessMeter.h"
#include "VideoProcessor/MakeVideoCommand.h"
#include "VideoProcessor/MediaProbe.h"
#include "VideoProcessor/ToolRunner.h"

#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

using Span = DuckingEnvelope::Span;
using TestSupport::words;

TEST(DuckingEnvelope, SpansAreWhereTheTrackSounds)
{
    // 100 samples a second: sound at 0.00-0.50 s, a short pause, 0.80-1.00 s, a long silence,
    // then sound up to the last sample.
    std::vector<float> mono(400, 0.0f);
    for (int i = 0; i < 50; ++i)
        mono[size_t(i)] = 0.5f;
    for (int i = 80; i < 100; ++i)
        mono[size_t(i)] = -0.5f;
    mono[300] = 0.0001f; // under the silence floor
    for (int i = 350; i < 400; ++i)
        mono[size_t(i)] = 0.5f;
    EXPECT_EQ(DuckingEnvelope::spansOfSamples(mono.data(), 400, 1, 100),
              (QList<Span>{{0.0, 1.0}, {3.5, 4.0}}));
    // Stereo: a frame sounds when either channel does.
    std::vector<float> stereo(200, 0.0f);
    stereo[41] = 0.5f; // frame 20, right channel
    EXPECT_EQ(DuckingEnvelope::spansOfSamples(stereo.data(), 100, 2, 100),
              (QList<Span>{{0.2, 0.21}}));
    EXPECT_TRUE(DuckingEnvelope::spansOfSamples(stereo.data(), 0, 2, 100).isEmpty());
}

TEST(DuckingEnvelope, RampsEndAsALineStartsAndBeginAsItEnds)
{
    const double level = 0.25;
    const QList<Span> one{{2.0, 3.0}};
    EXPECT_DOUBLE_EQ(DuckingEnvelope::gainAt(one, 1.85, level), 1.0);
    EXPECT_NEAR(DuckingEnvelope::gainAt(one, 1.95, level), 0.625, 1e-9);
    EXPECT_DOUBLE_EQ(DuckingEnvelope::gainAt(one, 2.0, level), level);
    EXPECT_DOUBLE_EQ(DuckingEnvelope::gainAt(one, 2.5, level), level);
    EXPECT_NEAR(DuckingEnvelope::gainAt(one, 3.05, level), 0.625, 1e-9);
    EXPECT_DOUBLE_EQ(DuckingEnvelope::gainAt(one, 3.1, level), 1.0);
    // Back to back (a 0.1 s gap): the ramps meet half way and the original never comes up fully.
    const QList<Span> close{{2.0, 3.0}, {3.1, 4.0}};
    EXPECT_NEAR(DuckingEnvelope::gainAt(close, 3.05, level), 0.625, 1e-9);
    // Overlapping lines: the lower gain wins, so the overlap stays down.
    const QList<Span> overlapping{{2.0, 3.0}, {2.5, 3.5}};
    EXPECT_DOUBLE_EQ(DuckingEnvelope::gainAt(overlapping, 3.2, level), level);
    EXPECT_NEAR(DuckingEnvelope::gainAt(overlapping, 3.55, level), 0.625, 1e-9);
}

TEST(DuckingEnvelope, TheGainTrackFollowsTheEnvelopeFromZeroToTheEnd)
{
    const double level = 0.5;
    // A line at 0 s is down from the first sample; one that runs to the end stays down to it.
    const QList<Span> spans{{0.0, 0.5}, {1.0, 1.2}, {1.25, 1.4}, {1.9, 2.0}};
    const std::vector<float> gains = DuckingEnvelope::gainTrack(spans, level, 2.0);
    ASSERT_EQ(gains.size(), size_t(2 * DuckingEnvelope::gainRate));
    EXPECT_FLOAT_EQ(gains.front(), 0.5f);
    EXPECT_FLOAT_EQ(gains.back(), 0.5f);
    for (size_t i = 0; i < gains.size(); ++i)
        ASSERT_NEAR(gains[i],
                    DuckingEnvelope::gainAt(spans, double(i) / DuckingEnvelope::gainRate, level),
                    1e-6)
            << "sample " << i;
    // Full level between the lines, after and before the ramps.
    EXPECT_FLOAT_EQ(gains[750], 1.0f);

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("gain.f32"));
    QString error;
    ASSERT_TRUE(DuckingEnvelope::writeGainTrack(spans, level, 2.0, path, &error)) << error;
    EXPECT_EQ(QFileInfo(path).size(), qint64(gains.size() * sizeof(float)));
    EXPECT_FALSE(DuckingEnvelope::writeGainTrack(
        spans, level, 2.0, folder.filePath(QStringLiteral("missing/gain.f32")), &error));
}

TEST(LoudnessMeasure, SummaryGainAndLimit)
{
    const QString summary = QStringLiteral(
        "[Parsed_ebur128_5 @ 0x55] Summary:\n\n  Integrated loudness:\n    I:         -22.6 LUFS\n"
        "    Threshold: -32.6 LUFS\n\n  Loudness range:\n    LRA:         2.9 LU\n\n"
        "  True peak:\n    Peak:       -3.6 dBFS\n");
    const std::optional<LoudnessMeasure::Measurement> measured = LoudnessMeasure::parse(summary);
    ASSERT_TRUE(measured.has_value());
    EXPECT_DOUBLE_EQ(measured->integrated, -22.6);
    EXPECT_DOUBLE_EQ(measured->truePeak, -3.6);
    EXPECT_NEAR(LoudnessMeasure::gain(*measured, -16), 6.6, 1e-9);
    EXPECT_NEAR(LoudnessMeasure::gain(*measured, -23), -0.4, 1e-9);
    // Raised 6.6 dB its peaks would reach +3.0: limited. Lowered, they stay clear.
    EXPECT_TRUE(LoudnessMeasure::needsLimit(*measured, 6.6));
    EXPECT_FALSE(LoudnessMeasure::needsLimit(*measured, -0.4));
    // Silence: the meter's floor is no measurement, and a missing summary neither.
    EXPECT_FALSE(LoudnessMeasure::parse(QStringLiteral("    I:         -70.0 LUFS\n"
                                                       "    Peak:       -inf dBFS\n")));
    EXPECT_FALSE(LoudnessMeasure::parse(QStringLiteral("Conversion failed!\n")));
    // A very quiet track is not raised without bound.
    EXPECT_DOUBLE_EQ(LoudnessMeasure::gain({-60.0, -40.0}, -16), LoudnessMeasure::maximumGain);
}

namespace {

VideoInfo film()
{
    VideoInfo info;
    MediaStream video;
    video.streamIndex = 0;
    video.type = MediaStream::StreamType::Video;
    MediaStream audio;
    audio.streamIndex = 1;
    audio.type = MediaStream::StreamType::Audio;
    audio.audioSampleRate = 48000;
    audio.audioChannels = 2;
    info.videoStreams = {video};
    info.audioStreams = {audio};
    info.duration = 20000;
    return info;
}

} // namespace

TEST(MakeVideoArguments, DuckingAndTheTargetAddTheirFiltersAndOnlyThem)
{
    OutputOptions options;
    options.volume = 25;
    AudioMix mix;
    mix.duckingGainTrack = QStringLiteral("/w/gain.f32");
    mix.limit = true;
    const std::optional<QStringList> ducked = MakeVideoCommand::makeVideoArguments(
        QStringLiteral("/m/film.mp4"), film(), 0, 1, -1, std::nullopt, QStringLiteral("/m/o.mp4"),
        options, QStringLiteral("/w/speech.aiff"), QStringLiteral("/w/s.srt"), mix);
    ASSERT_TRUE(ducked.has_value());
    EXPECT_EQ(ducked->mid(6),
              words(QStringLiteral(
                  "-f f32le -ar 1000 -ac 1 -i file:/w/gain.f32 -filter_complex "
                  "[0:1]apad=whole_dur=20000ms[a1];[3:a:0]aresample=48000,pan=2c|c0=c0|c1=c0[g];"
                  "[a1][g]amultiply[a3];[a3][1:a:0]amix=inputs=2:duration=longest:normalize=0,"
                  "alimiter=limit=0.707946:level=false:latency=true[a2] "
                  "-map 0:0 -map [a2] -c:0 copy -c:1 aac -b:1 128k -aac_coder:1 fast "
                  "-disposition:0 default "
                  "-strict -2 -y -hide_banner file:/m/o.mp4")));

    // The target alone: the plain mix, then the gain and the limit; the speech alone likewise.
    AudioMix target;
    target.gainDb = 6.6;
    target.limit = true;
    QString source;
    EXPECT_EQ(
        MakeVideoCommand::audioFilters(film(), 1, options, target, 0, 3, &source),
        (QStringList{QStringLiteral("[0:1]volume=0.25,apad=whole_dur=20000ms[a1]"),
                     QStringLiteral("[a1][1:a:0]amix=inputs=2:duration=longest,volume=6.60dB,"
                                    "alimiter=limit=0.707946:level=false:latency=true[a2]")}));
    EXPECT_EQ(MakeVideoCommand::audioFilters(film(), -1, options, target, 0, 3, &source),
              QStringList{QStringLiteral("[1:a:0]volume=6.60dB,"
                                         "alimiter=limit=0.707946:level=false:latency=true[a2]")});
    EXPECT_EQ(source, QStringLiteral("[a2]"));
    // Nothing asked: exactly the plain command.
    EXPECT_EQ(MakeVideoCommand::audioFilters(film(), -1, options, AudioMix(), 0, 3, &source),
              QStringList());
    EXPECT_EQ(source, QStringLiteral("1:a:0"));
    EXPECT_EQ(MakeVideoCommand::makeVideoArguments(QStringLiteral("/m/film.mp4"), film(), 0, 1, -1,
                                                   std::nullopt, QStringLiteral("/m/o.mp4"),
                                                   options, QStringLiteral("/w/speech.aiff"),
                                                   QStringLiteral("/w/s.srt"), AudioMix()),
              MakeVideoCommand::makeVideoArguments(QStringLiteral("/m/film.mp4"), film(), 0, 1, -1,
                                                   std::nullopt, QStringLiteral("/m/o.mp4"),
                                                   options, QStringLiteral("/w/speech.aiff"),
                                                   QStringLiteral("/w/s.srt")));
    // In WebM a limited mix goes to libopus: ffmpeg's own Opus encoder lifted a limited peak past
    // the limit. The plain mix keeps its encoder.
    const auto voicedCodec = [&](const AudioMix &mix) {
        const QStringList arguments = *MakeVideoCommand::makeVideoArguments(
            QStringLiteral("/m/film.webm"), film(), 0, 1, -1, std::nullopt,
            QStringLiteral("/m/o.webm"), options, QStringLiteral("/w/speech.aiff"),
            QStringLiteral("/w/s.srt"), mix);
        return arguments.value(arguments.indexOf(QStringLiteral("-c:1")) + 1);
    };
    EXPECT_EQ(voicedCodec(target), QStringLiteral("libopus"));
    EXPECT_EQ(voicedCodec(AudioMix()), QStringLiteral("opus"));
}

namespace {

// A 20-second film with a stereo pink-noise bed, and a speech track whose "lines" are tones at
// 3-6 s and 11-14 s (amplitude: how loud they are). The bed is one on which AAC's default coder
// lifts a limited peak above -1 dBTP.
class DuckedFilm : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestSupport::ffmpeg(
            "-f lavfi -i testsrc=d=20:s=160x120:r=10 -f lavfi -i "
            "anoisesrc=color=pink:amplitude=0.25:d=20:r=48000:seed=3 -filter_complex "
            "[1:a]asplit[l][r];[r]adelay=3[d];[l][d]join=inputs=2[a] "
            "-map 0:v -map [a] -c:v libx264 -c:a aac -b:a 192k %1",
            {file(QStringLiteral("film.mp4"))});
        info = MediaProbe::probeMedia(file(QStringLiteral("film.mp4")));
        // The command always reads the working subtitles, mapped or not.
        TestSupport::writeFile(file(QStringLiteral("none.srt")),
                               "1\n00:00:01,000 --> 00:00:02,000\nHello.\n");
    }
    QString file(const QString &name) const { return folder.filePath(name); }
    QString speech(double amplitude)
    {
        const QString path = file(QStringLiteral("speech%1.aiff").arg(amplitude));
        TestSupport::ffmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                             QStringLiteral("aevalsrc=%1*sin(2*PI*440*t)*(between(t\\,3\\,6)+"
                                            "between(t\\,11\\,14)):s=22050:d=16")
                                 .arg(amplitude),
                             QStringLiteral("-c:a"), QStringLiteral("pcm_s16be"), path});
        return path;
    }
    // Makes the output with these options through the command's own arguments.
    QString make(const QString &speechTrack, const OutputOptions &options, const AudioMix &mix)
    {
        const QString output = file(QStringLiteral("out%1.mp4").arg(++made));
        const auto [text, succeeded] = ToolRunner::runTool(
            ToolRunner::ffmpegPath(),
            *MakeVideoCommand::makeVideoArguments(file(QStringLiteral("film.mp4")), info, 0, 1, -1,
                                                  std::nullopt, output, options, speechTrack,
                                                  file(QStringLiteral("none.srt")), mix));
        EXPECT_TRUE(succeeded) << text;
        return output;
    }
    AudioMix ducking(const QString &speechTrack, const OutputOptions &options)
    {
        QList<Span> spans;
        QString error;
        EXPECT_TRUE(DuckingEnvelope::spansOfTrack(speechTrack, &spans, &error)) << error;
        EXPECT_EQ(spans.size(), 2);
        AudioMix mix;
        mix.duckingGainTrack = file(QStringLiteral("gain.f32"));
        EXPECT_TRUE(DuckingEnvelope::writeGainTrack(spans, options.volume / 100.0, 22,
                                                    mix.duckingGainTrack, &error))
            << error;
        mix.limit = true;
        return mix;
    }
    // The original at 25% under the lines, and only there.
    static OutputOptions duckedAtAQuarter()
    {
        OutputOptions options;
        options.volume = 25;
        options.duckOriginalAudio = true;
        return options;
    }
    static std::optional<LoudnessMeasure::Measurement> measure(const QString &path)
    {
        const auto [text, succeeded] = ToolRunner::runTool(
            ToolRunner::ffmpegPath(),
            {QStringLiteral("-i"), path, QStringLiteral("-map"), QStringLiteral("0:a:0"),
             QStringLiteral("-af"), LoudnessMeasure::meterFilter(), QStringLiteral("-f"),
             QStringLiteral("null"), QStringLiteral("/dev/null")});
        EXPECT_TRUE(succeeded) << text;
        return LoudnessMeasure::parse(text);
    }

    QTemporaryDir folder;
    VideoInfo info;
    int made = 0;
};

} // namespace

TEST_F(DuckedFilm, TheOriginalGoesDownOnlyUnderTheSpeechAndNothingClips)
{
    OutputOptions options;
    options.volume = 25;
    const QString input = file(QStringLiteral("film.mp4"));
    // Lines far quieter than the bed (but not silence) leave the ducked original to be heard.
    const QString whisper = speech(0.002);
    const QString quiet = make(whisper, options, ducking(whisper, options));
    for (const double gap : {0.5, 8.0, 16.5}) {
        const double before = TestSupport::meanVolume(input, gap, 1.5);
        EXPECT_NEAR(TestSupport::meanVolume(quiet, gap, 1.5), before, 1.0) << "gap at " << gap;
    }
    for (const double under : {3.5, 11.5}) {
        const double before = TestSupport::meanVolume(input, under, 2.0);
        // 25% is -12 dB.
        EXPECT_NEAR(TestSupport::meanVolume(quiet, under, 2.0), before - 12.0, 1.0)
            << "line at " << under;
    }

    // Full-scale lines over the whole bed: the limiter keeps true peaks at -1 dBTP or below.
    const QString loudLines = speech(1.0);
    const std::optional<LoudnessMeasure::Measurement> loud =
        measure(make(loudLines, options, ducking(loudLines, options)));
    ASSERT_TRUE(loud.has_value());
    EXPECT_LE(loud->truePeak, LoudnessMeasure::truePeakLimit);
}

TEST_F(DuckedFilm, TheTargetIsMeasuredAndReachedInOnePass)
{
    OutputOptions options = duckedAtAQuarter();
    const QString lines = speech(0.5);
    const AudioMix ducked = ducking(lines, options);
    for (const int target : {-16, -23}) {
        options.loudnessTarget = target;
        std::optional<LoudnessMeasure::Measurement> before;
        QString error;
        ASSERT_TRUE(LoudnessMeter::measure(MakeVideoCommand::loudnessMeasurementArguments(
                                               file(QStringLiteral("film.mp4")), info, 1, options,
                                               AudioMix{ducked.duckingGainTrack, {}, false}, lines),
                                           LoudnessMeter::Peak::True, nullptr, nullptr, &before,
                                           &error))
            << error;
        ASSERT_TRUE(before.has_value());
        AudioMix mix = ducked;
        mix.gainDb = LoudnessMeasure::gain(*before, target);
        const std::optional<LoudnessMeasure::Measurement> after =
            measure(make(lines, options, mix));
        ASSERT_TRUE(after.has_value());
        EXPECT_NEAR(after->integrated, target, 1.0);
        EXPECT_LE(after->truePeak, LoudnessMeasure::truePeakLimit);
    }
}

TEST_F(DuckedFilm, TheKeptMixMeasuresAsTheMixMadeAgain)
{
    OutputOptions options = duckedAtAQuarter();
    const QString lines = speech(0.5);
    const AudioMix ducked = ducking(lines, options);
    auto measure = [&](const QStringList &arguments, LoudnessMeter::Copy *copy) {
        std::optional<LoudnessMeasure::Measurement> result;
        QString error;
        EXPECT_TRUE(LoudnessMeter::measure(arguments, LoudnessMeter::Peak::None, nullptr, nullptr,
                                           &result, &error, copy))
            << error;
        return result;
    };
    const QStringList mixing = MakeVideoCommand::loudnessMeasurementArguments(
        file(QStringLiteral("film.mp4")), info, 1, options,
        AudioMix{ducked.duckingGainTrack, {}, false}, lines);
    LoudnessMeter::Copy copy{file(QStringLiteral("mix.wav")), qint64(1) << 30, 20.0};
    measure(mixing, &copy);
    ASSERT_TRUE(copy.kept);
    // Raised 12 dB, the limiter holds much back.
    AudioMix treated = ducked;
    treated.gainDb = 12.0;
    const std::optional<LoudnessMeasure::Measurement> again =
        measure(MakeVideoCommand::loudnessMeasurementArguments(file(QStringLiteral("film.mp4")),
                                                               info, 1, options, treated, lines),
                nullptr);
    const std::optional<LoudnessMeasure::Measurement> kept =
        measure(MakeVideoCommand::treatedMixArguments(copy.path, treated), nullptr);
    ASSERT_TRUE(again && kept);
    EXPECT_NEAR(kept->integrated, again->integrated, 0.01);

    // A copy that outgrows its room is given up and removed.
    copy.limit = 100000;
    copy.expectedSeconds = 0;
    measure(mixing, &copy);
    EXPECT_FALSE(copy.kept);
    EXPECT_FALSE(QFile::exists(copy.path));
}
