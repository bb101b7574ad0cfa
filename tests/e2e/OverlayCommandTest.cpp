// kelvorandix-cli overlay: a voice-over project from subtitles to a voiced video.
#include "TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

using TestSupport::runCli;

TEST(OverlayCommand, FromSubtitlesToAVoicedVideo)
{
    QTemporaryDir folder;
    const QString video = folder.filePath(QStringLiteral("clip.mkv"));
    const QString subtitles = folder.filePath(QStringLiteral("cues.srt"));
    TestSupport::writeFile(subtitles, "1\n00:00:01,000 --> 00:00:03,000\nFirst line.\n\n"
                                      "2\n00:00:05,000 --> 00:00:07,000\nSecond line.\n\n"
                                      "3\n00:00:09,000 --> 00:00:11,000\nThird line.\n");
    // Stream 2 holds the same cues as text.
    TestSupport::ffmpeg("-f lavfi -i testsrc=d=12:s=160x120 -f lavfi -i "
                        "anullsrc=r=44100:cl=stereo -i %2 -map 0 -map 1 -map 2 -t 12 -c:v libx264 "
                        "-c:a aac -c:s srt %1",
                        {video, subtitles});
    const QString project = folder.filePath(QStringLiteral("my project.s2s"));
    const QStringList env{QStringLiteral("TMPDIR=") + folder.path(),
                          QStringLiteral("KELVORANDIX_SETTINGS=") +
                              folder.filePath(QStringLiteral("settings.ini"))};

    TestSupport::ProcessResult result =
        runCli({QStringLiteral("overlay"), QStringLiteral("new"), project,
                QStringLiteral("--video"), video, QStringLiteral("--subtitles"), subtitles},
               env);
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    // Nothing to make before any item has audio.
    result = runCli({QStringLiteral("overlay"), QStringLiteral("make"), project,
                     QStringLiteral("--output-dir"), folder.filePath(QStringLiteral("out"))},
                    env);
    EXPECT_EQ(result.exitCode, 1);

    result =
        runCli({QStringLiteral("overlay"), QStringLiteral("speak"), project,
                QStringLiteral("--all"), QStringLiteral("--voice"), QStringLiteral("gmw/en-US")},
               env);
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains("3/3: Third line.")) << result.err.toStdString();

    // A tone replaces the second item's speech.
    const QString tone = folder.filePath(QStringLiteral("tone.wav"));
    TestSupport::ffmpeg("-f lavfi -i sine=frequency=600:duration=1.5:sample_rate=48000 %1", {tone});
    result = runCli({QStringLiteral("overlay"), QStringLiteral("attach"), project,
                     QStringLiteral("--item"), QStringLiteral("2"), tone},
                    env);
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();

    result = runCli(
        {QStringLiteral("overlay"), QStringLiteral("list"), project, QStringLiteral("--json")},
        env);
    const QJsonArray items = QJsonDocument::fromJson(result.out).array();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[1].toObject()[QStringLiteral("audio")].toString(), QStringLiteral("01.500"));
    EXPECT_EQ(items[2].toObject()[QStringLiteral("start")].toString(), QStringLiteral("09.000"));

    result = runCli({QStringLiteral("overlay"), QStringLiteral("make"), project,
                     QStringLiteral("--voice"), QStringLiteral("gmw/en-US"),
                     QStringLiteral("--new-audio-stream"), QStringLiteral("--output-dir"),
                     folder.filePath(QStringLiteral("out"))},
                    env);
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QString output = folder.filePath(QStringLiteral("out/clip_Kelvorandix_en_US.mkv"));
    EXPECT_EQ(result.out, (output + u'\n').toUtf8());
    // The added stream carries the items at their times, with silence between them.
    for (const double at : {1.1, 5.1, 9.1})
        EXPECT_GT(TestSupport::meanVolume(output, at, 0.8), -50) << "item at " << at;
    for (const double at : {3.8, 7.9})
        EXPECT_LT(TestSupport::meanVolume(output, at, 0.8), -80) << "gap at " << at;

    // The subtitles may come from a stream of the video, as with make.
    result = runCli({QStringLiteral("overlay"), QStringLiteral("make"), project,
                     QStringLiteral("--subtitles-stream"), QStringLiteral("2"),
                     QStringLiteral("--output-dir"), folder.filePath(QStringLiteral("out"))},
                    env);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
}

