// The main window's rules for media, subtitles, tracks and a busy window, offscreen, on videos
// made at test time.
#include "MainWindow/ViewController.h"
#include "AppDelegate.h"
#include "MainWindow/AudioOverlayPanel.h"
#include "MainWindow/SubtitlesDragablePopupButton.h"
#include "Settings/UserSettings.h"
#include "TestSupport.h"
#include "VideoPlayerView.h"
#include "WindowController.h"
#include "WorkingFolder.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

QStringList titles(const QComboBox *box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items.append(box->itemText(i));
    return items;
}

// Dismisses the application-modal alerts shown so far; returns their texts.
QStringList dismissAlerts()
{
    QStringList texts;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *alert = qobject_cast<QMessageBox *>(widget); alert && alert->isVisible()) {
            texts.append(alert->text());
            alert->button(QMessageBox::Ok)->click();
        }
    return texts;
}

class ViewControllerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        media = new QTemporaryDir;
        const QString cues = media->filePath(QStringLiteral("cues.srt"));
        TestSupport::writeFile(cues, "1\n00:00:01,000 --> 00:00:02,000\nHello there.\n");
        // first.mkv: 0 video, 1 audio, 2 audio (default), 3 subtitles, 4 subtitles (default).
        TestSupport::ffmpeg("-f lavfi -i testsrc=d=3:s=160x120 -f lavfi -i sine=d=3 -i %1 -map 0 "
                            "-map 1 -map 1 -map 2 -map 2 -c:v libx264 -c:a aac -c:s srt "
                            "-disposition:a:0 0 -disposition:a:1 default -disposition:s:0 0 "
                            "-disposition:s:1 default %2",
                            {cues, mediaFile(QStringLiteral("first.mkv"))});
        // silent.mp4: a video stream alone.
        TestSupport::ffmpeg("-f lavfi -i testsrc=d=3:s=160x120 -c:v libx264 %1",
                            {mediaFile(QStringLiteral("silent.mp4"))});
    }
    static void TearDownTestSuite()
    {
        delete media;
        media = nullptr;
    }
    static QString mediaFile(const QString &name) { return media->filePath(name); }
    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = folder.filePath(name);
        TestSupport::writeFile(path, bytes);
        return path;
    }
    // Waits until the subtitles chooser is usable again (its preparation has reported).
    bool subtitlesSettled()
    {
        return TestSupport::waitUntil(
            [&] {
                const QComboBox *popup = view().subtitlesTrackPopup();
                return popup->count() == 0 || popup->isEnabled() || !dismissAlerts().isEmpty();
            },
            30000);
    }
    ViewController &view() { return *app.mainWindow()->viewController(); }

    static inline QTemporaryDir *media = nullptr;
    QTemporaryDir folder;
    UserSettings settings{folder.filePath(QStringLiteral("settings.ini"))};
    AppDelegate app{settings};
};

} // namespace

