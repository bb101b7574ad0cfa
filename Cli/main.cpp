#include "CliApplication.h"
#include "Command.h"
#include "FileSystem.h"
#include "InterruptHandler.h"
#include "Speech/SpeechWorker.h"
#include "WorkingFolder.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    // A speech job's worker process runs nothing else.
    if (const std::optional<int> status = SpeechWorker::serveIfAsked(argc, argv))
        return *status;
    // Before anything else, so that no signal can leave a tool running or a file behind.
    InterruptHandler::install();
    const QStringList notes = FileSystem::settleEnvironment();
    QCoreApplication app(argc, argv);
    for (const QString &note : notes)
        Command::printError(note + u'\n');
    // Arguments are read as UTF-8: a name in another encoding would name no file at all.
    for (int i = 1; i < argc; ++i) {
        if (FileSystem::isUtf8(argv[i]))
            continue;
        QString shown;
        for (const char byte : QByteArray(argv[i]))
            shown += byte >= 0x20 && byte < 0x7f
                         ? QString(QLatin1Char(byte))
                         : QStringLiteral("\\x%1").arg(uchar(byte), 2, 16, QLatin1Char('0'));
        Command::printError(QStringLiteral("'%1' is not UTF-8 text; file names must be UTF-8 "
                                           "(convmv renames files from other encodings)\n")
                                .arg(shown));
        return 2;
    }
    QCoreApplication::setApplicationName(QStringLiteral("kelvorandix-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KELVORANDIX_VERSION));
    InterruptHandler::instance();
    // What earlier runs that were killed could not clean up.
    WorkingFolder::removeStaleFolders();
    CliApplication cli;
    return cli.run(QCoreApplication::arguments());
}
