#pragma once

#include "VoiceAttributes.h"

#include <QHash>
#include <QList>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QThread;
class QObject;

// One speech engine of the process, as the synthesizer layer sees it: its voices, and utterances
// spoken to an AIFF file or to the audio output.
//
// Each engine has one thread of its own that runs every utterance of every synthesizer in turn;
// the engine's library is touched on that thread only. The voice list is read once, when the
// engine starts, and never changes afterwards, so it may be read from any thread.
//
// Voice identifiers say which engine speaks them: "flite/..." is flite's, every other one is
// espeak-ng's (forVoice()).
class SpeechEngine {
public:
    struct Utterance {
        QString text;
        QString voice;       // a voice identifier of voices()
        int rate = 175;      // words per minute
        float volume = 1.0f; // 0 to 1
        QString file;        // the AIFF file to write; empty speaks to the audio output
        // When set, the samples go here instead (mono, 16-bit, at sampleRate()) and neither a
        // file nor the audio output is written.
        std::vector<short> *samples = nullptr;
        std::atomic<bool> cancelled{false};
    };
    enum class Outcome { Finished, Stopped, Failed };
    // Runs on the engine thread once the utterance has ended.
    using Done = std::function<void(Outcome, const QString &message)>;
    // Takes the next samples (mono, 16-bit, at sampleRate()) as the engine makes them; returns
    // false to end the synthesis early. An engine may pass none to ask whether to go on.
    using Samples = std::function<bool(const short *samples, qsizetype count)>;

    // Every engine, each started on first use: espeak-ng, then flite.
    static QList<SpeechEngine *> engines();
    // The engine of a voice identifier, whether or not it has that voice.
    static SpeechEngine &forVoice(const QString &identifier);
    // The voices of every engine: espeak-ng's, with another engine's voices after the first
    // voice of their locale.
    static QList<VoiceAttributes> allVoices();
    // The standard voice of the user's locale, else of American English (espeak-ng's).
    static QString defaultVoice();

    virtual ~SpeechEngine() = default;

    // "espeak-ng", "flite"
    QString name() const { return engineName; }
    bool isAvailable() const { return available; }
    QString errorString() const { return error; }
    QString version() const { return engineVersion; }
    // Where the engine's voice data lives; empty when its voices are built in.
    QString dataPath() const { return engineDataPath; }
    // The rate of every voice's samples.
    int sampleRate() const { return rate; }

    const QList<VoiceAttributes> &voices() const { return voiceList; }
    const VoiceAttributes *voice(const QString &identifier) const;

    // Queues an utterance. A file is replaced only once it is complete; a stopped or failed
    // utterance leaves no file behind.
    void speak(std::shared_ptr<Utterance> utterance, Done done);
    // Runs the utterance at once on the calling thread, and done there too. Only for a child
    // process just forked from one whose engine was idle: the calling thread is then the only
    // one, and the engine starts every child from the same state.
    void speakHere(std::shared_ptr<Utterance> utterance, const Done &done) { run(utterance, done); }

    SpeechEngine(const SpeechEngine &) = delete;
    SpeechEngine &operator=(const SpeechEngine &) = delete;

protected:
    explicit SpeechEngine(QString name);
    // Starts the engine's thread and runs initialize() there; called once by each engine's
    // instance(), which also arranges for shutDown() when the application ends.
    void start();
    void shutDown();

    // These run on the engine thread. initialize() sets what the accessors report and the
    // voices (setVoices()); it leaves available false and sets error when the engine cannot
    // speak.
    virtual void initialize() = 0;
    // Synthesizes the text into samples, at the utterance's voice, rate and volume. Returns an
    // empty text, or why it failed. A sink that returns false ends it early (not a failure).
    virtual QString synthesize(const Utterance &utterance, const Samples &sink) = 0;
    // Releases the engine's library before the thread ends.
    virtual void terminate() {}

    void setVoices(QList<VoiceAttributes> voices);

    bool available = false;
    QString error;
    QString engineVersion;
    QString engineDataPath;
    int rate = 0;

private:
    void run(const std::shared_ptr<Utterance> &utterance, const Done &done);

    const QString engineName;
    QThread *thread = nullptr;
    QObject *context = nullptr; // lives in thread; utterances are posted to it
    QList<VoiceAttributes> voiceList;
    QHash<QString, qsizetype> voiceIndex;
    std::atomic<bool> stopping{false};
};
