// kelvorandix-cli make, the main job, on media made at test time and checked with ffprobe.
#include "TestSupport.h"
#include "VideoProcessor/VolumeTools.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>
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
        TestSupport::ffmpeg(
            "-f lavfi -i testsrc=d=6:s=160x120 -f lavfi -i "
            "anullsrc=r=44100:cl=stereo -f lavfi -i sine=d=6 -i %1 -map 0 -map 1 "
            "-map 2 -map 3 -t 6 -c:v libx264 -c:a aac -c:s srt -disposition:a:0 "
            "default -disposition:a:1 0 -disposition:s:0 0 %2",
            {mediaFile(QStringLiteral("cues.srt")), mediaFile(QStringLiteral("movie.mkv"))});
        // bed.mkv: six lines of talk over a quiet bed of pink noise, the talk the loudest part.
        QByteArray lines;
        const char *texts[] = {
            "Where were you last night?",          "I waited for you until the lights went out.",
            "You never listen to anything I say.", "That is not true and you know it.",
            "Then tell me what happened.",         "Nothing happened, I promise you."};
        for (int i = 0; i < 6; ++i)
            lines += QStringLiteral("%1\n00:00:%2,000 --> 00:00:%3,500\n%4\n\n")
                         .arg(i + 1)
                         .arg(1 + 3 * i, 2, 10, QLatin1Char('0'))
                         .arg(3 + 3 * i, 2, 10, QLatin1Char('0'))
                         .arg(QString::fromUtf8(texts[i]))
                         .toUtf8();
        TestSupport::writeFile(mediaFile(QStringLiteral("bed.srt")), lines);
        TestSupport::ffmpeg("-f lavfi -i testsrc=d=20:s=160x120:r=10 -f lavfi -i "
                            "anoisesrc=color=pink:amplitude=0.25:d=20:r=44100:seed=7 -c:v libx264 "
                            "-c:a aac %1",
                            {mediaFile(QStringLiteral("bed.mkv"))});
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

TEST_F(MakeCommand, SpeechAfterTheEndOfAShortAudioStreamIsKept)
{
    // 12 s of video whose audio stops at 5 s; the cues come after that.
    const QString video = folder.filePath(QStringLiteral("short audio.mkv"));
    TestSupport::ffmpeg("-f lavfi -i testsrc=d=12:s=160x120 -f lavfi -i anullsrc=r=44100:d=5 "
                        "-c:v libx264 -c:a aac %1",
                        {video});
    const QString cues = folder.filePath(QStringLiteral("late.srt"));
    TestSupport::writeFile(cues, "1\n00:00:06,500 --> 00:00:08,000\nStill here.\n\n"
                                 "2\n00:00:09,000 --> 00:00:10,500\nAnd here too.\n");
    const TestSupport::ProcessResult result =
        make(video, {QStringLiteral("--subtitles"), cues, QStringLiteral("--voice"),
                     QStringLiteral("gmw/en-US")});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QString output = out() + QStringLiteral("/short audio_Kelvorandix_en_US.mkv");
    // 0 dB is what the measure gives where the stream has no samples at all.
    for (const double at : {6.6, 9.1}) {
        const double level = TestSupport::meanVolume(output, at, 0.6);
        EXPECT_TRUE(level > -50 && level < 0) << level << " dB at " << at << " s";
    }
}

