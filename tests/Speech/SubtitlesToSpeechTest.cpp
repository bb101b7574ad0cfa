// The subtitles-to-speech renderer over the real engine; placement is checked on the decoded
// track against utterances spoken separately.
#include "Speech/SubtitlesToSpeech.h"
#include "MainThread.h"
#include "Speech/AIFFFile.h"
#include "Speech/SpeechSynthesizer.h"
#include "Speech/SpeechSynthesizerDelegate.h"
#include "Speech/SpeechWorkerPool.h"
#include "TestSupport.h"
#include "WorkingFolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <csignal>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>
#include <vector>

namespace {

const QString voice = QStringLiteral("gmw/en-US");

std::vector<short> samplesOf(const QString &path)
{
    SF_INFO info{};
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file)
        return {};
    std::vector<short> samples(size_t(info.frames));
    sf_readf_short(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
}

class Waiter : public SpeechSynthesizerDelegate {
public:
    void speechSynthesizerDidFinishSpeaking(SpeechSynthesizer &, bool) override { done = true; }
    void speechSynthesizerDidEncounterError(SpeechSynthesizer &, qsizetype, const QString &,
                                            const QString &) override
    {}
    void speechSynthesizerDidEncounterSyncMessage(SpeechSynthesizer &, const QString &) override {}
    bool done = false;
};

// The utterance the renderer would produce for text at a rate.
std::vector<short> utterance(const QString &text, float rate, const QString &file)
{
    const std::unique_ptr<SpeechSynthesizer> synthesizer = SpeechSynthesizer::create(voice);
    Waiter waiter;
    synthesizer->setDelegate(&waiter);
    synthesizer->setVolume(1.0f);
    synthesizer->setRate(rate);
    synthesizer->startSpeaking(text, file);
    EXPECT_TRUE(TestSupport::waitUntil([&] { return waiter.done; }));
    return samplesOf(file);
}

// Where needle starts in haystack, looking within two frames of expected; -1 when not there.
// Where the first sample louder than the speech clip's silence level lies, from a time on, in
// milliseconds at 22050 Hz; -1 when there is none.
double onsetAfter(const std::vector<short> &track, double fromMs)
{
    for (size_t at = size_t(fromMs * 22.05); at < track.size(); ++at)
        if (std::abs(int(track[at])) > 104)
            return double(at) / 22.05;
    return -1;
}

qint64 findNear(const std::vector<short> &haystack, const std::vector<short> &needle,
                qint64 expected)
{
    for (qint64 at = expected - 2; at <= expected + 2; ++at) {
        if (at < 0 || size_t(at) + needle.size() > haystack.size())
            continue;
        if (std::equal(needle.begin(), needle.end(), haystack.begin() + at))
            return at;
    }
    return -1;
}

Subtitle cue(double start, double end, const QString &text)
{
    return Subtitle{start, end, {text}, std::nullopt};
}

// count short lines, two seconds apart.
QList<Subtitle> lines(int count)
{
    QList<Subtitle> cues;
    for (int i = 0; i < count; ++i)
        cues.append(cue(1000 + 2000 * i, 2500 + 2000 * i,
                        QStringLiteral("This is line %1 of the test.").arg(i + 1)));
    return cues;
}

class SubtitlesToSpeechTest : public ::testing::Test {
protected:
    struct Run {
        QList<double> progress;
        QList<std::pair<bool, QString>> finishes;
        std::shared_ptr<SubtitlesToSpeech> renderer;
        // The utterance used for each cue: the temporary file holds it until the next cue is
        // spoken, and the progress report for that cue comes before it is.
        QList<std::vector<short>> used;
    };

    // Runs the renderer to its finish report (or for the given time when none is expected).
    std::unique_ptr<Run> render(const QList<Subtitle> &cues,
                                std::function<void(Run &, double)> onProgress = {},
                                int settleMs = 0)
    {
        auto run = std::make_unique<Run>();
        Run *r = run.get();
        r->renderer = SubtitlesToSpeech::create(
            cues, speechFile, voice,
            [r, onProgress](double index) {
                if (index > 0)
                    r->used.append(samplesOf(r->renderer->tempVoiceOutFile));
                r->progress.append(index);
                if (onProgress)
                    onProgress(*r, index);
            },
            [r](bool ok, const QString &message) {
                if (ok && !r->progress.isEmpty())
                    r->used.append(samplesOf(r->renderer->tempVoiceOutFile));
                r->finishes.append({ok, message});
            });
        r->renderer->initSynthesizer();
        r->renderer->setKeepInSync(keepInSync);
        r->renderer->setJobs(jobs);
        r->renderer->start();
        if (settleMs > 0)
            TestSupport::waitUntil([] { return false; }, settleMs);
        else
            EXPECT_TRUE(TestSupport::waitUntil([r] { return !r->finishes.isEmpty(); }, 60000));
        TestSupport::waitUntil([] { return false; }, 100);
        return run;
    }

