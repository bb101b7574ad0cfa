#pragma once

#include "MakeOutputOperation.h"

#include <QSemaphore>

class ToolProcess;

// Optional last job: raises the loudness of the finished output video in place.
class MaximizeVolumeOperation : public MakeOutputOperation {
public:
    explicit MaximizeVolumeOperation(
        QString inputFile, QString taskName = QStringLiteral("Maximizing Output Video Volume"));
    ~MaximizeVolumeOperation() override;

    void cancel() override;

    const QString inputFile;

protected:
    void run() override;

private:
    QSemaphore semaphore{0};
    std::shared_ptr<ToolProcess> videoProcess; // main thread only
};
