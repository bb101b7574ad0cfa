#include "Command.h"

#include "VSError.h"
#include "VideoProcessor/VideoProcessor.h"
#include "WorkingFolder.h"

#include <QCommandLineParser>
#include <QFileInfo>
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

bool Command::checkInputFile(const QString &path)
{
    if (QFileInfo(path).isFile())
        return true;
    printError(QStringLiteral("Could not read '%1': no such file\n").arg(path));
    return false;
}

bool Command::checkTools(const QStringList &toolPaths)
{
    for (const QString &tool : toolPaths) {
        if (!QFileInfo(tool).isExecutable()) {
            printError(VideoProcessor::missingToolMessage(QFileInfo(tool).fileName()) + u'\n');
            return false;
        }
    }
    return true;
}

std::optional<QString> Command::workingSubtitlesFile()
{
    try {
        return WorkingFolder::subtitlesFile();
    } catch (const VSError &error) {
        printError(error.message + u'\n');
        return std::nullopt;
    }
}
