#pragma once

#include <QString>

// Hears the subtitle text of the play time each time it changes (an empty text on entering a gap
// between cues), never twice in a row for the same text.
class SubtitleTextChanged {
public:
    virtual ~SubtitleTextChanged() = default;

    virtual void textChanged(const QString &text) { Q_UNUSED(text) }
};
