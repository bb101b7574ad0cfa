#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a Qt signal on the main thread, so that a command can cancel its
// work cleanly instead of dying with files half written.
class InterruptHandler : public QObject {
    Q_OBJECT
public:
    explicit InterruptHandler(QObject *parent = nullptr);
    ~InterruptHandler() override;

    // The signal number of the first interruption, or 0.
    int receivedSignal() const { return received; }

signals:
    void interrupted(int signal);

private:
    QSocketNotifier *notifier = nullptr;
    int received = 0;
};
