#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// One overlay item as read from the project: a cue's text and slot, and its audio once given.
struct ProjectItem {
    int id = 0;
    int row = 0; // position in the list it was read for
    QString text;
    int start = 0; // milliseconds
    int end = 0;
    std::optional<QByteArray> audio; // the whole audio file, byte for byte
    int audioDuration = 0;           // milliseconds; 0 means no audio
};
