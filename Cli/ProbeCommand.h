#pragma once

#include "Command.h"

// kelvorandix-cli probe VIDEO [--json]: duration and streams as the track choosers show them.
class ProbeCommand : public Command {
public:
    QString name() const override { return QStringLiteral("probe"); }
    QString summary() const override
    {
        return QStringLiteral("Show a video's duration and its video, audio and text subtitle "
                              "streams.");
    }
    int run(const QStringList &arguments) override;
};
