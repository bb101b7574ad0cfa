#pragma once

#include "Command.h"

// kelvorandix-cli say [--voice ID] [--rate WPM] [--out FILE.aiff] TEXT: speaks one text.
class SayCommand : public Command {
public:
    QString name() const override { return QStringLiteral("say"); }
    QString summary() const override
    {
        return QStringLiteral("Speak a text to an AIFF file, or to the audio output.");
    }
    int run(const QStringList &arguments) override;
};
