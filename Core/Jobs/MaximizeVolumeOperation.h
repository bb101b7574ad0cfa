#pragma once

#include "ToolOperation.h"

// Optional last job: raises the loudness of the finished output video in place.
class MaximizeVolumeOperation : public ToolOperation {
public:
    explicit MaximizeVolumeOperation(
        QString inputFile, QString taskName = QStringLiteral("Maximizing Output Video Volume"));
    ~MaximizeVolumeOperation() override;

    const QString inputFile;

protected:
    void run() override;
};
