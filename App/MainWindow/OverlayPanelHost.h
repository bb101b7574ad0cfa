#pragma once

#include <QString>

class VideoPlayerView;

// What the overlay panel asks of the window it sits in: the player whose video the items are
// for, whether the window is busy making a video, and where the chosen subtitles come from.
class OverlayPanelHost {
public:
    virtual ~OverlayPanelHost() = default;

    virtual VideoPlayerView *playerView() const = 0;
    virtual bool isBusy() const = 0;
    // An external subtitle file's path or Project::streamSource of the open video's stream;
    // empty with nothing chosen.
    virtual QString subtitlesSource() const = 0;
};
