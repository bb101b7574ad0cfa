// The overlay speech batch with the real engine, ffmpeg and SQLite.
#include "Overlay/OverlaySpeechBatch.h"
#include "Overlay/Project.h"
#include "Speech/SpeechSynthesizer.h"
#include "TestSupport.h"
#include "WorkingFolder.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class SheetRecorder : public OverlaySpeechBatch::Display {
public:
    void setLabel(const QString &text) override
    {
        labels.append(text);
        if (onLabel)
            onLabel(int(labels.size()));
    }
    void setProgress(bool indeterminate, double maximum, double) override
    {
        this->indeterminate = indeterminate;
        this->maximum = maximum;
    }
    void closeSheet() override { closed = true; }
    void showAlert(const QString &title, const QString &message) override
    {
        alerts.append(title + QStringLiteral(" | ") + message);
    }
    void reloadTable() override { ++reloads; }
    void refreshControls() override { ++refreshes; }

    QStringList labels;
    QStringList alerts;
    bool indeterminate = false;
    double maximum = 0;
    bool closed = false;
    int reloads = 0;
    int refreshes = 0;
    std::function<void(int)> onLabel;
};

class OverlaySpeechBatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Project project(file);
        QList<Subtitle> cues;
        for (int i = 0; i < 12; ++i)
            cues.append(Subtitle{double(i * 3000),
                                 double(i * 3000 + 2500),
                                 {i == 3 ? QString() : QStringLiteral("Item %1.").arg(i + 1)},
                                 std::nullopt});
        project.insertSubtitles(cues);
        project.updateItemAudio(4, QByteArray("kept"), 777);
    }
    QTemporaryDir folder;
    QString file = folder.filePath(QStringLiteral("project.s2s"));
    const std::optional<QString> voice = QStringLiteral("gmw/en-US");
};

} // namespace

TEST_F(OverlaySpeechBatchTest, AllItemsSkipTheEmptyOneAndStoreTheRest)
{
    Project project(file);
    QList<ProjectItem> items = project.getAllItems();
    SheetRecorder sheet;
    OverlaySpeechBatch batch(project, items, sheet);
    batch.allItemsButtonClicked(0, voice);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return sheet.closed; }, 120000));
    EXPECT_TRUE(sheet.alerts.isEmpty()) << sheet.alerts.join(u';');
    ASSERT_EQ(sheet.labels.size(), 11);
    EXPECT_EQ(sheet.labels.mid(0, 4),
              (QStringList{QStringLiteral("1/12: Item 1. "), QStringLiteral("2/12: Item 2. "),
                           QStringLiteral("3/12: Item 3. "), QStringLiteral("5/12: Item 5. ")}));
    EXPECT_FALSE(sheet.indeterminate);
    EXPECT_EQ(sheet.maximum, 12);
    EXPECT_EQ(sheet.refreshes, 1);
    EXPECT_TRUE(batch.isProjectDirty);
    EXPECT_EQ(project.countItemsWithAudio(), 12);
    EXPECT_EQ(project.getItemAudio(4), QByteArray("kept"));
    EXPECT_EQ(project.getItem(3)->audioDuration, 777);
    EXPECT_GT(items[0].audioDuration, 300);
    EXPECT_EQ(items[0].audioDuration, project.getItem(0)->audioDuration);
}

TEST_F(OverlaySpeechBatchTest, OneItemShowsItsTextAndAnIndeterminateBar)
{
    Project project(file);
    QList<ProjectItem> items = project.getAllItems();
    SheetRecorder sheet;
    OverlaySpeechBatch batch(project, items, sheet);
    batch.selectedItemButtonClicked(5, voice);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return sheet.closed; }, 60000));
    EXPECT_EQ(sheet.labels, QStringList{QStringLiteral("Text: Item 6. ")});
    EXPECT_TRUE(sheet.indeterminate);
    EXPECT_EQ(project.countItemsWithAudio(), 2);
}

TEST_F(OverlaySpeechBatchTest, NoSelectionOrNoVoiceOnlyClosesTheSheet)
{
    Project project(file);
    QList<ProjectItem> items = project.getAllItems();
    SheetRecorder sheet;
    OverlaySpeechBatch batch(project, items, sheet);
    batch.allItemsButtonClicked(-1, voice);
    EXPECT_TRUE(sheet.closed);
    EXPECT_TRUE(sheet.alerts.isEmpty());
    sheet.closed = false;
    batch.selectedItemButtonClicked(2, QStringLiteral("no such voice"));
    EXPECT_TRUE(sheet.closed);
    EXPECT_EQ(sheet.alerts, QStringList{QStringLiteral("Could not initialize speech voice | ")});
    EXPECT_EQ(project.countItemsWithAudio(), 1);
}

TEST_F(OverlaySpeechBatchTest, ASynthesizerErrorEndsTheBatchAndKeepsWhatWasStored)
{
    Project project(file);
    QList<ProjectItem> items = project.getAllItems();
    SheetRecorder sheet;
    const QString blocker = WorkingFolder::overlayAudioFile() + QStringLiteral(".partial");
    // The engine cannot write the third item's speech beside a folder of that name.
    sheet.onLabel = [&](int shown) {
        if (shown == 3)
            QDir().mkpath(blocker);
    };
    OverlaySpeechBatch batch(project, items, sheet);
    batch.allItemsButtonClicked(0, voice);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return sheet.closed; }, 60000));
    QDir(blocker).removeRecursively();
    ASSERT_EQ(sheet.alerts.size(), 1);
    EXPECT_TRUE(
        sheet.alerts[0].startsWith(QStringLiteral("Error while converting text to speech | ")));
    EXPECT_GT(sheet.alerts[0].size(),
              QStringLiteral("Error while converting text to speech | ").size());
    EXPECT_EQ(sheet.labels.size(), 3);
    // Items 1 and 2 were stored, and item 4 keeps its audio.
    EXPECT_EQ(project.countItemsWithAudio(), 3);
    EXPECT_EQ(sheet.refreshes, 0);
}

