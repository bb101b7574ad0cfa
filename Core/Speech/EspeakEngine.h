#pragma once

#include "SpeechEngine.h"

// The espeak-ng engine: 100+ languages, each with its standard voice and every voice variant.
//
// espeak-ng keeps process-global state and is not thread-safe, so the engine thread is the only
// one that calls it.
class EspeakEngine : public SpeechEngine {
public:
    static EspeakEngine &instance();

    // The standard voice of the user's locale, else of American English, else the first.
    QString defaultVoice() const { return defaultVoiceIdentifier; }

protected:
    void initialize() override;
    QString synthesize(const Utterance &utterance, const Samples &sink) override;
    void terminate() override;

private:
    EspeakEngine();
    void loadVoices();

    QString defaultVoiceIdentifier;
};
