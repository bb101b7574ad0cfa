#pragma once

#include "VoiceAttributes.h"

#include <QHash>
#include <QList>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

class QThread;
class QObject;

// The process's one espeak-ng engine.
//
// espeak-ng keeps process-global state and is not thread-safe, so one thread owns the engine and
// runs every utterance of every synthesizer in turn. The voice list is read once, when the engine
// starts, and never changes afterwards, so it may be read from any thread.
class SpeechEngine {
public:
    struct Utterance {
        QString text;
        QString voice;       // a voice identifier of voices()
        int rate = 175;      // words per minute
        float volume = 1.0f; // 0 to 1
        QString file;        // the AIFF file to write; empty speaks to the audio output
        std::atomic<bool> cancelled{false};
    };
    enum class Outcome { Finished, Stopped, Failed };
    // Runs on the engine thread once the utterance has ended.
    using Done = std::function<void(Outcome, const QString &message)>;

    // Starts the engine on first use.
    static SpeechEngine &instance();

    bool isAvailable() const { return available; }
    QString errorString() const { return error; }
    QString version() const { return engineVersion; }
    QString dataPath() const { return engineDataPath; }
    int sampleRate() const { return rate; }

    // Every voice in the engine's order: each language with its standard voice first, then
    // combined with every voice variant.
    const QList<VoiceAttributes> &voices() const { return voiceList; }
    const VoiceAttributes *voice(const QString &identifier) const;
    // The standard voice of the user's locale, else of American English, else the first.
    QString defaultVoice() const { return defaultVoiceIdentifier; }

    // Queues an utterance. A file is replaced only once it is complete; a stopped or failed
    // utterance leaves no file behind.
    void speak(std::shared_ptr<Utterance> utterance, Done done);

    SpeechEngine(const SpeechEngine &) = delete;
    SpeechEngine &operator=(const SpeechEngine &) = delete;

private:
    SpeechEngine();
    ~SpeechEngine() = default;

    // These run on the engine thread.
    void initialize();
    void loadVoices();
    void run(const std::shared_ptr<Utterance> &utterance, const Done &done);
    void shutDown();

    QThread *thread = nullptr;
    QObject *context = nullptr; // lives in thread; utterances are posted to it

    bool available = false;
    QString error;
    QString engineVersion;
    QString engineDataPath;
    int rate = 0;
    QList<VoiceAttributes> voiceList;
    QHash<QString, qsizetype> voiceIndex;
    QString defaultVoiceIdentifier;
    std::atomic<bool> stopping{false};
};
