// The preview player on a video made at test time: ten flat-coloured frames a second, each frame
// with its own colours (left and right halves differ), a default subtitle stream of its own that
// must never show, and two audio streams the second of which is the default.
#include "VideoPlayerView.h"
#include "PlayerImages.h"
#include "Settings/UserSettings.h"
#include "SubtitleTextChanged.h"
#include "SubtitlesPlayingListener.h"
#include "SubtitlesTextField.h"
#include "TestSupport.h"
#include "VideoRenderView.h"
#include "WorkingFolder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QScreen>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>
#include <array>
#include <clocale>
#include <gtest/gtest.h>

namespace {

constexpr int frameRate = 10;
constexpr int frameCount = 30;
constexpr int videoWidth = 320;
constexpr int videoHeight = 180;

// Colours stay within 40..215, so white letters and their black outline stand out from any frame.
QString colourExpression(int factor, int offset)
{
    const QString value = QStringLiteral("mod(N*%1+%2,176)").arg(factor).arg(offset);
    return QStringLiteral("if(lt(X,W/2),40+%1,215-%1)").arg(value);
}

// Mean colours of the left and right halves' upper parts, where no subtitle is drawn.
using Signature = std::array<double, 6>;

Signature signature(const QImage &image)
{
    Signature result{};
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    const int top = rgb.height() * 5 / 100;
    const int bottom = rgb.height() * 25 / 100;
    const std::array<std::pair<int, int>, 2> columns = {
        {{rgb.width() * 10 / 100, rgb.width() * 40 / 100},
         {rgb.width() * 60 / 100, rgb.width() * 90 / 100}}};
    for (int half = 0; half < 2; ++half) {
        double sum[3] = {0, 0, 0};
        int count = 0;
        for (int y = top; y < bottom; ++y) {
            const uchar *line = rgb.constScanLine(y);
            for (int x = columns[half].first; x < columns[half].second; ++x, ++count)
                for (int c = 0; c < 3; ++c)
                    sum[c] += line[x * 3 + c];
        }
        for (int c = 0; c < 3; ++c)
            result[half * 3 + c] = sum[c] / std::max(count, 1);
    }
    return result;
}

double distance(const Signature &a, const Signature &b)
{
    double total = 0;
    for (size_t i = 0; i < a.size(); ++i)
        total += std::abs(a[i] - b[i]);
    return total;
}

int nearest(const QList<Signature> &frames, const Signature &wanted)
{
    int best = -1;
    for (int i = 0; i < frames.size(); ++i)
        if (best < 0 || distance(frames[i], wanted) < distance(frames[best], wanted))
            best = i;
    return best;
}

QImage rawFrame(const QByteArray &bytes, qsizetype offset)
{
    return QImage(reinterpret_cast<const uchar *>(bytes.constData() + offset), videoWidth,
                  videoHeight, videoWidth * 3, QImage::Format_RGB888)
        .copy();
}

class RecordingTimeListener : public VideoTimeChangedListener {
public:
    void timeChanged(qint64 milliseconds) override { times.append(milliseconds); }
    QList<qint64> times;
};

class RecordingTextListener : public SubtitleTextChanged {
public:
    void textChanged(const QString &text) override { texts.append(text); }
    QStringList texts;
};

class PlayerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder = new QTemporaryDir;
        const QString embedded = folder->filePath(QStringLiteral("embedded.srt"));
        TestSupport::writeFile(embedded,
                               "1\n00:00:00,000 --> 00:00:03,000\n{\\an8}EMBEDDED SUBTITLE\n");
        const QString colours =
            QStringLiteral("color=c=gray:s=%1x%2:r=%3:d=3,format=rgb24,geq=r='%4':g='%5':b='%6'")
                .arg(videoWidth)
                .arg(videoHeight)
                .arg(frameRate)
                .arg(colourExpression(67, 0), colourExpression(101, 60), colourExpression(29, 120));
        // Streams: 0 video, 1 subtitles, 2 audio at 440 Hz, 3 audio at 880 Hz (the default).
        TestSupport::ffmpeg("-f lavfi -i %1 -i %2 -f lavfi -i sine=f=440:d=3 -f lavfi -i "
                            "sine=f=880:d=3 -map 0:v -map 1:s -map 2:a -map 3:a -c:v libx264 -crf "
                            "12 -pix_fmt yuv420p -c:a aac -c:s srt -disposition:s:0 default "
                            "-disposition:a:0 0 -disposition:a:1 default %3",
                            {colours, embedded, videoPath()});
        TestSupport::writeFile(subtitlesPath(), "1\n00:00:00,300 --> 00:00:01,100\nOne\n\n"
                                                "2\n00:00:01,400 --> 00:00:02,000\nTwo\n\n"
                                                "3\n00:00:02,000 --> 00:00:02,500\n<i>Three</i>\n");
    }
    static void TearDownTestSuite()
    {
        delete folder;
        folder = nullptr;
    }

    static QString videoPath() { return folder->filePath(QStringLiteral("frames.mkv")); }
    static QString subtitlesPath() { return folder->filePath(QStringLiteral("subtitles.srt")); }

    void SetUp() override
    {
        QFile::remove(WorkingFolder::subtitlesFile());
        ASSERT_TRUE(QFile::copy(subtitlesPath(), WorkingFolder::subtitlesFile()));
        window.resize(640, 360);
        auto *layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        view = new VideoPlayerView(&window);
        layout->addWidget(view);
        window.show();
    }

    // Opens the test video and waits until it is ready to play.
    void open()
    {
        QSignalSpy loaded(view->videoPlayer(), &MpvPlayer::fileLoaded);
        view->loadVideo(videoPath());
        ASSERT_TRUE(TestSupport::waitUntil([&] { return !loaded.isEmpty(); }, 30000))
            << "the video did not load";
    }

    template <typename Control> Control *control(const char *name)
    {
        auto *found = view->findChild<Control *>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    // What the screen shows of the view.
    QImage grabView()
    {
        const QPoint origin = view->mapTo(&window, QPoint(0, 0));
        return window.screen()
            ->grabWindow(window.winId(), origin.x(), origin.y(), view->width(), view->height())
            .toImage();
    }

    // Pixels of the subtitle's colours (near white and near black) in a part of the view.
    static std::pair<int, int> letterPixels(const QImage &image, const QRect &area)
    {
        const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
        int white = 0;
        int black = 0;
        for (int y = std::max(area.top(), 0); y <= std::min(area.bottom(), rgb.height() - 1); ++y) {
            const uchar *line = rgb.constScanLine(y);
            for (int x = std::max(area.left(), 0); x <= std::min(area.right(), rgb.width() - 1);
                 ++x) {
                const uchar *p = line + x * 3;
                if (p[0] > 225 && p[1] > 225 && p[2] > 225)
                    ++white;
                else if (p[0] < 30 && p[1] < 30 && p[2] < 30)
                    ++black;
            }
        }
        return {white, black};
    }

    static inline QTemporaryDir *folder = nullptr;
    QWidget window;
    VideoPlayerView *view = nullptr;
};

