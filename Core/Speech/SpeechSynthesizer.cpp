#include "SpeechSynthesizer.h"

#include "SpeechSynthesizerDelegate.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <cmath>

// What reports in flight need to reach the synthesizer: they hold it weakly, and find the owner
// cleared once the synthesizer is gone.
struct SpeechSynthesizer::Shared {
    std::atomic<SpeechSynthesizer *> owner{nullptr};
    std::atomic<SpeechSynthesizerDelegate *> delegate{nullptr};
    std::atomic<std::shared_ptr<SpeechEngine::Utterance>> current;
};

QStringList SpeechSynthesizer::availableVoices()
{
    QStringList identifiers;
    for (const VoiceAttributes &voice : SpeechEngine::allVoices())
        identifiers.append(voice.identifier);
    return identifiers;
}

std::optional<VoiceAttributes> SpeechSynthesizer::attributesForVoice(const QString &voice)
{
    if (const VoiceAttributes *attributes = SpeechEngine::forVoice(voice).voice(voice))
        return *attributes;
    return std::nullopt;
}

QString SpeechSynthesizer::defaultVoice()
{
    return SpeechEngine::defaultVoice();
}

std::unique_ptr<SpeechSynthesizer> SpeechSynthesizer::create(const std::optional<QString> &voice)
{
    const QString identifier = voice.value_or(SpeechEngine::defaultVoice());
    const SpeechEngine &engine = SpeechEngine::forVoice(identifier);
    if (!engine.isAvailable() || !engine.voice(identifier))
        return nullptr;
    return std::unique_ptr<SpeechSynthesizer>(new SpeechSynthesizer(identifier));
}

SpeechSynthesizer::SpeechSynthesizer(QString voice)
    : voiceIdentifier(std::move(voice))
    , shared(std::make_shared<Shared>())
{
    shared->owner.store(this);
}

SpeechSynthesizer::~SpeechSynthesizer()
{
    shared->owner.store(nullptr);
    stopSpeaking();
}

void SpeechSynthesizer::setDelegate(SpeechSynthesizerDelegate *delegate)
{
    shared->delegate.store(delegate);
}

void SpeechSynthesizer::startSpeaking(const QString &text, const QString &toFile)
{
    start(text, toFile);
}

void SpeechSynthesizer::startSpeaking(const QString &text)
{
    start(text, QString());
}

bool SpeechSynthesizer::isSpeaking() const
{
    return shared->current.load() != nullptr;
}

void SpeechSynthesizer::stopSpeaking()
{
    if (const std::shared_ptr<SpeechEngine::Utterance> utterance = shared->current.load())
        utterance->cancelled.store(true);
}

void SpeechSynthesizer::start(const QString &text, const QString &file)
{
    auto utterance = std::make_shared<SpeechEngine::Utterance>();
    utterance->text = text;
    utterance->voice = voiceIdentifier;
    // A rate that is not a number would not survive the conversion to an integer.
    const float wordsPerMinute = std::isfinite(rate()) ? rate() : 175.0f;
    utterance->rate = int(std::lround(std::clamp(wordsPerMinute, minimumRate, maximumRate)));
    utterance->volume = volume();
    utterance->file = file;
    if (const auto previous = shared->current.exchange(utterance))
        previous->cancelled.store(true);

    const std::weak_ptr<Shared> weak = shared;
    SpeechEngine::forVoice(voiceIdentifier)
        .speak(utterance, [weak, utterance](SpeechEngine::Outcome outcome, const QString &message) {
            // Reports go to the main thread, where each runs to completion before the next.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [weak, utterance, outcome, message] {
                    const std::shared_ptr<Shared> shared = weak.lock();
                    if (!shared)
                        return;
                    std::shared_ptr<SpeechEngine::Utterance> expected = utterance;
                    shared->current.compare_exchange_strong(expected, nullptr);
                    // A stop that came after the engine finished still makes this a stopped one.
                    const bool finished =
                        outcome == SpeechEngine::Outcome::Finished && !utterance->cancelled.load();
                    SpeechSynthesizer *owner = shared->owner.load();
                    SpeechSynthesizerDelegate *delegate = shared->delegate.load();
                    if (!owner || !delegate)
                        return;
                    if (outcome == SpeechEngine::Outcome::Failed) {
                        delegate->speechSynthesizerDidEncounterError(*owner, 0, utterance->text,
                                                                     message);
                        // The error report may have released the synthesizer.
                        owner = shared->owner.load();
                        delegate = shared->delegate.load();
                        if (!owner || !delegate)
                            return;
                    }
                    delegate->speechSynthesizerDidFinishSpeaking(*owner, finished);
                },
                Qt::QueuedConnection);
        });
}