TEST_F(MakeCommand, OddEnvironmentsAndNamesStillWork)
{
    // A name that fills the file system's limit once the voice's tag is added.
    const QString name = QString(100, QChar(0xE9)) + QString(36, u'x');
    const QString video = folder.filePath(name + QStringLiteral(".mkv"));
    ASSERT_TRUE(QFile::copy(mediaFile(QStringLiteral("movie.mkv")), video));
    const QStringList cues{QStringLiteral("--subtitles"), mediaFile(QStringLiteral("cues.srt")),
                           QStringLiteral("--voice"), QStringLiteral("roa/es"),
                           QStringLiteral("--maximize-volume")};
    TestSupport::ProcessResult result = make(video, cues);
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(
        QFile::encodeName(QFileInfo(QString::fromUtf8(result.out.trimmed())).fileName()).size(),
        255);

    // A TMPDIR that names no folder: the system's temporary folder is used, and said so.
    result = runCli(QStringList{QStringLiteral("make"), mediaFile(QStringLiteral("movie.mkv")),
                                QStringLiteral("--output-dir"), out()} +
                        cues,
                    {QStringLiteral("TMPDIR=") + folder.filePath(QStringLiteral("gone")),
                     QStringLiteral("KELVORANDIX_SETTINGS=") +
                         folder.filePath(QStringLiteral("settings.ini"))});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains("/tmp is used")) << result.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(folder.filePath(QStringLiteral("gone"))));

    // No HOME: the account's home folder, never "/", holds the settings and the videos.
    result = runCli({QStringLiteral("voices"), QStringLiteral("--language"), QStringLiteral("es")},
                    {QStringLiteral("HOME"), QStringLiteral("TMPDIR=") + temp()});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains("HOME is not set; the home folder /"))
        << result.err.toStdString();

    // A name in another encoding than UTF-8 is named back, not reported missing.
    const TestSupport::ProcessResult shell = TestSupport::runIn(
        folder.path(), QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"), QStringLiteral("\"$0\" probe \"$(printf 'caf\\351.mkv')\""),
         QStringLiteral(KELVORANDIX_CLI_PATH)});
    EXPECT_EQ(shell.exitCode, 2);
    EXPECT_TRUE(shell.err.contains("'caf\\xe9.mkv' is not UTF-8 text")) << shell.err.toStdString();
}

TEST_F(MakeCommand, SpeechAloneForAVideoWithoutAudio)
{
    const QString video = folder.filePath(QStringLiteral("silent film.mp4"));
    TestSupport::ffmpeg("-f lavfi -i testsrc=d=5:s=160x120 -c:v libx264 %1", {video});
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
    const std::optional<double> peak = VolumeTools::detectMaxVolume(maximized);
    ASSERT_TRUE(peak.has_value());
    EXPECT_GT(*peak, -1.0);
    EXPECT_EQ(leftovers().size(), 2) << leftovers().join(u' ');
}

TEST_F(MakeCommand, ContainersDecideWhatTheOutputHolds)
{
    const QString avi = folder.filePath(QStringLiteral("old.avi"));
    TestSupport::ffmpeg("-f lavfi -i testsrc=d=5:s=160x120 -f lavfi -i sine=d=5 -c:v mpeg4 -c:a "
                        "libmp3lame %1",
                        {avi});
    TestSupport::ProcessResult result =
        make(avi, {QStringLiteral("--subtitles"), mediaFile(QStringLiteral("cues.srt")),
                   QStringLiteral("--voice"), QStringLiteral("roa/es"),
                   QStringLiteral("--subtitles-as-stream")});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(describe(streamsOf(out() + QStringLiteral("/old_Kelvorandix_es.avi"))),
              QStringLiteral("mpeg4 mp3"));

    const QString flv = folder.filePath(QStringLiteral("clip.flv"));
    TestSupport::ffmpeg("-f lavfi -i testsrc=d=5:s=160x120 -f lavfi -i sine=d=5 -c:v libx264 "
                        "-c:a aac %1",
                        {flv});
    result = make(flv, {QStringLiteral("--subtitles"), mediaFile(QStringLiteral("cues.srt")),
                        QStringLiteral("--voice"), QStringLiteral("roa/es")});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(describe(streamsOf(out() + QStringLiteral("/clip_Kelvorandix_es.flv"))),
              QStringLiteral("h264 mp3"));

    // An .flv holds one audio stream: a second one is not added but mixed, and said so; the
    // speech alone beside the video's own audio is refused before any work, leaving nothing.
    QDir(out()).removeRecursively();
    QDir().mkpath(out());
    result = make(flv, {QStringLiteral("--subtitles"), mediaFile(QStringLiteral("cues.srt")),
                        QStringLiteral("--voice"), QStringLiteral("roa/es"),
                        QStringLiteral("--new-audio-stream")});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains("the speech is mixed into the chosen one"))
        << result.err.toStdString();
    EXPECT_EQ(describe(streamsOf(QString::fromUtf8(result.out.trimmed()))),
              QStringLiteral("h264 mp3"));
    QDir(out()).removeRecursively();
    QDir().mkpath(out());
    result = make(flv, {QStringLiteral("--subtitles"), mediaFile(QStringLiteral("cues.srt")),
                        QStringLiteral("--voice"), QStringLiteral("roa/es"),
                        QStringLiteral("--audio-track"), QStringLiteral("none")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.startsWith("'.flv' videos hold one audio stream"))
        << result.err.toStdString();
    EXPECT_TRUE(result.out.isEmpty());
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(u' ');

    // Ogg's Vorbis encoder writes stereo only: mono speech and mono sources are spread over two
    // channels.
    const QString ogv = folder.filePath(QStringLiteral("mono.ogv"));
    TestSupport::ffmpeg("-f lavfi -i testsrc=d=5:s=160x120 -f lavfi -i sine=d=5 -ac 1 -c:v "
                        "libtheora -c:a libvorbis %1",
                        {ogv});
    for (const QString &track : {QStringLiteral("1"), QStringLiteral("none")}) {
        result = make(ogv, {QStringLiteral("--subtitles"), mediaFile(QStringLiteral("cues.srt")),
                            QStringLiteral("--voice"), QStringLiteral("roa/es"),
                            QStringLiteral("--audio-track"), track});
        ASSERT_EQ(result.exitCode, 0) << track.toStdString() << result.err.toStdString();
        EXPECT_GT(TestSupport::meanVolume(QString::fromUtf8(result.out.trimmed()), 2.1, 1.2,
                                          track == QLatin1String("none") ? 1 : 0),
                  -60);
    }
}