TEST_F(PlayerTest, PlayingCallsTheListenersAndAStretchPastTheLastFrameStopsAtTheEnd)
{
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_TRUE(view->loadSubtitles());
    auto times = std::make_shared<RecordingTimeListener>();
    auto texts = std::make_shared<RecordingTextListener>();
    auto stretch = std::make_shared<SubtitlesPlayingListener>(view, 60000);
    int stops = 0;
    stretch->onStopped = [&stops] { ++stops; };
    view->addTimeListener(times);
    view->addTimeListener(times);
    view->addTimeListener(stretch);
    view->setSubtitleTextListener(texts);

    view->playClicked();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return stops > 0; }, 30000))
        << "the stretch never stopped; last time "
        << (times->times.isEmpty() ? -1 : times->times.last());

    EXPECT_EQ(stops, 1);
    EXPECT_EQ(stretch.use_count(), 1) << "the stretch is still listening";
    EXPECT_TRUE(view->videoPlayer()->isAtEnd());
    ASSERT_GE(times->times.size(), 10);
    EXPECT_LT(times->times.first(), 500);
    EXPECT_GE(times->times.last(), 2500);
    for (qsizetype i = 1; i < times->times.size(); ++i)
        EXPECT_GT(times->times[i], times->times[i - 1]) << "at change " << i;
    EXPECT_EQ(texts->texts, QStringList({QStringLiteral("One "), QString(), QStringLiteral("Two "),
                                         QStringLiteral("Three "), QString()}));
    EXPECT_EQ(control<QAbstractButton>("playButton")->property("imageName").toString(),
              QStringLiteral("ButtonPlay"));
}

