#pragma once

#include <QtGlobal>

// Follows the play time of the preview player. The player calls every listener on every change
// of the play time, on the GUI thread, in the order they were added.
class VideoTimeChangedListener {
public:
    virtual ~VideoTimeChangedListener() = default;

    virtual void timeChanged(qint64 milliseconds) { Q_UNUSED(milliseconds) }
    // Playback stood still on the last frame.
    virtual void playbackEnded() {}
};
