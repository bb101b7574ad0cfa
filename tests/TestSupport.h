#pragma once

#include <QByteArray>
#include <QList>
#include <QMimeData>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <sys/types.h>

#include "Subtitles/Subtitle.h"

// Readable values in assertion messages.
inline std::ostream &operator<<(std::ostream &os, const QString &text)
{
    return os << text.toStdString();
}
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList &list, std::ostream *os)
{
    *os << "[\"" << list.join(QStringLiteral("\", \"")).toStdString() << "\"]";
}
inline void PrintTo(const Subtitle &cue, std::ostream *os)
{
    *os << "{" << cue.start << " --> " << cue.end << " \"" << cue.text.join(u'|').toStdString()
        << "\" end=" << cue.endTimeStr.value_or(QStringLiteral("(none)")).toStdString() << "}";
}

class QProcess;

namespace TestSupport {

// Path of a file in the shared real-world corpus, or nothing when the corpus is not beside the
// repository (tests then skip).
std::optional<QString> corpusFile(const QString &name);

// Writes bytes to path, creating folders; fails the test on error.
void writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);

struct ProcessResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a program to completion; fails the test when it cannot start, times out or exits non-zero.
ProcessResult runProgram(const QString &program, const QStringList &arguments,
                         int timeoutMs = 120000);

// Runs a program from a folder with extra environment entries (NAME=value, or NAME alone to
// remove it); the exit status is the caller's to check.
ProcessResult runIn(const QString &folder, const QString &program, const QStringList &arguments,
                    const QStringList &environment = {});

// SubRip text of count half-second cues, one a second from 0:00:00, each reading "Cue number N.".
QByteArray manyCues(int count);

// The words of a line of text, split at spaces.
QStringList words(const QString &text);

// Runs ffmpeg quietly (overwriting its output) to make test media; fails the test on error.
void ffmpeg(const QStringList &arguments);
// The same with the arguments as one line of words, where a word %N stands for files[N-1]
// (so that paths may hold spaces).
void ffmpeg(const char *words, const QStringList &files = {});

// Writes a sine tone with ffmpeg: sampleFormat is an ffmpeg codec such as pcm_s16be (AIFF).
void generateTone(const QString &path, int sampleRate, int channels, double seconds,
                  const QString &codec = QStringLiteral("pcm_s16be"), int frequency = 440);

// Mean level in dB of an audio stream of a media file between two times; -200 for digital
// silence, 0 when it cannot be measured.
double meanVolume(const QString &path, double from, double seconds, int audioStream = 0);

// Runs the event loop until predicate holds or the time is up, pausing between looks; returns
// the predicate.
bool waitUntil(const std::function<bool()> &predicate, int timeoutMs = 30000, int pauseMs = 1);

// The processes this test process started (and theirs, when all) that are still alive, zombies
// included.
QList<pid_t> childProcesses(bool all = true);

// Runs kelvorandix-cli with the given arguments and extra environment entries (NAME=value).
// fileSizeLimit (bytes) stands in for a full disk: writes past it fail for the tool and its
// children.
ProcessResult runCli(const QStringList &arguments, const QStringList &environment = {},
                     qint64 fileSizeLimit = -1);

// Runs kelvorandix-cli with its standard output into a pipe that is read only once it is full,
// and sends the signal then: the command is sure to be in the middle of printing. The result
// holds the exit status (128 + N for death by signal N) and what was printed.
ProcessResult signalWhilePrinting(const QStringList &arguments, int signal,
                                  const QStringList &environment = {});

// kelvorandix-cli running in the background, for tests that signal it while it works.
class CliRun {
public:
    CliRun(const QStringList &arguments, const QStringList &environment = {});
    ~CliRun();
    // Waits until standard error shows text; false when the run ended or the time is up first.
    bool waitForError(const QByteArray &text, int timeoutMs = 120000);
    void signal(int number);
    qint64 pid() const;
    // The exit status, or -1 when it did not end in time (it is then killed).
    int waitForExit(int timeoutMs = 60000);
    QByteArray err;
    QByteArray out;

private:
    void read();
    std::unique_ptr<QProcess> process;
};

// What a file manager's drag of these files carries.
std::unique_ptr<QMimeData> fileDrag(const QStringList &paths);

// Processes (other than this one) whose command line holds text: tools left running.
QStringList processesWith(const QString &text);
// Entries of a folder, hidden ones included.
QStringList entriesOf(const QString &folder);
// A folder holding an "ffmpeg" that runs the real one at the input's own pace ("-re") when its
// arguments hold the given word (any run when it is empty), so that a run on N seconds of media
// takes N seconds: time to signal. Put it first on PATH.
QString slowFfmpegFolder(const QString &folder, const QString &word = QString());

// Sets an environment variable of this process for the life of the object, and then puts back
// what was there, also when an assertion leaves the test early.
class ScopedVariable {
public:
    ScopedVariable(const char *name, const QByteArray &value);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable &) = delete;
    ScopedVariable &operator=(const ScopedVariable &) = delete;

private:
    QByteArray name;
    std::optional<QByteArray> previous;
};

// Puts the slow ffmpeg of slowFfmpegFolder (made in folder) first on this process's PATH.
//   const auto slow = TestSupport::slowFfmpegFirstOnPath(bin, QStringLiteral("-map"));
ScopedVariable slowFfmpegFirstOnPath(const QString &folder, const QString &word = QString());

// A private PulseAudio daemon whose default source carries a 440 Hz sine in real time: a
// microphone for tests.
// It runs with its own runtime folder, home and socket under a temporary folder, apart from any
// sound server of the machine, and is stopped by its PID when the object goes. Running as root
// works (the daemon warns that it is not meant to, and carries on).
//
//   PulseServer server;
//   ASSERT_TRUE(server.isRunning()) << server.log();
//   runCli(arguments, env + server.environment());   // or CliRun(arguments, ...), QProcess
//   server.useInThisProcess();                       // libpulse in this process connects to it
//
// useInThisProcess() sets PULSE_SERVER and PULSE_COOKIE (libpulse reads them when a connection
// is made, so call it before the code under test connects, while no other thread reads the
// environment); the destructor puts back what was there.
class PulseServer {
public:
    PulseServer();
    ~PulseServer();
    PulseServer(const PulseServer &) = delete;
    PulseServer &operator=(const PulseServer &) = delete;

    // True once the daemon accepts connections; false when it could not start (see log()).
    bool isRunning() const;
    qint64 pid() const;
    // The server address, "unix:" and the socket's path: the value of PULSE_SERVER.
    QString address() const;
    // NAME=value entries that point a child process at this server.
    QStringList environment() const;
    void useInThisProcess();
    // What the daemon printed, for failure messages.
    QString log() const;

    // An address where no server listens: libpulse fails at once with "Connection refused".
    static QString absentAddress();

private:
    QTemporaryDir folder;
    std::unique_ptr<QProcess> process;
    bool running = false;
    QList<std::pair<QByteArray, std::optional<QByteArray>>> savedEnvironment;
};

} // namespace TestSupport

#define KELVORANDIX_REQUIRE_CORPUS(variable, name)                                                 \
    const std::optional<QString> variable##Path = TestSupport::corpusFile(name);                   \
    if (!variable##Path)                                                                           \
        GTEST_SKIP() << "corpus file not available: " << (name);                                   \
    const QString variable = *variable##Path
