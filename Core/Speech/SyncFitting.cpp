#include "SyncFitting.h"

#include <algorithm>
#include <cmath>

SyncFitting::Span SyncFitting::span(double start, double end, std::optional<double> nextStart,
                                    double trackEnd)
{
    Span span;
    span.clipStart = std::max({start - keptSilence, trackEnd, 0.0});
    span.end = end + borrowLimit;
    // The next clip begins keptSilence before its cue. Cues that overlap keep their own slot,
    // as they always did.
    if (nextStart)
        span.end = std::min(span.end, std::max(end, *nextStart) - keptSilence);
    return span;
}

float SyncFitting::estimatedRate(float rate, double speechMs, double room)
{
    if (!(room > 0))
        return topRate;
    const double needed = double(rate) * speechMs / room;
    const double stepped = std::ceil(needed / rateStep - 1e-9) * rateStep;
    return float(std::min(stepped, double(topRate)));
}

double SyncFitting::tempoFor(double speechMs, double room)
{
    if (!(room > 0))
        return tempoLimit;
    return std::clamp(speechMs / room, 1.0, tempoLimit);
}

SyncFitting::Step SyncFitting::measured(float rate, double speechMs)
{
    ++count;
    if (speechMs <= room)
        return {};
    if (count == 1) {
        const float estimate = estimatedRate(rate, speechMs, room);
        if (estimate > rate)
            return {Action::Speak, estimate};
    } else if (count == 2 && rate < topRate) {
        return {Action::Speak, std::min(rate + rateStep, topRate)};
    }
    return {Action::Compress, rate, tempoFor(speechMs, room)};
}