TEST_F(MakeCommand, TwoRunsAtOnceKeepBothVideos)
{
    const QStringList options{QStringLiteral("--subtitles"), mediaFile(QStringLiteral("cues.srt")),
                              QStringLiteral("--voice"), QStringLiteral("roa/es")};
    const QStringList environment{QStringLiteral("TMPDIR=") + temp(),
                                  QStringLiteral("KELVORANDIX_SETTINGS=") +
                                      folder.filePath(QStringLiteral("settings.ini"))};
    const QStringList arguments =
        QStringList{QStringLiteral("make"), mediaFile(QStringLiteral("movie.mkv")),
                    QStringLiteral("--output-dir"), out()} +
        options;
    TestSupport::CliRun first(arguments, environment);
    TestSupport::CliRun second(arguments, environment);
    ASSERT_EQ(first.waitForExit(120000), 0) << first.err.toStdString();
    ASSERT_EQ(second.waitForExit(120000), 0) << second.err.toStdString();
    const QSet<QByteArray> paths{first.out.trimmed(), second.out.trimmed()};
    EXPECT_EQ(paths,
              (QSet<QByteArray>{(out() + QStringLiteral("/movie_Kelvorandix_es.mkv")).toUtf8(),
                                (out() + QStringLiteral("/movie_Kelvorandix_es_1.mkv")).toUtf8()}));
    for (const QByteArray &path : paths)
        EXPECT_EQ(streamsOf(QString::fromUtf8(path)).size(), 4) << path.toStdString();
    EXPECT_EQ(leftovers().size(), 2) << leftovers().join(u' ');
}

TEST_F(MakeCommand, AFullDiskIsAFailureAndLeavesNoVideo)
{
    // ffmpeg writes an MP4's index last and, when only that fails, still exits with status 0.
    // A file size limit between the media data and the whole file stands in for a disk that
    // fills up just then (the speech track and the working files stay well below it).
    const QString video = folder.filePath(QStringLiteral("noisy.mp4"));
    TestSupport::ffmpeg("-f lavfi -i testsrc=d=3:s=320x240,noise=alls=100:allf=t -f lavfi -i "
                        "sine=d=3 -c:v libx264 -preset ultrafast -crf 18 -c:a aac %1",
                        {video});
    const QStringList options{QStringLiteral("--subtitles"), mediaFile(QStringLiteral("cues.srt")),
                              QStringLiteral("--voice"), QStringLiteral("roa/es")};
    TestSupport::ProcessResult result = make(video, options);
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QByteArray whole = TestSupport::readFile(QString::fromUtf8(result.out.trimmed()));
    qint64 index = 0;
    for (qint64 at = 0; at + 8 <= whole.size() && index == 0;) {
        const qint64 size = qFromBigEndian<quint32>(whole.constData() + at);
        if (whole.mid(at + 4, 4) == "moov")
            index = size;
        at += std::max<qint64>(size, 8);
    }
    ASSERT_GT(index, 0);
    QDir(out()).removeRecursively();
    QDir().mkpath(out());

    result = runCli(
        QStringList{QStringLiteral("make"), video, QStringLiteral("--output-dir"), out()} + options,
        {QStringLiteral("TMPDIR=") + temp(),
         QStringLiteral("KELVORANDIX_SETTINGS=") + folder.filePath(QStringLiteral("settings.ini"))},
        whole.size() - index / 2);
    EXPECT_EQ(result.exitCode, 1) << result.out.toStdString();
    EXPECT_TRUE(result.out.isEmpty());
    EXPECT_TRUE(result.err.contains("File too large")) << result.err.toStdString();
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(u' ');
}

