#include "ToolProcess.h"

#include <QTimer>
#include <csignal>

ToolProcess::ToolProcess(QObject *parent)
    : QObject(parent)
{
    connect(&child, &QProcess::started, this, [this] {
        counted = true;
        ++running;
    });
    connect(&child, &QProcess::finished, this, [this] { uncount(); });
}

void ToolProcess::uncount()
{
    if (counted)
        --running;
    counted = false;
}

ToolProcess::~ToolProcess()
{
    // Never leave a child behind: a handle dropped while its tool runs kills the tool.
    if (isRunning()) {
        child.kill();
        child.waitForFinished(5000);
    }
    uncount();
}

void ToolProcess::terminate()
{
    if (isRunning())
        child.terminate();
}

void ToolProcess::interrupt()
{
    if (isRunning())
        ::kill(pid_t(child.processId()), SIGINT);
}

void ToolProcess::stop(int graceMs)
{
    if (!isRunning())
        return;
    stopped = true;
    terminate();
    QTimer::singleShot(graceMs, this, [this, graceMs] {
        if (!isRunning())
            return;
        interrupt();
        QTimer::singleShot(graceMs, this, [this] {
            if (isRunning())
                child.kill();
        });
    });
}

bool ToolProcess::waitForFinished(int timeoutMs)
{
    return !isRunning() || child.waitForFinished(timeoutMs);
}
