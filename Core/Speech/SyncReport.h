#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Where each cue's speech went on the track, and how it was made to fit: written as JSON for
// checking, and told in one line.
class SyncReport {
public:
    // A cue whose speech begins later than this after its start is late.
    static constexpr double lateThreshold = 250; // milliseconds

    struct Line {
        int index = 0;    // the cue's place in the file, from 1
        double start = 0; // the cue's times, milliseconds
        double end = 0;
        double placedStart = 0; // where its speech begins on the track
        double duration = 0;    // how long the speech lasts
        float rate = 0;         // words per minute
        double tempo = 1.0;     // how much faster the speech was played; 1 when it was not
        bool fits = true;       // the speech ended within the room it had
        // How much later than the cue its speech begins; never negative.
        double late() const { return placedStart > start ? placedStart - start : 0; }
    };

    // Each line is counted once: late before compressed before ran long before fit.
    struct Counts {
        int lines = 0;
        int fit = 0;
        int compressed = 0;
        int ranLong = 0;
        int late = 0;
        double worstLate = 0; // milliseconds, over all lines
    };

    void append(const Line &line) { entries.append(line); }
    const QList<Line> &lines() const { return entries; }
    Counts counts() const;

    // A JSON array with one object per cue, in cue order.
    QByteArray toJson() const;
    // Writes toJson() to path; false with the reason when it cannot.
    bool write(const QString &path, QString *error = nullptr) const;

    // "1,333 lines: 1,318 fit, 11 compressed, 4 start late (worst 0.31 s)".
    QString summary() const;
    // The same in a sentence, for people.
    QString sentence() const;

private:
    QList<Line> entries;
};