TEST_F(PlayerTest, AStretchEndingAtZeroPausesAtTheFirstTimeChange)
{
    ASSERT_NO_FATAL_FAILURE(open());
    auto stretch = std::make_shared<SubtitlesPlayingListener>(view, 0);
    std::optional<double> stoppedAt;
    stretch->onStopped = [&] { stoppedAt = view->videoPlayer()->currentTime(); };
    view->addTimeListener(stretch);

    view->play();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return stoppedAt.has_value(); }, 30000));
    EXPECT_TRUE(TestSupport::waitUntil(
        [&] { return view->videoPlayer()->playbackState() == MpvPlayer::PlaybackState::Paused; }));
    EXPECT_LT(*stoppedAt, 0.5);
    EXPECT_EQ(stretch.use_count(), 1) << "the stretch is still listening";
}

TEST_F(PlayerTest, AfterASeekTheViewShowsTheFrameFfmpegDecodesWithTheSubtitleOverIt)
{
    const bool offscreen = QGuiApplication::platformName() == QLatin1String("offscreen");
    EXPECT_EQ(view->videoView()->kind(),
              offscreen ? VideoRenderView::Kind::Software : VideoRenderView::Kind::OpenGL);

    const QByteArray all =
        TestSupport::runProgram(QStringLiteral("ffmpeg"),
                                {QStringLiteral("-v"), QStringLiteral("error"),
                                 QStringLiteral("-i"), videoPath(), QStringLiteral("-map"),
                                 QStringLiteral("0:v"), QStringLiteral("-f"),
                                 QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
                                 QStringLiteral("rgb24"), QStringLiteral("-")})
            .out;
    const qsizetype frameBytes = videoWidth * videoHeight * 3;
    ASSERT_EQ(all.size(), frameBytes * frameCount);
    QList<Signature> frames;
    for (int i = 0; i < frameCount; ++i)
        frames.append(signature(rawFrame(all, i * frameBytes)));
    const QByteArray atOneSecond =
        TestSupport::runProgram(
            QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-ss"),
             QStringLiteral("1.000"), QStringLiteral("-i"), videoPath(), QStringLiteral("-map"),
             QStringLiteral("0:v"), QStringLiteral("-frames:v"), QStringLiteral("1"),
             QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
             QStringLiteral("rgb24"), QStringLiteral("-")})
            .out;
    ASSERT_EQ(atOneSecond.size(), frameBytes);
    const int expected = nearest(frames, signature(rawFrame(atOneSecond, 0)));

    view->setSubtitlesVisible(true);
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_TRUE(view->loadSubtitles());
    view->seek(1000);
    int shown = -1;
    TestSupport::waitUntil(
        [&] {
            shown = nearest(frames, signature(grabView()));
            return shown == expected && view->currentSubtitleText() == QLatin1String("One ");
        },
        20000);
    EXPECT_EQ(shown, expected) << "frame shown after seeking to 1.000 s";
    EXPECT_EQ(view->currentSubtitleText(), QStringLiteral("One "));

    // Above the controls: the subtitle's label with CC on; with CC off nothing but the frame,
    // and never the video's own subtitle stream.
    const QRect picture(0, 0, view->width(), view->height() - 48);
    const QRect label = view->findChild<QWidget *>(QStringLiteral("subtitlesView"))->geometry();
    std::pair<int, int> shownLetters;
    EXPECT_TRUE(TestSupport::waitUntil(
        [&] {
            shownLetters = letterPixels(grabView(), label);
            return shownLetters.first > 100 && shownLetters.second > 100;
        },
        5000))
        << "white " << shownLetters.first << ", black " << shownLetters.second
        << " with subtitles on";

    view->setSubtitlesVisible(false);
    std::pair<int, int> hidden;
    EXPECT_TRUE(TestSupport::waitUntil(
        [&] {
            hidden = letterPixels(grabView(), picture);
            return hidden.first + hidden.second < 20;
        },
        5000))
        << "white " << hidden.first << ", black " << hidden.second << " with subtitles off";
}

