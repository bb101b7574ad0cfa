#pragma once

#include "Command.h"

// kelvorandix-cli subtitles INPUT --out FILE.srt [--stream N]: a subtitle stream of a video, or
// a subtitle file in any text format and character set, as UTF-8 SubRip.
class SubtitlesCommand : public Command {
public:
    QString name() const override { return QStringLiteral("subtitles"); }
    QString summary() const override
    {
        return QStringLiteral("Convert a subtitle file, or extract a video's subtitle stream, to "
                              "UTF-8 SubRip.");
    }
    int run(const QStringList &arguments) override;
};
