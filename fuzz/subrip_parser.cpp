// SubRip text as the strict parser reads it, with the time texts and number rules it uses.
#include "FuzzSupport.h"
#include "Subtitles/SubtitlesParser.h"
#include "Subtitles/Time.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(FuzzSupport::bytes(data, size));
    SubtitlesParser::detectType(text);
    QString problem;
    const std::optional<SubtitlesParser> parser = SubtitlesParser::fromText(text, &problem);
    // A refusal always says where.
    if (!parser && problem.isEmpty())
        std::abort();
    if (parser)
        for (const Subtitle &cue : parser->subtitles)
            SubtitlesParser::plainText(cue.text);

    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size() && i < 64; ++i) {
        Time::parse(lines[i]);
        SubtitlesParser::parseDecimal(lines[i]);
        SubtitlesParser::parseInteger(lines[i]);
    }
    return 0;
}