// A track past the 4 GiB an AIFF file holds (3 h 22 min of the items' 44.1 kHz stereo 32-bit
// audio) is made whole: every item of a five-hour film is heard. Heavy: about a minute and a
// half, and 8 GB of disk for the while.
TEST(OverlayCommand, ItemsOfAFiveHourFilmAreAllHeard)
{
    QTemporaryDir folder;
    if (QStorageInfo(folder.path()).bytesAvailable() < 12'000'000'000)
        GTEST_SKIP() << "needs 12 GB of free disk";
    const QString video = folder.filePath(QStringLiteral("film.mkv"));
    TestSupport::ffmpeg("-f lavfi -i color=c=black:s=16x16:r=1:d=18000 -c:v libx264 -preset "
                        "ultrafast %1",
                        {video});
    const QString subtitles = folder.filePath(QStringLiteral("cues.srt"));
    TestSupport::writeFile(subtitles, "1\n00:00:01,000 --> 00:00:03,000\nOne.\n\n"
                                      "2\n01:00:00,000 --> 01:00:02,000\nTwo.\n\n"
                                      "3\n04:00:00,000 --> 04:00:02,000\nThree.\n");
    const QString tone = folder.filePath(QStringLiteral("tone.wav"));
    TestSupport::generateTone(tone, 44100, 1, 1, QStringLiteral("pcm_s16le"), 600);
    const QString project = folder.filePath(QStringLiteral("film.s2s"));
    const QStringList env{QStringLiteral("TMPDIR=") + folder.path(),
                          QStringLiteral("KELVORANDIX_SETTINGS=") +
                              folder.filePath(QStringLiteral("settings.ini"))};
    ASSERT_EQ(runCli({QStringLiteral("overlay"), QStringLiteral("new"), project,
                      QStringLiteral("--video"), video, QStringLiteral("--subtitles"), subtitles},
                     env)
                  .exitCode,
              0);
    for (const QString &item : {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")})
        ASSERT_EQ(runCli({QStringLiteral("overlay"), QStringLiteral("attach"), project,
                          QStringLiteral("--item"), item, tone},
                         env)
                      .exitCode,
                  0);

    TestSupport::CliRun make({QStringLiteral("overlay"), QStringLiteral("make"), project,
                              QStringLiteral("--voice"), QStringLiteral("gmw/en-US"),
                              QStringLiteral("--output-dir"),
                              folder.filePath(QStringLiteral("out"))},
                             env);
    ASSERT_EQ(make.waitForExit(900000), 0) << make.err.toStdString();
    const QString output = folder.filePath(QStringLiteral("out/film_Kelvorandix_en_US.mkv"));
    for (const double at : {1.1, 3600.1, 14400.1})
        EXPECT_GT(TestSupport::meanVolume(output, at, 0.8), -50) << "item at " << at;
    EXPECT_LT(TestSupport::meanVolume(output, 7200, 0.8), -80);
}

// A signal stops long work (status 128 + N) and leaves nothing: 'overlay new' builds the
// project under a name of its own and gives it the project's name only once it is whole; the
// partial file of a killed run goes at the next start.
TEST(OverlayCommand, SignalsStopLongWorkAndLeaveNothingBehind)
{
    QTemporaryDir folder;
    const QByteArray cues = TestSupport::manyCues(50000);
    const QString subtitles = folder.filePath(QStringLiteral("many.srt"));
    TestSupport::writeFile(subtitles, cues);
    const QString video = folder.filePath(QStringLiteral("clip.mp4"));
    TestSupport::ffmpeg("-f lavfi -i testsrc=d=1:s=64x48 -c:v libx264 %1", {video});
    const QStringList env{QStringLiteral("TMPDIR=") + folder.filePath(QStringLiteral("tmp"))};
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("tmp")));
    const QString project = folder.filePath(QStringLiteral("film.s2s"));
    const QStringList create{QStringLiteral("overlay"),
                             QStringLiteral("new"),
                             project,
                             QStringLiteral("--video"),
                             video,
                             QStringLiteral("--subtitles"),
                             subtitles};
    auto partials = [&] {
        return QDir(folder.path())
            .entryList({QStringLiteral(".film.*")}, QDir::Files | QDir::Hidden);
    };

    for (const int signal : {SIGINT, SIGKILL}) {
        TestSupport::CliRun run(create, env);
        ASSERT_TRUE(TestSupport::waitUntil([&] { return !partials().isEmpty(); }, 120000))
            << run.err.toStdString();
        run.signal(signal);
        EXPECT_EQ(run.waitForExit(), 128 + signal) << run.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(project)) << signal;
        if (signal == SIGKILL) {
            EXPECT_FALSE(partials().isEmpty());
            runCli({QStringLiteral("--version")}, env);
        }
        EXPECT_TRUE(partials().isEmpty()) << signal << partials().join(u' ').toStdString();
    }

    ASSERT_EQ(runCli(create, env).exitCode, 0);
    for (const QString &format : {QStringLiteral("--json"), QString()}) {
        QStringList list{QStringLiteral("overlay"), QStringLiteral("list"), project};
        if (!format.isEmpty())
            list << format;
        const TestSupport::ProcessResult result =
            TestSupport::signalWhilePrinting(list, SIGTERM, env);
        EXPECT_EQ(result.exitCode, 128 + SIGTERM) << format;
        EXPECT_FALSE(result.out.contains("Cue number 50000.")) << format;
    }
}

