#include "AudioConversion.h"

#include "ToolRunner.h"

QStringList AudioConversion::convertToPCMAudioArguments(const QString &inputPath,
                                                        const QString &outputPath)
{
    QStringList arguments{QStringLiteral("-i"), ToolRunner::fileArgument(inputPath)};
    // No video; the audio as stereo 44.1 kHz signed 32-bit big-endian samples.
    arguments << QStringLiteral("-vn") << QStringLiteral("-ar") << QStringLiteral("44100")
              << QStringLiteral("-ac") << QStringLiteral("2") << QStringLiteral("-acodec")
              << QStringLiteral("pcm_s32be") << QStringLiteral("-sample_fmt")
              << QStringLiteral("s32");
    arguments << QStringLiteral("-y") << QStringLiteral("-hide_banner")
              << ToolRunner::fileArgument(outputPath);
    return arguments;
}

bool AudioConversion::convertToPCMAudio(const QString &inputPath, const QString &outputPath)
{
    return ToolRunner::runTool(ToolRunner::ffmpegPath(),
                               convertToPCMAudioArguments(inputPath, outputPath))
        .second;
}
