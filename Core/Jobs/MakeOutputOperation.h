#pragma once

#include <QList>
#include <QSemaphore>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

class MakeOutputDisplay;

// Base of every output job: one step of the chain that turns the inputs into an output video.
//
// A job runs on its queue's worker thread (main, then run). It cancels itself when a job it
// depends on was cancelled, reports progress and failures to the display on the main thread,
// and blocks on its own semaphore while an asynchronous worker does the work.
class MakeOutputOperation : public std::enable_shared_from_this<MakeOutputOperation> {
public:
    static inline const QString failureTitle =
        QStringLiteral("Could not convert subtitles to voice");

    explicit MakeOutputOperation(QString taskName);
    virtual ~MakeOutputOperation();
    MakeOutputOperation(const MakeOutputOperation &) = delete;
    MakeOutputOperation &operator=(const MakeOutputOperation &) = delete;

    const QString taskName;

    void addDependency(std::shared_ptr<MakeOutputOperation> operation);
    QList<std::shared_ptr<MakeOutputOperation>> dependencies() const { return dependencyList; }
    // Runs once the job has finished, whether it ran, failed or was cancelled (on the queue's
    // worker thread).
    void setCompletionBlock(std::function<void()> block) { completionBlock = std::move(block); }
    std::function<void()> completion() const { return completionBlock; }
    void setDisplay(MakeOutputDisplay *display) { this->display = display; }

    bool isCancelled() const { return cancelled.load(); }
    bool isExecuting() const { return executing.load(); }
    bool isFinished() const { return finished.load(); }
    // Marks the job cancelled; jobs with a worker also stop it and release their wait. A job
    // whose work is done (its worker finished well, or it has ended) stays as it is: a cancel
    // that comes too late must not hide a result that was made.
    virtual void cancel();
    // The cancelled flag itself, for synchronous steps that poll it.
    const std::atomic<bool> &cancelFlag() const { return cancelled; }

    // Entry point on the queue's worker thread.
    void main();

    // Main thread only.
    void setupProgress(double maximum);
    // Any thread: setupProgress on the main thread.
    void postSetupProgress(double maximum);
    // Any thread: the task name alone, with the bar emptied and its maximum kept.
    void postTaskLabel();
    void updateProgress(double value);
    // Any thread: shows an alert on the main thread.
    void showError(const QString &title, const QString &message);

    // Callbacks for a worker, callable on any thread. Progress 0 is not shown; a failed finish
    // shows the failure and cancels the job; every finish signals the semaphore.
    std::function<void(double)> progressCallback();
    std::function<void(bool, const QString &)> finishCallback(QSemaphore &semaphore);

    // "Processing audio - 25.0% - 30s remaining"
    static QString progressLabel(const QString &taskName, double value, double maximum,
                                 double elapsedSeconds);
    // "1h 2m 5s remaining"; whole seconds, nothing below zero.
    static QString remainingTimeText(double seconds);

    // For the queue.
    void markFinished() { finished.store(true); }

protected:
    virtual void run() {}
    // Sets the cancelled flag; false when the job's work is already done (nothing to stop).
    bool markCancelled();
    // Blocks until the semaphore is signalled, unless the job is already cancelled.
    void waitFor(QSemaphore &semaphore);

private:
    MakeOutputDisplay *display = nullptr;
    QList<std::shared_ptr<MakeOutputOperation>> dependencyList;
    std::function<void()> completionBlock;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> executing{false};
    std::atomic<bool> finished{false};
    std::atomic<bool> workDone{false};
    std::atomic<double> startTime{-1}; // seconds on the monotonic clock; -1 until started
};
