// The audio overlay tab's rules, offscreen: the item table, drops, the overwrite and save prompts,
// sorting and the speech sheet, on a project built from subtitles made at test time.
#include "MainWindow/AudioOverlayPanel.h"
#include "AppDelegate.h"
#include "MainWindow/AudioOverlayTTSController.h"
#include "MainWindow/AudioOverlayTableModel.h"
#include "MainWindow/AudioOverlayTableView.h"
#include "MainWindow/ViewController.h"
#include "Overlay/Project.h"
#include "Settings/UserSettings.h"
#include "Speech/AIFFFile.h"
#include "Subtitles/Utils.h"
#include "SubtitlesDragablePopupButton.h"
#include "TestSupport.h"
#include "VideoPlayerView.h"
#include "WindowController.h"
#include "WorkingFolder.h"

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QDragMoveEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

// Answers the visible message boxes whose text is text; returns how many there were.
int answer(const QString &text, QMessageBox::StandardButton button)
{
    int answered = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(widget);
            box && box->isVisible() && box->text() == text) {
            box->button(button)->click();
            ++answered;
        }
    return answered;
}

// Presses the button titled button in the visible message box whose text is text; false when
// there is none.
bool press(const QString &text, const QString &button)
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(widget);
            box && box->isVisible() && box->text() == text)
            for (QAbstractButton *candidate : box->buttons())
                if (candidate->text().remove(u'&') == button) {
                    candidate->click();
                    return true;
                }
    return false;
}

class AudioOverlayPanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString cues;
        for (int i = 0; i < 12; ++i)
            cues += QStringLiteral("%1\n00:00:%2,000 --> 00:00:%3,500\n%4\n\n")
                        .arg(i + 1)
                        .arg(i * 3 + 1, 2, 10, QLatin1Char('0'))
                        .arg(i * 3 + 2 + (i % 3), 2, 10, QLatin1Char('0'))
                        .arg(i == 3 ? QStringLiteral("<i></i>")
                                    : QStringLiteral("Item %1.").arg(i + 1));
        subtitles = folder.filePath(QStringLiteral("items.srt"));
        TestSupport::writeFile(subtitles, cues.toUtf8());
        video = folder.filePath(QStringLiteral("clip.mp4"));
        TestSupport::ffmpeg("-f lavfi -i testsrc=d=40:s=64x64:r=5 -c:v libx264 %1", {video});
        QDir().mkpath(folder.filePath(QStringLiteral("out")));
        settings.setOutputFolder(folder.filePath(QStringLiteral("out")));
        view().openVideo(video);
        view().addSubtitlesFile(subtitles);
        view().loadSelectedSubtitles();
        ASSERT_TRUE(TestSupport::waitUntil([&] { return view().makeButton()->isEnabled(); }));
        panel().loadToOverlay();
        ASSERT_TRUE(TestSupport::waitUntil([&] { return !panel().isBuilding(); }));
        ASSERT_EQ(panel().items().size(), 12);
    }
    ViewController &view() { return *app.mainWindow()->viewController(); }
    AudioOverlayPanel &panel() { return *view().overlayPanel(); }
    // Clicks Text to Speech...; the sheet that opens, or null.
    QPointer<AudioOverlayTTSController> openSpeechSheet()
    {
        QTest::mouseClick(panel().text2SpeechButton, Qt::LeftButton);
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *found = qobject_cast<AudioOverlayTTSController *>(widget))
                return found;
        return nullptr;
    }
    QString tone(const QString &name, double seconds)
    {
        const QString path = folder.filePath(name);
        TestSupport::generateTone(path, 48000, 1, seconds,
                                  name.endsWith(QLatin1String(".mp3"))
                                      ? QStringLiteral("libmp3lame")
                                      : QStringLiteral("pcm_s16le"));
        return path;
    }

    QTemporaryDir folder;
    UserSettings settings{folder.filePath(QStringLiteral("settings.ini"))};
    AppDelegate app{settings};
    QString subtitles;
    QString video;
};

} // namespace

