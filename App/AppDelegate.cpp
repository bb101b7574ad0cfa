#include "AppDelegate.h"

#include "MainWindow/ViewController.h"
#include "Settings/UserSettings.h"
#include "VideoPlayerView.h"
#include "WindowController.h"

#include <QApplication>
#include <QFileInfo>
#include <memory>

AppDelegate::AppDelegate(UserSettings &settings, QObject *parent)
    : QObject(parent)
    , settings(settings)
    , window(std::make_unique<WindowController>(settings))
{
    retry.setSingleShot(true);
    retry.setInterval(200);
    connect(&retry, &QTimer::timeout, this, &AppDelegate::openPending);
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::openFile(const QString &path)
{
    openFiles({path}, 0);
}

bool AppDelegate::openFileNow(const QString &path)
{
    settings.setString(UserSettings::fileOpenedWithFinderKey, QFileInfo(path).absoluteFilePath());
    return window && window->viewController()->openFileFromFinder();
}

void AppDelegate::openFiles(const QStringList &paths, qint64 at)
{
    pending.append({paths, at});
    openPending();
}

void AppDelegate::openPending()
{
    while (!pending.isEmpty()) {
        // A question on screen is answered first: what it is about must not change under it.
        if (QApplication::activeModalWidget()) {
            retry.start();
            return;
        }
        const auto [paths, at] = pending.takeFirst();
        QString video;
        for (const QString &path : paths)
            if (openFileNow(path))
                video = QFileInfo(path).absoluteFilePath();
        if (!video.isEmpty() && at > 0)
            showVideoAt(video, at);
    }
}

void AppDelegate::showVideoAt(const QString &video, qint64 at)
{
    VideoPlayerView *view = window->playerView();
    // Once that video has loaded. A video that fails to load, or that another one replaced
    // before it loaded, takes the request with it.
    auto loaded = std::make_shared<QMetaObject::Connection>();
    auto failed = std::make_shared<QMetaObject::Connection>();
    *loaded = connect(view->videoPlayer(), &MpvPlayer::fileLoaded, view,
                      [view, video, at, loaded, failed] {
                          QObject::disconnect(*loaded);
                          QObject::disconnect(*failed);
                          if (view->videoFile() == video)
                              view->seek(at);
                      });
    *failed = connect(view, &VideoPlayerView::playbackFailed, view, [loaded, failed] {
        QObject::disconnect(*loaded);
        QObject::disconnect(*failed);
    });
}

void AppDelegate::activateMainWindow()
{
    if (!window)
        return;
    window->show();
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->raise();
    window->activateWindow();
}
