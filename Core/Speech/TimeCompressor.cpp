#include "TimeCompressor.h"

#include <memory>
#include <sonic.h>

std::vector<float> TimeCompressor::compress(const std::vector<float> &samples, int channels,
                                            int sampleRate, double tempo)
{
    if (tempo == 1.0 || samples.empty() || channels <= 0)
        return samples;
    const std::unique_ptr<std::remove_pointer_t<sonicStream>, void (*)(sonicStream)> stream(
        sonicCreateStream(sampleRate, channels), sonicDestroyStream);
    if (!stream)
        return samples;
    sonicSetSpeed(stream.get(), float(tempo));
    sonicSetPitch(stream.get(), 1.0f);
    sonicSetRate(stream.get(), 1.0f);
    // libsonic takes a writable buffer; the caller's samples stay as they are.
    std::vector<float> input = samples;
    sonicWriteFloatToStream(stream.get(), input.data(), int(input.size() / size_t(channels)));
    sonicFlushStream(stream.get());
    std::vector<float> output;
    output.reserve(size_t(double(samples.size()) / tempo) + size_t(channels) * 1024);
    std::vector<float> chunk(size_t(channels) * 4096);
    for (;;) {
        const int frames = sonicReadFloatFromStream(stream.get(), chunk.data(), 4096);
        if (frames <= 0)
            break;
        output.insert(output.end(), chunk.begin(), chunk.begin() + frames * channels);
    }
    return output;
}