    QString path(const QString &name) const { return folder.filePath(name); }
    bool keepInSync = false;
    int jobs = 0;
    QTemporaryDir folder;
    QString speechFile = folder.filePath(QStringLiteral("speech track.aiff"));
};

const QString shortText = QStringLiteral("Hello there.");
const QString longText = QStringLiteral(
    "This sentence is far too long to fit in the tiny slot it was given, so it runs over.");

} // namespace

TEST_F(SubtitlesToSpeechTest, CuesArePlacedAtTheirStartsAndOverrunsDelayTheNext)
{
    const QList<Subtitle> cues = {cue(1500, 6000, shortText), cue(7000, 7500, longText),
                                  cue(8000, 12000, QStringLiteral("Next line.")),
                                  cue(20000, 23000, QStringLiteral("Last words."))};
    const auto run = render(cues);
    ASSERT_EQ(run->finishes.size(), 1);
    EXPECT_EQ(run->finishes[0], std::make_pair(true, QString()));
    EXPECT_EQ(run->progress, (QList<double>{0, 1, 2, 3}));
    EXPECT_EQ(run->renderer->passesPerCue(), (QList<int>{1, 6, 1, 1}));

    const std::vector<short> track = samplesOf(speechFile);
    ASSERT_EQ(run->used.size(), 4);
    const std::vector<short> &a = run->used[0];
    const std::vector<short> &b = run->used[1];
    const std::vector<short> &c = run->used[2];
    const std::vector<short> &d = run->used[3];
    ASSERT_GT(b.size(), size_t(22050)) << "the long text should need more than a second";

    // 1500 ms of silence, then the first cue.
    const qint64 atA = findNear(track, a, 33075);
    ASSERT_GE(atA, 33074);
    EXPECT_TRUE(std::all_of(track.begin(), track.begin() + atA, [](short s) { return s == 0; }));
    // The second cue starts on time; it is longer than its slot even at 300 words per minute.
    const qint64 atB = findNear(track, b, 154350);
    ASSERT_GE(atB, 0);
    // The third cue's start passed while the second was spoken: it follows with no silence.
    const qint64 atC = qint64(atB + b.size());
    ASSERT_GT(atC, 176400);
    EXPECT_EQ(findNear(track, c, atC), atC);
    // The last cue fits its slot and starts within one frame of its time.
    const qint64 atD = findNear(track, d, 441000);
    ASSERT_GE(atD, 0);
    EXPECT_LE(std::abs(atD - 441000), 1);
    // Nothing follows the last utterance.
    EXPECT_EQ(track.size(), size_t(atD) + d.size());
}

TEST_F(SubtitlesToSpeechTest, RateRisesBy20UntilTheSpeechFits)
{
    const QString text = QStringLiteral("A sentence of moderate length for measuring the rates.");
    QList<double> durations;
    for (int rate = 200; rate <= 300; rate += 20)
        durations.append(utterance(text, float(rate), path(QStringLiteral("m.aiff"))).size() *
                         1000.0 / 22050);

    // A slot between the 220 and 240 lengths: spoken at 200, 220 and 240, and the last is used.
    auto run = render({cue(0, (durations[1] + durations[2]) / 2, text)});
    EXPECT_EQ(run->renderer->passesPerCue(), QList<int>{3});
    EXPECT_EQ(samplesOf(speechFile), run->used.value(0));

    // A slot a little longer than the speech at 200 needs no retry. (The engine's utterances
    // of one text differ by a few samples from run to run, so "exactly as long" cannot be set up.)
    run = render({cue(0, durations[0] + 100, text)});
    EXPECT_EQ(run->renderer->passesPerCue(), QList<int>{1});

    // A cue that ends before it starts is tried up to 300 and then used.
    run = render({cue(5000, 4000, text)});
    EXPECT_EQ(run->renderer->passesPerCue(), QList<int>{6});
    EXPECT_EQ(run->finishes.size(), 1);
    EXPECT_TRUE(run->finishes[0].first);
}

TEST_F(SubtitlesToSpeechTest, EmptyAndSingleCueLists)
{
    auto run = render({});
    EXPECT_EQ(run->finishes, (QList<std::pair<bool, QString>>{{true, QString()}}));
    EXPECT_TRUE(run->progress.isEmpty());
    EXPECT_FALSE(QFile::exists(speechFile));

    run = render({cue(0, 3000, shortText)});
    EXPECT_EQ(run->progress, QList<double>{0});
    EXPECT_EQ(run->finishes, (QList<std::pair<bool, QString>>{{true, QString()}}));
    // A first cue at 0 gets no leading silence.
    const std::vector<short> track = samplesOf(speechFile);
    ASSERT_EQ(run->used.size(), 1);
    EXPECT_EQ(track, run->used[0]);
}

