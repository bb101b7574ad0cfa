#pragma once

#include "Audio/MicrophoneRecorder.h"

#include <QElapsedTimer>

class QTimer;

// The microphone recording of an item's audio, with the meter's count of the time recorded:
// pauses do not count, and the count runs up to the stop rather than to the meter's last tick.
// stop, pause and resume are the recorder's own, counted. GUI thread.
class ItemRecorder : public MicrophoneRecorder {
    Q_OBJECT
public:
    explicit ItemRecorder(QObject *parent = nullptr);

    void stop();
    void pause();
    void resume();
    qint64 recordedMilliseconds() const { return qint64(recordedTime); }

signals:
    // The time recorded so far, every tenth of a second while the recording runs.
    void meterChanged(qint64 milliseconds);

private:
    double now() const;
    // Adds the time since the last count to the recorded time.
    void count();

    QTimer *meterTimer = nullptr;
    QElapsedTimer clock;
    double countedUntil = 0;
    double recordedTime = 0;
};
