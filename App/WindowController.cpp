#include "WindowController.h"

#include "MainThread.h"
#include "VideoPlayerView.h"
#include "VideoProcessor/VideoProcessor.h"
#include "WorkingFolder.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QShortcut>
#include <QThreadPool>

WindowController::WindowController(QWidget *parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Kelvorandix"));
    videoPlayerView = new VideoPlayerView(this);
    setCentralWidget(videoPlayerView);
    resize(960, 600);

    videoPlayerView->onFileDragged = [this](const QString &path) { openVideo(path); };
    connect(videoPlayerView, &VideoPlayerView::playbackFailed, this,
            [this](const QString &message) { showAlert(tr("Could not play the video"), message); });

    auto *playShortcut = new QShortcut(QKeySequence(Qt::Key_Space), this);
    connect(playShortcut, &QShortcut::activated, videoPlayerView, &VideoPlayerView::playClicked);
    auto *backShortcut = new QShortcut(QKeySequence(Qt::Key_Left), this);
    connect(backShortcut, &QShortcut::activated, videoPlayerView,
            &VideoPlayerView::backwardClicked);
    auto *forwardShortcut = new QShortcut(QKeySequence(Qt::Key_Right), this);
    connect(forwardShortcut, &QShortcut::activated, videoPlayerView,
            &VideoPlayerView::forwardClicked);
}

void WindowController::openVideo(const QString &path)
{
    setWindowTitle(QStringLiteral("%1 — Kelvorandix").arg(QFileInfo(path).fileName()));
    videoPlayerView->loadVideo(path);
}

void WindowController::openSubtitles(const QString &path)
{
    const QPointer<WindowController> window(this);
    QThreadPool::globalInstance()->start([window, path] {
        QString reason;
        const bool converted =
            VideoProcessor::convertSubtitlesFile(path, WorkingFolder::subtitlesFile(), &reason);
        MainThread::post([window, path, converted, reason] {
            if (!window)
                return;
            if (converted && window->videoPlayerView->loadSubtitles()) {
                window->videoPlayerView->setSubtitlesVisible(true);
                return;
            }
            window->showAlert(
                tr("Could not load the subtitles"),
                reason.isEmpty()
                    ? tr("\"%1\" could not be read as subtitles.").arg(QFileInfo(path).fileName())
                    : reason);
        });
    });
}

void WindowController::showAlert(const QString &title, const QString &message)
{
    auto *alert = new QMessageBox(QMessageBox::Warning, title, title, QMessageBox::Ok, this);
    alert->setInformativeText(message);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->open();
}