TEST_F(SubtitlesToSpeechTest, AnEngineFailureOnTheThirdCueEndsTheRunOnce)
{
    QString blocker;
    const auto run = render({cue(0, 3000, shortText), cue(4000, 7000, shortText),
                             cue(8000, 11000, shortText), cue(12000, 15000, shortText)},
                            [&](SubtitlesToSpeechTest::Run &r, double index) {
                                // The engine cannot write the utterance beside a folder of that
                                // name.
                                if (index == 2) {
                                    blocker =
                                        r.renderer->tempVoiceOutFile + QStringLiteral(".partial");
                                    QDir().mkpath(blocker);
                                }
                            });
    QDir(blocker).removeRecursively();
    ASSERT_EQ(run->finishes.size(), 1);
    EXPECT_FALSE(run->finishes[0].first);
    EXPECT_FALSE(run->finishes[0].second.isEmpty());
    EXPECT_EQ(run->progress, (QList<double>{0, 1, 2}));
}

TEST_F(SubtitlesToSpeechTest, AnUnexpectedlyUnfinishedUtteranceIsAFailureNotAHang)
{
    const auto run = render({cue(0, 3000, shortText), cue(4000, 7000, shortText)},
                            [](SubtitlesToSpeechTest::Run &r, double index) {
                                if (index == 1)
                                    MainThread::post([renderer = r.renderer] {
                                        renderer->synthesizer()->stopSpeaking();
                                    });
                            });
    ASSERT_EQ(run->finishes.size(), 1);
    EXPECT_FALSE(run->finishes[0].first);
    EXPECT_EQ(run->finishes[0].second,
              QStringLiteral("The speech synthesizer stopped before it finished speaking"));
}

TEST_F(SubtitlesToSpeechTest, StoppingEndsTheRunSilently)
{
    const auto run = render(
        {cue(0, 3000, shortText), cue(4000, 7000, shortText), cue(8000, 11000, shortText)},
        [](SubtitlesToSpeechTest::Run &r, double index) {
            if (index == 1)
                MainThread::post([renderer = r.renderer] { renderer->stop(); });
        },
        500);
    EXPECT_TRUE(run->finishes.isEmpty());
    EXPECT_EQ(run->progress, (QList<double>{0, 1}));
    EXPECT_FALSE(run->renderer->isRunning());
    EXPECT_EQ(run->renderer->synthesizer(), nullptr);
    // The track holds the first cue only, and nothing more is written.
    const size_t length = samplesOf(speechFile).size();
    ASSERT_EQ(run->used.size(), 1);
    EXPECT_EQ(length, run->used[0].size());
    TestSupport::waitUntil([] { return false; }, 200);
    EXPECT_EQ(samplesOf(speechFile).size(), length);
}

TEST_F(SubtitlesToSpeechTest, KeptInSyncSpeechBeginsOnItsCueAndTheReportTellsTheTruth)
{
    keepInSync = true;
    // The middle cue is far too long for its slot and the quiet after it.
    const auto run = render({cue(1000, 3000, shortText), cue(4000, 4600, longText),
                             cue(5000, 8000, QStringLiteral("Next line."))});
    ASSERT_EQ(run->finishes, (QList<std::pair<bool, QString>>{{true, QString()}}));
    // The long cue: the first utterance, then one at the estimated rate, which is the top.
    EXPECT_EQ(run->renderer->passesPerCue(), (QList<int>{1, 2, 1}));

    const QList<SyncReport::Line> &lines = run->renderer->report().lines();
    ASSERT_EQ(lines.size(), 3);
    const SyncReport::Line &a = lines[0];
    const SyncReport::Line &b = lines[1];
    const SyncReport::Line &c = lines[2];
    EXPECT_EQ(a.index, 1);
    EXPECT_EQ(c.index, 3);
    // Trimmed of its silence, the first cue's speech begins on its start, at the first rate,
    // and ends before the next cue.
    EXPECT_NEAR(a.placedStart, 1000, 0.1);
    EXPECT_FLOAT_EQ(a.rate, 200);
    EXPECT_DOUBLE_EQ(a.tempo, 1.0);
    EXPECT_LT(a.placedStart + a.duration, 4000);
    // The long cue is compressed as far as allowed and still runs long.
    EXPECT_NEAR(b.placedStart, 4000, 0.1);
    EXPECT_FLOAT_EQ(b.rate, SyncFitting::topRate);
    EXPECT_DOUBLE_EQ(b.tempo, SyncFitting::tempoLimit);
    EXPECT_FALSE(b.fits);
    // Only then is the next cue pushed: it follows the long one's speech and kept silence (at
    // most keptSilence each: the engine may leave less after its speech).
    EXPECT_GT(c.placedStart, b.placedStart + b.duration);
    EXPECT_LE(c.placedStart, b.placedStart + b.duration + 2 * SyncFitting::keptSilence + 1);
    EXPECT_DOUBLE_EQ(c.late(), c.placedStart - 5000);
    EXPECT_TRUE(run->renderer->report().summary().startsWith(
        QStringLiteral("3 lines: 1 fit, 1 compressed, 1 start late (worst ")))
        << run->renderer->report().summary().toStdString();

    // The report is where the speech is on the track.
    const std::vector<short> track = samplesOf(speechFile);
    EXPECT_NEAR(onsetAfter(track, 0), a.placedStart, 1);
    EXPECT_NEAR(onsetAfter(track, b.placedStart + b.duration + 5), c.placedStart, 1);
    EXPECT_LE(double(track.size()) / 22.05,
              c.placedStart + c.duration + SyncFitting::keptSilence + 1);
}

