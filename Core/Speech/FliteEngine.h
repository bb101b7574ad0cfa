#pragma once

#include "SpeechEngine.h"

struct cst_voice_struct;

// The flite engine: four American English voices that sound more natural than espeak-ng's,
// built into the library (no voice data on disk), 16 kHz.
//
// flite speaks at its own pace; the rate in words per minute becomes a duration stretch,
// calibrated per voice so that a text takes about as long as espeak-ng's American English voice
// takes at the same rate.
class FliteEngine : public SpeechEngine {
public:
    static inline const QString voicePrefix = QStringLiteral("flite/");

    static FliteEngine &instance();

protected:
    void initialize() override;
    QString synthesize(const Utterance &utterance, const Samples &sink) override;

private:
    FliteEngine();

    QHash<QString, cst_voice_struct *> loaded;
};