TEST_F(ViewControllerTest, TracksOfTheOpenVideoAndExternalSubtitles)
{
    ViewController &v = view();
    // Nothing to make without a video and subtitles.
    EXPECT_FALSE(v.makeButton()->isEnabled());

    v.openVideo(mediaFile(QStringLiteral("first.mkv")));
    ASSERT_TRUE(subtitlesSettled());
    // Default streams are preselected; the tags are the stream indexes.
    EXPECT_EQ(v.selectedVideoTrack(), 0);
    EXPECT_EQ(v.selectedAudioTrack(), 2);
    EXPECT_EQ(v.selectedSubtitlesTrack(), 4);
    EXPECT_TRUE(v.makeButton()->isEnabled());

    // An external file goes on top with the tag -10; a second one replaces it while selected.
    const QString first = write(QStringLiteral("a.srt"), "1\n00:00:01,000 --> 00:00:02,000\nA\n");
    const QString second = write(QStringLiteral("b.srt"), "1\n00:00:01,000 --> 00:00:02,000\nB\n");
    v.addSubtitlesFile(first);
    EXPECT_EQ(v.selectedSubtitlesTrack(), ViewController::externalSubtitlesTag);
    v.addSubtitlesFile(second);
    EXPECT_EQ(titles(v.subtitlesTrackPopup()).mid(0, 1), QStringList{second});
    EXPECT_EQ(v.subtitlesTrackPopup()->count(), 3);
    // With a stream selected, a new file goes above the old one, which stays.
    v.subtitlesTrackPopup()->setCurrentIndex(2);
    v.addSubtitlesFile(first);
    EXPECT_EQ(titles(v.subtitlesTrackPopup()).mid(0, 2), (QStringList{first, second}));
    v.loadSelectedSubtitles();
    ASSERT_TRUE(subtitlesSettled());

    // A second video keeps the external item on top and drops the first video's streams.
    v.openVideo(mediaFile(QStringLiteral("silent.mp4")));
    ASSERT_TRUE(subtitlesSettled());
    EXPECT_EQ(titles(v.subtitlesTrackPopup()), QStringList{first});
    EXPECT_EQ(v.videoTrackPopup()->count(), 1);
    // No audio stream: only "None", track -1: the speech on its own.
    EXPECT_EQ(titles(v.audioTrackPopup()), QStringList{QStringLiteral("None")});
    EXPECT_EQ(v.selectedAudioTrack(), -1);
    EXPECT_TRUE(v.makeButton()->isEnabled());
}

TEST_F(ViewControllerTest, SubtitlesThatFailAreRemovedAndTheNextItemIsTried)
{
    ViewController &v = view();
    // A video without subtitles: the make buttons stay disabled.
    v.openVideo(mediaFile(QStringLiteral("silent.mp4")));
    ASSERT_TRUE(subtitlesSettled());
    EXPECT_FALSE(v.makeButton()->isEnabled());

    // A video whose file goes away after probing: its streams cannot be extracted.
    const QString moved = folder.filePath(QStringLiteral("moved.mkv"));
    ASSERT_TRUE(QFile::copy(mediaFile(QStringLiteral("first.mkv")), moved));
    v.openVideo(moved);
    ASSERT_TRUE(subtitlesSettled());
    const QString good = write(QStringLiteral("good.srt"), "1\n00:00:01,000 --> 00:00:02,000\nA\n");
    v.addSubtitlesFile(good);
    QFile::remove(moved);
    // Choosing a stream fails: after the alert the stream goes, and the next selected item (the
    // other stream) is tried and fails too; then the file is tried and works.
    v.subtitlesTrackPopup()->setCurrentIndex(1);
    v.loadSelectedSubtitles();
    QStringList alerts;
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] {
            alerts += dismissAlerts();
            return v.subtitlesTrackPopup()->count() == 1 && v.subtitlesTrackPopup()->isEnabled();
        },
        30000))
        << titles(v.subtitlesTrackPopup()).join(u'|');
    EXPECT_EQ(alerts, QStringList(2, ViewController::invalidSubtitlesMessage));
    EXPECT_EQ(titles(v.subtitlesTrackPopup()), QStringList{good});
}