// Runs on a fifteen-minute film with an ffmpeg that takes its time where asked, so that there
// is time to interrupt, kill or stop it from outside.
class MakeInterruptions : public MakeCommand {
protected:
    static void SetUpTestSuite()
    {
        MakeCommand::SetUpTestSuite();
        TestSupport::ffmpeg("-f lavfi -i color=s=64x64:r=1:d=900 -f lavfi -i sine=r=8000 -t 900 "
                            "-c:v libx264 -preset ultrafast -c:a flac %1",
                            {mediaFile(QStringLiteral("long.mkv"))});
    }
    // slowWhere: the word in ffmpeg's arguments that makes a run slow.
    std::unique_ptr<TestSupport::CliRun> start(const QString &slowWhere,
                                               const QStringList &options = {},
                                               const QString &subtitles = QString())
    {
        const QString bin = folder.filePath(QStringLiteral("bin"));
        QDir().mkpath(bin);
        return std::make_unique<TestSupport::CliRun>(
            QStringList{QStringLiteral("make"), mediaFile(QStringLiteral("long.mkv")),
                        QStringLiteral("--subtitles"),
                        subtitles.isEmpty() ? mediaFile(QStringLiteral("cues.srt")) : subtitles,
                        QStringLiteral("--voice"), QStringLiteral("roa/es"),
                        QStringLiteral("--output-dir"), out()} +
                options,
            QStringList{QStringLiteral("TMPDIR=") + temp(),
                        QStringLiteral("KELVORANDIX_SETTINGS=") +
                            folder.filePath(QStringLiteral("settings.ini")),
                        QStringLiteral("PATH=") + TestSupport::slowFfmpegFolder(bin, slowWhere) +
                            u':' + qEnvironmentVariable("PATH")});
    }
    // The pids of this test's tools that hold word in their arguments.
    QStringList tools(const QString &word) const
    {
        return TestSupport::processesWith(temp()).filter(word) +
               TestSupport::processesWith(out()).filter(word);
    }
    void expectNothingLeft()
    {
        EXPECT_TRUE(TestSupport::waitUntil(
            [&] { return TestSupport::processesWith(temp()).isEmpty(); }, 5000))
            << TestSupport::processesWith(temp()).join(u'\n');
        EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(u' ');
    }
};

TEST_F(MakeInterruptions, InterruptStopsFfmpegAndLeavesNoOutput)
{
    auto run = start(QStringLiteral("-map"));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !tools(QStringLiteral("-map")).isEmpty(); }))
        << run->err.toStdString();
    run->signal(SIGINT);
    EXPECT_EQ(run->waitForExit(), 130) << run->err.toStdString();
    EXPECT_TRUE(run->out.isEmpty());
    expectNothingLeft();
}

