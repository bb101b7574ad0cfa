// kelvorandix-cli make, the main job, on media made at test time and checked with ffprobe.
#include "TestSupport.h"
#include "VideoProcessor/VideoProcessor.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

using TestSupport::runCli;

namespace {

struct Stream {
    QString codec;
    bool isDefault = false;
    QString language;
};

QList<Stream> streamsOf(const QString &path)
{
    const TestSupport::ProcessResult result = TestSupport::runProgram(
        QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_streams"),
         QStringLiteral("-of"), QStringLiteral("json"), path});
    QList<Stream> streams;
    for (const QJsonValue &value :
         QJsonDocument::fromJson(result.out).object()[QStringLiteral("streams")].toArray()) {
        const QJsonObject object = value.toObject();
        streams.append(
            {object[QStringLiteral("codec_name")].toString(),
             object[QStringLiteral("disposition")].toObject()[QStringLiteral("default")].toInt() ==
                 1,
             object[QStringLiteral("tags")].toObject()[QStringLiteral("language")].toString()});
    }
    return streams;
}

QString describe(const QList<Stream> &streams)
{
    QStringList parts;
    for (const Stream &s : streams)
        parts.append(
            QStringLiteral("%1%2%3").arg(s.codec, s.isDefault ? QStringLiteral("*") : QString(),
                                         s.language.isEmpty() ? QString() : u'/' + s.language));
    return parts.join(u' ');
}

class MakeCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        media = new QTemporaryDir;
        TestSupport::writeFile(mediaFile(QStringLiteral("cues.srt")),
                               "1\n00:00:02,000 --> 00:00:04,000\nHola, esta es la voz.\n");
        // movie.mkv: 0 video, 1 audio (default, silent), 2 audio (a tone), 3 SubRip subtitles.
        TestSupport::ffmpeg({QStringLiteral("-f"),
                             QStringLiteral("lavfi"),
                             QStringLiteral("-i"),
                             QStringLiteral("testsrc=d=6:s=160x120"),
                             QStringLiteral("-f"),
                             QStringLiteral("lavfi"),
                             QStringLiteral("-i"),
                             QStringLiteral("anullsrc=r=44100:cl=stereo"),
                             QStringLiteral("-f"),
                             QStringLiteral("lavfi"),
                             QStringLiteral("-i"),
                             QStringLiteral("sine=d=6"),
                             QStringLiteral("-i"),
                             mediaFile(QStringLiteral("cues.srt")),
                             QStringLiteral("-map"),
                             QStringLiteral("0"),
                             QStringLiteral("-map"),
                             QStringLiteral("1"),
                             QStringLiteral("-map"),
                             QStringLiteral("2"),
                             QStringLiteral("-map"),
                             QStringLiteral("3"),
                             QStringLiteral("-t"),
                             QStringLiteral("6"),
                             QStringLiteral("-c:v"),
                             QStringLiteral("libx264"),
                             QStringLiteral("-c:a"),
                             QStringLiteral("aac"),
                             QStringLiteral("-c:s"),
                             QStringLiteral("srt"),
                             QStringLiteral("-disposition:a:0"),
                             QStringLiteral("default"),
                             QStringLiteral("-disposition:a:1"),
                             QStringLiteral("0"),
                             QStringLiteral("-disposition:s:0"),
                             QStringLiteral("0"),
                             mediaFile(QStringLiteral("movie.mkv"))});
    }
    static void TearDownTestSuite()
    {
        delete media;
        media = nullptr;
    }
    static QString mediaFile(const QString &name) { return media->filePath(name); }

    void SetUp() override
    {
        QDir().mkpath(out());
        QDir().mkpath(temp());
    }
    QString out() const { return folder.filePath(QStringLiteral("voiced videos")); }
    QString temp() const { return folder.filePath(QStringLiteral("tmp")); }
    QStringList leftovers() const
    {
        return QDir(out()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot) +
               QDir(temp()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    TestSupport::ProcessResult make(const QString &video, const QStringList &options)
    {
        return runCli(
            QStringList{QStringLiteral("make"), video, QStringLiteral("--output-dir"), out()} +
                options,
            {QStringLiteral("TMPDIR=") + temp(),
             QStringLiteral("KELVORANDIX_SETTINGS=") +
                 folder.filePath(QStringLiteral("settings.ini"))});
    }

    static inline QTemporaryDir *media = nullptr;
    QTemporaryDir folder;
};

} // namespace