TEST_F(AudioOverlayPanelTest, TheAudioCellDropsAndSorting)
{
    AudioOverlayPanel &p = panel();
    QAbstractItemModel *model = p.overlayTableView->model();
    const QModelIndex audio = model->index(1, AudioOverlayTableModel::AudioColumn);
    EXPECT_EQ(model->data(audio).toString(), QStringLiteral("00.000"));
    EXPECT_FALSE(model->data(audio, Qt::BackgroundRole).isValid());
    EXPECT_EQ(model->data(audio, Qt::TextAlignmentRole).toInt(),
              int(Qt::AlignLeft | Qt::AlignVCenter));

    // A tone dropped on item 2 becomes its audio.
    const QString wav = tone(QStringLiteral("tone.wav"), 1.5);
    p.attachAudio(wav, 1);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return p.items()[1].audioDuration > 0; }));
    EXPECT_EQ(model->data(audio).toString(), QStringLiteral("▷ 01.500"));
    EXPECT_EQ(model->data(audio, Qt::BackgroundRole).value<QColor>(),
              QColor::fromRgbF(0.9f, 0.9f, 0.9f));
    EXPECT_EQ(model->data(audio, Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
    EXPECT_TRUE(p.isProjectDirty);
    EXPECT_TRUE(view().overlayPanel()->makeAudioOverlayButton->isEnabled());

    // Drops: one audio file onto a row; not between rows, not two files, not MP3 in capitals.
    AudioOverlayTableView *table = p.overlayTableView;
    table->resize(600, 400);
    const QString mp3 = tone(QStringLiteral("voice.mp3"), 0.5);
    const QString capital = folder.filePath(QStringLiteral("VOICE.MP3"));
    QFile::copy(mp3, capital);
    const QRect row2 = table->visualRect(model->index(2, 1));
    EXPECT_EQ(table->dropRow(TestSupport::fileDrag({mp3}).get(), row2.center()), 2);
    EXPECT_EQ(
        table->dropRow(TestSupport::fileDrag({mp3}).get(), QPoint(row2.center().x(), row2.top())),
        -1);
    EXPECT_EQ(table->dropRow(TestSupport::fileDrag({mp3, wav}).get(), row2.center()), -1);
    EXPECT_EQ(table->dropRow(TestSupport::fileDrag({capital}).get(), row2.center()), -1);

    // Sorting asks the project again: the longest slots first.
    table->horizontalHeader()->setSortIndicator(AudioOverlayTableModel::LengthColumn,
                                                Qt::DescendingOrder);
    QList<int> lengths;
    for (const ProjectItem &item : p.items())
        lengths.append(item.end - item.start);
    EXPECT_TRUE(std::is_sorted(lengths.rbegin(), lengths.rend()));
    EXPECT_EQ(p.items().first().end - p.items().first().start, 3500);
    // An item keeps its number in any order.
    EXPECT_EQ(model->data(model->index(0, AudioOverlayTableModel::IdColumn)).toInt(),
              p.items().first().id);
    EXPECT_NE(p.items().first().id, 1);
}

TEST_F(AudioOverlayPanelTest, PromptsGuardStoredAndUnsavedAudio)
{
    AudioOverlayPanel &p = panel();
    p.attachAudio(tone(QStringLiteral("tone.wav"), 1.0), 0);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return p.isProjectDirty; }));
    ASSERT_TRUE(p.saveProjectTo(folder.filePath(QStringLiteral("saved.s2s"))));
    // Saved, but in no video yet: the overwrite prompt, whose default keeps the work.
    const Project *before = p.project();
    p.loadToOverlayClicked();
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible()) {
            EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
        }
    }
    ASSERT_EQ(answer(AudioOverlayPanel::overwritePrompt, QMessageBox::No), 1);
    EXPECT_EQ(p.project(), before);
    EXPECT_GT(p.items()[0].audioDuration, 0);
    EXPECT_TRUE(p.project()->hasItemsWithAudio());

    // An unsaved recording on item 1: moving away asks once, "No" keeps nothing.
    p.selectRow(0);
    p.itemDirty = true;
    p.selectRow(1);
    EXPECT_EQ(answer(AudioOverlayPanel::savePrompt, QMessageBox::No), 1);
    EXPECT_FALSE(p.itemDirty);
    p.selectRow(2);
    EXPECT_EQ(answer(AudioOverlayPanel::savePrompt, QMessageBox::No), 0);
}