TEST_F(ViewControllerTest, TheNewestSubtitlesWinAndARefusedFileKeepsTheOthers)
{
    ViewController &v = view();
    // A film whose subtitle stream takes a few seconds to extract (this ffmpeg reads it at the
    // pace of its cues), then a file chosen right after it, which is ready first.
    const QString cues =
        write(QStringLiteral("slow.srt"), "1\n00:00:00,000 --> 00:00:01,000\nSlow\n\n"
                                          "2\n00:00:03,000 --> 00:00:04,000\nSlower\n");
    const QString film = folder.filePath(QStringLiteral("slowly read.mkv"));
    TestSupport::ffmpeg("-f lavfi -i testsrc=d=5:s=64x64 -f lavfi -i sine=d=5 -i %1 -c:v libx264 "
                        "-c:a aac -c:s srt %2",
                        {cues, film});
    const auto slowly = TestSupport::slowFfmpegFirstOnPath(folder.filePath(QStringLiteral("bin")),
                                                           QStringLiteral("slowly read"));
    v.openVideo(film);
    // "None" follows the video's audio streams; the default stream stays chosen.
    EXPECT_EQ(titles(v.audioTrackPopup()).last(), QStringLiteral("None"));
    EXPECT_EQ(v.selectedAudioTrack(), 1);
    const QString quick =
        write(QStringLiteral("quick.srt"), "1\n00:00:00,000 --> 00:00:02,000\nQuick\n");
    v.addSubtitlesFile(quick);
    v.loadSelectedSubtitles();
    // Nothing reads the working file until the newest choice is in it.
    EXPECT_FALSE(v.makeButton()->isEnabled());
    ASSERT_TRUE(TestSupport::waitUntil([&] { return v.makeButton()->isEnabled(); }, 30000));
    ASSERT_TRUE(
        TestSupport::waitUntil([&] { return TestSupport::processesWith(film).isEmpty(); }, 30000));
    QTest::qWait(300);
    EXPECT_TRUE(TestSupport::readFile(WorkingFolder::subtitlesFile()).contains("Quick"));
    EXPECT_EQ(v.playerView()->currentSubtitleText(), QStringLiteral("Quick "));
    EXPECT_EQ(titles(v.subtitlesTrackPopup()).value(0), quick);

    // A file that is not subtitles, chosen in place of the selected one: refused, and the one it
    // replaced comes back; the video's streams stay.
    const QString broken = write(QStringLiteral("broken.srt"), QByteArray("\x01\x02\x03", 3));
    v.addSubtitlesFile(broken);
    v.loadSelectedSubtitles();
    QStringList alerts;
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] {
            alerts += dismissAlerts();
            return !alerts.isEmpty() && v.subtitlesTrackPopup()->isEnabled();
        },
        30000));
    EXPECT_EQ(alerts, QStringList{ViewController::invalidSubtitlesMessage});
    EXPECT_EQ(titles(v.subtitlesTrackPopup()).value(0), quick);
    EXPECT_EQ(v.subtitlesTrackPopup()->count(), 2);
    EXPECT_EQ(v.selectedSubtitlesTrack(), ViewController::externalSubtitlesTag);
}

TEST_F(ViewControllerTest, AFileThatIsNotAVideoSaysWhyAndLeavesNothingBehind)
{
    ViewController &v = view();
    v.openVideo(mediaFile(QStringLiteral("first.mkv")));
    ASSERT_TRUE(subtitlesSettled());
    const QString notAVideo = write(QStringLiteral("notes.mp4"), "just some notes, no video");
    v.openVideo(notAVideo);
    QMessageBox *sheet = nullptr;
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] {
            for (QWidget *widget : QApplication::topLevelWidgets())
                if (auto *box = qobject_cast<QMessageBox *>(widget);
                    box && box->isVisible() &&
                    box->text() == QStringLiteral("Could not open the video"))
                    sheet = box;
            return sheet != nullptr;
        },
        20000));
    EXPECT_TRUE(sheet->informativeText().contains(QStringLiteral("notes.mp4")))
        << sheet->informativeText().toStdString();
    sheet->button(QMessageBox::Ok)->click();
    // Neither the bad file nor the video before it: nothing to make, no output named after it.
    EXPECT_FALSE(v.playerView()->videoFile());
    EXPECT_EQ(v.videoTrackPopup()->count(), 0);
    EXPECT_EQ(v.audioTrackPopup()->count(), 0);
    EXPECT_FALSE(v.makeButton()->isEnabled());
    // The next video opens as usual.
    v.openVideo(mediaFile(QStringLiteral("first.mkv")));
    ASSERT_TRUE(subtitlesSettled());
    EXPECT_TRUE(v.makeButton()->isEnabled());
}

