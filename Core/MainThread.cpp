#include "MainThread.h"

#include <QCoreApplication>
#include <QThread>

void MainThread::post(std::function<void()> fn)
{
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return;
    QMetaObject::invokeMethod(application, std::move(fn), Qt::QueuedConnection);
}

bool MainThread::isCurrent()
{
    const QCoreApplication *application = QCoreApplication::instance();
    return application && QThread::currentThread() == application->thread();
}
