#pragma once

#include "MakeOutputOperation.h"

#include <QSemaphore>
#include <memory>

class ProjectToAudio;

// First job of the overlay chain: renders the project's item audio into the speech track.
// Cancelling stops a render under way promptly; the job waits for it to end.
class OverlayProjectToAudio : public MakeOutputOperation {
public:
    static inline const QString openFailureTitle = QStringLiteral("Could not process audio");

    // speechFile: empty means the working "speech.aiff" (or its Wave64 twin for a track too
    // long for AIFF; see AIFFFile::writtenTrack).
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
