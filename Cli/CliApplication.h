#pragma once

#include "Command.h"

#include <memory>
#include <vector>

// Dispatches kelvorandix-cli's subcommands.
class CliApplication {
public:
    CliApplication();
    int run(const QStringList &arguments);

private:
    QString usage() const;
    QString versionText() const;

    std::vector<std::unique_ptr<Command>> commands;
};
