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
    // A render stopped by a cancel fails quietly: the cancel is the whole story.
    auto finish = [this, report = finishCallback(semaphore)](bool ok, const QString &message) {
        if (!ok && isCancelled())
            semaphore.release();
        else
            report(ok, message);
    };
    if (isCancelled())
        return;
    try {
        projectToAudio = std::make_unique<ProjectToAudio>(projectFile, speechFile, progress, finish,
                                                          &cancelFlag());
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
    // A cancel stops the render within a chunk of audio; its finish releases the wait either
    // way. The render is then waited for to its very end, so that the job is never released (and
    // destroyed) on the render's own thread, and the renderer goes on this one.
    semaphore.acquire();
    projectToAudio->waitForFinished();
    projectToAudio.reset();
}