TEST(OverlayCommand, FilesThatAreNotProjectsAreRefusedAndLeftAsTheyWere)
{
    QTemporaryDir folder;
    const QStringList env{QStringLiteral("TMPDIR=") + folder.path()};
    // Another program's database, an empty file and a text file.
    const QString other = folder.filePath(QStringLiteral("other.db"));
    TestSupport::runProgram(QStringLiteral("sqlite3"),
                            {other, QStringLiteral("CREATE TABLE notes (body TEXT); INSERT INTO "
                                                   "notes VALUES ('mine');")});
    const QString empty = folder.filePath(QStringLiteral("empty.s2s"));
    TestSupport::writeFile(empty, QByteArray());
    const QString text = folder.filePath(QStringLiteral("notes.s2s"));
    TestSupport::writeFile(text, "just some words\n");
    const QString audio = folder.filePath(QStringLiteral("tone.wav"));
    TestSupport::generateTone(audio, 44100, 1, 0.5, QStringLiteral("pcm_s16le"));

    for (const QString &file : {other, empty, text}) {
        const QByteArray before = TestSupport::readFile(file);
        for (const QStringList &action :
             {QStringList{QStringLiteral("list")},
              QStringList{QStringLiteral("speak"), QStringLiteral("--all")},
              QStringList{QStringLiteral("attach"), QStringLiteral("--item"), QStringLiteral("1"),
                          audio},
              QStringList{QStringLiteral("make")}}) {
            QStringList arguments{QStringLiteral("overlay"), action.first(), file};
            arguments += action.mid(1);
            const TestSupport::ProcessResult result = runCli(arguments, env);
            EXPECT_EQ(result.exitCode, 1) << action.first() << ' ' << file;
            EXPECT_EQ(result.err,
                      (QStringLiteral("Not a voice-over project: ") + file + u'\n').toUtf8())
                << action.first();
        }
        EXPECT_EQ(TestSupport::readFile(file), before) << file;
    }
    EXPECT_EQ(TestSupport::entriesOf(folder.path()).size(), 4);

    const TestSupport::ProcessResult help =
        runCli({QStringLiteral("overlay"), QStringLiteral("make"), QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("overlay make PROJECT")) << help.out.toStdString();
}

TEST(OverlayCommand, BrokenProjectsFailWithTheirReasonAndNeverHang)
{
    QTemporaryDir folder;
    const QStringList env{QStringLiteral("TMPDIR=") + folder.path(),
                          QStringLiteral("KELVORANDIX_SETTINGS=") +
                              folder.filePath(QStringLiteral("settings.ini"))};
    const QString video = folder.filePath(QStringLiteral("clip.mp4"));
    TestSupport::ffmpeg("-f lavfi -i testsrc=d=4:s=160x120 -c:v libx264 %1", {video});
    // An item that claims audio but holds none (another program wrote it so).
    const QString project = folder.filePath(QStringLiteral("broken.s2s"));
    const QString schema =
        QStringLiteral("CREATE TABLE Metadata (id INTEGER PRIMARY KEY AUTOINCREMENT, inputVideo "
                       "TEXT, subtitlesFile TEXT); CREATE TABLE Sounds (id INTEGER PRIMARY KEY "
                       "AUTOINCREMENT, text TEXT, start INTEGER, end INTEGER, audio BLOB, "
                       "audioDuration INTEGER DEFAULT 0); ");
    TestSupport::runProgram(
        QStringLiteral("sqlite3"),
        {project, schema + QStringLiteral("INSERT INTO Metadata (inputVideo, subtitlesFile) "
                                          "VALUES ('%1', ''); INSERT INTO Sounds (text, start, "
                                          "end, audio, audioDuration) VALUES ('Hi', 500, 1500, "
                                          "NULL, 800);")
                               .arg(video)});
    const QStringList make{QStringLiteral("overlay"),
                           QStringLiteral("make"),
                           project,
                           QStringLiteral("--voice"),
                           QStringLiteral("gmw/en-US"),
                           QStringLiteral("--output-dir"),
                           folder.filePath(QStringLiteral("out"))};
    // The render used to be able to deadlock on this failure: a few runs in a row.
    for (int i = 0; i < 3; ++i) {
        const TestSupport::ProcessResult result = runCli(make, env);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_TRUE(result.err.contains("Could not read audio data")) << result.err.toStdString();
    }
    EXPECT_TRUE(TestSupport::entriesOf(folder.filePath(QStringLiteral("out"))).isEmpty());

    // A project without its metadata row names no video.
    const QString bare = folder.filePath(QStringLiteral("bare.s2s"));
    TestSupport::runProgram(QStringLiteral("sqlite3"),
                            {bare, schema + QStringLiteral("INSERT INTO Sounds (text, start, end, "
                                                           "audio, audioDuration) VALUES ('Hi', "
                                                           "500, 1500, x'00', 800);")});
    TestSupport::ProcessResult result =
        runCli({QStringLiteral("overlay"), QStringLiteral("make"), bare}, env);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, QByteArray("The project names no input video; give one with --video\n"));

    // What another program may have written. Times at the ends of the integer range are
    // listed; an id or a time beyond them, or a missing column, is a damaged project rather
    // than an empty one; a stored video named like an option is a file name.
    auto tampered = [&](const QString &name, const QString &sql) {
        const QString path = folder.filePath(name);
        TestSupport::runProgram(QStringLiteral("sqlite3"), {path, sql});
        return path;
    };
    const QString extremes = tampered(
        QStringLiteral("extremes.s2s"),
        schema + QStringLiteral("INSERT INTO Sounds (text, start, end) VALUES ('Hi', 2147483647, "
                                "-2147483648), ('Ho', -2147483648, 2147483647);"));
    result = runCli({QStringLiteral("overlay"), QStringLiteral("list"), extremes}, env);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QString bigId = tampered(
        QStringLiteral("big id.s2s"),
        schema + QStringLiteral("INSERT INTO Sounds (id, text, start, end) VALUES (4294967297, "
                                "'Hi', 0, 1000);"));
    result = runCli({QStringLiteral("overlay"), QStringLiteral("list"), bigId}, env);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains("is damaged: item 4294967297")) << result.err.toStdString();
    const QString noColumn = tampered(
        QStringLiteral("no column.s2s"),
        QStringLiteral("CREATE TABLE Metadata (id INTEGER PRIMARY KEY, inputVideo TEXT); CREATE "
                       "TABLE Sounds (id INTEGER PRIMARY KEY, text TEXT, start INTEGER, end "
                       "INTEGER, audio BLOB); INSERT INTO Sounds (text) VALUES ('Hi');"));
    result = runCli(
        {QStringLiteral("overlay"), QStringLiteral("list"), noColumn, QStringLiteral("--json")},
        env);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.out.isEmpty());
    const QString optionVideo = tampered(
        QStringLiteral("option video.s2s"),
        schema + QStringLiteral("INSERT INTO Metadata (inputVideo) VALUES ('--help'); INSERT "
                                "INTO Sounds (text, start, end, audio, audioDuration) VALUES "
                                "('Hi', 500, 1500, x'00', 800);"));
    result =
        TestSupport::runIn(folder.path(), QStringLiteral(KELVORANDIX_CLI_PATH),
                           {QStringLiteral("overlay"), QStringLiteral("make"), optionVideo}, env);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.out.isEmpty()) << result.out.toStdString();
}

