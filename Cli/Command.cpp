#include "Command.h"

#include "InterruptHandler.h"
#include "Speech/SpeechWorkerPool.h"
#include "Subtitles/SubtitlesParser.h"
#include "Subtitles/Utils.h"
#include "VSError.h"
#include "VideoProcessor/ToolRunner.h"
#include "WorkingFolder.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <sys/stat.h>

void Command::printOut(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

bool Command::printOutUntilInterrupted(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    constexpr qsizetype piece = 65536;
    for (qsizetype at = 0; at < bytes.size(); at += piece) {
        if (interrupted())
            return false;
        std::fwrite(bytes.constData() + at, 1, size_t(std::min(piece, bytes.size() - at)), stdout);
        std::fflush(stdout);
    }
    return true;
}

bool Command::interrupted()
{
    return InterruptHandler::receivedSignal() != 0;
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

namespace {

bool passes(const std::optional<QString> &problem)
{
    if (problem)
        Command::printError(*problem + u'\n');
    return !problem;
}

} // namespace

bool Command::checkInputFile(const QString &path)
{
    return passes(Utils::inputFileProblem(path));
}

bool Command::checkSubtitlesFile(const QString &path)
{
    return passes(SubtitlesParser::fileProblem(path));
}

bool Command::checkOutputFile(const QString &path, const QStringList &inputs)
{
    const QFileInfo target(path);
    const QFileInfo folder(target.absolutePath());
    auto refuse = [&](const QString &reason) {
        printError(QStringLiteral("Could not write '%1': %2\n").arg(path, reason));
        return false;
    };
    if (target.isDir())
        return refuse(QStringLiteral("it is a folder"));
    if (!folder.isDir())
        return refuse(QStringLiteral("there is no folder '%1'").arg(folder.filePath()));
    if (!folder.isWritable())
        return refuse(QStringLiteral("the folder '%1' is read-only").arg(folder.filePath()));
    struct stat written {};
    if (::stat(QFile::encodeName(path).constData(), &written) == 0) {
        for (const QString &input : inputs) {
            struct stat read {};
            if (::stat(QFile::encodeName(input).constData(), &read) == 0 &&
                read.st_dev == written.st_dev && read.st_ino == written.st_ino)
                return refuse(QStringLiteral("it is the input '%1'").arg(input));
        }
    }
    return true;
}

bool Command::checkTools(const QStringList &toolPaths)
{
    for (const QString &tool : toolPaths) {
        if (!QFileInfo(tool).isExecutable()) {
            printError(ToolRunner::missingToolMessage(QFileInfo(tool).fileName()) + u'\n');
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

QCommandLineOption Command::jobsOption()
{
    return QCommandLineOption(
        QStringLiteral("jobs"),
        QStringLiteral("Speak N texts at once, each in a worker process (default: one per core, "
                       "%1 here); what is spoken is the same whatever N. 0 speaks them one after "
                       "another in this process, as before workers.")
            .arg(SpeechWorkerPool::defaultJobs()),
        QStringLiteral("N"));
}

std::optional<int> Command::jobs(const QCommandLineParser &parser, const QString &command)
{
    if (!parser.isSet(QStringLiteral("jobs")))
        return SpeechWorkerPool::defaultJobs();
    const std::optional<qint64> count =
        SubtitlesParser::parseInteger(parser.value(QStringLiteral("jobs")));
    if (count && *count >= 0 && *count <= maximumJobs)
        return int(*count);
    printError(QStringLiteral("%1: --jobs takes a number of workers from 0 to %2\n")
                   .arg(command)
                   .arg(maximumJobs));
    return std::nullopt;
}
