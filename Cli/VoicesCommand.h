#pragma once

#include "Command.h"

// kelvorandix-cli voices [--json] [--language CODE]: the voices as the chooser offers them.
class VoicesCommand : public Command {
public:
    QString name() const override { return QStringLiteral("voices"); }
    QString summary() const override
    {
        return QStringLiteral("List the speech voices by language, gender and name.");
    }
    int run(const QStringList &arguments) override;
};
