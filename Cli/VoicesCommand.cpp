#include "VoicesCommand.h"

#include "Settings/UserSettings.h"
#include "Speech/SpeechEngine.h"
#include "Speech/VoiceCatalogue.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

bool matchesLanguage(const QString &locale, QString code)
{
    code.replace(u'-', u'_');
    return locale.compare(code, Qt::CaseInsensitive) == 0 ||
           locale.startsWith(code + u'_', Qt::CaseInsensitive);
}

} // namespace

int VoicesCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print JSON."));
    const QCommandLineOption language(
        QStringLiteral("language"),
        QStringLiteral("Only voices of this language or locale (en, en_US, pt-BR)."),
        QStringLiteral("CODE"));
    parser.addOptions({json, language});
    int status = 0;
    if (!parseArguments(parser, arguments, status))
        return status;
    if (!parser.positionalArguments().isEmpty()) {
        printError(QStringLiteral("voices: unexpected argument '%1'\n")
                       .arg(parser.positionalArguments().first()));
        return 2;
    }

    // espeak-ng's voices are the ones every language needs; flite's are a welcome extra.
    const QList<SpeechEngine *> engines = SpeechEngine::engines();
    const SpeechEngine &engine = *engines.first();
    if (!engine.isAvailable()) {
        printError(engine.errorString() + u'\n');
        return 1;
    }
    VoiceCatalogue catalogue(UserSettings::shared());
    catalogue.refreshLanguages();
    QList<VoiceCatalogue::Entry> entries = catalogue.entries();
    if (parser.isSet(language)) {
        entries.removeIf([&](const VoiceCatalogue::Entry &entry) {
            return !matchesLanguage(entry.voice.localeIdentifier, parser.value(language));
        });
        if (entries.isEmpty()) {
            printError(QStringLiteral("No voices for the language '%1' (see 'voices' for the "
                                      "languages there are)\n")
                           .arg(parser.value(language)));
            return 1;
        }
    }

    if (parser.isSet(json)) {
        QJsonArray voices;
        for (const VoiceCatalogue::Entry &entry : std::as_const(entries)) {
            voices.append(QJsonObject{
                {QStringLiteral("language"), entry.language},
                {QStringLiteral("locale"), entry.voice.localeIdentifier},
                {QStringLiteral("gender"), entry.gender},
                {QStringLiteral("name"), entry.voice.name},
                {QStringLiteral("identifier"), entry.voice.identifier},
                {QStringLiteral("engine"), SpeechEngine::forVoice(entry.voice.identifier).name()},
                {QStringLiteral("demoText"), entry.voice.demoText},
            });
        }
        auto describe = [](const SpeechEngine &engine) {
            QJsonObject description{{QStringLiteral("name"), engine.name()},
                                    {QStringLiteral("version"), engine.version()},
                                    {QStringLiteral("dataPath"), engine.dataPath()},
                                    {QStringLiteral("sampleRate"), engine.sampleRate()}};
            if (!engine.isAvailable())
                description.insert(QStringLiteral("error"), engine.errorString());
            return description;
        };
        QJsonArray descriptions;
        for (const SpeechEngine *each : engines)
            descriptions.append(describe(*each));
        // "engine" is espeak-ng's, as it always was; "engines" lists all of them.
        const QJsonObject document{
            {QStringLiteral("engine"), describe(engine)},
            {QStringLiteral("engines"), descriptions},
            {QStringLiteral("voices"), voices},
        };
        printOut(QString::fromUtf8(QJsonDocument(document).toJson()));
        return 0;
    }

    QString text;
    for (const SpeechEngine *each : engines) {
        text += QStringLiteral("# %1 %2, ").arg(each->name(), each->version());
        text += each->dataPath().isEmpty()
                    ? QStringLiteral("voices built in, ")
                    : QStringLiteral("voice data in %1, ").arg(each->dataPath());
        text += each->isAvailable() ? QStringLiteral("%1 Hz, %2 voices\n")
                                          .arg(each->sampleRate())
                                          .arg(each->voices().size())
                                    : each->errorString() + u'\n';
    }
    text += QStringLiteral("# %1 voices listed\n").arg(entries.size());
    int languageWidth = 8;
    int localeWidth = 6;
    int nameWidth = 4;
    for (const VoiceCatalogue::Entry &entry : std::as_const(entries)) {
        languageWidth = std::max(languageWidth, int(entry.language.size()));
        localeWidth = std::max(localeWidth, int(entry.voice.localeIdentifier.size()));
        nameWidth = std::max(nameWidth, int(entry.voice.name.size()));
    }
    auto row = [&](const QString &a, const QString &b, const QString &c, const QString &d,
                   const QString &e) {
        return QStringLiteral("%1  %2  %3  %4  %5\n")
            .arg(a, -languageWidth)
            .arg(b, -localeWidth)
            .arg(c, -6)
            .arg(d, -nameWidth)
            .arg(e);
    };
    text += row(QStringLiteral("Language"), QStringLiteral("Locale"), QStringLiteral("Gender"),
                QStringLiteral("Name"), QStringLiteral("Identifier"));
    for (const VoiceCatalogue::Entry &entry : std::as_const(entries))
        text += row(entry.language, entry.voice.localeIdentifier, entry.gender, entry.voice.name,
                    entry.voice.identifier);
    printOut(text);
    return 0;
}
