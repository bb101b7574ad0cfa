// The cue seeker, built from cue times of any value and asked about any time, checked against
// a plain scan of the list.
#include "FuzzSupport.h"
#include "Subtitles/SubtitlesSeeker.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

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

template <typename T> bool take(const uint8_t *&data, size_t &size, T &value)
{
    if (size < sizeof(T))
        return false;
    std::memcpy(&value, data, sizeof(T));
    data += sizeof(T);
    size -= sizeof(T);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::initialize();
    return 0;
}

// The first byte is how many cues; each cue is two doubles (start, end); what is left is times
// (64-bit) to look up.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint8_t count = 0;
    if (!take(data, size, count))
        return 0;
    QList<Subtitle> cues;
    for (int i = 0; i < count; ++i) {
        Subtitle cue;
        if (!take(data, size, cue.start) || !take(data, size, cue.end))
            break;
        cue.text = {QString::number(i)};
        cues.append(cue);
    }
    const SubtitlesSeeker seeker(cues);
    qint64 ms = 0;
    while (take(data, size, ms)) {
        const std::optional<Subtitle> found = seeker.seek(ms);
        std::optional<QString> expected;
        for (const Subtitle &cue : cues)
            if (wholeMilliseconds(cue.start) <= ms && ms <= wholeMilliseconds(cue.end)) {
                expected = cue.text.first();
                break;
            }
        if (expected != (found ? std::optional<QString>(found->text.first()) : std::nullopt))
            std::abort();
    }
    return 0;
}
