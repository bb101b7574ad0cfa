#pragma once

#include "Command.h"

// kelvorandix-cli make VIDEO ...: the main job, a voiced copy of a video.
class MakeCommand : public Command {
public:
    QString name() const override { return QStringLiteral("make"); }
    QString summary() const override
    {
        return QStringLiteral("Make a voiced copy of a video from its subtitles.");
    }
    int run(const QStringList &arguments) override;
};
