#pragma once

#include <QString>

class Project;

// An audio file of any format ffmpeg reads, stored as an item's audio: converted to the items'
// PCM format in a scratch file of its own (imports and a render may run side by side), then
// stored. Any thread; blocks while ffmpeg converts.
class ItemAudioImport {
public:
    struct Result {
        int duration = 0; // milliseconds, once stored
        QString failure;  // what failed; empty once stored
        QString detail;   // why, when known: none when the file could not be read as audio
    };
    static Result run(Project &project, int itemId, const QString &audioFile);
};
