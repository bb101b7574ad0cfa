#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class ToolProcess;

// Finds ffmpeg and ffprobe and runs them (or any tool): program and argument list, never a shell;
// standard output and error merged into one stream. Holds no state.
class ToolRunner {
public:
    using Progress = std::function<void(double milliseconds)>;
    using Completion = std::function<void(bool succeeded, const QString &message)>;

    // Tool location: an application-relative folder (../libexec/kelvorandix beside the executable,
    // where a packager may put builds of its own) first, then the tools on PATH.
    static QString toolPath(const QString &relativePath, const QString &toolName);
    static QString ffmpegPath();
    static QString ffprobePath();
    // The message for a tool that cannot be found, naming the package that provides it.
    static QString missingToolMessage(const QString &toolName);
    // A file as the tools are given it: "file:" and its absolute path, so that no name (pipe:0,
    // concat:a|b, a name starting with '-') is read as a protocol, an option or another file.
    static QString fileArgument(const QString &path);

    // Runs to the end; returns everything printed (invalid UTF-8 replaced) and whether the tool
    // exited normally with status 0 and wrote all it had to. A tool that cannot be started gives
    // (the reason, false). The tool is stopped, and the run fails, as soon as stop is set or the
    // process is asked to end.
    static std::pair<QString, bool> runTool(const QString &path, const QStringList &arguments,
                                            const std::atomic<bool> *stop = nullptr);
    // Like runTool, with the standard output handed to read as it comes and only the standard
    // error returned. When read refuses what it is given the tool is stopped and the run fails.
    static std::pair<QString, bool> runToolReading(const QString &path,
                                                   const QStringList &arguments,
                                                   const std::function<bool(QByteArrayView)> &read,
                                                   const std::atomic<bool> *stop = nullptr);
    // ffmpeg's report of output it could not write (a full disk, a file size limit), which it
    // may print and still exit with status 0.
    static std::optional<QString> writeFailure(const QString &output);
    // What a failed ffmpeg run says about its failure: its last line.
    static QString toolFailure(const QString &output);

    // Starts the tool and returns at once. Progress (ffmpeg's output time) and completion arrive
    // on the calling thread's event loop; the completion's message is the last output chunk.
    // A tool that exits with status 255 (ffmpeg stopped by a signal) or that was stopped through
    // its handle completes silently.
    static std::shared_ptr<ToolProcess> runToolAsync(const QString &path,
                                                     const QStringList &arguments,
                                                     Progress progress, Completion completion);

    // What a finished temporary file may replace: anything at the target, or only the empty
    // placeholder that reserved the target's name (or nothing).
    enum class Target { Replace, Reserved };
    // Like runToolAsync, for a tool that writes temporaryFile: on success temporaryFile replaces
    // targetFile in one step; otherwise the target is left as it was and the temporary file is
    // removed, and the failure is reported with the tool's last output. The temporary file is
    // listed as this process's partial output while the run lasts (main thread).
    static std::shared_ptr<ToolProcess>
    runToolIntoFile(const QString &path, const QStringList &arguments, Progress progress,
                    const QString &temporaryFile, const QString &targetFile, Completion completion,
                    Target target = Target::Replace);
    // Like runToolIntoFile, into a hidden partial file of its own that is created beside
    // targetFile and given to arguments by name. When it cannot be created the completion is
    // told why, and no run starts (nothing is returned).
    static std::shared_ptr<ToolProcess>
    runToolIntoPartialFile(const QString &path,
                           const std::function<QStringList(const QString &partialFile)> &arguments,
                           Progress progress, const QString &targetFile, Completion completion,
                           Target target);
    // Moves a finished temporary file into place. Its data is flushed to the disk first, where a
    // full disk may only now be told. A reserved target is replaced only while it is still the
    // empty placeholder that reserved it: never a file that took the name meanwhile.
    static std::optional<QString> moveIntoPlace(const QString &temporary, const QString &target,
                                                Target kind);

    // The output time of the first ffmpeg status line ("... time=00:00:01.50 bitrate=...") in a
    // chunk of output, in milliseconds.
    static std::optional<double> parseProgressTime(const QString &text);
    // The lines of a tool's output, split at every line end (as the tools' own readers do); the
    // views point into text.
    static QList<QStringView> linesOf(const QString &text);
};
