#include "CliApplication.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvorandix-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KELVORANDIX_VERSION));
    CliApplication cli;
    return cli.run(QCoreApplication::arguments());
}