TEST_F(MakeCommand, WorkedExampleMixesIntoTheChosenStream)
{
    const QStringList options{QStringLiteral("--subtitles-stream"),
                              QStringLiteral("3"),
                              QStringLiteral("--audio-track"),
                              QStringLiteral("1"),
                              QStringLiteral("--voice"),
                              QStringLiteral("roa/es"),
                              QStringLiteral("--volume"),
                              QStringLiteral("50"),
                              QStringLiteral("--default-audio-stream"),
                              QStringLiteral("--subtitles-as-stream")};
    TestSupport::ProcessResult result = make(mediaFile(QStringLiteral("movie.mkv")), options);
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QString output = out() + QStringLiteral("/movie_Kelvorandix_es.mkv");
    EXPECT_EQ(result.out, (output + u'\n').toUtf8());
    EXPECT_TRUE(result.err.contains("Processing video")) << result.err.toStdString();
    EXPECT_EQ(describe(streamsOf(output)),
              QStringLiteral("h264*/spa aac*/spa aac subrip*/spa subrip/spa"));
    // The speech is in the mixed stream: louder during the cue than in the silence after it.
    const double cue = TestSupport::meanVolume(output, 2.1, 1.2);
    const double gap = TestSupport::meanVolume(output, 4.8, 1.0);
    EXPECT_GT(cue, gap + 20) << "cue " << cue << " dB, gap " << gap << " dB";
    EXPECT_TRUE(leftovers() == QStringList{QStringLiteral("movie_Kelvorandix_es.mkv")})
        << leftovers().join(u' ');

    // The same again with the speech as a new stream: the original audio is kept, and the
    // output takes the next free name.
    result = make(mediaFile(QStringLiteral("movie.mkv")),
                  options + QStringList{QStringLiteral("--new-audio-stream")});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QString second = out() + QStringLiteral("/movie_Kelvorandix_es_1.mkv");
    EXPECT_EQ(result.out, (second + u'\n').toUtf8());
    EXPECT_EQ(describe(streamsOf(second)),
              QStringLiteral("h264*/spa aac*/spa aac aac subrip*/spa subrip/spa"));
    EXPECT_LT(TestSupport::meanVolume(second, 2.1, 1.2, 1), -80)
        << "the original silent stream stays silent";
    EXPECT_GT(TestSupport::meanVolume(second, 2.1, 1.2, 0), -60);
}

TEST_F(MakeCommand, SpeechAloneForAVideoWithoutAudio)
{
    const QString video = folder.filePath(QStringLiteral("silent film.mp4"));
    TestSupport::ffmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                         QStringLiteral("testsrc=d=5:s=160x120"), QStringLiteral("-c:v"),
                         QStringLiteral("libx264"), video});
    const TestSupport::ProcessResult result =
        make(video, {QStringLiteral("--subtitles"), mediaFile(QStringLiteral("cues.srt")),
                     QStringLiteral("--audio-track"), QStringLiteral("none"),
                     QStringLiteral("--voice"), QStringLiteral("gmw/en-US")});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QString output = out() + QStringLiteral("/silent film_Kelvorandix_en_US.mp4");
    EXPECT_EQ(describe(streamsOf(output)), QStringLiteral("h264*/eng aac*/eng"));
    EXPECT_GT(TestSupport::meanVolume(output, 2.1, 1.2), -60);

    // With the maximize job, the finished video peaks at full scale under the next free name.
    const TestSupport::ProcessResult louder = make(
        video, {QStringLiteral("--subtitles"), mediaFile(QStringLiteral("cues.srt")),
                QStringLiteral("--audio-track"), QStringLiteral("none"), QStringLiteral("--voice"),
                QStringLiteral("gmw/en-US"), QStringLiteral("--maximize-volume"),
                QStringLiteral("--volume"), QStringLiteral("20")});
    ASSERT_EQ(louder.exitCode, 0) << louder.err.toStdString();
    const QString maximized = out() + QStringLiteral("/silent film_Kelvorandix_en_US_1.mp4");
    EXPECT_EQ(louder.out, (maximized + u'\n').toUtf8());
    EXPECT_TRUE(louder.err.contains("Maximizing Output Video Volume")) << louder.err.toStdString();
    const std::optional<double> peak = VideoProcessor::detectMaxVolume(maximized);
    ASSERT_TRUE(peak.has_value());
    EXPECT_GT(*peak, -1.0);
    EXPECT_EQ(leftovers().size(), 2) << leftovers().join(u' ');
}

