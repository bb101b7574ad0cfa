#include "MakeOutputOperation.h"

#include "MainThread.h"
#include "MakeOutputDisplay.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cmath>

namespace {

double monotonicSeconds()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return double(clock.nsecsElapsed()) / 1e9;
}

} // namespace

MakeOutputOperation::MakeOutputOperation(QString taskName)
    : taskName(std::move(taskName))
{}

MakeOutputOperation::~MakeOutputOperation() = default;

void MakeOutputOperation::addDependency(std::shared_ptr<MakeOutputOperation> operation)
{
    dependencyList.append(std::move(operation));
}

bool MakeOutputOperation::markCancelled()
{
    if (workDone.load() || finished.load())
        return false;
    cancelled.store(true);
    return true;
}

void MakeOutputOperation::cancel()
{
    markCancelled();
}

void MakeOutputOperation::main()
{
    executing.store(true);
    for (const std::shared_ptr<MakeOutputOperation> &dependency : std::as_const(dependencyList))
        if (dependency->isCancelled())
            cancel();
    if (!isCancelled())
        startTime.store(monotonicSeconds());
    if (!isCancelled())
        run();
    if (!isCancelled())
        workDone.store(true);
    executing.store(false);
}

void MakeOutputOperation::waitFor(QSemaphore &semaphore)
{
    if (!isCancelled())
        semaphore.acquire();
}

void MakeOutputOperation::setupProgress(double maximum)
{
    if (!display)
        return;
    display->setTaskLabel(taskName);
    display->setProgressMaximum(maximum);
    display->setProgressValue(0);
}

void MakeOutputOperation::postSetupProgress(double maximum)
{
    const std::weak_ptr<MakeOutputOperation> weak = weak_from_this();
    MainThread::post([weak, maximum] {
        if (const std::shared_ptr<MakeOutputOperation> self = weak.lock())
            self->setupProgress(maximum);
    });
}

void MakeOutputOperation::postTaskLabel()
{
    const std::weak_ptr<MakeOutputOperation> weak = weak_from_this();
    MainThread::post([weak] {
        if (const std::shared_ptr<MakeOutputOperation> self = weak.lock())
            if (self->display)
                self->setupProgress(self->display->progressMaximum());
    });
}

void MakeOutputOperation::updateProgress(double value)
{
    if (!display)
        return;
    const double start = startTime.load();
    const double elapsed = start < 0 ? 0 : monotonicSeconds() - start;
    const double maximum = display->progressMaximum();
    // A worker may overrun its estimate (speech that outlasts the video): the bar stays full.
    display->setProgressValue(maximum > 0 ? std::clamp(value, 0.0, maximum) : value);
    display->setTaskLabel(progressLabel(taskName, value, maximum, elapsed));
}

void MakeOutputOperation::showError(const QString &title, const QString &message)
{
    const std::weak_ptr<MakeOutputOperation> weak = weak_from_this();
    MainThread::post([weak, title, message] {
        if (const std::shared_ptr<MakeOutputOperation> self = weak.lock())
            if (self->display)
                self->display->showAlert(title, message);
    });
}

std::function<void(double)> MakeOutputOperation::progressCallback()
{
    const std::weak_ptr<MakeOutputOperation> weak = weak_from_this();
    return [weak](double value) {
        // Workers report 0 for their first step; showing it would divide by zero.
        if (value == 0)
            return;
        MainThread::post([weak, value] {
            if (const std::shared_ptr<MakeOutputOperation> self = weak.lock())
                self->updateProgress(value);
        });
    };
}

std::function<void(bool, const QString &)>
MakeOutputOperation::finishCallback(QSemaphore &semaphore)
{
    const std::weak_ptr<MakeOutputOperation> weak = weak_from_this();
    return [weak, &semaphore](bool ok, const QString &message) {
        const std::shared_ptr<MakeOutputOperation> self = weak.lock();
        if (!self)
            return;
        if (!ok) {
            self->showError(failureTitle, message);
            self->cancel();
        } else if (!self->isCancelled()) {
            // Its result is made: from here on a cancel changes nothing.
            self->workDone.store(true);
        }
        semaphore.release();
    };
}

QString MakeOutputOperation::progressLabel(const QString &taskName, double value, double maximum,
                                           double elapsedSeconds)
{
    const double shown = maximum > 0 ? std::clamp(value, 0.0, maximum) : value;
    const double percentage = maximum > 0 ? shown / maximum * 100 : 100;
    const double remaining = shown > 0 ? elapsedSeconds * (maximum - shown) / shown : 0;
    return taskName + QStringLiteral(" - ") + QString::asprintf("%.1f", percentage) + u'%' +
           QStringLiteral(" - ") + remainingTimeText(remaining);
}

QString MakeOutputOperation::remainingTimeText(double seconds)
{
    const qint64 total = std::isfinite(seconds) && seconds > 0 ? qint64(std::llround(seconds)) : 0;
    const qint64 hours = total / 3600;
    const qint64 minutes = total % 3600 / 60;
    const qint64 rest = total % 60;
    QStringList parts;
    if (hours > 0)
        parts.append(QString::number(hours) + u'h');
    if (hours > 0 || minutes > 0)
        parts.append(QString::number(minutes) + u'm');
    parts.append(QString::number(rest) + u's');
    return parts.join(u' ') + QStringLiteral(" remaining");
}
