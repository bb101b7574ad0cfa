#include "ProjectToAudio.h"

#include "Project.h"
#include "Speech/AIFFFile.h"
#include "VSError.h"
#include "WorkingFolder.h"

#include <QFile>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>
#include <atomic>

struct ProjectToAudioDone {
    QSemaphore finished;
    std::atomic<Qt::HANDLE> thread{nullptr}; // the render's thread while it runs
};

ProjectToAudio::ProjectToAudio(QString projectFile, QString audioFile, Progress onProgress,
                               Finish onFinish, const std::atomic<bool> *stop)
    : projectFile(std::move(projectFile))
    , audioFile(std::move(audioFile))
    , onProgress(std::move(onProgress))
    , onFinish(std::move(onFinish))
    , stop(stop)
    , projectConnection(std::make_unique<Project>(this->projectFile, Project::OpenMode::Existing))
    , done(std::make_shared<ProjectToAudioDone>())
{}

ProjectToAudio::~ProjectToAudio()
{
    // The pool thread uses this object until its finish. Should the last owner let go of it
    // from inside a callback of the render itself, waiting would wait for ever: the render then
    // touches nothing of this object after that callback.
    if (running && done->thread.load() != QThread::currentThreadId())
        waitForFinished();
}

void ProjectToAudio::start()
{
    running = true;
    // The task holds the shared state itself, not through this object, which may be gone
    // by the time the task ends.
    QThreadPool::globalInstance()->start([this, state = done] {
        state->thread.store(QThread::currentThreadId());
        render();
        state->thread.store(nullptr);
        state->finished.release();
    });
}

void ProjectToAudio::waitForFinished()
{
    if (!running || done->thread.load() == QThread::currentThreadId())
        return;
    done->finished.acquire();
    done->finished.release();
}

void ProjectToAudio::render()
{
    // The finish is the render's last step: whoever it wakes may destroy this object, so the
    // callback is called from a copy and nothing of the object is used after it.
    auto finish = [this](bool ok, const QString &message) {
        if (const Finish callback = onFinish)
            callback(ok, message);
    };
    // The items are looked up one by one by id: a pass over the items, not one per item.
    const QList<int> ids = projectConnection ? projectConnection->audioItemIds() : QList<int>();
    // An empty track would make a video without speech while reporting success.
    if (ids.isEmpty())
        return finish(false, QStringLiteral("The project has no items with audio"));

    QString itemFile;
    try {
        itemFile = WorkingFolder::projectItemFile();
    } catch (const VSError &error) {
        return finish(false, error.message);
    }
    if (QFile::exists(audioFile) && !QFile::remove(audioFile))
        return finish(false, QStringLiteral("Could not remove '%1'").arg(audioFile));
    AIFFFile::removeTrack(audioFile);

    const QString stopped = QStringLiteral("The audio track was not finished: it was stopped");
    std::unique_ptr<AIFFFile> writer;
    for (qsizetype i = 0; i < ids.size(); ++i) {
        if (stop && stop->load())
            return finish(false, stopped);
        const std::optional<ProjectItem> item = projectConnection->getAudioItemWithId(ids[i]);
        if (!item || !item->audio)
            return finish(false, QStringLiteral("Could not read audio data"));
        QFile file(itemFile);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write(*item->audio);
            file.close();
        }
        try {
            // The track takes the format of the first item's audio.
            if (i == 0) {
                writer = std::make_unique<AIFFFile>(audioFile, itemFile,
                                                    AIFFFile::Overflow::ContinueAsW64, stop);
                // A damaged header may claim any rate, and the silence before an item is as
                // many frames as that rate makes of it: at billions a second, the disk fills.
                constexpr double fastestRate = 768000;
                if (!(writer->sampleRate >= 1 && writer->sampleRate <= fastestRate))
                    throw VSError(QStringLiteral("The audio of \"%1\" is damaged: it claims %2 "
                                                 "samples a second")
                                      .arg(item->text)
                                      .arg(writer->sampleRate, 0, 'f', 0));
            }
            const double gap = item->start - writer->lengthMilliseconds();
            if (gap > 0)
                writer->appendSilence(gap);
            writer->append(itemFile);
        } catch (const VSError &error) {
            return finish(false, stop && stop->load() ? stopped : error.message);
        }
        if (onProgress)
            onProgress(double(i + 1));
    }
    try {
        writer->close();
    } catch (const VSError &error) {
        return finish(false, error.message);
    }
    finish(true, QString());
}
