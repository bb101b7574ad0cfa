#pragma once

#include <QString>

class SpeechSynthesizer;

// Receives a synthesizer's reports, always on the main thread, one at a time. Every utterance
// ends with exactly one finish report; finished is false when it was stopped or failed.
class SpeechSynthesizerDelegate {
public:
    virtual ~SpeechSynthesizerDelegate() = default;

    virtual void speechSynthesizerDidFinishSpeaking(SpeechSynthesizer &synthesizer,
                                                    bool finished) = 0;
    // Comes before the finish report of an utterance that failed.
    virtual void speechSynthesizerDidEncounterError(SpeechSynthesizer &synthesizer,
                                                    qsizetype characterIndex, const QString &text,
                                                    const QString &message) = 0;
    virtual void speechSynthesizerDidEncounterSyncMessage(SpeechSynthesizer &synthesizer,
                                                          const QString &message) = 0;
};