TEST_F(PlayerTest, AudioTracksAreChosenByStreamIndex)
{
    MpvPlayer *player = view->videoPlayer();
    // Chosen before the tracks are known, it is made when they arrive.
    view->loadVideo(videoPath());
    view->selectAudioTrack(2);
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] { return player->selectedStreamIndex(QStringLiteral("audio")) == 2; }, 30000))
        << "selected stream " << player->selectedStreamIndex(QStringLiteral("audio"));
    // mpv numbers audio tracks from 1: stream 2 is its track 1.
    for (const MpvPlayer::Track &track : player->tracks()) {
        if (track.type == QLatin1String("audio") && track.selected) {
            EXPECT_EQ(track.id, 1);
        }
    }

    view->selectAudioTrack(3);
    EXPECT_TRUE(TestSupport::waitUntil(
        [&] { return player->selectedStreamIndex(QStringLiteral("audio")) == 3; }));
    view->selectAudioTrack(1); // the subtitle stream: not an audio track, nothing changes
    QTest::qWait(200);
    EXPECT_EQ(player->selectedStreamIndex(QStringLiteral("audio")), 3);
}

TEST_F(PlayerTest, BackwardNearTheStartGoesToTheStartNotTheEnd)
{
    ASSERT_NO_FATAL_FAILURE(open());
    view->seek(2500);
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] { return std::abs(view->videoPlayer()->currentTime() - 2.5) < 0.01; }));
    QSignalSpy times(view->videoPlayer(), &MpvPlayer::timeChanged);
    view->backwardClicked();
    // A report of the time before the jump may still be on its way; the jump's own comes next.
    EXPECT_TRUE(TestSupport::waitUntil(
        [&] { return !times.isEmpty() && times.last().at(0).toDouble() < 0.05; }, 10000))
        << (times.isEmpty() ? -1.0 : times.last().at(0).toDouble());
}

TEST_F(PlayerTest, VolumeImagesFollowTheThresholdsAndTheVolumeIsSaved)
{
    ASSERT_NO_FATAL_FAILURE(open());
    auto *volumeBar = control<QSlider>("volumeBar");
    auto *volumeButton = control<QAbstractButton>("volumeButton");
    const QList<std::pair<int, QString>> cases = {
        {0, QStringLiteral("ButtonVolume0")},    {32, QStringLiteral("ButtonVolume33")},
        {33, QStringLiteral("ButtonVolume66")},  {65, QStringLiteral("ButtonVolume66")},
        {66, QStringLiteral("ButtonVolume100")}, {100, QStringLiteral("ButtonVolume100")}};
    for (const auto &[volume, image] : cases) {
        volumeBar->setValue(volume);
        EXPECT_EQ(volumeButton->property("imageName").toString(), image) << "volume " << volume;
        EXPECT_EQ(UserSettings::shared().playerVolume(), volume);
        EXPECT_TRUE(TestSupport::waitUntil([&] {
            return std::abs(view->videoPlayer()->volume() - volume / 100.0) < 1e-6;
        })) << "player volume "
            << view->videoPlayer()->volume() << " for " << volume;
    }

    // Every image of the player draws, sharp at twice the size too.
    for (const char *name :
         {"ButtonPlay", "ButtonPause", "ButtonForward", "ButtonBackward", "ButtonFullScreen",
          "ButtonVolume0", "ButtonVolume33", "ButtonVolume66", "ButtonVolume100", "ButtonCC_on",
          "ButtonCC_off", "ButtonRecord", "ButtonStop17", "ButtonPlay17", "ButtonPause17"}) {
        const QImage image =
            PlayerImages::icon(QString::fromLatin1(name)).pixmap(QSize(24, 24), 2.0).toImage();
        EXPECT_EQ(image.size(), QSize(48, 48)) << name;
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                opaque += qAlpha(image.pixel(x, y)) > 0;
        EXPECT_GT(opaque, 48) << name << " draws nothing";
    }
}