TEST_F(SubtitlesToSpeechTest, WorkersLayTheSameTrackAsOneJob)
{
    // Both rules, with lines so long that they push the next: those are fitted again for the
    // longer track.
    // Two blocks of cues for the workers' children; long lines inside the first block and at its
    // end.
    QList<Subtitle> cues = lines(SpeechWorkerPool::cuesPerChild + 6);
    for (const int at : {5, SpeechWorkerPool::cuesPerChild - 1})
        cues[at] = cue(cues[at].start, cues[at].start + 400, longText);
    for (const bool sync : {false, true}) {
        keepInSync = sync;
        std::vector<short> tracks[2];
        QList<int> passes[2];
        QByteArray reports[2];
        for (const int count : {1, 3}) {
            jobs = count;
            const auto run = render(cues);
            ASSERT_EQ(run->finishes, (QList<std::pair<bool, QString>>{{true, QString()}}));
            EXPECT_EQ(run->progress.size(), cues.size());
            tracks[count / 3] = samplesOf(speechFile);
            passes[count / 3] = run->renderer->passesPerCue();
            reports[count / 3] = run->renderer->report().toJson();
        }
        EXPECT_FALSE(tracks[0].empty());
        EXPECT_TRUE(tracks[0] == tracks[1]) << "sync " << sync;
        EXPECT_EQ(passes[0], passes[1]);
        EXPECT_EQ(reports[0], reports[1]);
        EXPECT_TRUE(QFile::exists(speechFile));
    }
    // The workers are gone, and so is everything they wrote.
    EXPECT_TRUE(
        TestSupport::waitUntil([] { return TestSupport::childProcesses().isEmpty(); }, 5000));
    EXPECT_TRUE(QDir(WorkingFolder::path())
                    .entryList({QStringLiteral("speech-workers-*")}, QDir::AllEntries)
                    .isEmpty());
}

TEST_F(SubtitlesToSpeechTest, AStopOrACrashedWorkerLeavesNoProcessAndNoFile)
{
    jobs = 2;
    const QList<Subtitle> cues = lines(40);
    // Stopped while the workers fit cues ahead.
    auto run = render(
        cues,
        [](SubtitlesToSpeechTest::Run &r, double index) {
            if (index == 3)
                r.renderer->stop();
        },
        1000);
    EXPECT_TRUE(run->finishes.isEmpty());
    EXPECT_TRUE(
        TestSupport::waitUntil([] { return TestSupport::childProcesses().isEmpty(); }, 5000));

    // A worker killed in the middle: the run fails once, saying so.
    run = render(cues, [](SubtitlesToSpeechTest::Run &, double index) {
        if (index == 2)
            for (const pid_t child : TestSupport::childProcesses(false))
                kill(child, SIGKILL);
    });
    ASSERT_EQ(run->finishes.size(), 1);
    EXPECT_FALSE(run->finishes[0].first);
    EXPECT_EQ(run->finishes[0].second,
              QStringLiteral("A speech worker stopped unexpectedly: it was stopped by a signal"));
    EXPECT_TRUE(
        TestSupport::waitUntil([] { return TestSupport::childProcesses().isEmpty(); }, 5000));
    EXPECT_TRUE(QDir(WorkingFolder::path())
                    .entryList({QStringLiteral("speech-workers-*")}, QDir::AllEntries)
                    .isEmpty());
}