TEST_F(MakeInterruptions, TwoSignalsInARowStillCleanUp)
{
    auto run = start(QStringLiteral("-map"));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !tools(QStringLiteral("-map")).isEmpty(); }));
    run->signal(SIGTERM);
    QThread::msleep(10);
    run->signal(SIGTERM);
    EXPECT_EQ(run->waitForExit(), 143) << run->err.toStdString();
    expectNothingLeft();

    // A signal while the subtitles are still being converted, before the chain exists.
    const QString late = folder.filePath(QStringLiteral("late.srt"));
    TestSupport::writeFile(late, "1\n00:00:30,000 --> 00:00:32,000\nTarde\n");
    run = start(QStringLiteral("source-"), {}, late);
    ASSERT_TRUE(
        TestSupport::waitUntil([&] { return !tools(QStringLiteral("source-")).isEmpty(); }));
    run->signal(SIGTERM);
    EXPECT_EQ(run->waitForExit(), 143) << run->err.toStdString();
    EXPECT_TRUE(run->err.isEmpty()) << run->err.toStdString();
    expectNothingLeft();
}

TEST_F(MakeInterruptions, AnFfmpegStoppedFromOutsideFailsTheRun)
{
    auto run = start(QStringLiteral("-map"));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !tools(QStringLiteral("-map")).isEmpty(); }));
    const QStringList ffmpeg = tools(QStringLiteral("-map"));
    ::kill(pid_t(ffmpeg.first().section(u' ', 0, 0).toInt()), SIGTERM);
    EXPECT_EQ(run->waitForExit(30000), 1) << run->err.toStdString();
    EXPECT_TRUE(run->err.contains("ffmpeg was stopped before it finished"))
        << run->err.toStdString();
    expectNothingLeft();
}

TEST_F(MakeInterruptions, AKilledRunTakesItsToolsAlongAndTheNextStartCleansUp)
{
    auto run = start(QStringLiteral("-map"));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !tools(QStringLiteral("-map")).isEmpty(); }));
    run->signal(SIGKILL);
    run->waitForExit();
    EXPECT_TRUE(
        TestSupport::waitUntil([&] { return tools(QStringLiteral("ffmpeg")).isEmpty(); }, 5000))
        << tools(QStringLiteral("ffmpeg")).join(u'\n');
    // Its working folder, its placeholder and its partial video are still there...
    EXPECT_EQ(TestSupport::entriesOf(temp()).size(), 1);
    EXPECT_EQ(TestSupport::entriesOf(out()).size(), 2);
    // ...until the next start.
    const TestSupport::ProcessResult next =
        runCli({QStringLiteral("voices"), QStringLiteral("--language"), QStringLiteral("es")},
               {QStringLiteral("TMPDIR=") + temp()});
    EXPECT_EQ(next.exitCode, 0);
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(u' ');
}

TEST_F(MakeInterruptions, TheNextStartRemovesExactlyWhatAKilledRunLeft)
{
    // An output folder whose name holds a line end after the name of a file beside it.
    const QString victim = folder.filePath(QStringLiteral("victim.txt"));
    TestSupport::writeFile(victim, "the user's");
    const QString tricky = victim + QStringLiteral("\nout");
    QDir().mkpath(tricky);
    auto run = start(QStringLiteral("-map"), {QStringLiteral("--output-dir"), tricky});
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !tools(QStringLiteral("-map")).isEmpty(); }))
        << run->err.toStdString();
    run->signal(SIGKILL);
    run->waitForExit();
    ASSERT_TRUE(
        TestSupport::waitUntil([&] { return tools(QStringLiteral("ffmpeg")).isEmpty(); }, 5000));
    EXPECT_EQ(TestSupport::entriesOf(tricky).size(), 2);
    runCli({QStringLiteral("voices")}, {QStringLiteral("TMPDIR=") + temp()});
    EXPECT_EQ(TestSupport::readFile(victim), "the user's");
    EXPECT_TRUE(TestSupport::entriesOf(tricky).isEmpty())
        << TestSupport::entriesOf(tricky).join(u' ').toStdString();
}

TEST_F(MakeInterruptions, AVideoKilledBeforeItsLoudnessIsRaisedIsNeverTakenAsFinished)
{
    // The gain pass over the finished video is the one that copies its streams with "-c copy".
    const QString gainPass = QStringLiteral(" -c copy ");
    auto run = start(gainPass, {QStringLiteral("--maximize-volume")});
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !tools(gainPass).isEmpty(); }, 60000))
        << run->err.toStdString();
    run->signal(SIGKILL);
    run->waitForExit();
    // The output's name holds nothing but the empty placeholder; the videos are hidden.
    const QFileInfo output(out() + QStringLiteral("/long_Kelvorandix_es.mkv"));
    EXPECT_EQ(output.exists() ? output.size() : 0, 0);
    EXPECT_TRUE(
        TestSupport::waitUntil([&] { return tools(QStringLiteral("ffmpeg")).isEmpty(); }, 5000));
    const TestSupport::ProcessResult next =
        runCli({QStringLiteral("voices"), QStringLiteral("--language"), QStringLiteral("es")},
               {QStringLiteral("TMPDIR=") + temp()});
    EXPECT_EQ(next.exitCode, 0);
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(u' ');
}