TEST_F(PlayerTest, DropsAcceptReadableFilesWithAContainerExtensionAsWritten)
{
    QTemporaryDir drops;
    const auto file = [&](const QString &name) {
        const QString path = drops.filePath(name);
        TestSupport::writeFile(path, "x");
        return path;
    };
    QDir(drops.path()).mkdir(QStringLiteral("folder.mkv"));
    QStringList dropped;
    view->onFileDragged = [&](const QString &path) { dropped.append(path); };
    const auto drop = [&](const QUrl &url) {
        QMimeData data;
        data.setUrls({url});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(view, &enter);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &drop);
        return enter.isAccepted();
    };

    const QString video = file(QStringLiteral("walk.mp4"));
    EXPECT_TRUE(drop(QUrl::fromLocalFile(video)));
    EXPECT_TRUE(drop(QUrl::fromLocalFile(file(QStringLiteral("clip.m2ts")))));
    EXPECT_FALSE(drop(QUrl::fromLocalFile(file(QStringLiteral("WALK.MP4")))));
    EXPECT_FALSE(drop(QUrl::fromLocalFile(file(QStringLiteral("walk.srt")))));
    EXPECT_FALSE(drop(QUrl::fromLocalFile(file(QStringLiteral("mp4")))));
    EXPECT_FALSE(drop(QUrl::fromLocalFile(drops.filePath(QStringLiteral("missing.mkv")))));
    EXPECT_FALSE(drop(QUrl::fromLocalFile(drops.filePath(QStringLiteral("folder.mkv")))));
    EXPECT_FALSE(drop(QUrl(QStringLiteral("https://example.invalid/walk.mp4"))));
    EXPECT_EQ(dropped, QStringList({video, drops.filePath(QStringLiteral("clip.m2ts"))}));
}

TEST_F(PlayerTest, FilesThatDoNotPlayLeaveTheControlsDisabled)
{
    const QString truncated = folder->filePath(QStringLiteral("truncated.mp4"));
    TestSupport::ffmpeg("-f lavfi -i testsrc=d=2:s=160x120 -c:v libx264 %1", {truncated});
    QFile cut(truncated);
    ASSERT_TRUE(cut.resize(cut.size() / 2)); // the index at the end is gone
    const QString text = folder->filePath(QStringLiteral("notes.mp4"));
    TestSupport::writeFile(text, "These are not the frames you are looking for.\n");

    const QStringList controls = {
        QStringLiteral("playButton"),     QStringLiteral("forwardButton"),
        QStringLiteral("backwardButton"), QStringLiteral("volumeButton"),
        QStringLiteral("timeView"),       QStringLiteral("fullscreenButton")};
    const auto controlsEnabled = [&] {
        QStringList enabled;
        for (const QString &name : controls)
            if (view->findChild<QWidget *>(name)->isEnabled())
                enabled.append(name);
        return enabled;
    };
    QSignalSpy failures(view, &VideoPlayerView::playbackFailed);
    for (const QString &path : {folder->filePath(QStringLiteral("missing.mkv")), truncated, text}) {
        failures.clear();
        view->loadVideo(path);
        ASSERT_TRUE(TestSupport::waitUntil([&] { return !failures.isEmpty(); }, 30000)) << path;
        EXPECT_FALSE(failures.first().at(0).toString().isEmpty());
        EXPECT_EQ(controlsEnabled(), QStringList()) << path;
        // A make started and ended meanwhile does not bring them back.
        view->setControlsEnabled(false);
        view->setControlsEnabled(true);
        EXPECT_EQ(controlsEnabled(), QStringList()) << path;
        if (path.endsWith(QLatin1String("missing.mkv"))) {
            EXPECT_TRUE(failures.first().at(0).toString().contains(QStringLiteral("No such file")))
                << failures.first().at(0).toString();
        }
    }

    // A good file afterwards plays again.
    ASSERT_NO_FATAL_FAILURE(open());
    EXPECT_EQ(controlsEnabled(), controls);
}

