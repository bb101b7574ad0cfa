#pragma once

#include "ToolOperation.h"

// Optional last job: raises the loudness of the finished video at inputFile, in place or, with
// an outputFile, into the placeholder reserved there: the raised video takes that name only when
// complete.
class MaximizeVolumeOperation : public ToolOperation {
public:
    explicit MaximizeVolumeOperation(
        QString inputFile, QString outputFile = QString(),
        QString taskName = QStringLiteral("Maximizing Output Video Volume"));
    ~MaximizeVolumeOperation() override;

    const QString inputFile;
    const QString outputFile;

protected:
    void run() override;
};
