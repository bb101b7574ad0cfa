// An overlay item's stored audio, as the project renderer reads it: measured, then used as the
// format of a new track and appended to it.
#include "FuzzSupport.h"
#include "Speech/AIFFFile.h"
#include "VSError.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString item =
        FuzzSupport::writeFile(QStringLiteral("item.aiff"), FuzzSupport::bytes(data, size));
    AIFFFile::duration(item);
    const QString track = FuzzSupport::folder() + QStringLiteral("/track.aiff");
    try {
        AIFFFile writer(track, item);
        // A header may claim any sample rate, and the silence before an item is as many frames
        // as that rate makes of its length: at billions of frames a second, gigabytes. The
        // project render refuses such items before writing silence; so does this target.
        constexpr double fastestRealRate = 768000;
        if (writer.sampleRate <= fastestRealRate)
            writer.appendSilence(5);
        writer.append(item);
        writer.close();
        AIFFFile::duration(AIFFFile::writtenTrack(track));
    } catch (const VSError &) {
    }
    AIFFFile::removeTrack(track);
    return 0;
}
