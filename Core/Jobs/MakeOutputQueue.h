#pragma once

#include <QList>
#include <memory>
#include <thread>

class MakeOutputDisplay;
class MakeOutputOperation;

// Runs a chain of output jobs one after another on a worker thread of its own.
//
// A job starts once every job it depends on has finished; a job cancelled before it starts is
// finished without running. The queue is built with the chain and starts at once.
class MakeOutputQueue {
public:
    MakeOutputQueue(MakeOutputDisplay *display,
                    QList<std::shared_ptr<MakeOutputOperation>> operations);
    // Cancels what is left and waits for the worker thread.
    ~MakeOutputQueue();
    MakeOutputQueue(const MakeOutputQueue &) = delete;
    MakeOutputQueue &operator=(const MakeOutputQueue &) = delete;

    // Marks every job cancelled; the running one stops its worker.
    void cancelAllOperations();
    // Blocks until every job has finished and its completion block has run.
    void waitUntilAllOperationsAreFinished();

    const QList<std::shared_ptr<MakeOutputOperation>> &operations() const { return operationList; }

private:
    void runAll();

    QList<std::shared_ptr<MakeOutputOperation>> operationList;
    std::thread worker;
};
