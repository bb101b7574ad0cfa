#pragma once

#include "Command.h"

// kelvorandix-cli speak SUBTITLES.srt [--voice ID] --out speech.aiff: the speech job alone.
class SpeakCommand : public Command {
public:
    QString name() const override { return QStringLiteral("speak"); }
    QString summary() const override
    {
        return QStringLiteral("Speak every cue of a SubRip file into one speech track (AIFF).");
    }
    int run(const QStringList &arguments) override;
};
