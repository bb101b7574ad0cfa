#include "ItemRecorder.h"

#include <QTimer>

ItemRecorder::ItemRecorder(QObject *parent)
    : MicrophoneRecorder(parent)
    , meterTimer(new QTimer(this))
{
    meterTimer->setInterval(100);
    connect(meterTimer, &QTimer::timeout, this, [this] {
        if (isPaused())
            return;
        count();
        emit meterChanged(qint64(recordedTime));
    });
    // Connected before anyone else: the count is set when the others hear of it.
    connect(this, &MicrophoneRecorder::started, this, [this] {
        countedUntil = now();
        recordedTime = 0;
        meterTimer->start();
    });
    connect(this, &MicrophoneRecorder::finished, meterTimer, &QTimer::stop);
    clock.start();
}

double ItemRecorder::now() const
{
    return double(clock.nsecsElapsed()) / 1e6;
}

void ItemRecorder::count()
{
    const double time = now();
    recordedTime += time - countedUntil;
    countedUntil = time;
}

void ItemRecorder::stop()
{
    if (!isRecording())
        return;
    // The meter counts up to the stop, not to its last tick (once it has started).
    if (meterTimer->isActive() && !isPaused())
        count();
    meterTimer->stop();
    stopRecording();
}

void ItemRecorder::pause()
{
    if (!isRecording())
        return;
    // The time since the last tick counts: the meter stops at the pause, not at its last tick.
    if (!isPaused())
        count();
    pauseRecording();
}

void ItemRecorder::resume()
{
    // The pause does not count: the meter goes on from now.
    countedUntil = now();
    resumeRecording();
}