TEST_F(MakeInterruptions, CancellingTheLoudnessPassLeavesNoVideo)
{
    // The analysis of the finished video's audio streams is the slow step.
    auto run = start(QStringLiteral("]volumedetect"), {QStringLiteral("--maximize-volume")});
    ASSERT_TRUE(run->waitForError("Maximizing Output Video Volume")) << run->err.toStdString();
    ASSERT_TRUE(
        TestSupport::waitUntil([&] { return !tools(QStringLiteral("]volumedetect")).isEmpty(); }));
    run->signal(SIGINT);
    // The analysis of the whole film would take fifteen minutes.
    EXPECT_EQ(run->waitForExit(30000), 130) << run->err.toStdString();
    EXPECT_TRUE(run->out.isEmpty());
    expectNothingLeft();
}

TEST_F(MakeCommand, SwitchesOverrideTheStoredOptions)
{
    TestSupport::writeFile(folder.filePath(QStringLiteral("settings.ini")),
                           "[General]\nnewAudioStreamKey=true\nnewSubtitlesStreamKey=true\n"
                           "volumeKey=-30\n");
    const TestSupport::ProcessResult result =
        make(mediaFile(QStringLiteral("movie.mkv")),
             {QStringLiteral("--subtitles"), mediaFile(QStringLiteral("cues.srt")),
              QStringLiteral("--voice"), QStringLiteral("roa/es"),
              QStringLiteral("--no-new-audio-stream"), QStringLiteral("--no-subtitles-as-stream")});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    // A negative level would turn the original's phase over: it is read as 0, and said so.
    EXPECT_TRUE(result.err.contains("The stored volume -30% is outside 0 to 100; 0% is used"))
        << result.err.toStdString();
    // The speech is mixed into the default stream and no subtitle stream is added.
    EXPECT_EQ(describe(streamsOf(QString::fromUtf8(result.out.trimmed()))),
              QStringLiteral("h264*/spa aac/spa aac subrip"));
    const TestSupport::ProcessResult both =
        make(mediaFile(QStringLiteral("movie.mkv")),
             {QStringLiteral("--subtitles"), mediaFile(QStringLiteral("cues.srt")),
              QStringLiteral("--new-audio-stream"), QStringLiteral("--no-new-audio-stream")});
    EXPECT_EQ(both.exitCode, 2);
    const TestSupport::ProcessResult loud =
        make(mediaFile(QStringLiteral("movie.mkv")),
             {QStringLiteral("--subtitles"), mediaFile(QStringLiteral("cues.srt")),
              QStringLiteral("--volume"), QStringLiteral("101")});
    EXPECT_EQ(loud.exitCode, 2);
    EXPECT_TRUE(loud.err.contains("from 0 to 100")) << loud.err.toStdString();
}

