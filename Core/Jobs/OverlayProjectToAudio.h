#pragma once

#include "MakeOutputOperation.h"

#include <QSemaphore>
#include <memory>

class ProjectToAudio;

// First job of the overlay chain: renders the project's item audio into the speech track.
// Cancelling does not stop a render under way; the job waits for it to end.
class OverlayProjectToAudio : public MakeOutputOperation {
public:
    static inline const QString openFailureTitle = QStringLiteral("Could not process audio");

    // speechFile: empty means the working "speech.aiff".
    OverlayProjectToAudio(QString taskName, QString projectFile, QString speechFile = QString());
    ~OverlayProjectToAudio() override;

    const QString projectFile;
    const QString speechFile;

protected:
    void run() override;

private:
    std::unique_ptr<ProjectToAudio> projectToAudio;
    QSemaphore semaphore{0};
};
