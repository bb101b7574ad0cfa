#include "EspeakEngine.h"

#include "DemoTexts.h"

#include <QCoreApplication>
#include <QLocale>
#include <QSet>
#include <algorithm>
#include <cmath>
#include <espeak-ng/espeak_ng.h>
#include <espeak-ng/speak_lib.h>
#include <vector>

namespace {

// Where the samples of the utterance being synthesized go; only the engine thread touches it.
const SpeechEngine::Samples *currentSink = nullptr;

int synthCallback(short *wav, int count, espeak_EVENT *)
{
    if (!currentSink)
        return 1;
    if (!wav || count <= 0)
        return (*currentSink)(nullptr, 0) ? 0 : 1;
    return (*currentSink)(wav, count) ? 0 : 1;
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

EspeakEngine &EspeakEngine::instance()
{
    static EspeakEngine *engine = [] {
        auto *created = new EspeakEngine;
        created->start();
        // The engine thread must end before the process does; the application's destruction is
        // the last moment at which queued work can still be stopped cleanly.
        qAddPostRoutine([] { EspeakEngine::instance().shutDown(); });
        return created;
    }();
    return *engine;
}

EspeakEngine::EspeakEngine()
    : SpeechEngine(QStringLiteral("espeak-ng"))
{}

void EspeakEngine::initialize()
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
    if (voices().isEmpty()) {
        error = QStringLiteral("The speech engine found no voices in '%1'").arg(engineDataPath);
        return;
    }
    available = true;
}

void EspeakEngine::loadVoices()
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

    QList<VoiceAttributes> voiceList;
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
    setVoices(voiceList);

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

QString EspeakEngine::synthesize(const Utterance &utterance, const Samples &sink)
{
    if (espeak_SetVoiceByName(utterance.voice.toUtf8().constData()) != EE_OK)
        return QStringLiteral("Could not load the voice '%1'").arg(utterance.voice);
    espeak_SetParameter(espeakRATE,
                        std::clamp(utterance.rate, espeakRATE_MINIMUM, espeakRATE_MAXIMUM), 0);
    espeak_SetParameter(espeakVOLUME, std::clamp(int(std::lround(utterance.volume * 100)), 0, 200),
                        0);

    const QByteArray text = utterance.text.toUtf8();
    currentSink = &sink;
    const espeak_ERROR result = espeak_Synth(text.constData(), size_t(text.size()) + 1, 0,
                                             POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
    currentSink = nullptr;
    if (result != EE_OK)
        return QStringLiteral("The speech engine could not speak the text");
    return QString();
}

void EspeakEngine::terminate()
{
    espeak_Terminate();
}