TEST_F(PlayerTest, APlayerMpvCannotStartReportsItAndNeverAborts)
{
    // mpv refuses to start under another numeric locale (it lets "C.UTF-8" pass, not "C.utf8").
    if (!std::setlocale(LC_NUMERIC, "C.utf8"))
        GTEST_SKIP() << "no C.utf8 locale";
    auto broken = std::make_unique<VideoPlayerView>();
    std::setlocale(LC_NUMERIC, "C");
    ASSERT_FALSE(broken->videoPlayer()->isValid());
    QSignalSpy failures(broken.get(), &VideoPlayerView::playbackFailed);
    broken->loadVideo(videoPath());
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !failures.isEmpty(); }));
    EXPECT_TRUE(failures.first().at(0).toString().contains(QStringLiteral("locale")))
        << failures.first().at(0).toString();
    EXPECT_FALSE(broken->findChild<QWidget *>(QStringLiteral("playButton"))->isEnabled());
}

TEST_F(PlayerTest, ANewVideoStartsWithoutThePreviousVideosCues)
{
    const QString plain = folder->filePath(QStringLiteral("plain.mkv"));
    TestSupport::ffmpeg("-f lavfi -i color=c=gray:s=160x90:r=10:d=2 -c:v libx264 %1", {plain});
    view->setSubtitlesVisible(true);
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_TRUE(view->loadSubtitles());
    auto texts = std::make_shared<RecordingTextListener>();
    view->setSubtitleTextListener(texts);
    view->seek(500);
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] { return view->currentSubtitleText() == QLatin1String("One "); }));

    QSignalSpy loaded(view->videoPlayer(), &MpvPlayer::fileLoaded);
    view->loadVideo(plain);
    auto *label = control<SubtitlesTextField>("subtitlesView");
    EXPECT_EQ(view->currentSubtitleText(), QString());
    EXPECT_EQ(label->text(), QString());
    EXPECT_EQ(texts->texts, QStringList({QStringLiteral("One "), QString()}));
    // The old cues must not come back at their times in the new video either.
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !loaded.isEmpty(); }));
    view->seek(500);
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] { return std::abs(view->videoPlayer()->currentTime() - 0.5) < 0.01; }));
    QTest::qWait(100);
    EXPECT_EQ(label->text(), QString());
    EXPECT_EQ(texts->texts.size(), 2);
}

TEST_F(PlayerTest, ClosingAfterAFailedLoadShowsNothingAndTheNextVideoPlays)
{
    const QString text = folder->filePath(QStringLiteral("letter.mp4"));
    TestSupport::writeFile(text, "Not a video.\n");
    ASSERT_NO_FATAL_FAILURE(open());
    view->seek(1000);
    const auto blackPicture = [&] {
        const Signature shown = signature(grabView());
        return *std::max_element(shown.begin(), shown.end()) < 10;
    };
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !blackPicture(); }));

    QSignalSpy failures(view, &VideoPlayerView::playbackFailed);
    view->loadVideo(text);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !failures.isEmpty(); }));
    view->closeVideo();
    EXPECT_EQ(view->videoFile(), std::nullopt);
    EXPECT_EQ(control<QLabel>("timeLabel")->text(), QStringLiteral("00:00 / 00:00"));
    auto *time = control<QSlider>("timeView");
    EXPECT_EQ(std::make_pair(time->value(), time->maximum()), std::make_pair(0, 0));
    auto *play = control<QAbstractButton>("playButton");
    EXPECT_FALSE(play->isEnabled());
    EXPECT_EQ(play->property("imageName").toString(), QStringLiteral("ButtonPlay"));
    EXPECT_FALSE(control<QWidget>("controlsContainerView")->isVisibleTo(view));
    EXPECT_TRUE(TestSupport::waitUntil(blackPicture)) << "the last frame still shows";
    EXPECT_EQ(control<QLabel>("timeLabel")->text(), QStringLiteral("00:00 / 00:00"));

    // A failure of a file given up before mpv reported it belongs to no later file.
    failures.clear();
    view->loadVideo(text);
    QThread::msleep(1500);
    view->closeVideo();
    ASSERT_NO_FATAL_FAILURE(open());
    QTest::qWait(300);
    EXPECT_EQ(failures.size(), 0);
    EXPECT_TRUE(play->isEnabled());
    EXPECT_EQ(view->videoFile(), videoPath());
    EXPECT_TRUE(TestSupport::waitUntil([&] { return !blackPicture(); }));
}

