#include "Jobs/MakeOutputQueue.h"
#include "Jobs/MakeOutputChain.h"
#include "Jobs/MakeOutputOperation.h"
#include "MainThread.h"
#include "RecordingDisplay.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QSemaphore>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A job whose worker is the test: it waits until the test finishes it, or fails at once.
class ScriptedOperation : public MakeOutputOperation {
public:
    enum class Behaviour { Succeed, Fail, WaitForFinish };

    ScriptedOperation(QString name, Behaviour behaviour)
        : MakeOutputOperation(std::move(name))
        , behaviour(behaviour)
    {}

    void cancel() override
    {
        if (markCancelled())
            semaphore.release();
    }

    std::atomic<bool> ran{false};
    std::atomic<bool> waiting{false};
    std::function<void(bool, const QString &)> finish;

protected:
    void run() override
    {
        ran.store(true);
        finish = finishCallback(semaphore);
        if (behaviour == Behaviour::Fail)
            finish(false, QStringLiteral("the worker's message"));
        else if (behaviour == Behaviour::Succeed)
            finish(true, QString());
        waiting.store(true);
        waitFor(semaphore);
    }

private:
    const Behaviour behaviour;
    QSemaphore semaphore{0};
};

using Behaviour = ScriptedOperation::Behaviour;

struct Chain {
    explicit Chain(QList<Behaviour> behaviours)
    {
        for (qsizetype i = 0; i < behaviours.size(); ++i) {
            auto job = std::make_shared<ScriptedOperation>(QStringLiteral("Job %1").arg(i + 1),
                                                           behaviours[i]);
            if (!jobs.isEmpty())
                job->addDependency(jobs.last());
            jobs.append(job);
        }
        // The count outlives the chain: a completion posted as a test ends may run in the next.
        jobs.last()->setCompletionBlock(
            [count = completions] { MainThread::post([count] { *count += 1; }); });
    }
    QList<std::shared_ptr<MakeOutputOperation>> operations() const
    {
        return QList<std::shared_ptr<MakeOutputOperation>>(jobs.begin(), jobs.end());
    }
    QList<std::shared_ptr<ScriptedOperation>> jobs;
    std::shared_ptr<int> completions = std::make_shared<int>(0);
};

} // namespace

TEST(ProgressText, PercentageAndRemainingTime)
{
    EXPECT_EQ(MakeOutputOperation::progressLabel(QStringLiteral("Processing video"), 30, 120, 10),
              QStringLiteral("Processing video - 25.0% - 30s remaining"));
    EXPECT_EQ(MakeOutputOperation::progressLabel(QStringLiteral("Processing audio"), 120, 120, 95),
              QStringLiteral("Processing audio - 100.0% - 0s remaining"));
    EXPECT_EQ(MakeOutputOperation::progressLabel(QStringLiteral("Processing audio"), 1, 3, 1),
              QStringLiteral("Processing audio - 33.3% - 2s remaining"));
    // Speech that outlasts the video reports more than the maximum: the text stays at 100.
    EXPECT_EQ(MakeOutputOperation::progressLabel(QStringLiteral("Processing video"), 120.8, 120, 9),
              QStringLiteral("Processing video - 100.0% - 0s remaining"));
    EXPECT_EQ(MakeOutputOperation::remainingTimeText(3725), QStringLiteral("1h 2m 5s remaining"));
    EXPECT_EQ(MakeOutputOperation::remainingTimeText(3600), QStringLiteral("1h 0m 0s remaining"));
    EXPECT_EQ(MakeOutputOperation::remainingTimeText(61.4), QStringLiteral("1m 1s remaining"));
    EXPECT_EQ(MakeOutputOperation::remainingTimeText(-3), QStringLiteral("0s remaining"));
    EXPECT_EQ(MakeOutputOperation::remainingTimeText(qInf()), QStringLiteral("0s remaining"));
}

TEST(ProgressText, ZeroIsNotShownAndLaterValuesAre)
{
    RecordingDisplay display;
    auto job =
        std::make_shared<ScriptedOperation>(QStringLiteral("Processing audio"), Behaviour::Succeed);
    job->setDisplay(&display);
    job->setupProgress(4);
    EXPECT_EQ(display.labels, QStringList{QStringLiteral("Processing audio")});
    const auto progress = job->progressCallback();
    progress(0);
    TestSupport::waitUntil([] { return false; }, 50);
    EXPECT_EQ(display.values, QList<double>{0});
    progress(4);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return display.values.size() == 2; }));
    EXPECT_TRUE(display.labels.last().startsWith(QStringLiteral("Processing audio - 100.0% - ")))
        << display.labels.last();
    progress(4.5);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return display.values.size() == 3; }));
    EXPECT_EQ(display.values.last(), 4);
}

TEST(MakeOutputQueue, AllJobsRunInOrderAndTheCompletionRunsOnce)
{
    RecordingDisplay display;
    Chain chain({Behaviour::Succeed, Behaviour::Succeed, Behaviour::Succeed});
    MakeOutputQueue queue(&display, chain.operations());
    queue.waitUntilAllOperationsAreFinished();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return *chain.completions == 1; }));
    for (const auto &job : chain.jobs) {
        EXPECT_TRUE(job->ran);
        EXPECT_TRUE(job->isFinished());
        EXPECT_FALSE(job->isCancelled());
    }
    EXPECT_TRUE(display.alerts.isEmpty());
}

