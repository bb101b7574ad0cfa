#include "SpeechEngine.h"

#include "DemoTexts.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QObject>
#include <QSet>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <espeak-ng/espeak_ng.h>
#include <espeak-ng/speak_lib.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <sndfile.h>
#include <vector>

namespace {

// The utterance being synthesized; only the engine thread touches it.
struct Synthesis {
    SpeechEngine::Utterance *utterance = nullptr;
    const std::atomic<bool> *stopping = nullptr;
    std::vector<short> samples;    // when writing a file
    pa_simple *playback = nullptr; // when speaking to the audio output
    QString failure;
};
Synthesis *current = nullptr;

int synthCallback(short *wav, int count, espeak_EVENT *)
{
    if (!current)
        return 1;
    if (current->utterance->cancelled.load() || current->stopping->load())
        return 1;
    if (!wav || count <= 0)
        return 0;
    if (current->playback) {
        int error = 0;
        if (pa_simple_write(current->playback, wav, size_t(count) * sizeof(short), &error) < 0) {
            current->failure = QStringLiteral("Could not play speech: ") +
                               QString::fromLocal8Bit(pa_strerror(error));
            return 1;
        }
    } else {
        current->samples.insert(current->samples.end(), wav, wav + count);
    }
    return 0;
}

// "en-gb-x-rp" -> "en_GB_x_rp": language, then regions in capitals and scripts in title case.
QString localeIdentifier(const QString &language)
{
    QStringList parts = language.split(u'-');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        QString &part = parts[i];
        bool letters =
            std::all_of(part.cbegin(), part.cend(), [](QChar c) { return c.isLetter(); });
        if (i == 0 || !letters)
            part = part.toLower();
        else if (part.size() == 2)
            part = part.toUpper();
        else if (part.size() == 4)
            part = part.left(1).toUpper() + part.mid(1).toLower();
    }
    return parts.join(u'_');
}

QString genderText(int gender)
{
    switch (gender) {
    case 1:
        return VoiceAttributes::male;
    case 2:
        return VoiceAttributes::female;
    default:
        return QStringLiteral("Neuter");
    }
}

} // namespace

SpeechEngine &SpeechEngine::instance()
{
    static SpeechEngine *engine = [] {
        auto *created = new SpeechEngine;
        // The engine thread must end before the process does; the application's destruction is
        // the last moment at which queued work can still be stopped cleanly.
        qAddPostRoutine([] { SpeechEngine::instance().shutDown(); });
        return created;
    }();
    return *engine;
}

SpeechEngine::SpeechEngine()
    : thread(new QThread)
    , context(new QObject)
{
    thread->setObjectName(QStringLiteral("speech engine"));
    context->moveToThread(thread);
    thread->start();
    QMetaObject::invokeMethod(
        context, [this] { initialize(); }, Qt::BlockingQueuedConnection);
}

void SpeechEngine::initialize()
{
    const int sampleRate =
        espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
    const char *path = nullptr;
    engineVersion = QString::fromLatin1(espeak_Info(&path));
    engineDataPath = path ? QString::fromLocal8Bit(path) : QString();
    if (sampleRate <= 0) {
        error = QStringLiteral("The speech engine espeak-ng %1 could not start: no voice data in "
                               "'%2' (install the package espeak-ng-data)")
                    .arg(engineVersion, engineDataPath);
        return;
    }
    rate = sampleRate;
    espeak_SetSynthCallback(synthCallback);
    loadVoices();
    if (voiceList.isEmpty()) {
        error = QStringLiteral("The speech engine found no voices in '%1'").arg(engineDataPath);
        return;
    }
    available = true;
}

