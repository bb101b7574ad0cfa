#pragma once

#include "Subtitle.h"

#include <QHash>
#include <QList>
#include <optional>

// Finds the cue on screen at a play time without scanning the whole list: cues are filed in
// ten-second buckets and a lookup searches one bucket.
//
// A cue is filed under every bucket its span reaches, so a cue running across a bucket boundary
// is found on both sides. Cues whose span reaches too many buckets are kept in a short separate
// list that every lookup also checks, so a malformed cue cannot blow up the table.
class SubtitlesSeeker {
public:
    static constexpr qint64 step = 10000;

    explicit SubtitlesSeeker(QList<Subtitle> subtitles);

    // The cue with start <= ms <= end (both in whole milliseconds); the earliest in the file wins.
    std::optional<Subtitle> seek(qint64 ms) const;

    const QList<Subtitle> &subtitles() const { return cues; }

private:
    struct Entry {
        qint64 start;
        qint64 end;
        qsizetype position;
    };
    // One hour of buckets; longer cues go to longCues.
    static constexpr qint64 maxBucketsPerCue = 360;

    static qint64 bucket(qint64 ms) { return ms / step; }

    QList<Subtitle> cues;
    QHash<qint64, QList<Entry>> hashTable;
    QList<Entry> longCues;
};
