#pragma once

#include "ToolRunner.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <optional>

class ToolProcess;

// Measuring audio peaks (ffmpeg's volume detector) and raising audio to full scale.
class VolumeTools {
public:
    // Peak level of a file's audio in dB (ffmpeg's volume detector); nothing without audio.
    static std::optional<double> detectMaxVolume(const QString &path,
                                                 const std::atomic<bool> *stop = nullptr);
    static QStringList detectMaxVolumeArguments(const QString &path);
    // The highest peak over the first audioStreams audio streams of a file, in one pass.
    static std::optional<double> detectMaxVolume(const QString &path, int audioStreams,
                                                 const std::atomic<bool> *stop);
    static QStringList detectMaxVolumeArguments(const QString &path, int audioStreams);
    static std::optional<double> parseMaxVolume(const QString &output);
    // Every peak reported, in report order.
    static QList<double> parseMaxVolumes(const QString &output);
    // The gain that brings a peak to 0 dB, printed as "volume=" takes it: 6.4, 12.0.
    static QString gainText(double peak);
    // Raises an audio file in place so that its peak reaches 0 dB; a file already there, or one
    // that cannot be analysed, stays as it is.
    static void maximizeVolume(const QString &path, const std::atomic<bool> *stop = nullptr);
    // Raises the audio of a finished video in place: every audio stream by the same gain, so
    // that the loudest peak of them reaches 0 dB; every other stream is copied, and all keep
    // their places, default marks and language tags. Returns the running gain pass, or nothing
    // when no change is needed (the completion has then been called with success).
    static std::shared_ptr<ToolProcess> maximizeVideoVolume(const QString &inputFile,
                                                            ToolRunner::Progress progress,
                                                            ToolRunner::Completion completion);
    // The same with the peak measured beforehand (so that the caller chooses the thread that
    // waits for the analysis). With an outputFile, the raised video (or the input itself when no
    // change is needed) takes the place of the empty placeholder reserved there instead.
    static std::shared_ptr<ToolProcess> maximizeVideoVolume(const QString &inputFile,
                                                            std::optional<double> peak,
                                                            ToolRunner::Progress progress,
                                                            ToolRunner::Completion completion,
                                                            const QString &outputFile = QString());
    static QStringList maximizeVideoVolumeArguments(const QString &inputFile, double peak,
                                                    const QString &temporaryFile);
    // The peak over all audio streams of a video; nothing without audio.
    static std::optional<double> detectVideoMaxVolume(const QString &inputFile,
                                                      const std::atomic<bool> *stop = nullptr);
};
