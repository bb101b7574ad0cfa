#pragma once

#include <QString>

// What the synthesizer tells about one of its voices.
struct VoiceAttributes {
    static inline const QString male = QStringLiteral("Male");
    static inline const QString female = QStringLiteral("Female");

    QString identifier;       // opaque, passed back to create a synthesizer
    QString name;             // shown in the name list; unique within a locale and gender
    QString localeIdentifier; // "en_US" form; the part before the first "_" is the language
    QString gender;           // male, female, or another text (neuter)
    QString demoText;         // a sentence in the voice's language
    QString languageName;     // the engine's own name of the language, for locales without one
};
