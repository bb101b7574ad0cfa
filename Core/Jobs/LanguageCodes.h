#pragma once

#include <QHash>
#include <QString>
#include <optional>

// The language codes of a voice language ("es_ES"): the two-letter code that comes before the
// first "_", and the three-letter code that marks the language of new streams, from the
// application's "lang3letters" table (ISO 639-2 codes as video containers use them).
class LanguageCodes {
public:
    static QString twoLetterCode(const QString &voiceLanguage);
    static std::optional<QString> threeLetterCode(const QString &twoLetterCode);

    // Reads a flat property-list dictionary of strings; nothing when the data is not one.
    static std::optional<QHash<QString, QString>> parsePropertyList(const QByteArray &data);
};
