#pragma once

#include <QString>

// A short natural sentence for demonstrating a voice, in the voice's own language.
class DemoTexts {
public:
    // language: the part of a locale identifier before the first "_" ("en", "cmn", "pt").
    // English for languages without a sentence of their own.
    static QString forLanguage(const QString &language);
};
