// Plays a video through the app's player view and reports what mpv counted and the CPU it took.
//   player-playback-bench VIDEO WIDTH HEIGHT
// Prints one line: renderer, dropped frames (output and decoder), delayed frames, CPU seconds per
// second of playback, and the wall time of the playback.
#include "VideoPlayerView.h"
#include "VideoRenderView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <sys/resource.h>
#include <utility>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // QApplication takes the C library's locale from the environment; mpv needs numbers in "C".
    std::setlocale(LC_NUMERIC, "C");
    if (argc != 4) {
        std::fprintf(stderr, "usage: player-playback-bench VIDEO WIDTH HEIGHT\n");
        return 2;
    }
    VideoPlayerView view;
    view.resize(QString::fromLocal8Bit(argv[2]).toInt(), QString::fromLocal8Bit(argv[3]).toInt());
    view.show();
    MpvPlayer *player = view.videoPlayer();
    QMap<QString, qint64> counts;
    for (const char *name :
         {MpvPlayer::frameDropCountProperty, MpvPlayer::decoderFrameDropCountProperty,
          MpvPlayer::delayedFrameCountProperty})
        player->observe(name);
    QObject::connect(
        player, &MpvPlayer::propertyChanged,
        [&](const QString &name, const QVariant &value) { counts[name] = value.toLongLong(); });

    QElapsedTimer wall;
    double cpuAtStart = 0;
    int status = 0;
    // Play as a user would: a moment after the first frame is on screen (its drawing, and the
    // compiling of the renderer's shaders that comes with it, is no part of playback).
    bool started = false;
    QObject::connect(player, &MpvPlayer::seekFinished, [&] {
        if (std::exchange(started, true))
            return;
        QTimer::singleShot(1000, [&] {
            cpuAtStart = cpuSeconds();
            wall.start();
            view.play();
        });
    });
    QObject::connect(player, &MpvPlayer::endReached, [&] {
        const double seconds = wall.elapsed() / 1000.0;
        const double cpu = cpuSeconds() - cpuAtStart;
        std::printf("%-9s dropped %3lld  decoder-dropped %3lld  delayed %3lld  "
                    "CPU %.2f s per second  (%.1f s of playback)\n",
                    view.videoView()->kind() == VideoRenderView::Kind::OpenGL ? "opengl"
                                                                              : "software",
                    counts.value(QString::fromLatin1(MpvPlayer::frameDropCountProperty)),
                    counts.value(QString::fromLatin1(MpvPlayer::decoderFrameDropCountProperty)),
                    counts.value(QString::fromLatin1(MpvPlayer::delayedFrameCountProperty)),
                    cpu / seconds, seconds);
        app.quit();
    });
    QObject::connect(&view, &VideoPlayerView::playbackFailed, [&](const QString &message) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        status = 1;
        app.quit();
    });
    QTimer::singleShot(120000, [&] {
        std::fprintf(stderr, "playback did not end in two minutes\n");
        status = 1;
        app.quit();
    });
    view.loadVideo(QString::fromLocal8Bit(argv[1]));
    const int result = app.exec();
    return status ? status : result;
}
