#include "ItemRecorder.h"

#include "Audio/MicrophoneRecorder.h"

#include <QTimer>

ItemRecorder::ItemRecorder(QObject *parent)
    : QObject(parent)
    , meterTimer(new QTimer(this))
{
    meterTimer->setInterval(100);
    connect(meterTimer, &QTimer::timeout, this, [this] {
        if (!microphone || microphone->isPaused())
            return;
        count();
        emit meterChanged(qint64(recordedTime));
    });
    clock.start();
}

ItemRecorder::~ItemRecorder()
{
    microphone.reset();
}

bool ItemRecorder::isRecording() const
{
    return microphone && microphone->isRecording();
}

bool ItemRecorder::isPaused() const
{
    return microphone && microphone->isPaused();
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

void ItemRecorder::start(const QString &file)
{
    if (!microphone) {
        microphone = std::make_unique<MicrophoneRecorder>();
        connect(microphone.get(), &MicrophoneRecorder::started, this, [this] {
            countedUntil = now();
            recordedTime = 0;
            meterTimer->start();
            emit started();
        });
        connect(microphone.get(), &MicrophoneRecorder::paused, this, &ItemRecorder::paused);
        connect(microphone.get(), &MicrophoneRecorder::resumed, this, &ItemRecorder::resumed);
        connect(microphone.get(), &MicrophoneRecorder::finished, this,
                [this](const QString &error) {
                    meterTimer->stop();
                    emit finished(error);
                });
        connect(microphone.get(), &MicrophoneRecorder::failedToStart, this,
                &ItemRecorder::failedToStart);
    }
    microphone->startRecording(file);
}

void ItemRecorder::stop()
{
    if (!isRecording())
        return;
    // The meter counts up to the stop, not to its last tick (once it has started).
    if (meterTimer->isActive() && !microphone->isPaused())
        count();
    meterTimer->stop();
    microphone->stopRecording();
}

void ItemRecorder::pause()
{
    if (!microphone)
        return;
    // The time since the last tick counts: the meter stops at the pause, not at its last tick.
    if (!microphone->isPaused())
        count();
    microphone->pauseRecording();
}

void ItemRecorder::resume()
{
    if (!microphone)
        return;
    // The pause does not count: the meter goes on from now.
    countedUntil = now();
    microphone->resumeRecording();
}