TEST_F(ViewControllerTest, TheSubtitlesChooserTakesOneSubtitleFileAsWritten)
{
    const QString srt = write(QStringLiteral("film.srt"), "x");
    const QString capital = write(QStringLiteral("FILM.SRT"), "x");
    const QString ass = write(QStringLiteral("film.ass"), "x");
    QDir(folder.path()).mkpath(QStringLiteral("folder.srt"));
    EXPECT_TRUE(SubtitlesDragablePopupButton::acceptsDrag(TestSupport::fileDrag({srt}).get()));
    EXPECT_TRUE(SubtitlesDragablePopupButton::acceptsDrag(TestSupport::fileDrag({ass}).get()));
    EXPECT_FALSE(SubtitlesDragablePopupButton::acceptsDrag(TestSupport::fileDrag({capital}).get()));
    EXPECT_FALSE(
        SubtitlesDragablePopupButton::acceptsDrag(TestSupport::fileDrag({srt, ass}).get()));
    EXPECT_FALSE(SubtitlesDragablePopupButton::acceptsDrag(
        TestSupport::fileDrag({folder.filePath(QStringLiteral("folder.srt"))}).get()));
    EXPECT_FALSE(SubtitlesDragablePopupButton::acceptsDrag(
        TestSupport::fileDrag({folder.filePath(QStringLiteral("missing.srt"))}).get()));
}

TEST_F(ViewControllerTest, ABusyWindowIgnoresEveryOpenRouteAndComesBackAsItWas)
{
    // An ffmpeg that writes the video at the film's own pace keeps the chain running.
    const auto slow = TestSupport::slowFfmpegFirstOnPath(folder.filePath(QStringLiteral("bin")),
                                                         QStringLiteral("-map"));
    const QString long_ = folder.filePath(QStringLiteral("long.mkv"));
    TestSupport::ffmpeg("-f lavfi -i color=s=64x64:r=1:d=300 -i %1 -c:v libx264 -c:s srt %2",
                        {mediaFile(QStringLiteral("cues.srt")), long_});
    const QString out = folder.filePath(QStringLiteral("out"));
    QDir().mkpath(out);
    settings.setOutputFolder(out);

    ViewController &v = view();
    v.openVideo(long_);
    ASSERT_TRUE(subtitlesSettled());
    AudioOverlayPanel *overlay = v.overlayPanel();
    overlay->loadToOverlay();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !overlay->isBuilding(); }));
    overlay->selectRow(0);
    const ViewController::ControlsStatus before = v.currentControlsStatus();
    // An attachment started just before the make ends while it runs.
    const QString tone = folder.filePath(QStringLiteral("tone.wav"));
    TestSupport::generateTone(tone, 48000, 1, 1.0, QStringLiteral("pcm_s16le"));
    overlay->attachAudio(tone, 0);
    QTest::mouseClick(v.makeButton(), Qt::LeftButton);
    ASSERT_TRUE(v.isBusy());
    ASSERT_TRUE(TestSupport::waitUntil([&] { return overlay->items()[0].audioDuration > 0; }));
    EXPECT_EQ(v.makeButton()->text(), QStringLiteral("Cancel"));
    EXPECT_TRUE(app.mainWindow()->isProgressItemShown());
    EXPECT_FALSE(app.mainWindow()->openVideoEnable);
    EXPECT_EQ(
        v.currentControlsStatus(),
        ViewController::ControlsStatus({false, false, false, false, false, false, false, false,
                                        false, false, false, false, false, false, false}));

    // Closing the window asks first; Cancel keeps the video being made.
    app.mainWindow()->close();
    QMessageBox *asked = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(widget);
            box && box->text() == QStringLiteral("A video is still being made."))
            asked = box;
    ASSERT_NE(asked, nullptr);
    asked->button(QMessageBox::Cancel)->click();
    EXPECT_TRUE(v.isBusy());

    // Every way in is ignored: the open call, a handed-over file (whose path is cleared), a drop.
    v.openVideo(mediaFile(QStringLiteral("silent.mp4")));
    app.openFile(mediaFile(QStringLiteral("silent.mp4")));
    EXPECT_TRUE(settings.stringValue(UserSettings::fileOpenedWithFinderKey).isEmpty());
    v.subtitlesTrackPopup()->onFileDragged(write(QStringLiteral("x.srt"), "x"));
    EXPECT_EQ(*v.playerView()->videoFile(), long_);
    EXPECT_EQ(v.subtitlesTrackPopup()->count(), 1);

    // Cancel: the controls exactly as they were, no video and no ffmpeg left.
    QTest::mouseClick(v.makeButton(), Qt::LeftButton);
    EXPECT_FALSE(v.isBusy());
    EXPECT_EQ(v.makeButton()->text(), QStringLiteral("Make"));
    EXPECT_FALSE(app.mainWindow()->isProgressItemShown());
    EXPECT_EQ(v.currentControlsStatus(), before);
    // Make waits, without holding up the window, until the cancelled chain has ended.
    EXPECT_FALSE(v.makeButton()->isEnabled());
    QTest::mouseClick(v.makeButton(), Qt::LeftButton);
    EXPECT_FALSE(v.isBusy());
    ASSERT_TRUE(TestSupport::waitUntil([&] { return v.makeButton()->isEnabled(); }));
    EXPECT_TRUE(TestSupport::waitUntil([&] { return TestSupport::processesWith(out).isEmpty(); }));
    EXPECT_TRUE(TestSupport::waitUntil([&] { return TestSupport::entriesOf(out).isEmpty(); }))
        << TestSupport::entriesOf(out).join(u' ');
}