TEST(MakeOutputQueue, AFailingFirstJobKeepsTheRestFromRunning)
{
    RecordingDisplay display;
    Chain chain({Behaviour::Fail, Behaviour::Succeed, Behaviour::Succeed});
    MakeOutputQueue queue(&display, chain.operations());
    queue.waitUntilAllOperationsAreFinished();
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] { return *chain.completions == 1 && !display.alerts.isEmpty(); }));
    EXPECT_EQ(display.alerts, QStringList{QStringLiteral(
                                  "Could not convert subtitles to voice | the worker's message")});
    EXPECT_TRUE(chain.jobs[0]->ran);
    EXPECT_FALSE(chain.jobs[1]->ran);
    EXPECT_FALSE(chain.jobs[2]->ran);
    // Each later job started, found its predecessor cancelled and cancelled itself.
    EXPECT_TRUE(chain.jobs[2]->isCancelled());
}

TEST(MakeOutputQueue, CancellingReleasesTheRunningJobAndSkipsTheRest)
{
    RecordingDisplay display;
    Chain chain({Behaviour::Succeed, Behaviour::WaitForFinish, Behaviour::Succeed});
    MakeOutputQueue queue(&display, chain.operations());
    ASSERT_TRUE(TestSupport::waitUntil([&] { return chain.jobs[1]->waiting.load(); }));
    queue.cancelAllOperations();
    queue.waitUntilAllOperationsAreFinished();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return *chain.completions == 1; }));
    EXPECT_FALSE(chain.jobs[2]->ran);
    EXPECT_TRUE(chain.jobs[2]->isCancelled());
    EXPECT_TRUE(display.alerts.isEmpty());
}

TEST(MakeOutputQueue, AJobCancelledBeforeItStartsFinishesWithoutRunning)
{
    RecordingDisplay display;
    Chain chain({Behaviour::WaitForFinish, Behaviour::Succeed});
    chain.jobs[1]->cancel();
    MakeOutputQueue queue(&display, chain.operations());
    ASSERT_TRUE(TestSupport::waitUntil([&] { return chain.jobs[0]->waiting.load(); }));
    chain.jobs[0]->finish(true, QString());
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_FALSE(chain.jobs[1]->ran);
    EXPECT_FALSE(chain.jobs[0]->isCancelled());
    EXPECT_TRUE(TestSupport::waitUntil([&] { return *chain.completions == 1; }));
}

TEST(MakeOutputQueue, DestroyingTheQueueStopsTheChain)
{
    RecordingDisplay display;
    Chain chain({Behaviour::WaitForFinish, Behaviour::Succeed});
    {
        MakeOutputQueue queue(&display, chain.operations());
        ASSERT_TRUE(TestSupport::waitUntil([&] { return chain.jobs[0]->waiting.load(); }));
    }
    EXPECT_TRUE(chain.jobs[0]->isFinished());
    EXPECT_FALSE(chain.jobs[1]->ran);
}

TEST(MakeOutputQueue, ACancelAfterTheWorkIsDoneKeepsTheResult)
{
    // The worker has finished (the video is written) when the user's cancel comes, before the
    // queue has marked the job finished: the result stands.
    RecordingDisplay display;
    Chain chain({Behaviour::Succeed, Behaviour::WaitForFinish});
    MakeOutputQueue queue(&display, chain.operations());
    ASSERT_TRUE(TestSupport::waitUntil([&] { return chain.jobs[1]->waiting.load(); }));
    chain.jobs[1]->finish(true, QString());
    queue.cancelAllOperations();
    queue.waitUntilAllOperationsAreFinished();
    queue.cancelAllOperations();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return *chain.completions == 1; }));
    EXPECT_FALSE(chain.jobs[0]->isCancelled());
    EXPECT_FALSE(chain.jobs[1]->isCancelled());
}

TEST(MakeOutputChain, AnEndedChainRemovesOnlyWhatItMadeAtTheOutputName)
{
    QTemporaryDir folder;
    MakeOutputRequest request;
    request.inputVideo = folder.filePath(QStringLiteral("in.mkv"));
    request.voiceLanguage = QStringLiteral("es_ES");
    request.outputFolder = folder.path();
    request.maximizeOutputVolume = true;
    auto cancelAll = [](MakeOutputChain &chain) {
        for (const std::shared_ptr<MakeOutputOperation> &job : chain.operations) {
            job->cancel();
            job->markFinished();
        }
    };

    {
        // Cancelled before the video was written: the placeholder goes.
        MakeOutputChain chain(request);
        cancelAll(chain);
        EXPECT_FALSE(chain.finish());
        EXPECT_FALSE(QFile::exists(chain.outputPath));
    }
    {
        // Another file took the name, so the video job refused it and ended cancelled: it stays.
        MakeOutputChain chain(request);
        QFile::remove(chain.outputPath);
        TestSupport::writeFile(chain.outputPath, "someone else's");
        cancelAll(chain);
        EXPECT_FALSE(chain.finish());
        EXPECT_EQ(TestSupport::readFile(chain.outputPath), "someone else's");
        QFile::remove(chain.outputPath);
    }
    {
        // The video was written, under a hidden name of its own while its loudness is not yet
        // raised; then the loudness pass was cancelled: the unfinished video and the name go.
        MakeOutputChain chain(request);
        const QStringList hidden =
            TestSupport::entriesOf(folder.path()).filter(QStringLiteral("unmaximized"));
        ASSERT_EQ(hidden.size(), 1);
        TestSupport::writeFile(folder.filePath(hidden[0]), "our video");
        chain.operations[0]->markFinished();
        chain.operations[1]->markFinished();
        chain.operations[2]->cancel();
        chain.operations[2]->markFinished();
        EXPECT_FALSE(chain.finish());
        EXPECT_TRUE(TestSupport::entriesOf(folder.path()).isEmpty())
            << TestSupport::entriesOf(folder.path()).join(u' ').toStdString();
    }
    QCoreApplication::processEvents(); // the stops the cancels posted
}
