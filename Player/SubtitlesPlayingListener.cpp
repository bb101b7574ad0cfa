#include "SubtitlesPlayingListener.h"

#include "VideoPlayerView.h"

SubtitlesPlayingListener::SubtitlesPlayingListener(VideoPlayerView *videoPlayerView, qint64 endTime)
    : endTime(endTime)
    , videoPlayerView(videoPlayerView)
{}

void SubtitlesPlayingListener::timeChanged(qint64 milliseconds)
{
    if (milliseconds >= endTime)
        stop();
}

void SubtitlesPlayingListener::playbackEnded()
{
    stop();
}

void SubtitlesPlayingListener::stop()
{
    if (videoPlayerView) {
        videoPlayerView->pause();
        videoPlayerView->removeTimeListener(this);
    }
    if (onStopped)
        onStopped();
}
