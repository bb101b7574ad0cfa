// A subtitle file's bytes on their way to the working file: the character set detected, the
// text decoded from it, and ffmpeg's SubRip output put back together cue by cue.
#include "FuzzSupport.h"
#include "Subtitles/SubtitlesParser.h"
#include "Subtitles/SubtitlesText.h"
#include "VideoProcessor/SubtitleSources.h"

#include <QDir>
#include <QFile>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::initialize();
    // Where the detector cannot decide, the file tool is asked, as a process of its own: a tenth
    // of a second that would leave the bytes barely searched. Without it on the path the
    // detection ends at the detector's answer.
    const QString noTools = FuzzSupport::folder() + QStringLiteral("/no-tools");
    QDir().mkpath(noTools);
    qputenv("PATH", QFile::encodeName(noTools));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = FuzzSupport::bytes(data, size);
    const QString path = FuzzSupport::writeFile(QStringLiteral("subtitles.txt"), bytes);
    const std::optional<QString> charset = SubtitleSources::detectCharset(bytes, path);
    const std::optional<QString> text = SubtitlesText::decode(bytes, charset.value_or(QString()));
    if (!text)
        return 0;
    int cues = 0;
    const QString whole = SubtitlesText::keepCuesWhole(*text, &cues);
    SubtitlesParser::fromText(whole);
    // The file as the strict reader takes it: by its byte-order mark or as UTF-8.
    SubtitlesParser::fromFile(path);
    return 0;
}
