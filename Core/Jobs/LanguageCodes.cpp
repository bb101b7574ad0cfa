#include "LanguageCodes.h"

#include <QFile>
#include <QXmlStreamReader>

QString LanguageCodes::twoLetterCode(const QString &voiceLanguage)
{
    return voiceLanguage.section(u'_', 0, 0);
}

std::optional<QString> LanguageCodes::threeLetterCode(const QString &twoLetterCode)
{
    // Read at each use, as the table is small and the application's own.
    QFile file(QStringLiteral(":/lang3letters.plist"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const std::optional<QHash<QString, QString>> table = parsePropertyList(file.readAll());
    if (!table)
        return std::nullopt;
    const auto found = table->constFind(twoLetterCode);
    if (found == table->cend())
        return std::nullopt;
    return *found;
}

std::optional<QHash<QString, QString>> LanguageCodes::parsePropertyList(const QByteArray &data)
{
    QXmlStreamReader xml(data);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("plist"))
        return std::nullopt;
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("dict"))
        return std::nullopt;
    QHash<QString, QString> table;
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("key"))
            return std::nullopt;
        const QString key = xml.readElementText();
        if (!xml.readNextStartElement() || xml.name() != QLatin1String("string"))
            return std::nullopt;
        table.insert(key, xml.readElementText());
    }
    if (xml.hasError())
        return std::nullopt;
    return table;
}
