#pragma once

#include "ContainerFormat.h"
#include "OutputOptions.h"
#include "VideoInfo.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class ToolProcess;

// Every command line of ffprobe and ffmpeg, and the runner that starts them: program and argument
// list, never a shell; standard output and error merged into one stream. Holds no state.
class VideoProcessor {
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

    // The output time of the first ffmpeg status line ("... time=00:00:01.50 bitrate=...") in a
    // chunk of output, in milliseconds.
    static std::optional<double> parseProgressTime(const QString &text);

    // ffprobe's view of a media file; empty when it cannot be read. Blocks until ffprobe exits.
    static VideoInfo probeMedia(const QString &path);
    static QStringList probeArguments(const QString &path);
    // Interprets ffprobe's JSON output.
    static VideoInfo parseProbeOutput(const QString &output);
    static const QStringList &supportedSubtitleCodecs();

    // The subtitle stream (its stream index as text) of a video, converted to SubRip. Every cue
    // comes through, or the conversion fails and says why in reason. The output is replaced
    // whole or left as it was.
    static bool extractSubtitlesTrack(const QString &videoPath, const QString &stream,
                                      const QString &outputPath, QString *reason = nullptr);
    static QStringList extractSubtitlesArguments(const QString &videoPath, const QString &stream,
                                                 const QString &outputPath);
    // A subtitle file in any text format and character set ffmpeg reads, as UTF-8 SubRip, with
    // bytes that are not valid text replaced and NULs removed; otherwise as above.
    static bool convertSubtitlesFile(const QString &subtitlesPath, const QString &outputPath,
                                     QString *reason = nullptr);
    static QStringList convertSubtitlesArguments(const QString &subtitlesPath,
                                                 const QString &outputPath,
                                                 const std::optional<QString> &charset);
    // The character set of a text file (uchardet, then `file --mime-encoding`), upper-cased as
    // ffmpeg's -sub_charenc takes it; nothing when unknown.
    static std::optional<QString> detectCharset(const QString &path);
    // The same for a file's first bytes (path: for the fallback tool).
    static std::optional<QString> detectCharset(const QByteArray &head, const QString &path);

    // Peak level of a file's audio in dB (ffmpeg's volume detector); nothing without audio.
    static std::optional<double> detectMaxVolume(const QString &path,
                                                 const std::atomic<bool> *stop = nullptr);
    static QStringList detectMaxVolumeArguments(const QString &path);
    // The highest peak over the first audioStreams audio streams of a file, in one pass.
    static std::optional<double> detectMaxVolume(const QString &path, int audioStreams,
                                                 const std::atomic<bool> *stop);
    static QStringList detectMaxVolumeArguments(const QString &path, int audioStreams);
    static std::optional<double> parseMaxVolume(const QString &output);
    // Every peak reported, in report order.
    static QList<double> parseMaxVolumes(const QString &output);
    // The gain that brings a peak to 0 dB, printed as "volume=" takes it: 6.4, 12.0.
    static QString gainText(double peak);
    // Raises an audio file in place so that its peak reaches 0 dB; a file already there, or one
    // that cannot be analysed, stays as it is.
    static void maximizeVolume(const QString &path, const std::atomic<bool> *stop = nullptr);
    // Raises the audio of a finished video in place: every audio stream by the same gain, so
    // that the loudest peak of them reaches 0 dB; every other stream is copied, and all keep
    // their places, default marks and language tags. Returns the running gain pass, or nothing
    // when no change is needed (the completion has then been called with success).
    static std::shared_ptr<ToolProcess>
    maximizeVideoVolume(const QString &inputFile, Progress progress, Completion completion);
    // The same with the peak measured beforehand (so that the caller chooses the thread that
    // waits for the analysis). With an outputFile, the raised video (or the input itself when no
    // change is needed) takes the place of the empty placeholder reserved there instead.
    static std::shared_ptr<ToolProcess>
    maximizeVideoVolume(const QString &inputFile, std::optional<double> peak, Progress progress,
                        Completion completion, const QString &outputFile = QString());
    static QStringList maximizeVideoVolumeArguments(const QString &inputFile, double peak,
                                                    const QString &temporaryFile);
    // The peak over all audio streams of a video; nothing without audio.
    static std::optional<double> detectVideoMaxVolume(const QString &inputFile,
                                                      const std::atomic<bool> *stop = nullptr);
    // Any media file's audio as 44.1 kHz stereo signed 32-bit PCM (AIFF by the output name).
    static bool convertToPCMAudio(const QString &inputPath, const QString &outputPath);
    static QStringList convertToPCMAudioArguments(const QString &inputPath,
                                                  const QString &outputPath);

    // The output video command: the input's streams copied, the speech added as a new audio
    // stream or mixed into the chosen one, the working subtitles optionally added, default marks
    // and language tags set. Nothing when the output extension is not an output container.
    static std::optional<QStringList> makeVideoArguments(
        const QString &inputVideo, const VideoInfo &videoInfo, int videoTrack, int audioTrack,
        int subtitlesTrack, const std::optional<QString> &language3Code, const QString &outputVideo,
        const OutputOptions &options, const QString &speechFile, const QString &subtitlesFile);
    // Runs the output video command. The video is written under a hidden name of its own beside
    // outputVideo and takes its name only when complete, so a failed or stopped run leaves
    // nothing at outputVideo; it replaces only the empty placeholder that reserved the name,
    // never a file that appeared there. Empty speech and subtitles files mean the working files.
    static std::shared_ptr<ToolProcess>
    makeVideo(const QString &inputVideo, const VideoInfo &videoInfo, int videoTrack, int audioTrack,
              int subtitlesTrack, const std::optional<QString> &language3Code,
              const QString &outputVideo, Progress progress, Completion completion,
              const OutputOptions &options, const QString &speechFile = QString(),
              const QString &subtitlesFile = QString());

    // Why the output video cannot hold what is asked of it, before any work starts: a container
    // that holds one audio stream, for a video whose own audio stays beside the speech.
    static std::optional<QString> outputProblem(const QString &outputVideo,
                                                const VideoInfo &videoInfo, int audioTrack);

    // Output containers by lower-case extension, in table order.
    static const QList<std::pair<QString, ContainerFormat>> &containerFormats();
    static std::optional<ContainerFormat> containerFormat(const QString &extension);
    static bool supportsNewAudioStream(const QString &path);
    static bool supportsNewSubtitlesStream(const QString &path);
    static QStringList videoFileTypes();
    // The extension of a path's last component ("" for none or a leading point only).
    static QString pathExtension(const QString &path);

private:
    // ffmpeg's SubRip output, kept whole, as outputPath.
    static bool writeWorkingSubtitles(const QString &converted, const QString &outputPath,
                                      QString *reason);
};
