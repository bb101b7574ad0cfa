#include "ChainRunner.h"

#include "InterruptHandler.h"
#include "Jobs/MakeOutputOperation.h"
#include "Jobs/MakeOutputQueue.h"
#include "MainThread.h"
#include "TerminalProgress.h"
#include "VideoProcessor/ToolProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>

ChainRunner::ChainRunner(TerminalProgress &progress)
    : progress(progress)
{}

int ChainRunner::run(const QList<std::shared_ptr<MakeOutputOperation>> &chain)
{
    if (chain.isEmpty())
        return Succeeded;
    if (InterruptHandler::receivedSignal() != 0)
        return Interrupted;
    QEventLoop loop;
    bool ended = false;
    chain.last()->setCompletionBlock([&] {
        MainThread::post([&] {
            ended = true;
            loop.quit();
        });
    });
    progress.setTaskLabel(QStringLiteral("Making the output video..."));

    int status = Succeeded;
    {
        MakeOutputQueue queue(&progress, chain);
        if (InterruptHandler::whenInterrupted(&loop, [&] { queue.cancelAllOperations(); }))
            queue.cancelAllOperations();
        if (!ended)
            loop.exec();
        queue.waitUntilAllOperationsAreFinished();
        // Alerts posted by the jobs before they ended are shown before the verdict, and a tool
        // that a cancel stopped is waited for, so that its partial output is cleaned up and no
        // child outlives the command.
        QCoreApplication::processEvents();
        QDeadlineTimer deadline(15000);
        while (ToolProcess::runningCount() > 0 && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        QCoreApplication::processEvents();
        // A cancel that came after the last job had finished leaves its video made.
        if (chain.last()->isCancelled())
            status = InterruptHandler::receivedSignal() != 0 ? Interrupted : Failed;
    }
    progress.finishLine();
    return status;
}
