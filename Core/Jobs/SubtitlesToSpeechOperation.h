#pragma once

#include "MakeOutputOperation.h"
#include "Speech/AIFFFile.h"
#include "Speech/SpeechWorkerPool.h"
#include "Subtitles/SubtitlesParser.h"

#include <QSemaphore>
#include <optional>

class SubtitlesToSpeech;

// First job of the speech chain: reads the working subtitles and turns them into the speech
// track with the subtitles-to-speech renderer.
class SubtitlesToSpeechOperation : public MakeOutputOperation {
public:
    static inline const QString parseFailureTitle = QStringLiteral("Could not parse subtitles");
    static inline const QString synthesizerFailureTitle =
        QStringLiteral("Could not initialize Speech Synthesizer");

    // Reads subtitlesFile and writes speechFile (by default the working folder's "subtitles.srt"
    // and "speech.aiff"); no voice means the synthesizer's default voice.
    SubtitlesToSpeechOperation(QString taskName, std::optional<QString> voiceName,
                               QString subtitlesFile = QString(), QString speechFile = QString());
    ~SubtitlesToSpeechOperation() override;

    void cancel() override;

    const std::optional<QString> voiceName;
    const QString subtitlesFile;
    const QString speechFile;
    // What a track too long for AIFF does; set before the job runs.
    AIFFFile::Overflow overflow = AIFFFile::Overflow::ContinueAsW64;
    // Whether the speech keeps pace with the subtitles (SubtitlesToSpeech); set before the job
    // runs.
    bool keepSpeechInSync = false;
    // How many worker processes fit cues at once; 0 fits them in this process.
    int jobs = SpeechWorkerPool::defaultJobs();

    // The renderer of the last run, for measurements; empty before run.
    std::shared_ptr<SubtitlesToSpeech> renderer() const { return subtitlesToSpeech.load(); }

protected:
    void run() override;

private:
    std::optional<SubtitlesParser> subtitleParser;
    // Set on the worker thread, read by cancel on the main thread.
    std::atomic<std::shared_ptr<SubtitlesToSpeech>> subtitlesToSpeech;
    QSemaphore semaphore{0};
};
