#pragma once

#include <QString>
#include <sndfile.h>
#include <vector>

// Assembles one audio track from short audio files: created in exactly the format of a sample
// file, then only appended to (silence of a length in milliseconds, or whole files). Nothing is
// resampled or converted; appended files must share the sample file's rate and channel count.
// Every failure is thrown as VSError with the audio library's own message where it has one.
class AIFFFile {
public:
    // Creates (or replaces) filepath in the format of sampleFile.
    AIFFFile(const QString &filepath, const QString &sampleFile);
    // Closes the file if close() was not called; the file is complete only then.
    ~AIFFFile();

    AIFFFile(const AIFFFile &) = delete;
    AIFFFile &operator=(const AIFFFile &) = delete;

    // Appends ms milliseconds of silence, truncated to whole frames (so less than a frame writes
    // nothing).
    void appendSilence(double ms);
    // Appends the whole content of an audio file.
    void append(const QString &fileAt);
    // Finishes the file; throws when the library reports a failure.
    void close();

    // Frames written so far, and the same in milliseconds.
    qint64 length() const { return frames; }
    double lengthMilliseconds() const { return double(frames) * millisecondsPerPacket; }

    // Duration of an audio file in milliseconds; 0 when it cannot be read.
    static double duration(const QString &of);

    const QString filepath;
    double sampleRate = 0;
    double framePerPacket = 1;
    double millisecondsPerPacket = 0;

private:
    void writeFrames(const void *samples, sf_count_t count);

    SNDFILE *audioFile = nullptr;
    SF_INFO info{};
    // Integer PCM is copied as int and floating-point data as double: both round-trip exactly.
    bool floatingPoint = false;
    qint64 frames = 0;
    std::vector<double> silence; // all zeros
    std::vector<double> copyBuffer;
};