void SpeechEngine::loadVoices()
{
    struct Voice {
        QString identifier;
        QString name;
        QString language;
        int gender;
    };
    auto copy = [](const espeak_VOICE *const *list) {
        // The list is a static buffer that the next listing overwrites: copy it at once.
        std::vector<Voice> voices;
        for (; list && *list; ++list) {
            const espeak_VOICE *v = *list;
            voices.push_back({QString::fromUtf8(v->identifier), QString::fromUtf8(v->name),
                              QString::fromUtf8(v->languages + 1), v->gender});
        }
        return voices;
    };
    const std::vector<Voice> languages = copy(espeak_ListVoices(nullptr));
    espeak_VOICE variantSpec{};
    variantSpec.languages = "variant";
    const std::vector<Voice> variants = copy(espeak_ListVoices(&variantSpec));

    QSet<QString> locales;
    for (const Voice &language : languages) {
        // Two voice files of one language (a romanised variant, say) need locales of their own.
        QString locale = localeIdentifier(language.language);
        if (locales.contains(locale))
            locale = localeIdentifier(language.identifier.section(u'/', -1));
        for (int n = 2; locales.contains(locale); ++n)
            locale = localeIdentifier(language.language) + u'_' + QString::number(n);
        locales.insert(locale);
        const QString languageName = QString(language.name).replace(u'_', u' ').trimmed();
        const QString demoText = DemoTexts::forLanguage(locale.section(u'_', 0, 0));

        voiceList.append({language.identifier, QStringLiteral("Standard"), locale,
                          genderText(language.gender), demoText, languageName});
        for (const Voice &variant : variants) {
            const QString file = variant.identifier.section(u'/', -1);
            voiceList.append({language.identifier + u'+' + file,
                              QString(variant.name).replace(u'_', u' '), locale,
                              genderText(variant.gender), demoText, languageName});
        }
    }
    for (qsizetype i = 0; i < voiceList.size(); ++i)
        voiceIndex.insert(voiceList[i].identifier, i);

    const QString system = QLocale::system().name();
    auto standardVoiceWhere = [&](auto predicate) -> QString {
        for (const VoiceAttributes &voice : std::as_const(voiceList))
            if (!voice.identifier.contains(u'+') && predicate(voice))
                return voice.identifier;
        return QString();
    };
    defaultVoiceIdentifier =
        standardVoiceWhere([&](const VoiceAttributes &v) { return v.localeIdentifier == system; });
    if (defaultVoiceIdentifier.isEmpty() && system != QLatin1String("C"))
        defaultVoiceIdentifier = standardVoiceWhere([&](const VoiceAttributes &v) {
            return v.localeIdentifier == system.section(u'_', 0, 0);
        });
    if (defaultVoiceIdentifier.isEmpty())
        defaultVoiceIdentifier = standardVoiceWhere(
            [](const VoiceAttributes &v) { return v.localeIdentifier == QLatin1String("en_US"); });
    if (defaultVoiceIdentifier.isEmpty() && !voiceList.isEmpty())
        defaultVoiceIdentifier = voiceList.first().identifier;
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
    if (espeak_SetVoiceByName(utterance->voice.toUtf8().constData()) != EE_OK)
        return done(Outcome::Failed,
                    QStringLiteral("Could not load the voice '%1'").arg(utterance->voice));
    espeak_SetParameter(espeakRATE,
                        std::clamp(utterance->rate, espeakRATE_MINIMUM, espeakRATE_MAXIMUM), 0);
    espeak_SetParameter(espeakVOLUME, std::clamp(int(std::lround(utterance->volume * 100)), 0, 200),
                        0);

    Synthesis synthesis;
    synthesis.utterance = utterance.get();
    synthesis.stopping = &stopping;
    const bool toFile = !utterance->file.isEmpty();
    if (!toFile) {
        const pa_sample_spec sampleFormat{PA_SAMPLE_S16NE, uint32_t(rate), 1};
        // A short target buffer, so that stopping silences the output at once.
        const uint32_t bufferBytes = uint32_t(rate / 10) * sizeof(short);
        const pa_buffer_attr attributes{uint32_t(-1), bufferBytes, uint32_t(-1), uint32_t(-1),
                                        uint32_t(-1)};
        int error = 0;
        synthesis.playback = pa_simple_new(nullptr, "Kelvorandix", PA_STREAM_PLAYBACK, nullptr,
                                           "Voice", &sampleFormat, nullptr, &attributes, &error);
        if (!synthesis.playback)
            return done(Outcome::Failed, QStringLiteral("Could not play speech: ") +
                                             QString::fromLocal8Bit(pa_strerror(error)));
    }

    const QByteArray text = utterance->text.toUtf8();
    current = &synthesis;
    const espeak_ERROR result = espeak_Synth(text.constData(), size_t(text.size()) + 1, 0,
                                             POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
    current = nullptr;
    const bool stopped = utterance->cancelled.load() || stopping.load();

    if (synthesis.playback) {
        int error = 0;
        if (stopped || !synthesis.failure.isEmpty())
            pa_simple_flush(synthesis.playback, &error);
        else
            pa_simple_drain(synthesis.playback, &error);
        pa_simple_free(synthesis.playback);
    }
    if (!synthesis.failure.isEmpty())
        return done(Outcome::Failed, synthesis.failure);
    if (stopped)
        return done(Outcome::Stopped, QString());
    if (result != EE_OK)
        return done(Outcome::Failed, QStringLiteral("The speech engine could not speak the text"));
    if (!toFile)
        return done(Outcome::Finished, QString());

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
    const sf_count_t count = sf_count_t(synthesis.samples.size());
    const bool written = sf_write_short(file, synthesis.samples.data(), count) == count;
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
        context, [] { espeak_Terminate(); }, Qt::BlockingQueuedConnection);
    thread->quit();
    thread->wait();
    delete context;
    delete thread;
    thread = nullptr;
    context = nullptr;
}
