#pragma once

#include "Command.h"

// kelvorandix-cli overlay new|list|speak|attach|record|make PROJECT ...: the voice-over project.
class OverlayCommand : public Command {
public:
    QString name() const override { return QStringLiteral("overlay"); }
    QString summary() const override
    {
        return QStringLiteral("Build, list, fill and render a voice-over project (new, list, "
                              "speak, attach, record, make).");
    }
    int run(const QStringList &arguments) override;

private:
    static QString usage();
    int create(const QStringList &arguments);
    int list(const QStringList &arguments);
    int attach(const QStringList &arguments);
    int record(const QStringList &arguments);
    int speak(const QStringList &arguments);
    int make(const QStringList &arguments);
};
