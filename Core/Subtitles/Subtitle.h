#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// One cue, as written in the file. Nothing is enforced: end may precede start and cues may
// overlap; the order is the order of the file.
struct Subtitle {
    double start = 0; // milliseconds from the start of the media, fractions allowed
    double end = 0;
    QStringList text;                  // lines in file order, markup kept
    std::optional<QString> endTimeStr; // the end-time token exactly as written

    bool operator==(const Subtitle &) const = default;
};