TEST_F(PlayerTest, TheVolumeButtonMutesAndTheSliderUnmutes)
{
    ASSERT_NO_FATAL_FAILURE(open());
    MpvPlayer *player = view->videoPlayer();
    auto *volumeBar = control<QSlider>("volumeBar");
    auto *volumeButton = control<QAbstractButton>("volumeButton");
    volumeBar->setValue(50);
    const auto state = [&] {
        return QStringList({volumeButton->property("imageName").toString(),
                            volumeButton->accessibleName(), volumeButton->toolTip()});
    };
    const QStringList muted = {QStringLiteral("ButtonVolume0"), QStringLiteral("Unmute"),
                               QStringLiteral("Unmute")};
    const QStringList sounding = {QStringLiteral("ButtonVolume66"), QStringLiteral("Mute"),
                                  QStringLiteral("Mute")};
    EXPECT_EQ(state(), sounding);

    volumeButton->click();
    EXPECT_EQ(state(), muted);
    EXPECT_TRUE(TestSupport::waitUntil([&] { return player->isMuted(); }));
    volumeButton->click();
    EXPECT_EQ(state(), sounding);
    EXPECT_TRUE(TestSupport::waitUntil([&] { return !player->isMuted(); }));

    volumeButton->click();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return player->isMuted(); }));
    volumeBar->setValue(80);
    EXPECT_EQ(state()[0], QStringLiteral("ButtonVolume100"));
    EXPECT_EQ(state()[1], QStringLiteral("Mute"));
    EXPECT_TRUE(TestSupport::waitUntil([&] { return !player->isMuted(); }));
    EXPECT_TRUE(volumeBar->isVisibleTo(view));
    EXPECT_EQ(UserSettings::shared().playerVolume(), 80);
}

TEST_F(PlayerTest, AClickOnTheVolumeBarSetsTheVolumeUnderThePointer)
{
    ASSERT_NO_FATAL_FAILURE(open());
    auto *volumeBar = control<QSlider>("volumeBar");
    volumeBar->setValue(0);
    QTest::mouseClick(volumeBar, Qt::LeftButton, {},
                      QPoint(volumeBar->width() * 3 / 4, volumeBar->height() / 2));
    // The handle's centre lands under the pointer; its travel is a little shorter than the bar.
    EXPECT_NEAR(volumeBar->value(), 75, 10);
}

TEST_F(PlayerTest, ControlsDisabledTwiceComeBackWhenEnabled)
{
    ASSERT_NO_FATAL_FAILURE(open());
    auto *fullscreen = control<QWidget>("fullscreenButton");
    auto *play = control<QWidget>("playButton");
    fullscreen->setEnabled(false);
    view->setControlsEnabled(false);
    view->setControlsEnabled(false);
    EXPECT_FALSE(play->isEnabled());
    view->setControlsEnabled(true);
    EXPECT_TRUE(play->isEnabled());
    EXPECT_FALSE(fullscreen->isEnabled()) << "a control disabled before stays disabled";
    view->setControlsEnabled(true);
    EXPECT_TRUE(play->isEnabled());
}

} // namespace
