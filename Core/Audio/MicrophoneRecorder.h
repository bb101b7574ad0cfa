#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <thread>
#include <utility>

// Records the default source of the sound server (PulseAudio, or PipeWire through its Pulse
// server) into an AIFF file: 44100 Hz, 2 channels, 32-bit integer PCM.
//
// Capture runs on a thread of its own; every signal reaches the object's thread through a queued
// call, and none arrives once the object is gone. A server that is missing or has no source
// gives failedToStart with the server's own reason: no daemon is ever spawned on our behalf, and
// a server that does not answer is given up after a few seconds.
class MicrophoneRecorder : public QObject {
    Q_OBJECT
public:
    explicit MicrophoneRecorder(QObject *parent = nullptr);
    // Stops a running recording (keeping what it wrote) and waits for its thread.
    ~MicrophoneRecorder() override;

    // Returns at once; started() or failedToStart(reason) follows. Ignored while a recording
    // runs. The file is created (or replaced) only once the server has accepted the recording.
    void startRecording(const QString &file);
    // From started() on: what the source captures is read and dropped until resumeRecording.
    // paused() follows, unless the recording was already paused.
    void pauseRecording();
    // resumed() follows, unless the recording was not paused.
    void resumeRecording();
    // finished(QString()) follows with the file complete, or finished(error). A stop before
    // started() abandons the start: failedToStart follows and no file is left.
    void stopRecording();

    // From startRecording until finished or failedToStart has been delivered.
    bool isRecording() const { return recording; }
    bool isPaused() const { return capturing && pauseRequested.load(); }

signals:
    void started();
    void paused();
    void resumed();
    // Empty error: the file is complete. With an error the file keeps what was written.
    void finished(const QString &error);
    // No sound server, no source, or the file cannot be written.
    void failedToStart(const QString &reason);

private:
    using EndSignal = void (MicrophoneRecorder::*)(const QString &);
    std::pair<EndSignal, QString> capture(const QString &file);
    void postStarted();
    void postEnd(EndSignal signal, const QString &text);
    void joinCapture();

    std::thread thread;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> pauseRequested{false};
    // The object's thread only: between startRecording and the end, and between started() and
    // the end.
    bool recording = false;
    bool capturing = false;
};
