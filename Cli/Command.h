#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QCommandLineOption;
class QCommandLineParser;

// One subcommand of kelvorandix-cli. run() returns the process exit status.
class Command {
public:
    virtual ~Command() = default;

    virtual QString name() const = 0;
    virtual QString summary() const = 0;
    // arguments[0] is the program and subcommand, as shown in --help.
    virtual int run(const QStringList &arguments) = 0;

    static void printOut(const QString &text);
    static void printError(const QString &text);
    // Long output, in pieces, stopping at the first piece after a signal: false then.
    static bool printOutUntilInterrupted(const QString &text);
    // A signal has come: the command stops (with status 1) at the next place it looks.
    static bool interrupted();

    // Each says what is wrong on standard error when the answer is no.
    static bool checkInputFile(const QString &path);
    // The same, also refusing a file too large to be a subtitle file.
    static bool checkSubtitlesFile(const QString &path);
    // The file can be written: not a folder, in a folder that exists and takes files, and not
    // one of the inputs (which it would overwrite).
    static bool checkOutputFile(const QString &path, const QStringList &inputs);
    static bool checkTools(const QStringList &toolPaths);
    static std::optional<QString> workingSubtitlesFile();

    // "--jobs N": how many worker processes speak lines at once (one per core when not given).
    static QCommandLineOption jobsOption();
    // The number given to jobsOption (0: no workers, the lines spoken in this process), the
    // default when none; nothing (said on standard error as the command's usage error) when it is
    // not a whole number from 0 to maximumJobs.
    static constexpr int maximumJobs = 64;
    static std::optional<int> jobs(const QCommandLineParser &parser, const QString &command);

protected:
    // Parses arguments, handling --help; returns false with the exit status in status when the
    // command should end at once (help shown or a usage error).
    bool parseArguments(QCommandLineParser &parser, const QStringList &arguments, int &status);
};
