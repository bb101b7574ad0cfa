#pragma once

#include <QString>
#include <QStringList>

// Audio in the one form the overlay project keeps.
class AudioConversion {
public:
    // Any media file's audio as 44.1 kHz stereo signed 32-bit PCM (AIFF by the output name).
    static bool convertToPCMAudio(const QString &inputPath, const QString &outputPath);
    static QStringList convertToPCMAudioArguments(const QString &inputPath,
                                                  const QString &outputPath);
};
