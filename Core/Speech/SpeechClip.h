#pragma once

#include <QString>
#include <sndfile.h>
#include <vector>

// One synthesized utterance held in memory: where its speech begins and ends, trimmed of the
// silence around it, played faster, and written back in the format it was read in.
class SpeechClip {
public:
    // Samples quieter than this, relative to full scale, are silence.
    static constexpr double silenceLevelDb = -50;

    // Reads an audio file; throws VSError with the audio library's message when it cannot.
    explicit SpeechClip(const QString &file);
    // Takes mono 16-bit samples, as a speech engine makes them; written as a 16-bit AIFF file.
    SpeechClip(const std::vector<short> &samples, int sampleRate);

    double sampleRate() const { return info.samplerate; }
    qint64 frames() const { return qint64(samples.size()) / info.channels; }
    double lengthMs() const { return milliseconds(frames()); }
    // Where the speech begins, and how long it lasts; 0 and 0 for a silent clip.
    double onsetMs() const { return milliseconds(speechBegin); }
    double speechMs() const { return milliseconds(speechEnd - speechBegin); }

    // Keeps at most keptMs of the silence before and after the speech.
    void trim(double keptMs) { trim(keptMs, keptMs); }
    void trim(double keptBeforeMs, double keptAfterMs);
    // Shortens every pause inside the speech that is longer than longestMs to longestMs, taking
    // the cut from its middle so that both neighbouring words keep their own fade.
    void shortenPauses(double longestMs);
    // Plays the speech tempo times as fast, pitch kept; the silence around it is unchanged.
    void compress(double tempo);
    // The samples as 16-bit ones, as writing a 16-bit file of them would keep them.
    std::vector<short> toShorts() const;
    // Writes the clip in the format it was read in; throws VSError.
    void write(const QString &file) const;

private:
    double milliseconds(qint64 frameCount) const
    {
        return double(frameCount) * 1000.0 / info.samplerate;
    }
    void findSpeech();

    SF_INFO info{};
    // Interleaved, full-scale 32-bit: integer files of up to 32 bits round-trip exactly.
    std::vector<int> samples;
    qint64 speechBegin = 0; // frames
    qint64 speechEnd = 0;
};