TEST_F(MakeCommand, ContainersDecideWhatTheOutputHolds)
{
    const QString avi = folder.filePath(QStringLiteral("old.avi"));
    TestSupport::ffmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                         QStringLiteral("testsrc=d=5:s=160x120"), QStringLiteral("-f"),
                         QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("sine=d=5"),
                         QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-c:a"),
                         QStringLiteral("libmp3lame"), avi});
    TestSupport::ProcessResult result =
        make(avi, {QStringLiteral("--subtitles"), mediaFile(QStringLiteral("cues.srt")),
                   QStringLiteral("--voice"), QStringLiteral("roa/es"),
                   QStringLiteral("--subtitles-as-stream")});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(describe(streamsOf(out() + QStringLiteral("/old_Kelvorandix_es.avi"))),
              QStringLiteral("mpeg4 mp3"));

    const QString flv = folder.filePath(QStringLiteral("clip.flv"));
    TestSupport::ffmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                         QStringLiteral("testsrc=d=5:s=160x120"), QStringLiteral("-f"),
                         QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("sine=d=5"),
                         QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-c:a"),
                         QStringLiteral("aac"), flv});
    result = make(flv, {QStringLiteral("--subtitles"), mediaFile(QStringLiteral("cues.srt")),
                        QStringLiteral("--voice"), QStringLiteral("roa/es")});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(describe(streamsOf(out() + QStringLiteral("/clip_Kelvorandix_es.flv"))),
              QStringLiteral("h264 mp3"));

    // An .flv holds one audio stream: asking for a second one fails, and leaves nothing behind.
    QDir(out()).removeRecursively();
    QDir().mkpath(out());
    result = make(flv, {QStringLiteral("--subtitles"), mediaFile(QStringLiteral("cues.srt")),
                        QStringLiteral("--voice"), QStringLiteral("roa/es"),
                        QStringLiteral("--new-audio-stream")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains("Could not convert subtitles to voice"))
        << result.err.toStdString();
    EXPECT_TRUE(result.out.isEmpty());
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(u' ');
}

TEST_F(MakeCommand, InterruptStopsFfmpegAndLeavesNoOutput)
{
    // Fifteen minutes of audio keep ffmpeg busy for a while.
    const QString video = folder.filePath(QStringLiteral("long.mkv"));
    TestSupport::ffmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                         QStringLiteral("color=s=64x64:r=1:d=900"), QStringLiteral("-f"),
                         QStringLiteral("lavfi"), QStringLiteral("-i"),
                         QStringLiteral("anullsrc=r=44100:cl=stereo"), QStringLiteral("-t"),
                         QStringLiteral("900"), QStringLiteral("-c:v"), QStringLiteral("libx264"),
                         QStringLiteral("-preset"), QStringLiteral("ultrafast"),
                         QStringLiteral("-c:a"), QStringLiteral("flac"), video});
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), temp());
    env.insert(QStringLiteral("KELVORANDIX_SETTINGS"),
               folder.filePath(QStringLiteral("settings.ini")));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(KELVORANDIX_CLI_PATH),
                  {QStringLiteral("make"), video, QStringLiteral("--subtitles"),
                   mediaFile(QStringLiteral("cues.srt")), QStringLiteral("--voice"),
                   QStringLiteral("roa/es"), QStringLiteral("--output-dir"), out()});
    QByteArray err;
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] {
            process.waitForReadyRead(50);
            err += process.readAllStandardError();
            return err.contains("Processing video") || process.state() == QProcess::NotRunning;
        },
        120000))
        << err.toStdString();
    // ffmpeg is at work: its hidden partial output is there.
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] { return !leftovers().filter(QStringLiteral(".partial.")).isEmpty(); }, 30000))
        << leftovers().join(u' ') << err.toStdString();
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 130) << (err + process.readAllStandardError()).toStdString();
    EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(u' ');
    // No ffmpeg of this run is left.
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (cmdline.open(QIODevice::ReadOnly)) {
            EXPECT_FALSE(cmdline.readAll().contains(out().toUtf8()))
                << "process " << pid.toStdString();
        }
    }
}
