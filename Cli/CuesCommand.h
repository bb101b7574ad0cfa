#pragma once

#include "Command.h"

// kelvorandix-cli cues FILE [--at MS]: the cues of a SubRip file as JSON.
class CuesCommand : public Command {
public:
    QString name() const override { return QStringLiteral("cues"); }
    QString summary() const override
    {
        return QStringLiteral(
            "Print the cues of a SubRip file as JSON, or the cue shown at a time.");
    }
    int run(const QStringList &arguments) override;
};