TEST_F(OverlaySpeechBatchTest, StoppingWhileAnItemIsStoredKeepsThatItemAndNeverCrashes)
{
    // The spoken file as the synthesizer would leave it, then the batch told that speaking is
    // over: the item is being converted and stored on a pool thread when the batch is stopped
    // and it and the project go away at once.
    TestSupport::generateTone(WorkingFolder::overlayAudioFile(), 22050, 1, 1.0);
    auto project = std::make_unique<Project>(file, Project::OpenMode::Existing);
    QList<ProjectItem> items = project->getAllItems();
    SheetRecorder sheet;
    auto batch = std::make_unique<OverlaySpeechBatch>(*project, items, sheet);
    batch->allItemsButtonClicked(0, voice);
    ASSERT_TRUE(batch->isRunning());
    std::unique_ptr<SpeechSynthesizer> synthesizer = SpeechSynthesizer::create(voice);
    batch->speechSynthesizerDidFinishSpeaking(*synthesizer, true);
    ASSERT_TRUE(batch->isStoring());
    batch->cancelButtonClicked();
    batch.reset();
    project.reset();

    // What reached the project shows in the item.
    EXPECT_GT(items[0].audioDuration, 0);
    Project reopened(file, Project::OpenMode::ReadOnly);
    EXPECT_EQ(reopened.getAllItems()[0].audioDuration, items[0].audioDuration);

    // Stopped but kept: the end of the store still reaches the item and the dirty flag.
    project = std::make_unique<Project>(file, Project::OpenMode::Existing);
    items = project->getAllItems();
    batch = std::make_unique<OverlaySpeechBatch>(*project, items, sheet);
    batch->selectedItemButtonClicked(1, voice);
    batch->speechSynthesizerDidFinishSpeaking(*synthesizer, true);
    batch->cancelButtonClicked();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !batch->isStoring(); }));
    EXPECT_TRUE(batch->isProjectDirty);
    EXPECT_GT(items[1].audioDuration, 0);
}

// Spoken by workers and converted two at a time, items are still stored in their order, with
// audio that does not depend on how many workers spoke it; a cancel stops the workers and the
// conversions and leaves no file behind.
TEST_F(OverlaySpeechBatchTest, WorkersStoreTheSameAudioInOrderAndACancelLeavesNothingBehind)
{
    QList<QByteArray> audio[2];
    for (const int jobs : {1, 3}) {
        const QString copy = folder.filePath(QStringLiteral("jobs %1.s2s").arg(jobs));
        ASSERT_TRUE(QFile::copy(file, copy));
        Project project(copy);
        QList<ProjectItem> items = project.getAllItems();
        SheetRecorder sheet;
        OverlaySpeechBatch batch(project, items, sheet);
        batch.setJobs(jobs);
        batch.allItemsButtonClicked(0, voice);
        ASSERT_TRUE(TestSupport::waitUntil([&] { return sheet.closed; }, 120000));
        EXPECT_TRUE(sheet.alerts.isEmpty()) << sheet.alerts.join(u';');
        ASSERT_EQ(sheet.labels.size(), 11);
        EXPECT_EQ(sheet.labels[3], QStringLiteral("5/12: Item 5. "));
        EXPECT_EQ(sheet.refreshes, 1);
        EXPECT_EQ(project.getItemAudio(4), QByteArray("kept"));
        for (const ProjectItem &item : project.getAllItems())
            audio[jobs / 3].append(project.getItemAudio(item.id).value_or(QByteArray()));
        EXPECT_EQ(items[11].audioDuration, project.getItem(11)->audioDuration);
    }
    EXPECT_EQ(audio[0], audio[1]);

    Project project(file);
    QList<ProjectItem> items = project.getAllItems();
    SheetRecorder sheet;
    OverlaySpeechBatch batch(project, items, sheet);
    sheet.onLabel = [&](int shown) {
        if (shown == 3)
            batch.cancelButtonClicked();
    };
    batch.setJobs(2);
    batch.allItemsButtonClicked(0, voice);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return sheet.closed; }, 60000));
    EXPECT_TRUE(TestSupport::waitUntil(
        [] {
            return TestSupport::childProcesses().isEmpty() &&
                   QDir(WorkingFolder::path())
                       .entryList(
                           {QStringLiteral("overlay-item-*"), QStringLiteral("speech-workers-*")})
                       .isEmpty();
        },
        10000));
    batch.finishStoring();
    // Items 1 and 2 were stored before the cancel; item 4 keeps its audio.
    EXPECT_EQ(project.countItemsWithAudio(), 3);
    EXPECT_TRUE(sheet.alerts.isEmpty());

    // The same batch then speaks every item in this process.
    sheet.onLabel = nullptr;
    sheet.closed = false;
    batch.setJobs(0);
    batch.allItemsButtonClicked(0, voice);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return sheet.closed; }, 60000));
    EXPECT_TRUE(sheet.alerts.isEmpty());
    EXPECT_EQ(project.countItemsWithAudio(), 12);
}