TEST_F(AudioOverlayPanelTest, TheSpeechSheetSpeaksEveryItemWithText)
{
    AudioOverlayPanel &p = panel();
    p.selectRow(0);
    p.attachAudio(tone(QStringLiteral("tone.wav"), 0.7), 3);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return p.items()[3].audioDuration > 0; }));
    const int fourth = p.items()[3].audioDuration;
    // New audio in the table keeps the selection the item panel shows.
    EXPECT_EQ(p.selectedRow(), 0);
    // A corrected text is what is spoken.
    QTest::keyClicks(p.subtitleItemTextView, QStringLiteral("Again"));
    const QPointer<AudioOverlayTTSController> alive = openSpeechSheet();
    ASSERT_TRUE(alive);
    AudioOverlayTTSController *sheet = alive;
    QStringList labels;
    QTest::mouseClick(sheet->allItemsButton(), Qt::LeftButton);
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] {
            if (!alive || !alive->isVisible())
                return true;
            const QString text = alive->taskNameLabel()->text();
            if (!text.isEmpty() && (labels.isEmpty() || labels.last() != text))
                labels.append(text);
            return false;
        },
        120000));
    ASSERT_GE(labels.size(), 4);
    EXPECT_EQ(labels.mid(0, 4),
              (QStringList{QStringLiteral("1/12: Item 1. Again"), QStringLiteral("2/12: Item 2. "),
                           QStringLiteral("3/12: Item 3. "), QStringLiteral("5/12: Item 5. ")}));
    EXPECT_EQ(labels.size(), 11);
    EXPECT_EQ(p.items()[3].audioDuration, fourth);
    for (int i : {0, 4, 11})
        EXPECT_GT(p.items()[i].audioDuration, 0) << i;
    EXPECT_TRUE(p.isProjectDirty);
    EXPECT_EQ(p.selectedRow(), 0);
    // The item panel shows the new audio's length.
    EXPECT_EQ(p.labelRecordTime->text(), Utils::shortTimeString(p.items()[0].audioDuration));
}

TEST_F(AudioOverlayPanelTest, RecordingWithAPauseAndWithoutASoundServer)
{
    AudioOverlayPanel &p = panel();
    p.selectRow(2);
    {
        // No sound server: said, and nothing else breaks.
        const TestSupport::ScopedVariable nowhere(
            "PULSE_SERVER", TestSupport::PulseServer::absentAddress().toUtf8());
        QTest::mouseClick(p.recordButton, Qt::LeftButton);
        ASSERT_TRUE(TestSupport::waitUntil(
            [&] {
                return answer(QStringLiteral("Could not initialize audio recorder"),
                              QMessageBox::Ok) == 1;
            },
            10000));
        EXPECT_EQ(p.recordButton->text(), QStringLiteral("Record"));
    }
    TestSupport::PulseServer microphone;
    ASSERT_TRUE(microphone.isRunning()) << microphone.log().toStdString();
    microphone.useInThisProcess();
    // About 0.7 s, a pause of 0.5 s that does not count, then about 0.7 s more.
    QTest::mouseClick(p.recordButton, Qt::LeftButton);
    ASSERT_TRUE(
        TestSupport::waitUntil([&] { return p.recordButton->text() == QStringLiteral("Stop"); }));
    EXPECT_FALSE(p.buttonRecordPause->isHidden());
    QTest::qWait(700);
    QTest::mouseClick(p.buttonRecordPause, Qt::LeftButton);
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] { return p.buttonRecordPause->text() == QStringLiteral("Resume"); }));
    QTest::qWait(500);
    QTest::mouseClick(p.buttonRecordPause, Qt::LeftButton);
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] { return p.buttonRecordPause->text() == QStringLiteral("Pause"); }));
    QTest::qWait(700);
    QTest::mouseClick(p.recordButton, Qt::LeftButton);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return p.audioSaveButton->isEnabled(); }));
    const qint64 meter = p.recordedMilliseconds();
    EXPECT_TRUE(p.itemDirty);
    const double recorded = AIFFFile::duration(WorkingFolder::recordingFile());
    EXPECT_NEAR(recorded, 1400, 250);
    // The meter counts to the pause click, not to its last tick before it (a tick is 100 ms).
    EXPECT_NEAR(double(meter), recorded, 50);
    QTest::mouseClick(p.audioSaveButton, Qt::LeftButton);
    EXPECT_FALSE(p.itemDirty);
    EXPECT_EQ(p.items()[2].audioDuration, qRound(recorded));
}

