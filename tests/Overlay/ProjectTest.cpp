// The project file over the real SQLite, and its rendering into one track.
#include "Overlay/Project.h"
#include "../Jobs/RecordingDisplay.h"
#include "Jobs/MakeOutputQueue.h"
#include "Jobs/OverlayProjectToAudio.h"
#include "MainThread.h"
#include "Overlay/ProjectToAudio.h"
#include "Speech/AIFFFile.h"
#include "TestSupport.h"
#include "VSError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThreadPool>
#include <functional>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sqlite3.h>
#include <vector>

namespace {

Subtitle cue(double start, double end, const QString &text)
{
    return Subtitle{start, end, {text}, std::nullopt};
}

std::vector<int> samplesOf(const QString &path)
{
    SF_INFO info{};
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file)
        return {};
    std::vector<int> samples(size_t(info.frames * info.channels));
    sf_readf_int(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
}

class ProjectTest : public ::testing::Test {
protected:
    QString path(const QString &name) const { return folder.filePath(name); }
    // A tone in the project's PCM form (44.1 kHz stereo, 32-bit).
    QString tone(const QString &name, double seconds, int frequency)
    {
        const QString file = path(name);
        TestSupport::ffmpeg("-f lavfi -i %1 -ac 2 -c:a pcm_s32be %2",
                            {QStringLiteral("sine=frequency=%1:duration=%2:sample_rate=44100")
                                 .arg(frequency)
                                 .arg(seconds),
                             file});
        return file;
    }
    QTemporaryDir folder;
    QString projectFile = folder.filePath(QStringLiteral("project 's2s'.s2s"));
};

} // namespace

TEST_F(ProjectTest, FileFormatAndNewItems)
{
    {
        Project project(projectFile);
        project.setInputVideo(QStringLiteral("/videos/it's a \"film\".mkv"));
        project.insertSubtitles({cue(1000.7, 2000, QStringLiteral("<i>One</i>")),
                                 cue(500, 900, QStringLiteral("Two")),
                                 cue(3000, 4000, QStringLiteral("Three"))});
        EXPECT_EQ(project.inputVideo(), QStringLiteral("/videos/it's a \"film\".mkv"));
    }
    const TestSupport::ProcessResult schema = TestSupport::runProgram(
        QStringLiteral("sqlite3"), {projectFile, QStringLiteral(".schema")});
    EXPECT_EQ(
        schema.out,
        QByteArray(
            "CREATE TABLE Metadata (id INTEGER PRIMARY KEY AUTOINCREMENT, inputVideo TEXT, "
            "subtitlesFile TEXT);\n"
            "CREATE TABLE sqlite_sequence(name,seq);\n"
            "CREATE TABLE Sounds (id INTEGER PRIMARY KEY AUTOINCREMENT, text TEXT, start INTEGER, "
            "end INTEGER, audio BLOB, audioDuration INTEGER DEFAULT 0);\n"));
    const TestSupport::ProcessResult rows = TestSupport::runProgram(
        QStringLiteral("sqlite3"),
        {projectFile,
         QStringLiteral("SELECT id, text, start, end, audio IS NULL, audioDuration FROM Sounds")});
    EXPECT_EQ(rows.out,
              QByteArray("1|One |1000|2000|1|0\n2|Two |500|900|1|0\n3|Three |3000|4000|1|0\n"));

    Project reopened(projectFile);
    EXPECT_FALSE(reopened.hasItemsWithAudio());
    EXPECT_EQ(reopened.countItemsWithAudio(), 0);
    const QList<ProjectItem> items = reopened.getAllItems();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0].id, 2);
    EXPECT_EQ(items[0].row, 0);
    EXPECT_FALSE(reopened.getItemAudio(1));
    EXPECT_FALSE(reopened.getAudioItem(0));
}

TEST_F(ProjectTest, OpeningInAMissingFolderFails)
{
    const QString missing = path(QStringLiteral("no such folder/project.s2s"));
    try {
        Project project(missing);
        FAIL() << "opened " << missing;
    } catch (const VSError &error) {
        EXPECT_EQ(error.message,
                  QStringLiteral("Could not open project file: '") + missing + u'\'');
    }
}

