#pragma once

#include "Speech/SpeechWorkerPool.h"
#include "VideoProcessor/OutputOptions.h"
#include "VideoProcessor/VideoInfo.h"

#include <QList>
#include <QString>
#include <memory>
#include <optional>

class MakeOutputOperation;
class SyncReport;

// What the user asked to make: the input video and its chosen tracks, the voice and the
// settings of this run.
struct MakeOutputRequest {
    QString inputVideo;
    VideoInfo videoInfo;
    int videoTrack = -1;
    int audioTrack = -1;          // -1: no audio of the input
    int subtitlesTrack = -1;      // -10: an external subtitle file
    std::optional<QString> voice; // voice identifier; none for the synthesizer's default
    QString voiceLanguage; // locale of the voice ("es_ES"): language marks and the output name
    QString outputFolder;
    // None: the stored options, read as each job needs them.
    std::optional<OutputOptions> options;
    bool maximizeOutputVolume = false;
    // An overlay project: its rendered item audio is the speech track instead of spoken cues.
    std::optional<QString> projectFile;
    // How many worker processes speak the cues at once.
    int speechJobs = SpeechWorkerPool::defaultJobs();
};

// Builds the chain of output jobs for one output video, as the main window's Make does: the
// speech job, the make-video job, and the maximize job when asked for, each depending on the
// one before. GUI-free, so that the command line and the app build the same chain.
class MakeOutputChain {
public:
    // Reserves the output name (an empty placeholder file); throws VSError when the output
    // folder takes no file.
    explicit MakeOutputChain(const MakeOutputRequest &request);
    // A chain that was never finished gives its reserved name back.
    ~MakeOutputChain();
    MakeOutputChain(const MakeOutputChain &) = delete;
    MakeOutputChain &operator=(const MakeOutputChain &) = delete;

    // The output folder joined with the input's file name, made free and tagged with the voice
    // language.
    QString outputPath;
    QString twoLetterCode;
    std::optional<QString> threeLetterCode;
    QList<std::shared_ptr<MakeOutputOperation>> operations;

    // The finished video's path once the chain has ended: only when its last job was not
    // cancelled.
    std::optional<QString> finishedPath() const;
    // Ends the chain once its last job has finished: the finished video's path, or nothing
    // after removing what the chain left at the output path (the placeholder, or a video the
    // chain did not finish, such as one whose loudness pass was cancelled). A file that took
    // the name meanwhile is not the chain's and stays.
    std::optional<QString> finish();
    // Where each cue's speech went, once the speech job has run; none for an overlay project.
    const SyncReport *speechReport() const;
    // What the make-video job has to tell of the loudness target once it has run (see
    // MakeVideoOperation::loudnessNote); empty when nothing.
    QString loudnessNote() const;

private:
    // Removes the file at the output path when it is the chain's own: the placeholder, or the
    // video its last job wrote (videoWritten).
    void removeOwnOutput(bool videoWritten) const;

    // Removes the un-maximized video the make-video job wrote for the maximize job, if any.
    void removeIntermediate() const;

    // The job whose result takes the output path: the maximize job when there is one.
    std::shared_ptr<MakeOutputOperation> lastWriter;
    // With the maximize job, the make-video job writes here (a hidden name beside the output),
    // so that a video that is not yet raised never stands under the output's name.
    std::optional<QString> intermediate;
    bool finished = false;
};