TEST_F(AudioOverlayPanelTest, ARecordingStaysWithItsItemWhateverTheOrderOrSelection)
{
    AudioOverlayPanel &p = panel();
    TestSupport::PulseServer microphone;
    ASSERT_TRUE(microphone.isRunning()) << microphone.log().toStdString();
    microphone.useInThisProcess();
    p.attachAudio(tone(QStringLiteral("tone.wav"), 1.0), 0);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return p.items()[0].audioDuration > 0; }));
    p.selectRow(2);
    const int recorded = p.items()[2].id;
    QTest::mouseClick(p.recordButton, Qt::LeftButton);
    ASSERT_TRUE(
        TestSupport::waitUntil([&] { return p.recordButton->text() == QStringLiteral("Stop"); }));
    // While it records, the item cannot change under it, and no video is made (the busy window
    // would take the Stop button away).
    EXPECT_FALSE(p.overlayTableView->isEnabled());
    EXPECT_FALSE(p.makeAudioOverlayButton->isEnabled());
    EXPECT_FALSE(view().makeButton()->isEnabled());
    QTest::qWait(400);
    QTest::mouseClick(p.recordButton, Qt::LeftButton);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return p.audioSaveButton->isEnabled(); }));
    EXPECT_TRUE(p.overlayTableView->isEnabled());
    EXPECT_TRUE(p.makeAudioOverlayButton->isEnabled());
    const QByteArray take = TestSupport::readFile(WorkingFolder::recordingFile());

    // Speech for the other items meanwhile leaves the recording as it is.
    const QPointer<AudioOverlayTTSController> sheet = openSpeechSheet();
    ASSERT_TRUE(sheet);
    QTest::mouseClick(sheet->allItemsButton(), Qt::LeftButton);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !sheet || !sheet->isVisible(); }, 120000));

    // A new order keeps the recording's item selected, still to be heard and saved.
    p.overlayTableView->horizontalHeader()->setSortIndicator(AudioOverlayTableModel::StartColumn,
                                                             Qt::DescendingOrder);
    ASSERT_GE(p.selectedRow(), 0);
    EXPECT_EQ(p.items()[p.selectedRow()].id, recorded);
    EXPECT_TRUE(p.audioSaveButton->isEnabled());
    // Another item selected: asked. "Yes" when it cannot be stored keeps it pending...
    const QString aside = folder.filePath(QStringLiteral("aside.aiff"));
    ASSERT_TRUE(QFile::rename(WorkingFolder::recordingFile(), aside));
    p.selectRow(p.selectedRow() == 0 ? 1 : 0);
    ASSERT_EQ(answer(AudioOverlayPanel::savePrompt, QMessageBox::Yes), 1);
    EXPECT_EQ(answer(QStringLiteral("Error while saving audio"), QMessageBox::Ok), 1);
    EXPECT_TRUE(p.itemDirty);
    EXPECT_EQ(p.recordingItem(), recorded);
    // ...and "Yes" stores it on the item it was recorded for.
    ASSERT_TRUE(QFile::rename(aside, WorkingFolder::recordingFile()));
    p.selectRow(p.selectedRow() == 0 ? 1 : 0);
    ASSERT_EQ(answer(AudioOverlayPanel::savePrompt, QMessageBox::Yes), 1);
    EXPECT_NEAR(p.items()[p.rowOf(recorded)].audioDuration, 400, 250);
    EXPECT_EQ(p.project()->getItemAudio(recorded), take);
}

TEST_F(AudioOverlayPanelTest, ProjectFilesKeepTheWorkAndTheWindowSaysWhatIsUnsaved)
{
    AudioOverlayPanel &p = panel();
    WindowController *window = app.mainWindow();
    // A second Load to Overlay while the first builds is ignored: one build, one project.
    p.loadToOverlay();
    p.loadToOverlay();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !p.isBuilding(); }));
    QTest::qWait(200);
    EXPECT_EQ(answer(QStringLiteral("Error"), QMessageBox::Ok), 0);
    ASSERT_EQ(p.items().size(), 12);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Untitled[*] — Kelvorandix"));
    EXPECT_FALSE(window->isWindowModified());

    p.attachAudio(tone(QStringLiteral("tone.wav"), 1.0), 1);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return p.items()[1].audioDuration > 0; }));
    EXPECT_TRUE(window->isWindowModified());
    const QString saved = folder.filePath(QStringLiteral("my voice-over é.s2s"));
    ASSERT_TRUE(p.saveProjectTo(saved));
    EXPECT_FALSE(window->isWindowModified());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("my voice-over é.s2s[*] — Kelvorandix"));
    EXPECT_EQ(settings.recentProjects().value(0), saved);

    // A corrected text is kept in the project, and makes it unsaved.
    p.selectRow(0);
    p.subtitleItemTextView->setFocus();
    QTest::keyClicks(p.subtitleItemTextView, QStringLiteral(" Corrected"));
    EXPECT_EQ(p.project()->getAllItems().value(0).text, QStringLiteral("Item 1.  Corrected"));
    EXPECT_EQ(p.items()[0].text, QStringLiteral("Item 1.  Corrected"));
    EXPECT_TRUE(window->isWindowModified());

    // Load to Overlay asks first; Cancel keeps everything as it is.
    const Project *before = p.project();
    p.loadToOverlayClicked();
    ASSERT_TRUE(press(AudioOverlayPanel::saveChangesPrompt, QStringLiteral("Cancel")));
    EXPECT_EQ(p.project(), before);
    // Opening the saved file again, not saving the correction: its audio is there, the
    // correction is not.
    view().openProjectFile(saved);
    ASSERT_TRUE(press(AudioOverlayPanel::saveChangesPrompt, QStringLiteral("Don't Save")));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return p.items().size() == 12; }));
    EXPECT_EQ(p.items()[0].text, QStringLiteral("Item 1. "));
    EXPECT_GT(p.items()[1].audioDuration, 0);
    EXPECT_EQ(p.projectFilePath(), saved);
    EXPECT_FALSE(window->isWindowModified());
    // With its video and the subtitles it was made from.
    EXPECT_EQ(view().playerView()->videoFile(), video);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !view().isPreparingSubtitles(); }));
    EXPECT_EQ(view().subtitlesTrackPopup()->currentText(), subtitles);
}