TEST(OverlayCommand, RecordStoresTheMicrophoneAsTheItemsAudio)
{
    QTemporaryDir folder;
    const QStringList env{QStringLiteral("TMPDIR=") + folder.path(),
                          QStringLiteral("KELVORANDIX_SETTINGS=") +
                              folder.filePath(QStringLiteral("settings.ini"))};
    const QString project = folder.filePath(QStringLiteral("voices.s2s"));
    TestSupport::runProgram(
        QStringLiteral("sqlite3"),
        {project,
         QStringLiteral("CREATE TABLE Metadata (id INTEGER PRIMARY KEY AUTOINCREMENT, inputVideo "
                        "TEXT, subtitlesFile TEXT); CREATE TABLE Sounds (id INTEGER PRIMARY KEY "
                        "AUTOINCREMENT, text TEXT, start INTEGER, end INTEGER, audio BLOB, "
                        "audioDuration INTEGER DEFAULT 0); INSERT INTO Sounds (text, start, end) "
                        "VALUES ('One', 0, 2000), ('Two', 3000, 5000);")});
    const auto audioOf = [&](int row) {
        const TestSupport::ProcessResult list = runCli(
            {QStringLiteral("overlay"), QStringLiteral("list"), project, QStringLiteral("--json")},
            env);
        return QJsonDocument::fromJson(list.out)
            .array()[row]
            .toObject()[QStringLiteral("audio")]
            .toString()
            .toDouble();
    };
    const QStringList record{QStringLiteral("overlay"), QStringLiteral("record"), project,
                             QStringLiteral("--item"), QStringLiteral("2")};

    // No sound server: the recorder's reason, and the item as it was.
    TestSupport::ProcessResult result =
        runCli(record + QStringList{QStringLiteral("--seconds"), QStringLiteral("1")},
               env + QStringList{QStringLiteral("PULSE_SERVER=") +
                                 TestSupport::PulseServer::absentAddress()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, QByteArray("Could not initialize audio recorder: Connection refused\n"));
    EXPECT_EQ(audioOf(1), 0);

    TestSupport::PulseServer server;
    ASSERT_TRUE(server.isRunning()) << server.log();
    result = runCli(record + QStringList{QStringLiteral("--seconds"), QStringLiteral("1")},
                    env + server.environment());
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    ASSERT_TRUE(result.out.startsWith("item 2: ")) << result.out.toStdString();
    const double seconds = result.out.mid(8).trimmed().toDouble();
    EXPECT_NEAR(seconds, 1.0, 0.1) << result.out.toStdString();
    EXPECT_EQ(audioOf(1), seconds);

    // Ctrl-C ends a recording without a time limit; what was recorded is kept.
    TestSupport::CliRun run(record, env + server.environment());
    ASSERT_TRUE(run.waitForError("Ctrl-C stops", 20000)) << run.err.toStdString();
    QThread::msleep(500);
    run.signal(SIGINT);
    EXPECT_EQ(run.waitForExit(), 0) << run.err.toStdString();
    EXPECT_GT(audioOf(1), 0.3);
    EXPECT_LT(audioOf(1), seconds);
}
