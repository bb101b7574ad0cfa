#include "OverlayProjectToAudio.h"

#include "Overlay/Project.h"
#include "Overlay/ProjectToAudio.h"
#include "VSError.h"
#include "WorkingFolder.h"

OverlayProjectToAudio::OverlayProjectToAudio(QString taskName, QString projectFile,
                                             QString speechFile)
    : MakeOutputOperation(std::move(taskName))
    , projectFile(std::move(projectFile))
    , speechFile(speechFile.isEmpty() ? WorkingFolder::speechFile() : speechFile)
{}

OverlayProjectToAudio::~OverlayProjectToAudio() = default;

void OverlayProjectToAudio::run()
{
    if (isCancelled())
        return;
    auto progress = progressCallback();
    auto finish = finishCallback(semaphore);
    if (isCancelled())
        return;
    try {
        projectToAudio =
            std::make_unique<ProjectToAudio>(projectFile, speechFile, progress, finish);
    } catch (const VSError &) {
        showError(openFailureTitle, QString());
        cancel();
        return;
    }
    if (isCancelled())
        return;
    const double maximum = std::max(0, projectToAudio->project()->countItemsWithAudio());
    postSetupProgress(maximum);
    if (isCancelled())
        return;
    projectToAudio->start();
    // A cancel does not stop the render; its finish releases the wait either way. The render
    // is then waited for to its very end, so that the job is never released (and destroyed) on
    // the render's own thread, and the renderer goes on this one.
    semaphore.acquire();
    projectToAudio->waitForFinished();
    projectToAudio.reset();
}