TEST(WindowFrame, FullScreenFromThePlayerHidesThePanelsAndTheFrameIsKept)
{
    QTemporaryDir folder;
    UserSettings settings(folder.filePath(QStringLiteral("settings.ini")));
    // All zeros is no frame.
    settings.setMainWindowFrame(QRectF());
    int sidePanel = 0;
    {
        AppDelegate app(settings);
        WindowController *window = app.mainWindow();
        window->show();
        const QString video = folder.filePath(QStringLiteral("clip.mp4"));
        TestSupport::ffmpeg("-f lavfi -i testsrc=d=2:s=64x64 -c:v libx264 %1", {video});
        app.openFile(video);
        auto *fullScreen = window->findChild<QToolButton *>(QStringLiteral("fullscreenButton"));
        ASSERT_TRUE(TestSupport::waitUntil([&] { return fullScreen->isEnabled(); }));
        QWidget *toolbar = window->toolbar();
        QWidget *tabs = window->viewController()->overlayPanel()->parentWidget()->parentWidget();
        // The player's full screen hides the panels and the toolbar, and brings them back.
        window->playerView()->fullscreenClicked();
        ASSERT_TRUE(TestSupport::waitUntil([&] { return window->isFullScreen(); }, 5000));
        EXPECT_TRUE(toolbar->isHidden());
        EXPECT_TRUE(tabs->isHidden());
        EXPECT_TRUE(window->menuBar()->isHidden());
        // Escape leaves it.
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window, Qt::Key_Escape);
        ASSERT_TRUE(TestSupport::waitUntil([&] { return !window->isFullScreen(); }, 5000));
        EXPECT_FALSE(toolbar->isHidden());
        EXPECT_FALSE(tabs->isHidden());
        EXPECT_FALSE(window->menuBar()->isHidden());
        // A full screen of the window's own changes nothing in the layout.
        window->showFullScreen();
        ASSERT_TRUE(TestSupport::waitUntil([&] { return window->isFullScreen(); }, 5000));
        EXPECT_FALSE(toolbar->isHidden());
        window->showNormal();
        window->setGeometry(40, 50, 900, 640);
        QTest::qWait(100);
        // The side panel: the track choosers' box in its container.
        sidePanel =
            window->viewController()->videoTrackPopup()->parentWidget()->parentWidget()->width();
        window->close();
    }
    EXPECT_EQ(settings.mainWindowFrame(), QRectF(40, 50, 900, 640));
    AppDelegate again(settings);
    EXPECT_EQ(again.mainWindow()->geometry(), QRect(40, 50, 900, 640));
    // The panels are divided as they were, not squeezed to their smallest.
    again.mainWindow()->show();
    QTest::qWait(200);
    EXPECT_NEAR(again.mainWindow()
                    ->viewController()
                    ->videoTrackPopup()
                    ->parentWidget()
                    ->parentWidget()
                    ->width(),
                sidePanel, 2);
}
