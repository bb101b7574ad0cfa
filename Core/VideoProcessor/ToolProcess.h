#pragma once

#include <QObject>
#include <QProcess>
#include <atomic>

// The handle of an asynchronous tool run. Stopping goes in stages: terminate, then interrupt,
// then kill, each after a grace period; a stopped run completes silently.
class ToolProcess : public QObject {
    Q_OBJECT
public:
    explicit ToolProcess(QObject *parent = nullptr);
    ~ToolProcess() override;

    QProcess &process() { return child; }
    bool isRunning() const { return child.state() != QProcess::NotRunning; }
    qint64 processId() const { return child.processId(); }

    void terminate();
    void interrupt();
    void stop(int graceMs = 3000);
    bool wasStopped() const { return stopped; }
    // Blocks (without an event loop) until the child has exited.
    bool waitForFinished(int timeoutMs = 30000);

    // Children started through a handle whose end has not yet been handled by the event loop.
    static int runningCount() { return running.load(); }

    // Prepares a process for a tool run: one merged output stream, a process group of its own
    // (a terminal's Ctrl-C or a signal to our group reaches us, and we stop the tool ourselves),
    // and death with this process, so that no tool outlives us even when we are killed.
    static void prepare(QProcess &process);

    // Set when the process is asked to end (a signal handler may call it): synchronous runs stop
    // their tool, and no new tool is started.
    static void requestShutdown() { shutdown.store(true); }
    static bool shutdownRequested() { return shutdown.load(); }

private:
    QProcess child;
    void uncount();

    bool stopped = false;
    bool counted = false;
    static inline std::atomic<int> running{0};
    static inline std::atomic<bool> shutdown{false};
    static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
};