TEST_F(ProjectTest, OnlyCreatingWritesAndWhatIsNotAProjectStaysAsItWas)
{
    auto message = [](const std::function<void()> &open) {
        try {
            open();
        } catch (const VSError &error) {
            return error.message;
        }
        return QString();
    };
    EXPECT_EQ(message([&] { Project opened(projectFile, Project::OpenMode::Existing); }),
              QStringLiteral("Could not open project file: '") + projectFile + u'\'');
    EXPECT_FALSE(QFile::exists(projectFile));

    const QString empty = path(QStringLiteral("empty.s2s"));
    const QString text = path(QStringLiteral("text.s2s"));
    TestSupport::writeFile(empty, QByteArray());
    TestSupport::writeFile(text, "not a database, but long enough to have a header of its own");
    for (const QString &file : {empty, text}) {
        const QByteArray before = TestSupport::readFile(file);
        for (const Project::OpenMode mode :
             {Project::OpenMode::Existing, Project::OpenMode::ReadOnly})
            EXPECT_EQ(message([&] { Project opened(file, mode); }),
                      QStringLiteral("Not a voice-over project: ") + file);
        EXPECT_EQ(TestSupport::readFile(file), before);
    }
    // Creating over a file that is not a database fails when the tables cannot be made, and
    // lets go of the connection (the leak checker of the test build would tell).
    EXPECT_EQ(message([&] { Project opened(text); }), QStringLiteral("file is not a database"));

    {
        Project created(projectFile);
        created.insertSubtitles({cue(1000, 2000, QStringLiteral("a"))});
    }
    // A write to a project that cannot be written says why, not "SQL logic error".
    Project readOnly(projectFile, Project::OpenMode::ReadOnly);
    EXPECT_EQ(readOnly.getAllItems().size(), 1);
    EXPECT_EQ(message([&] { readOnly.updateItemAudio(1, QByteArray("x"), 1); }),
              QStringLiteral("attempt to write a readonly database"));
}

TEST_F(ProjectTest, SortingAndIndexes)
{
    Project project(projectFile);
    project.insertSubtitles({cue(1000, 2000, QStringLiteral("a")),
                             cue(5000, 6000, QStringLiteral("b")),
                             cue(3000, 4000, QStringLiteral("c"))});
    project.sortedAsc = false;
    EXPECT_EQ(project.getItem(0)->text, QStringLiteral("b "));
    EXPECT_EQ(project.getItem(2)->row, 2);
    EXPECT_FALSE(project.getItem(3));
    EXPECT_TRUE(project.setSortedBy(QStringLiteral("text")));
    project.sortedAsc = true;
    EXPECT_EQ(project.getItem(2)->text, QStringLiteral("c "));
    // Anything but a column name would be written into the query: it is refused.
    EXPECT_FALSE(project.setSortedBy(QStringLiteral("start; DROP TABLE Sounds")));
    EXPECT_EQ(project.sortedBy(), QStringLiteral("text"));
    EXPECT_EQ(project.getAllItems().size(), 3);
}

