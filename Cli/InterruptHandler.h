#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal on the main thread, so that a command can
// cancel its work cleanly instead of dying with files half written. One per process: installed
// first thing, so that no signal finds the default action, which would leave tools running and
// working files behind. Further signals while the first is being handled change nothing: the
// cleanup always runs to its end (every step of it is bounded).
class InterruptHandler : public QObject {
    Q_OBJECT
public:
    // Installs the handling; call before anything else in main.
    static void install();
    // The Qt side, once the application object exists.
    static InterruptHandler &instance();

    // The number of the first signal received, or 0.
    static int receivedSignal();
    // Runs action on the main thread, while context lives, when a signal comes. True when one
    // has come already: no later emission will tell of it.
    static bool whenInterrupted(const QObject *context, std::function<void()> action);

signals:
    void interrupted(int signal);

private:
    explicit InterruptHandler(QObject *parent = nullptr);

    QSocketNotifier *notifier = nullptr;
};