TEST_F(MakeCommand, DuckingAndALoudnessTargetInTheOnePass)
{
    // Ducked at the broadcast target; and at the online target without ducking, on talk louder
    // than its bed: there the limiter holds back much, and takes the more loudness off the more
    // gain it is given, and the encoder must not lift the peaks past the limit.
    struct Treatment {
        QString film;
        QStringList options;
        QString voicedStream;
    };
    const QList<Treatment> treatments = {
        {QStringLiteral("movie.mkv"),
         {QStringLiteral("--subtitles"), mediaFile(QStringLiteral("cues.srt")),
          QStringLiteral("--voice"), QStringLiteral("roa/es"), QStringLiteral("--audio-track"),
          QStringLiteral("2"), QStringLiteral("--duck"), QStringLiteral("--volume"),
          QStringLiteral("25"), QStringLiteral("--loudness"), QStringLiteral("-23")},
         QStringLiteral("0:a:1")},
        {QStringLiteral("bed.mkv"),
         {QStringLiteral("--subtitles"), mediaFile(QStringLiteral("bed.srt")),
          QStringLiteral("--voice"), QStringLiteral("gmw/en-US"), QStringLiteral("--loudness"),
          QStringLiteral("-16")},
         QStringLiteral("0:a:0")}};
    for (const Treatment &treatment : treatments) {
        const TestSupport::ProcessResult result =
            make(mediaFile(treatment.film), treatment.options);
        ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
        const QString output = QString::fromUtf8(result.out.trimmed());
        // Only the make-video job: the target needs no pass of its own over the finished video.
        EXPECT_FALSE(result.err.contains("Maximizing")) << result.err.toStdString();
        EXPECT_FALSE(result.err.contains("LUFS target")) << result.err.toStdString();
        const TestSupport::ProcessResult meter = TestSupport::runProgram(
            QStringLiteral("ffmpeg"),
            {QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"), QStringLiteral("-i"),
             output, QStringLiteral("-map"), treatment.voicedStream, QStringLiteral("-af"),
             QStringLiteral("ebur128=peak=true"), QStringLiteral("-f"), QStringLiteral("null"),
             QStringLiteral("-")});
        const QString summary =
            QString::fromUtf8(meter.err).section(QStringLiteral("Summary:"), -1);
        const QStringList integrated =
            summary.section(QStringLiteral("I:"), 1).simplified().split(u' ');
        const QStringList peak =
            summary.section(QStringLiteral("Peak:"), 1).simplified().split(u' ');
        EXPECT_NEAR(integrated.value(0).toDouble(), treatment.options.last().toDouble(), 1.0)
            << summary;
        EXPECT_LE(peak.value(0).toDouble(), -1.0) << summary;
        EXPECT_TRUE(leftovers() == QStringList{QFileInfo(output).fileName()})
            << leftovers().join(u' ');
        QFile::remove(output);
    }
    // Where even the most gain leaves it short (one line, the original kept at 10%), the video
    // is made and the user told by how much.
    const TestSupport::ProcessResult quiet =
        make(mediaFile(QStringLiteral("movie.mkv")),
             {QStringLiteral("--subtitles"), mediaFile(QStringLiteral("cues.srt")),
              QStringLiteral("--voice"), QStringLiteral("roa/es"), QStringLiteral("--audio-track"),
              QStringLiteral("2"), QStringLiteral("--volume"), QStringLiteral("10"),
              QStringLiteral("--loudness"), QStringLiteral("-16")});
    ASSERT_EQ(quiet.exitCode, 0) << quiet.err.toStdString();
    EXPECT_TRUE(quiet.err.contains("LU under the -16 LUFS target: it is raised by 24 dB at most."))
        << quiet.err.toStdString();
    QFile::remove(QString::fromUtf8(quiet.out.trimmed()));
}

TEST_F(MakeCommand, OfALoudnessTargetAndMaximizingTheLaterSwitchWins)
{
    const QString missing = mediaFile(QStringLiteral("missing.mkv"));
    const QStringList subtitles{QStringLiteral("--subtitles"),
                                mediaFile(QStringLiteral("cues.srt"))};
    TestSupport::ProcessResult result =
        make(missing, subtitles + QStringList{QStringLiteral("--maximize-volume"),
                                              QStringLiteral("--loudness"), QStringLiteral("-16")});
    EXPECT_TRUE(result.err.contains("--loudness comes after --maximize-volume and replaces it"))
        << result.err.toStdString();
    result = make(missing, subtitles + QStringList{QStringLiteral("--loudness=-23"),
                                                   QStringLiteral("--maximize-volume")});
    EXPECT_TRUE(result.err.contains("--maximize-volume comes after --loudness and replaces it"))
        << result.err.toStdString();
    result =
        make(missing, subtitles + QStringList{QStringLiteral("--loudness"), QStringLiteral("-20")});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(result.err.contains("--loudness takes -23 (broadcast) or -16 (online video)"))
        << result.err.toStdString();
    result = make(missing,
                  subtitles + QStringList{QStringLiteral("--duck"), QStringLiteral("--no-duck")});
    EXPECT_EQ(result.exitCode, 2);
}