TEST_F(ProjectTest, AudioIsStoredWithItsDuration)
{
    Project project(projectFile);
    project.insertSubtitles(
        {cue(1000, 2000, QStringLiteral("a")), cue(5000, 6000, QStringLiteral("b"))});
    project.updateItemAudio(2, QByteArray("bytes"), 1500);
    EXPECT_EQ(project.countItemsWithAudio(), 1);
    EXPECT_TRUE(project.hasItemsWithAudio());
    const std::optional<ProjectItem> item = project.getAudioItem(0);
    ASSERT_TRUE(item.has_value());
    EXPECT_EQ(item->start, 5000);
    EXPECT_EQ(item->end, 6000);
    EXPECT_EQ(item->audio, QByteArray("bytes"));
    EXPECT_FALSE(project.getAudioItem(1));
    EXPECT_EQ(project.getItemAudio(2), QByteArray("bytes"));

    // One and two channels of the same length give the same duration.
    const QString stereo = tone(QStringLiteral("stereo.aiff"), 1.25, 440);
    const QString mono = path(QStringLiteral("mono.aiff"));
    TestSupport::ffmpeg("-i %1 -ac 1 -c:a pcm_s16be %2", {stereo, mono});
    EXPECT_EQ(project.saveItemAudioFile(1, stereo), 1250);
    EXPECT_EQ(project.saveItemAudioFile(2, mono), 1250);
    EXPECT_EQ(project.getItemAudio(1), TestSupport::readFile(stereo));
    const QString notAudio = path(QStringLiteral("notes.txt"));
    TestSupport::writeFile(notAudio, "not audio");
    EXPECT_THROW(project.saveItemAudioFile(1, notAudio), VSError);
    EXPECT_EQ(project.getItemAudio(1), TestSupport::readFile(stereo));

    // No audio, less than a millisecond of it, or more than an item holds (a file of 4 GiB and
    // 15 bytes, whose size a 32-bit length would take for 15): refused, the old audio kept.
    auto refusal = [&](const QString &file) {
        try {
            project.saveItemAudioFile(1, file);
        } catch (const VSError &error) {
            return error.message;
        }
        return QString();
    };
    for (const int frames : {0, 40}) {
        const QString shortFile = path(QStringLiteral("%1 frames.aiff").arg(frames));
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 2;
        info.format = SF_FORMAT_AIFF | SF_FORMAT_PCM_32;
        SNDFILE *file = sf_open(QFile::encodeName(shortFile).constData(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr);
        const std::vector<int> silence(size_t(frames) * 2, 0);
        sf_writef_int(file, silence.data(), frames);
        sf_close(file);
        EXPECT_EQ(refusal(shortFile), QStringLiteral("The audio is empty; item 1 keeps the audio "
                                                     "it had"));
    }
    const QString huge = path(QStringLiteral("huge.aiff"));
    ASSERT_TRUE(QFile::copy(stereo, huge));
    ASSERT_TRUE(QFile(huge).resize((qint64(1) << 32) + 15)); // sparse: nothing is written
    const QString message = refusal(huge);
    EXPECT_TRUE(message.contains(
        QStringLiteral("an item holds at most %1 (about ").arg(project.largestItemAudio())))
        << message;
    EXPECT_TRUE(message.endsWith(QStringLiteral("item 1 keeps the audio it had"))) << message;
    EXPECT_EQ(project.getItemAudio(1), TestSupport::readFile(stereo));
    EXPECT_EQ(project.getAllItems().value(0).audioDuration, 1250);
}

TEST_F(ProjectTest, ACopyIsWholeOrNothingAndKeepsWhatTheUserChanged)
{
    Project project(projectFile);
    project.setInputVideo(QStringLiteral("/films/été.mp4"));
    project.setSubtitlesFile(Project::streamSource(3));
    project.insertSubtitles(
        {cue(1000, 2000, QStringLiteral("a")), cue(5000, 6000, QStringLiteral("b"))});
    project.updateItemAudio(2, QByteArray(100000, 'x'), 1500);
    project.updateItemText(1, QStringLiteral("corrected"));

    // A copy over an older file replaces it whole, and keeps who may read that file.
    const QString saved = path(QStringLiteral("kept 'one'.s2s"));
    TestSupport::writeFile(saved, "an older file");
    QFile::setPermissions(saved, QFile::ReadOwner | QFile::WriteOwner);
    const QFile::Permissions readers = QFile::permissions(saved);
    project.copyTo(saved);
    EXPECT_EQ(QFile::permissions(saved), readers);
    {
        const Project copy(saved, Project::OpenMode::ReadOnly);
        EXPECT_EQ(copy.inputVideo(), QStringLiteral("/films/été.mp4"));
        EXPECT_EQ(Project::sourceStream(copy.subtitlesFile()), 3);
        EXPECT_EQ(copy.getAllItems().first().text, QStringLiteral("corrected"));
        EXPECT_EQ(copy.getItemAudio(2), QByteArray(100000, 'x'));
    }
    EXPECT_FALSE(Project::sourceStream(QStringLiteral("/stream:3.srt")));

    // Where it cannot be written, the copy fails naming the place, and leaves nothing there.
    const QString missing = path(QStringLiteral("gone/kept.s2s"));
    try {
        project.copyTo(missing);
        ADD_FAILURE() << "copied into a missing folder";
    } catch (const VSError &error) {
        EXPECT_TRUE(error.message.startsWith(
            QStringLiteral("Could not save the project to '%1': ").arg(missing)))
            << error.message.toStdString();
    }
    // Another program holding the project for good: the copy says so, rather than waiting for
    // ever.
    {
        sqlite3 *other = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(projectFile).constData(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        try {
            project.copyTo(path(QStringLiteral("busy.s2s")));
            ADD_FAILURE() << "copied a project another connection holds";
        } catch (const VSError &error) {
            EXPECT_TRUE(error.message.endsWith(QStringLiteral("keeps the project busy")))
                << error.message.toStdString();
        }
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);
    }
    // A copy that cannot complete (the target's name is a folder) leaves no partial file.
    const QString taken = path(QStringLiteral("taken.s2s"));
    QDir().mkpath(taken + QStringLiteral("/inside"));
    EXPECT_THROW(project.copyTo(taken), VSError);
    EXPECT_EQ(TestSupport::entriesOf(folder.path()),
              (QStringList{QFileInfo(saved).fileName(), QFileInfo(projectFile).fileName(),
                           QStringLiteral("taken.s2s")}));
}

class ProjectRenderTest : public ProjectTest {
protected:
    struct Result {
        QList<double> progress;
        QList<std::pair<bool, QString>> finishes;
    };
    Result render()
    {
        Result result;
        ProjectToAudio renderer(
            projectFile, track, [&](double value) { result.progress.append(value); },
            [&](bool ok, const QString &message) {
                result.finishes.append({ok, message});
            });
        renderer.start();
        renderer.waitForFinished();
        return result;
    }
    // Runs the overlay job of the make chain on a project file until it ends; cancelWhen, when
    // given, is waited for first and then cancels it.
    std::shared_ptr<OverlayProjectToAudio> runJob(RecordingDisplay &display, const QString &file,
                                                  const std::function<bool()> &cancelWhen = {})
    {
        auto job = std::make_shared<OverlayProjectToAudio>(QStringLiteral("Processing audio"), file,
                                                           track);
        bool done = false;
        job->setCompletionBlock([&] { MainThread::post([&] { done = true; }); });
        MakeOutputQueue queue(&display, {job});
        if (cancelWhen) {
            EXPECT_TRUE(TestSupport::waitUntil(cancelWhen));
            queue.cancelAllOperations();
        }
        // A guard against a hang only.
        EXPECT_TRUE(TestSupport::waitUntil([&] { return done; }, 120000));
        return job;
    }
    QString track = folder.filePath(QStringLiteral("speech.aiff"));
};

TEST_F(ProjectRenderTest, ItemsStartAtTheirTimesWithSilenceBetween)
{
    {
        Project project(projectFile);
        project.insertSubtitles({cue(5000, 7000, QStringLiteral("second")),
                                 cue(0, 500, QStringLiteral("silent")),
                                 cue(1000, 3000, QStringLiteral("first"))});
        project.saveItemAudioFile(1, tone(QStringLiteral("b.aiff"), 2, 880));
        project.saveItemAudioFile(3, tone(QStringLiteral("a.aiff"), 2, 440));
    }
    const Result result = render();
    EXPECT_EQ(result.finishes, (QList<std::pair<bool, QString>>{{true, QString()}}));
    EXPECT_EQ(result.progress, (QList<double>{1, 2}));
    EXPECT_NEAR(AIFFFile::duration(track), 7000, 0.1);
    const std::vector<int> samples = samplesOf(track);
    const std::vector<int> a = samplesOf(path(QStringLiteral("a.aiff")));
    const std::vector<int> b = samplesOf(path(QStringLiteral("b.aiff")));
    ASSERT_EQ(samples.size(), size_t(7 * 44100 * 2));
    EXPECT_TRUE(
        std::all_of(samples.begin(), samples.begin() + 44100 * 2, [](int s) { return s == 0; }));
    EXPECT_TRUE(std::equal(a.begin(), a.end(), samples.begin() + 44100 * 2));
    EXPECT_TRUE(std::all_of(samples.begin() + 3 * 44100 * 2, samples.begin() + 5 * 44100 * 2,
                            [](int s) { return s == 0; }));
    EXPECT_TRUE(std::equal(b.begin(), b.end(), samples.begin() + 5 * 44100 * 2));
}

TEST_F(ProjectRenderTest, AnOverrunningItemDelaysTheNext)
{
    {
        Project project(projectFile);
        project.insertSubtitles(
            {cue(1000, 2000, QStringLiteral("long")), cue(2000, 3000, QStringLiteral("next"))});
        project.saveItemAudioFile(1, tone(QStringLiteral("long.aiff"), 3, 440));
        project.saveItemAudioFile(2, tone(QStringLiteral("next.aiff"), 1, 880));
    }
    ASSERT_TRUE(render().finishes.value(0).first);
    const std::vector<int> samples = samplesOf(track);
    const std::vector<int> next = samplesOf(path(QStringLiteral("next.aiff")));
    EXPECT_EQ(samples.size(), size_t(5 * 44100 * 2));
    EXPECT_TRUE(std::equal(next.begin(), next.end(), samples.begin() + 4 * 44100 * 2));
}

TEST_F(ProjectRenderTest, NothingToRenderIsAFailureNotAnEmptyTrack)
{
    {
        Project project(projectFile);
        project.insertSubtitles({cue(1000, 2000, QStringLiteral("a"))});
    }
    const Result result = render();
    ASSERT_EQ(result.finishes.size(), 1);
    EXPECT_FALSE(result.finishes[0].first);
    EXPECT_FALSE(QFile::exists(track));

    // Stored bytes that are not audio: the writer's message.
    {
        Project project(projectFile);
        project.updateItemAudio(1, QByteArray("garbage"), 1000);
    }
    const Result broken = render();
    ASSERT_EQ(broken.finishes.size(), 1);
    EXPECT_FALSE(broken.finishes[0].first);
    EXPECT_FALSE(broken.finishes[0].second.isEmpty());

    // An AIFF header claiming 10^51 samples a second: refused before a second of silence is
    // written at that rate, not gigabytes of it.
    {
        Project project(projectFile);
        project.updateItemAudio(1,
                                QByteArray::fromHex("464f524d000008cc41494646434f4d4d00000012020100"
                                                    "00044f001040ac0d440000000000005353"
                                                    "4e44000008a600000045662d74807c7c79797676747"
                                                    "45d4e"),
                                1000);
    }
    const Result absurd = render();
    ASSERT_EQ(absurd.finishes.size(), 1);
    EXPECT_FALSE(absurd.finishes[0].first);
    EXPECT_TRUE(absurd.finishes[0].second.contains(QStringLiteral("is damaged")))
        << absurd.finishes[0].second;
    EXPECT_LT(QFileInfo(track).size(), 4096);
}

TEST_F(ProjectRenderTest, ARendererReleasedFromItsOwnFinishEndsCleanly)
{
    // An item that claims audio but holds none fails the render; the last owner lets go of the
    // renderer inside that finish, on the render's own thread, which must not wait for itself.
    {
        Project project(projectFile);
        project.insertSubtitles({cue(1000, 2000, QStringLiteral("a"))});
        project.updateItemAudio(1, QByteArray(), 800);
    }
    QSemaphore finished;
    QString reported;
    std::unique_ptr<ProjectToAudio> renderer;
    renderer = std::make_unique<ProjectToAudio>(projectFile, track, nullptr,
                                                [&](bool, const QString &message) {
                                                    reported = message;
                                                    renderer.reset();
                                                    finished.release();
                                                });
    renderer->start();
    ASSERT_TRUE(finished.tryAcquire(1, 20000)) << "the render's thread waits for itself";
    EXPECT_EQ(reported, QStringLiteral("Could not read audio data"));
    EXPECT_TRUE(QThreadPool::globalInstance()->waitForDone(20000));
}

TEST_F(ProjectRenderTest, CancellingTheOverlayJobStopsTheRenderPartWay)
{
    // Three hours of silence before the item: gigabytes that a cancel must not wait for.
    {
        Project project(projectFile);
        project.insertSubtitles(
            {cue(3 * 3600 * 1000, 3 * 3600 * 1000 + 1000, QStringLiteral("a"))});
        project.saveItemAudioFile(1, tone(QStringLiteral("a.aiff"), 1, 440));
    }
    RecordingDisplay display;
    const auto job = runJob(display, projectFile, [&] { return QFileInfo(track).size() > 0; });
    EXPECT_TRUE(job->isCancelled());
    EXPECT_LT(QFileInfo(track).size(), qint64(3) * 3600 * 44100 * 8 / 2);
    EXPECT_LT(QFileInfo(AIFFFile::longTrackFile(track)).size(), qint64(3) * 3600 * 44100 * 8 / 2);
    // A cancel is no failure to report.
    TestSupport::waitUntil([&] { return !display.alerts.isEmpty(); }, 200);
    EXPECT_TRUE(display.alerts.isEmpty()) << display.alerts.join(u' ');
}

TEST_F(ProjectRenderTest, TheOverlayJobRendersOrSaysItCannotOpen)
{
    {
        Project project(projectFile);
        project.insertSubtitles({cue(500, 2000, QStringLiteral("a"))});
        project.saveItemAudioFile(1, tone(QStringLiteral("a.aiff"), 1, 440));
    }
    RecordingDisplay display;
    EXPECT_FALSE(runJob(display, projectFile)->isCancelled());
    EXPECT_NEAR(AIFFFile::duration(track), 1500, 0.1);
    EXPECT_EQ(display.maximum, 1);

    EXPECT_TRUE(runJob(display, path(QStringLiteral("missing/p.s2s")))->isCancelled());
    TestSupport::waitUntil([&] { return !display.alerts.isEmpty(); }, 1000);
    EXPECT_EQ(display.alerts, QStringList{QStringLiteral("Could not process audio | ")});
}
