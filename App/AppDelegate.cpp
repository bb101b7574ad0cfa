#include "AppDelegate.h"

#include "MainWindow/ViewController.h"
#include "Settings/UserSettings.h"
#include "VideoPlayerView.h"
#include "WindowController.h"

#include <QFileInfo>
#include <memory>

AppDelegate::AppDelegate(UserSettings &settings, QObject *parent)
    : QObject(parent)
    , settings(settings)
    , window(std::make_unique<WindowController>(settings))
{}

AppDelegate::~AppDelegate() = default;

void AppDelegate::openFile(const QString &path)
{
    openFileNow(path);
}

bool AppDelegate::openFileNow(const QString &path)
{
    settings.setString(UserSettings::fileOpenedWithFinderKey, QFileInfo(path).absoluteFilePath());
    return window && window->viewController()->openFileFromFinder();
}

void AppDelegate::openFiles(const QStringList &paths, qint64 at)
{
    bool openingVideo = false;
    for (const QString &path : paths)
        openingVideo = openFileNow(path) || openingVideo;
    if (openingVideo && at > 0)
        showVideoAt(at);
}

void AppDelegate::showVideoAt(qint64 at)
{
    VideoPlayerView *view = window->playerView();
    // Once the video opened last has loaded; a video that fails to load takes the request with
    // it.
    auto loaded = std::make_shared<QMetaObject::Connection>();
    auto failed = std::make_shared<QMetaObject::Connection>();
    *loaded =
        connect(view->videoPlayer(), &MpvPlayer::fileLoaded, view, [view, at, loaded, failed] {
            QObject::disconnect(*loaded);
            QObject::disconnect(*failed);
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
