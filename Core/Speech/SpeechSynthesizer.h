#pragma once

#include "SpeechEngine.h"
#include "VoiceAttributes.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <optional>

class SpeechSynthesizerDelegate;

// Speaks texts with one voice, to an AIFF file or to the audio output.
//
// Speaking returns at once; the delegate hears the outcome on the main thread. The voice says
// which engine speaks (SpeechEngine::forVoice()); each engine serves the requests of all
// synthesizers in turn.
class SpeechSynthesizer {
public:
    // The voices of every engine (SpeechEngine::allVoices()).
    static QStringList availableVoices();
    static std::optional<VoiceAttributes> attributesForVoice(const QString &voice);
    static QString defaultVoice();

    // A synthesizer for the voice (the default voice when none), or nothing when that voice
    // cannot be used.
    static std::unique_ptr<SpeechSynthesizer> create(const std::optional<QString> &voice = {});

    // No reports reach the delegate after destruction; an utterance in progress is stopped.
    ~SpeechSynthesizer();
    SpeechSynthesizer(const SpeechSynthesizer &) = delete;
    SpeechSynthesizer &operator=(const SpeechSynthesizer &) = delete;

    QString voice() const { return voiceIdentifier; }

    void setDelegate(SpeechSynthesizerDelegate *delegate);
    void setVolume(float volume) { volumeLevel.store(volume); }
    float volume() const { return volumeLevel.load(); }
    // The rates the engine speaks at, in words per minute; others are spoken at the nearer end.
    static constexpr float minimumRate = 80.0f;
    static constexpr float maximumRate = 450.0f;
    // Words per minute; rate() returns the rate last set.
    void setRate(float wordsPerMinute) { speakingRate.store(wordsPerMinute); }
    float rate() const { return speakingRate.load(); }

    // Writes the whole utterance as an AIFF file, replacing any file there; the finish report
    // comes once the file is complete. Starting stops an utterance still in progress.
    void startSpeaking(const QString &text, const QString &toFile);
    // Speaks to the audio output.
    void startSpeaking(const QString &text);
    bool isSpeaking() const;
    // Ends the current utterance; its finish report says finished = false.
    void stopSpeaking();

private:
    struct Shared;

    explicit SpeechSynthesizer(QString voice);
    void start(const QString &text, const QString &file);

    const QString voiceIdentifier;
    std::atomic<float> volumeLevel{1.0f};
    std::atomic<float> speakingRate{175.0f};
    std::shared_ptr<Shared> shared;
};
