#pragma once

#include "AIFFFile.h"
#include "CueFitting.h"
#include "SpeechSynthesizerDelegate.h"
#include "SpeechWorkerPool.h"
#include "Subtitles/Subtitle.h"
#include "SyncFitting.h"
#include "SyncReport.h"

#include <QList>
#include <QMap>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class SpeechSynthesizer;

// Speaks every cue and lays the speech on one track on the video's timeline.
//
// Each cue is fitted by CueFitting: by the plain rule spoken at 200 words per minute, then again 20
// faster while its speech is longer than its slot, up to 300; kept in sync, trimmed of its
// silence, given the quiet after it, spoken at an estimated rate and compressed as a last resort.
// Silence fills the track up to each cue's start; speech is never cut, so an overrun delays later
// cues. Without workers the work is a chain of synthesizer callbacks on the main thread; with them,
// worker processes fit cues ahead of the track and the main thread lays them in order, fitting a
// cue again where the track turned out longer than it was fitted for, so that the track is the
// same whatever the number of jobs. Progress comes once per cue and exactly one finish report
// ends a run that is not stopped.
class SubtitlesToSpeech : public SpeechSynthesizerDelegate,
                          public std::enable_shared_from_this<SubtitlesToSpeech> {
public:
    static inline const QString tempVoiceOutFileName =
        QStringLiteral("QuendrolKelvorandixTempFile.aiff");
    // The fitted clip of a cue whose speech is kept in sync.
    static inline const QString syncClipFileName = QStringLiteral("KelvorandixSyncClip.aiff");

    using Progress = std::function<void(double)>;
    using Finish = std::function<void(bool, const QString &)>;

    static std::shared_ptr<SubtitlesToSpeech> create(QList<Subtitle> subtitles, QString speechFile,
                                                     std::optional<QString> voice,
                                                     Progress onProgress, Finish onFinish);
    ~SubtitlesToSpeech() override;

    // Throws VSError "Could not initialize the specified voice" when the voice cannot be used.
    void initSynthesizer();
    // What a track too long for AIFF does (before start): by default it goes on as Wave64.
    void setOverflow(AIFFFile::Overflow overflow) { this->overflow = overflow; }
    // Whether each cue is fitted to keep pace with the subtitles (before start); off by default.
    void setKeepInSync(bool on) { keepInSync = on; }
    // How many worker processes fit cues at once (before start); 0, the default, fits them one
    // after the other in this process, with its own engine.
    void setJobs(int count) { jobs = std::max(count, 0); }
    // Speaks the first cue (on the main thread, where every later step runs too).
    void start();
    // Ends the run without a finish report; the speech file stays as far as it was written.
    // Callable on any thread.
    void stop();

    bool isRunning() const { return running.load(); }
    SpeechSynthesizer *synthesizer() const { return speechSynthesizer.get(); }
    int index() const { return cueIndex; }

    // How many times each cue was spoken, and whether its speech fit its slot, in cue order
    // (for measurements).
    const QList<int> &passesPerCue() const { return passes; }
    const QList<bool> &fitsPerCue() const { return fits; }
    // Where each cue's speech went, in cue order, as far as the run got.
    const SyncReport &report() const { return syncReport; }

    void speechSynthesizerDidFinishSpeaking(SpeechSynthesizer &synthesizer, bool finished) override;
    void speechSynthesizerDidEncounterError(SpeechSynthesizer &synthesizer,
                                            qsizetype characterIndex, const QString &text,
                                            const QString &message) override;
    void speechSynthesizerDidEncounterSyncMessage(SpeechSynthesizer &synthesizer,
                                                  const QString &message) override;

    const QString tempVoiceOutFile;
    const QString speechFile;
    const QList<Subtitle> subtitles;
    const std::optional<QString> voice;

private:
    SubtitlesToSpeech(QList<Subtitle> subtitles, QString speechFile, std::optional<QString> voice,
                      Progress onProgress, Finish onFinish);

    void speakNext();
    void speakCurrentCue();
    // Runs lay, which lays the current cue on the track and tells whether it is done (rather
    // than spoken again); then goes on to the next cue, or fails the run on an error.
    void layCue(const std::function<bool()> &lay);
    // Lays the current cue's clip, and reports it.
    void lay(const CueFitting::Placement &placement);
    // Places the clip at or after position on the track; where it went, in milliseconds.
    double appendClip(const CueFitting::Placement &placement);
    std::optional<double> nextStart(int cue) const;
    double trackLength() const;
    // With several jobs: hands cues to the workers, and lays those that are back in order.
    void startWorkers();
    void submitAhead();
    void fitted(const SpeechWorkerPool::Request &request, const CueFitting::Placement &placement);
    void layFitted();
    void fail(const QString &message);
    void release();

    Progress onProgress;
    Finish onFinish;
    std::unique_ptr<SpeechSynthesizer> speechSynthesizer;
    std::unique_ptr<AIFFFile> audioProcessor;
    AIFFFile::Overflow overflow = AIFFFile::Overflow::ContinueAsW64;
    std::atomic<bool> running{false};
    // Set by stop and never cleared, so that a stop racing with start still wins.
    std::atomic<bool> stopped{false};
    bool reported = false;
    int cueIndex = 0;
    QList<int> passes;
    QList<bool> fits;
    bool keepInSync = false;
    int jobs = 0;
    const QString syncClipFile;
    // The fitting of the cue being spoken in this process.
    std::optional<CueFitting> fitting;
    SyncReport syncReport;
    std::unique_ptr<SpeechWorkerPool> pool;
    int submitted = 0; // cues handed to the workers so far, in order
    QMap<int, std::pair<SpeechWorkerPool::Request, CueFitting::Placement>> ready;
};