TEST_F(AudioOverlayPanelTest, AVideoMadeFromTheSpeechTabLeavesTheOverlaysAudioUnmade)
{
    AudioOverlayPanel &p = panel();
    p.attachAudio(tone(QStringLiteral("tone.wav"), 1.0), 0);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return p.isProjectDirty; }));
    QString made;
    QObject::connect(&view(), &ViewController::videoMade,
                     [&](const QString &path) { made = path; });
    view().makeSTSButtonClicked();
    ASSERT_TRUE(view().isBusy());
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !made.isEmpty(); }, 120000));
    EXPECT_EQ(answer(QStringLiteral("Congratulations"), QMessageBox::Ok), 1);
    // The overlay's audio is in no video yet: a new project still asks first.
    EXPECT_TRUE(p.isProjectDirty);
    p.loadToOverlayClicked();
    EXPECT_TRUE(press(AudioOverlayPanel::saveChangesPrompt, QStringLiteral("Cancel")));
    EXPECT_GT(p.items()[0].audioDuration, 0);
}

TEST_F(AudioOverlayPanelTest, AProjectWhoseVideoHasMovedAsksWhereItIs)
{
    AudioOverlayPanel &p = panel();
    const QString saved = folder.filePath(QStringLiteral("moved.s2s"));
    ASSERT_TRUE(p.saveProjectTo(saved));
    ASSERT_TRUE(QFile::rename(video, folder.filePath(QStringLiteral("elsewhere.mp4"))));
    view().openProjectFile(saved);
    QMessageBox *asked = nullptr;
    ASSERT_TRUE(TestSupport::waitUntil([&] {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(widget);
                box && box->isVisible() &&
                box->text() == QStringLiteral("Where is the project's video?"))
                asked = box;
        return asked != nullptr;
    }));
    EXPECT_TRUE(asked->informativeText().contains(video)) << asked->informativeText().toStdString();
    ASSERT_TRUE(press(QStringLiteral("Where is the project's video?"), QStringLiteral("Cancel")));
    // The project is open all the same, with its subtitles; without a video, not with the one
    // that was open, which Make would have used in its place.
    EXPECT_EQ(p.projectFilePath(), saved);
    EXPECT_EQ(p.items().size(), 12);
    EXPECT_FALSE(view().playerView()->videoFile());
    EXPECT_FALSE(p.makeAudioOverlayButton->isEnabled());
}

TEST_F(AudioOverlayPanelTest, WorkUnderWayIsWaitedForAndHandOversWaitForTheQuestionOnScreen)
{
    AudioOverlayPanel &p = panel();
    const QString saved = folder.filePath(QStringLiteral("kept.s2s"));
    ASSERT_TRUE(p.saveProjectTo(saved));
    // Audio being attached is unsaved work: quitting waits for it, then asks.
    p.attachAudio(tone(QStringLiteral("tone.wav"), 1.0), 4);
    EXPECT_TRUE(p.hasUnsavedChanges());
    EXPECT_FALSE(p.makeAudioOverlayButton->isEnabled());
    EXPECT_FALSE(app.mainWindow()->close());
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] { return press(AudioOverlayPanel::saveChangesPrompt, QStringLiteral("Cancel")); }));
    EXPECT_GT(p.items()[4].audioDuration, 0);

    // A project handed over while the speech sheet is open waits until it has closed.
    p.selectRow(0);
    const QPointer<AudioOverlayTTSController> sheet = openSpeechSheet();
    ASSERT_TRUE(sheet);
    const Project *before = p.project();
    app.openFile(saved);
    QTest::qWait(300);
    EXPECT_EQ(p.project(), before);
    sheet->cancelButtonClicked();
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] { return press(AudioOverlayPanel::saveChangesPrompt, QStringLiteral("Don't Save")); }));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return p.project() != before; }));
    EXPECT_EQ(p.items()[4].audioDuration, 0);
}
