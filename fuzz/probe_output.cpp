// What ffprobe prints, as the probe reads it into the video's description.
#include "FuzzSupport.h"
#include "VSError.h"
#include "VideoProcessor/MediaProbe.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        MediaProbe::parseProbeOutput(QString::fromUtf8(FuzzSupport::bytes(data, size)));
    } catch (const VSError &) {
    }
    return 0;
}
