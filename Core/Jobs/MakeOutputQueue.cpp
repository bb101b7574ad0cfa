#include "MakeOutputQueue.h"

#include "MakeOutputOperation.h"

MakeOutputQueue::MakeOutputQueue(MakeOutputDisplay *display,
                                 QList<std::shared_ptr<MakeOutputOperation>> operations)
    : operationList(std::move(operations))
{
    for (const std::shared_ptr<MakeOutputOperation> &operation : std::as_const(operationList))
        operation->setDisplay(display);
    worker = std::thread([this] { runAll(); });
}

MakeOutputQueue::~MakeOutputQueue()
{
    // Finished jobs keep their state (cancel leaves them be): callers read whether the chain
    // ended cancelled.
    cancelAllOperations();
    waitUntilAllOperationsAreFinished();
}

void MakeOutputQueue::cancelAllOperations()
{
    for (const std::shared_ptr<MakeOutputOperation> &operation : std::as_const(operationList))
        operation->cancel();
}

void MakeOutputQueue::waitUntilAllOperationsAreFinished()
{
    if (worker.joinable())
        worker.join();
}

void MakeOutputQueue::runAll()
{
    // Chains list every job after the jobs it depends on, so taking them in order holds each
    // one until its dependencies have finished.
    for (const std::shared_ptr<MakeOutputOperation> &operation : std::as_const(operationList)) {
        if (!operation->isCancelled())
            operation->main();
        operation->markFinished();
        if (const std::function<void()> completion = operation->completion())
            completion();
    }
}
