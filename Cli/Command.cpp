#include "Command.h"

#include <QCommandLineParser>
#include <cstdio>

void Command::printOut(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void Command::printError(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

bool Command::parseArguments(QCommandLineParser &parser, const QStringList &arguments, int &status)
{
    parser.setApplicationDescription(summary());
    const QCommandLineOption help = parser.addHelpOption();
    if (!parser.parse(arguments)) {
        printError(parser.errorText() + QStringLiteral("\nTry '") + arguments.value(0) +
                   QStringLiteral(" --help'.\n"));
        status = 2;
        return false;
    }
    if (parser.isSet(help)) {
        printOut(parser.helpText());
        status = 0;
        return false;
    }
    return true;
}
