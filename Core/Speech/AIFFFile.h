#pragma once

#include <QString>
#include <atomic>
#include <sndfile.h>
#include <vector>

// Assembles one audio track from short audio files: created in exactly the format of a sample
// file, then only appended to (silence of a length in milliseconds, or whole files). Nothing is
// resampled or converted; appended files must share the sample file's rate and channel count.
// Every failure is thrown as VSError with the audio library's own message where it has one.
//
// An AIFF file holds at most 4 GiB (its sizes are 32-bit): about 3 h 22 min of 44.1 kHz stereo
// 32-bit audio. A track that would grow past that is either refused, before anything of the
// append that would pass it is written, or carried on in Sony Wave64, which has no such limit:
// what was written is copied into longTrackFile(filepath) and the AIFF file is removed. Tracks
// that stay within the limit are AIFF files exactly as they always were.
class AIFFFile {
public:
    enum class Overflow { Refuse, ContinueAsW64 };

    // Creates (or replaces) filepath in the format of sampleFile, and removes a long track left
    // at longTrackFile(filepath). stop, when given, is looked at between chunks of every write:
    // once set, the write throws.
    AIFFFile(const QString &filepath, const QString &sampleFile,
             Overflow overflow = Overflow::Refuse, const std::atomic<bool> *stop = nullptr);
    // The same in the format of 16-bit mono AIFF at sampleRate, as a speech engine writes.
    AIFFFile(const QString &filepath, int sampleRate, Overflow overflow = Overflow::Refuse,
             const std::atomic<bool> *stop = nullptr);
    // Closes the file if close() was not called; the file is complete only then.
    ~AIFFFile();

    AIFFFile(const AIFFFile &) = delete;
    AIFFFile &operator=(const AIFFFile &) = delete;

    // Appends ms milliseconds of silence, truncated to whole frames (so less than a frame writes
    // nothing).
    void appendSilence(double ms);
    // Appends the whole content of an audio file.
    void append(const QString &fileAt);
    // Appends mono 16-bit samples at sampleRate, as appending a file of them would.
    void append(const std::vector<short> &samples, int sampleRate);
    // Finishes the file; throws when the library reports a failure.
    void close();

    // Frames written so far, and the same in milliseconds.
    qint64 length() const { return frames; }
    double lengthMilliseconds() const { return double(frames) * millisecondsPerPacket; }

    // Duration of an audio file in milliseconds; 0 when it cannot be read.
    static double duration(const QString &of);

    // Where a track asked for at filepath goes once it is too long for AIFF: the same name
    // with the suffix ".w64".
    static QString longTrackFile(const QString &filepath);
    // The file that holds the track written for filepath: filepath itself, or the long track
    // when only that exists.
    static QString writtenTrack(const QString &filepath);
    // Removes both.
    static void removeTrack(const QString &filepath);

    // The file the track is being written to.
    QString currentFile() const { return current; }

    const QString filepath;
    double sampleRate = 0;
    double framePerPacket = 1;
    double millisecondsPerPacket = 0;

private:
    void create(int sampleRate, int channels, int format);
    void writeFrames(const void *samples, sf_count_t count);
    void copyFrom(SNDFILE *source);
    // Makes room for count more frames: nothing to do within the limit; otherwise refuses, or
    // moves the track to Wave64.
    void ensureRoomFor(sf_count_t count);
    void continueAsW64();
    QString limitMessage() const;

    const Overflow overflow;
    const std::atomic<bool> *stop;
    QString current;
    // Frames the file can take; set from the AIFF header written at creation.
    sf_count_t frameLimit = 0;
    SNDFILE *audioFile = nullptr;
    SF_INFO info{};
    // Integer PCM is copied as int and floating-point data as double: both round-trip exactly.
    bool floatingPoint = false;
    qint64 frames = 0;
    std::vector<double> silence; // all zeros
    std::vector<double> copyBuffer;
};
