#pragma once

#include <QMainWindow>
#include <QString>

class VideoPlayerView;

// The app's window. For now it holds the preview player alone; Space plays and pauses, Left and
// Right jump back and forward.
class WindowController : public QMainWindow {
    Q_OBJECT
public:
    explicit WindowController(QWidget *parent = nullptr);

    VideoPlayerView *playerView() const { return videoPlayerView; }

    void openVideo(const QString &path);
    // Converts a subtitle file in any text format into the working subtitles file, off the GUI
    // thread, and shows it over the picture.
    void openSubtitles(const QString &path);

private:
    void showAlert(const QString &title, const QString &message);

    VideoPlayerView *videoPlayerView = nullptr;
};
