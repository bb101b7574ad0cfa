#include "SpeechEngine.h"

#include "EspeakEngine.h"
#include "FliteEngine.h"

#include <QFile>
#include <QObject>
#include <QThread>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <sndfile.h>
#include <vector>

QList<SpeechEngine *> SpeechEngine::engines()
{
    return {&EspeakEngine::instance(), &FliteEngine::instance()};
}

SpeechEngine &SpeechEngine::forVoice(const QString &identifier)
{
    if (identifier.startsWith(FliteEngine::voicePrefix))
        return FliteEngine::instance();
    return EspeakEngine::instance();
}

QList<VoiceAttributes> SpeechEngine::allVoices()
{
    const QList<SpeechEngine *> all = engines();
    QList<VoiceAttributes> voices = all.first()->voices();
    // Later engines' voices follow the first voice of their locale (espeak-ng's standard voice),
    // so that they stand near the top of the chooser's lists rather than after every variant.
    QHash<QString, qsizetype> insertAt;
    for (qsizetype i = voices.size() - 1; i >= 0; --i)
        insertAt.insert(voices[i].localeIdentifier, i + 1);
    for (const SpeechEngine *engine : all.mid(1)) {
        for (const VoiceAttributes &voice : engine->voices()) {
            const auto at = insertAt.find(voice.localeIdentifier);
            if (at == insertAt.end()) {
                voices.append(voice);
                continue;
            }
            const qsizetype index = at.value();
            voices.insert(index, voice);
            for (qsizetype &position : insertAt)
                if (position >= index)
                    ++position;
        }
    }
    return voices;
}

QString SpeechEngine::defaultVoice()
{
    return EspeakEngine::instance().defaultVoice();
}

SpeechEngine::SpeechEngine(QString name)
    : engineName(std::move(name))
{}

void SpeechEngine::start()
{
    thread = new QThread;
    context = new QObject;
    thread->setObjectName(engineName);
    context->moveToThread(thread);
    thread->start();
    QMetaObject::invokeMethod(
        context, [this] { initialize(); }, Qt::BlockingQueuedConnection);
}

void SpeechEngine::setVoices(QList<VoiceAttributes> voices)
{
    voiceList = std::move(voices);
    voiceIndex.clear();
    for (qsizetype i = 0; i < voiceList.size(); ++i)
        voiceIndex.insert(voiceList[i].identifier, i);
}

const VoiceAttributes *SpeechEngine::voice(const QString &identifier) const
{
    const auto found = voiceIndex.constFind(identifier);
    return found == voiceIndex.cend() ? nullptr : &voiceList[*found];
}

void SpeechEngine::speak(std::shared_ptr<Utterance> utterance, Done done)
{
    QMetaObject::invokeMethod(
        context,
        [this, utterance = std::move(utterance), done = std::move(done)] { run(utterance, done); },
        Qt::QueuedConnection);
}

void SpeechEngine::run(const std::shared_ptr<Utterance> &utterance, const Done &done)
{
    if (utterance->cancelled.load() || stopping.load())
        return done(Outcome::Stopped, QString());
    if (!available)
        return done(Outcome::Failed, error);
    if (!voice(utterance->voice))
        return done(Outcome::Failed,
                    QStringLiteral("Could not load the voice '%1'").arg(utterance->voice));

    const bool toFile = !utterance->file.isEmpty() || utterance->samples;
    pa_simple *playback = nullptr;
    if (!toFile) {
        const pa_sample_spec sampleFormat{PA_SAMPLE_S16NE, uint32_t(rate), 1};
        // A short target buffer, so that stopping silences the output at once.
        const uint32_t bufferBytes = uint32_t(rate / 10) * sizeof(short);
        const pa_buffer_attr attributes{uint32_t(-1), bufferBytes, uint32_t(-1), uint32_t(-1),
                                        uint32_t(-1)};
        int error = 0;
        playback = pa_simple_new(nullptr, "Kelvorandix", PA_STREAM_PLAYBACK, nullptr, "Voice",
                                 &sampleFormat, nullptr, &attributes, &error);
        if (!playback)
            return done(Outcome::Failed, QStringLiteral("Could not play speech: ") +
                                             QString::fromLocal8Bit(pa_strerror(error)));
    }

    std::vector<short> samples; // when writing a file
    QString failure;
    auto stopped = [&] { return utterance->cancelled.load() || stopping.load(); };
    const QString synthesisError = synthesize(*utterance, [&](const short *chunk, qsizetype count) {
        if (stopped())
            return false;
        if (count <= 0)
            return true;
        if (!playback) {
            samples.insert(samples.end(), chunk, chunk + count);
            return true;
        }
        int error = 0;
        if (pa_simple_write(playback, chunk, size_t(count) * sizeof(short), &error) < 0) {
            failure = QStringLiteral("Could not play speech: ") +
                      QString::fromLocal8Bit(pa_strerror(error));
            return false;
        }
        return true;
    });

    if (playback) {
        int error = 0;
        if (stopped() || !failure.isEmpty())
            pa_simple_flush(playback, &error);
        else
            pa_simple_drain(playback, &error);
        pa_simple_free(playback);
    }
    if (!failure.isEmpty())
        return done(Outcome::Failed, failure);
    if (stopped())
        return done(Outcome::Stopped, QString());
    if (!synthesisError.isEmpty())
        return done(Outcome::Failed, synthesisError);
    if (!toFile)
        return done(Outcome::Finished, QString());
    if (utterance->samples) {
        *utterance->samples = std::move(samples);
        return done(Outcome::Finished, QString());
    }

    // Written beside the target and moved over it only when complete.
    const QByteArray target = QFile::encodeName(utterance->file);
    const QByteArray partial = target + ".partial";
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(partial.constData(), SFM_WRITE, &info);
    if (!file) {
        // The file may have been created before its header failed to go in (a full disk).
        const QString message = QString::fromLocal8Bit(sf_strerror(nullptr));
        std::remove(partial.constData());
        return done(Outcome::Failed, message);
    }
    const sf_count_t count = sf_count_t(samples.size());
    const bool written = sf_write_short(file, samples.data(), count) == count;
    const QString writeError = written ? QString() : QString::fromLocal8Bit(sf_strerror(file));
    const int closeError = sf_close(file);
    if (!written || closeError != 0 || std::rename(partial.constData(), target.constData()) != 0) {
        const QString message =
            !written     ? writeError
            : closeError ? QString::fromLocal8Bit(sf_error_number(closeError))
                         : QStringLiteral("Could not write '%1': %2")
                               .arg(utterance->file, QString::fromLocal8Bit(std::strerror(errno)));
        std::remove(partial.constData());
        return done(Outcome::Failed, message);
    }
    done(Outcome::Finished, QString());
}

void SpeechEngine::shutDown()
{
    if (!thread)
        return;
    stopping.store(true);
    // Waits for the utterance in progress, which the stopping flag ends at its next chunk.
    QMetaObject::invokeMethod(
        context, [this] { terminate(); }, Qt::BlockingQueuedConnection);
    thread->quit();
    thread->wait();
    delete context;
    delete thread;
    thread = nullptr;
    context = nullptr;
}
