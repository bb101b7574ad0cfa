#pragma once

#include <QStringView>
#include <optional>

// A time read from a text such as 00:01:02,500 (also ffmpeg's "time=" values).
struct Time {
    double milliseconds = 0;

    // Reads [[hours:]minutes:]seconds with a point or comma before the fraction. Unreadable
    // minutes or hours end the reading and keep what was read; unreadable seconds give nothing.
    static std::optional<Time> parse(QStringView text);
};
