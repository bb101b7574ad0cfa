#include "SubtitlesSeeker.h"

#include <cmath>
#include <limits>

namespace {

// Truncation toward zero, clamped so that infinite or huge times cannot overflow.
qint64 wholeMilliseconds(double ms)
{
    constexpr double limit = 9.0e18;
    if (std::isnan(ms))
        return 0;
    if (ms >= limit)
        return qint64(limit);
    if (ms <= -limit)
        return -qint64(limit);
    return qint64(ms);
}

} // namespace

SubtitlesSeeker::SubtitlesSeeker(QList<Subtitle> subtitles)
    : cues(std::move(subtitles))
{
    for (qsizetype i = 0; i < cues.size(); ++i) {
        const Entry entry{wholeMilliseconds(cues[i].start), wholeMilliseconds(cues[i].end), i};
        const qint64 first = bucket(entry.start);
        const qint64 last = std::max(first, bucket(entry.end));
        if (last - first >= maxBucketsPerCue) {
            longCues.append(entry);
            continue;
        }
        for (qint64 key = first; key <= last; ++key)
            hashTable[key].append(entry);
    }
}

std::optional<Subtitle> SubtitlesSeeker::seek(qint64 ms) const
{
    std::optional<qsizetype> found;
    const auto bucketEntries = hashTable.constFind(bucket(ms));
    if (bucketEntries != hashTable.cend()) {
        for (const Entry &entry : *bucketEntries) {
            if (entry.start <= ms && ms <= entry.end) {
                found = entry.position;
                break;
            }
        }
    }
    for (const Entry &entry : longCues) {
        if (found && entry.position > *found)
            break;
        if (entry.start <= ms && ms <= entry.end) {
            found = entry.position;
            break;
        }
    }
    if (!found)
        return std::nullopt;
    return cues[*found];
}
