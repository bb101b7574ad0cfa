// kelvorandix-cli's command lines: the input is the arguments, separated by NUL bytes, given to
// the dispatcher and the commands' own parsers. The run happens in an empty folder of its own,
// and no argument can name a path outside it (a slash becomes an underscore, and the names "."
// and ".." become plain names), so whatever a command would write stays there. The commands
// that speak aloud are left out: they play sound rather than read anything.
#include "CliApplication.h"
#include "FuzzSupport.h"

#include <QDir>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::initialize();
    QDir::setCurrent(FuzzSupport::folder());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QStringList arguments{QStringLiteral("kelvorandix-cli")};
    for (const QByteArray &piece : FuzzSupport::bytes(data, size).split('\0')) {
        QString argument = QString::fromUtf8(piece);
        argument.replace(u'/', u'_');
        if (argument == QLatin1String(".") || argument == QLatin1String(".."))
            argument.prepend(u'_');
        arguments.append(argument);
    }
    if (arguments.size() > 64)
        return 0;
    const QString command = arguments.value(1);
    if (command == QLatin1String("say") || command == QLatin1String("voices"))
        return 0;
    CliApplication cli;
    cli.run(arguments);
    FuzzSupport::clearFolder();
    return 0;
}
