#pragma once

#include "MpvPlayer.h"

#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class PlayerTimeSlider;
class QLabel;
class QMimeData;
class QSlider;
class QToolButton;
class QTimer;
class SubtitleTextChanged;
class SubtitlesSeeker;
class SubtitlesTextField;
class VideoRenderView;
class VideoTimeChangedListener;

// The preview pane: the video with the subtitle of the play time drawn over it, its controls
// (play/pause, 5-second jumps, time slider and label, volume, subtitles on/off, full screen), the
// play-time listeners, and a drop target for video files.
//
// The controls float over the bottom of the picture; once a video has played they hide after
// three seconds and come back while the mouse is over the view.
class VideoPlayerView : public QWidget {
    Q_OBJECT
public:
    static constexpr qint64 jumpStep = 5000; // milliseconds

    explicit VideoPlayerView(QWidget *parent = nullptr);
    ~VideoPlayerView() override;

    // Opens a video, paused on its first frame, without subtitles until loadSubtitles(). Failures
    // arrive as playbackFailed() and leave the controls disabled.
    void loadVideo(const QString &path);
    // Reads the working subtitles file into the cue lookup; a file that does not parse leaves the
    // previous subtitles in place. False then.
    bool loadSubtitles();
    // Stops and unloads the video and shows the empty view again: a black picture, no file, no
    // cues, "00:00 / 00:00", the controls disabled and hidden until the next loadVideo(). Whatever
    // mpv still reports about the closed file is ignored.
    void closeVideo();
    std::optional<QString> videoFile() const { return loadedFile; }

    void play();
    void pause();
    // Milliseconds; the player starts from 0 for a negative time.
    void seek(qint64 milliseconds);

    // The controls' actions; each does nothing while its control is disabled.
    void playClicked();
    void forwardClicked();
    void backwardClicked();
    void fullscreenClicked();
    // Mutes, or unmutes; the volume level stays as it is.
    void volumeClicked();
    void subtitlesClicked();

    // Adds a listener unless it is already there; the player keeps it until it is removed.
    void addTimeListener(const std::shared_ptr<VideoTimeChangedListener> &listener);
    void removeTimeListener(const VideoTimeChangedListener *listener);
    // Replaces the subtitle text listener (none with nullptr).
    void setSubtitleTextListener(std::shared_ptr<SubtitleTextChanged> listener);

    // Track choices by the container's stream index.
    void selectAudioTrack(int streamIndex);
    void selectVideoTrack(int streamIndex);

    // Shows or hides the subtitle over the picture and saves the choice.
    void setSubtitlesVisible(bool visible);
    bool isPlayingSubtitles() const { return playingSubtitles; }
    QString currentSubtitleText() const { return subtitleText; }

    // Disabling remembers each control's state; enabling gives the remembered states back.
    void setControlsEnabled(bool enabled);

    MpvPlayer *videoPlayer() const { return player; }
    VideoRenderView *videoView() const { return renderView; }

    // Whether a file dropped on the view is one the player opens: a readable file whose extension
    // is one of the output containers' exactly as the table writes it.
    static bool acceptsDroppedFile(const QString &path);
    static QString volumeImageName(int volume);

    // Called with the path of an accepted dropped file.
    std::function<void(const QString &path)> onFileDragged;

signals:
    // Asked before the window goes to or leaves full screen.
    void fullScreenRequested();
    void playbackFailed(const QString &message);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void buildControls();
    void layoutOverlays();
    void mediaLoaded();
    void playerTimeChanged(double seconds);
    void playerStateChanged(MpvPlayer::PlaybackState state);
    void playerFailed(const QString &message);
    void playerReachedEnd();
    // The play button offers to play, or else to pause.
    void showPlayAction(bool play);
    void disableControlsUntilNextVideo();
    void updateTimeDisplay(qint64 current, bool force);
    void updateSubtitleText(qint64 milliseconds);
    void setSubtitleText(const QString &text);
    void dropSubtitles();
    void volumeBarChanged(int value);
    void setMuted(bool mute);
    // The volume button shows what it would do: mute, or give the level back.
    void showVolumeState();
    void timeClicked(qint64 milliseconds);
    void runAutoHideControls();
    void setControlsShown(bool shown);

    // Stays on the GUI thread's object tree so that it outlives the render view's context.
    MpvPlayer *player = nullptr;
    VideoRenderView *renderView = nullptr;
    QWidget *containerView = nullptr;
    SubtitlesTextField *subtitlesView = nullptr;
    QLabel *emptyHint = nullptr;
    QWidget *controlsContainerView = nullptr;
    QWidget *controlsRowView = nullptr;
    QToolButton *playButton = nullptr;
    QToolButton *forwardButton = nullptr;
    QToolButton *backwardButton = nullptr;
    PlayerTimeSlider *timeView = nullptr;
    QLabel *timeLabel = nullptr;
    QToolButton *volumeButton = nullptr;
    QSlider *volumeBar = nullptr;
    QToolButton *fullscreenButton = nullptr;
    QToolButton *buttonCC = nullptr;
    QTimer *autoHideTimer = nullptr;
    QTimer *timeDisplayTimer = nullptr;

    bool firstTimePlayedThisVideo = false;
    bool needsUpdateTotalTime = false;
    QList<std::shared_ptr<VideoTimeChangedListener>> timeChangedListeners;
    std::shared_ptr<SubtitleTextChanged> subtitleTextChanged;
    std::unique_ptr<SubtitlesSeeker> subtitlesSeeker;
    bool playingSubtitles = false;
    QString subtitleText;
    std::optional<QString> loadedFile;
    bool mouseBeingIn = false;
    // Not saved: whatever the last session did, the app starts out audible.
    bool muted = false;
    qint64 currentTime = 0;
    QElapsedTimer timeDisplayClock;

    // Remembered while the controls are disabled.
    bool controlsDisabled = false;
    bool timeViewEnableStatus = false;
    bool playButtonEnableStatus = false;
    bool forwardButtonEnableStatus = false;
    bool backwardButtonEnableStatus = false;
    bool volumeButtonEnableStatus = false;
    bool volumeBarEnableStatus = false;
    bool fullscreenButtonEnableStatus = false;
};
