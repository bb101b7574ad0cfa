#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <memory>

class MicrophoneRecorder;
class QTimer;

// The microphone recording of an item's audio, with the meter's count of the time recorded:
// pauses do not count, and the count runs up to the stop rather than to the meter's last tick.
// The microphone is opened on the first recording. GUI thread.
class ItemRecorder : public QObject {
    Q_OBJECT
public:
    explicit ItemRecorder(QObject *parent = nullptr);
    // Stops a running recording and lets go of the microphone.
    ~ItemRecorder() override;

    bool isRecording() const;
    bool isPaused() const;
    // Records into file, which is replaced only once the sound server has taken the recording.
    void start(const QString &file);
    void stop();
    void pause();
    void resume();
    qint64 recordedMilliseconds() const { return qint64(recordedTime); }

signals:
    void started();
    void paused();
    void resumed();
    void finished(const QString &error);
    void failedToStart(const QString &reason);
    // The time recorded so far, every tenth of a second while the recording runs.
    void meterChanged(qint64 milliseconds);

private:
    double now() const;
    // Adds the time since the last count to the recorded time.
    void count();

    std::unique_ptr<MicrophoneRecorder> microphone;
    QTimer *meterTimer = nullptr;
    QElapsedTimer clock;
    double countedUntil = 0;
    double recordedTime = 0;
};
