#include "Jobs/SubtitlesToSpeechOperation.h"
#include "Jobs/MakeOutputQueue.h"
#include "MainThread.h"
#include "RecordingDisplay.h"
#include "Speech/AIFFFile.h"
#include "Speech/SubtitlesToSpeech.h"
#include "Subtitles/Utils.h"
#include "TestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

class SubtitlesToSpeechOperationTest : public ::testing::Test {
protected:
    std::shared_ptr<SubtitlesToSpeechOperation>
    job(const QString &voice = QStringLiteral("gmw/en-US"))
    {
        return std::make_shared<SubtitlesToSpeechOperation>(QStringLiteral("Processing audio"),
                                                            voice, subtitles, speech);
    }

    // Runs the chain to its completion; true when the completion ran.
    bool runChain(const QList<std::shared_ptr<MakeOutputOperation>> &chain,
                  const std::function<void(MakeOutputQueue &)> &whileRunning = {})
    {
        bool completed = false;
        chain.last()->setCompletionBlock([&] { MainThread::post([&] { completed = true; }); });
        MakeOutputQueue queue(&display, chain);
        if (whileRunning)
            whileRunning(queue);
        const bool ended = TestSupport::waitUntil([&] { return completed; }, 120000);
        TestSupport::waitUntil([] { return false; }, 50);
        return ended;
    }

    void writeCues(int count, int slotMs = 3000)
    {
        QByteArray text;
        for (int i = 0; i < count; ++i) {
            const int start = i * (slotMs + 500);
            text += QStringLiteral("%1\n%2 --> %3\nCue number %1 is spoken here.\n\n")
                        .arg(i + 1)
                        .arg(Utils::fullTimeString(start).replace(u'.', u','))
                        .arg(Utils::fullTimeString(start + slotMs).replace(u'.', u','))
                        .toUtf8();
        }
        TestSupport::writeFile(subtitles, text);
    }

    QTemporaryDir folder;
    QString subtitles = folder.filePath(QStringLiteral("subtitles.srt"));
    QString speech = folder.filePath(QStringLiteral("speech.aiff"));
    RecordingDisplay display;
};

} // namespace

TEST_F(SubtitlesToSpeechOperationTest, WritesTheSpeechTrackWithProgress)
{
    writeCues(4);
    auto speechJob = job();
    ASSERT_TRUE(runChain({speechJob}));
    EXPECT_FALSE(speechJob->isCancelled());
    EXPECT_TRUE(display.alerts.isEmpty());
    EXPECT_GT(AIFFFile::duration(speech), 3 * 3500);
    EXPECT_EQ(display.maximum, 3);
    EXPECT_EQ(display.labels.first(), QStringLiteral("Processing audio"));
    EXPECT_TRUE(display.labels.last().startsWith(QStringLiteral("Processing audio - 100.0% - ")))
        << display.labels.last();
}

TEST_F(SubtitlesToSpeechOperationTest, OneCueShowsOnlyTheTaskName)
{
    writeCues(1);
    auto speechJob = job();
    ASSERT_TRUE(runChain({speechJob}));
    EXPECT_EQ(display.maximum, 0);
    EXPECT_EQ(display.labels, QStringList{QStringLiteral("Processing audio")});
    EXPECT_GT(AIFFFile::duration(speech), 500);
}

TEST_F(SubtitlesToSpeechOperationTest, UnreadableSubtitlesStopTheChain)
{
    for (const QByteArray &content :
         {QByteArray(), QByteArray("1 \n00:00:01,000 --> 00:00:02,000\nA\n")}) {
        display.alerts.clear();
        TestSupport::writeFile(subtitles, content);
        auto first = job();
        auto second = job();
        second->addDependency(first);
        ASSERT_TRUE(runChain({first, second}));
        EXPECT_EQ(display.alerts, QStringList{QStringLiteral("Could not parse subtitles | ")});
        EXPECT_TRUE(second->isCancelled());
        EXPECT_EQ(second->renderer(), nullptr);
    }
    QFile::remove(subtitles);
    display.alerts.clear();
    ASSERT_TRUE(runChain({job()}));
    EXPECT_EQ(display.alerts, QStringList{QStringLiteral("Could not parse subtitles | ")});
}

TEST_F(SubtitlesToSpeechOperationTest, AVoiceThatCannotBeUsedStopsTheChain)
{
    writeCues(2);
    auto first = job(QStringLiteral("no such voice"));
    auto second = job();
    second->addDependency(first);
    ASSERT_TRUE(runChain({first, second}));
    EXPECT_EQ(display.alerts,
              QStringList{QStringLiteral("Could not initialize Speech Synthesizer | ")});
    EXPECT_TRUE(first->isCancelled());
    EXPECT_TRUE(second->isCancelled());
    EXPECT_EQ(second->renderer(), nullptr);
    EXPECT_FALSE(QFile::exists(speech));
}

TEST_F(SubtitlesToSpeechOperationTest, CancellingMidRunStopsSpeakingAndReleasesTheWorker)
{
    writeCues(400, 1500);
    auto speechJob = job();
    ASSERT_TRUE(runChain({speechJob}, [&](MakeOutputQueue &queue) {
        ASSERT_TRUE(TestSupport::waitUntil([&] { return display.values.size() >= 4; }));
        queue.cancelAllOperations();
    }));
    EXPECT_TRUE(speechJob->isCancelled());
    EXPECT_TRUE(display.alerts.isEmpty());
    ASSERT_NE(speechJob->renderer(), nullptr);
    EXPECT_FALSE(speechJob->renderer()->isRunning());
    const int spoken = int(speechJob->renderer()->passesPerCue().size());
    EXPECT_LT(spoken, 400);
    const double written = AIFFFile::duration(speech);
    TestSupport::waitUntil([] { return false; }, 300);
    EXPECT_EQ(AIFFFile::duration(speech), written);
    EXPECT_EQ(speechJob->renderer()->passesPerCue().size(), spoken);
}
