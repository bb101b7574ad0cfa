#pragma once

#include "VideoTimeChangedListener.h"

#include <QPointer>
#include <functional>

class VideoPlayerView;

// Plays one stretch of the video: at endTime, or at the end of the file when endTime lies past
// the last frame, it pauses the player and removes itself from the player's listeners.
class SubtitlesPlayingListener : public VideoTimeChangedListener {
public:
    SubtitlesPlayingListener(VideoPlayerView *videoPlayerView, qint64 endTime);

    void timeChanged(qint64 milliseconds) override;
    void playbackEnded() override;

    qint64 endTime;
    QPointer<VideoPlayerView> videoPlayerView;
    // Called once the stretch has stopped.
    std::function<void()> onStopped;

private:
    void stop();
};
