#include "CliApplication.h"
#include "InterruptHandler.h"
#include "WorkingFolder.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    // Before anything else, so that no signal can leave a tool running or a file behind.
    InterruptHandler::install();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvorandix-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KELVORANDIX_VERSION));
    InterruptHandler::instance();
    // What earlier runs that were killed could not clean up.
    WorkingFolder::removeStaleFolders();
    CliApplication cli;
    return cli.run(QCoreApplication::arguments());
}
