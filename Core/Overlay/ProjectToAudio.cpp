#include "ProjectToAudio.h"

#include "Project.h"
#include "Speech/AIFFFile.h"
#include "VSError.h"
#include "WorkingFolder.h"

#include <QFile>
#include <QSemaphore>
#include <QThreadPool>

struct ProjectToAudioDone {
    QSemaphore finished;
};

ProjectToAudio::ProjectToAudio(QString projectFile, QString audioFile, Progress onProgress,
                               Finish onFinish)
    : projectFile(std::move(projectFile))
    , audioFile(std::move(audioFile))
    , onProgress(std::move(onProgress))
    , onFinish(std::move(onFinish))
    , projectConnection(std::make_unique<Project>(this->projectFile))
    , done(std::make_shared<ProjectToAudioDone>())
{}

ProjectToAudio::~ProjectToAudio()
{
    // The pool thread uses this object until its finish.
    if (running)
        waitForFinished();
}

void ProjectToAudio::start()
{
    running = true;
    QThreadPool::globalInstance()->start([this] {
        render();
        done->finished.release();
    });
}

void ProjectToAudio::waitForFinished()
{
    if (!running)
        return;
    done->finished.acquire();
    done->finished.release();
}

void ProjectToAudio::render()
{
    auto finish = [this](bool ok, const QString &message) {
        if (onFinish)
            onFinish(ok, message);
    };
    const int count = projectConnection ? projectConnection->countItemsWithAudio() : 0;
    // An empty track would make a video without speech while reporting success.
    if (count <= 0)
        return finish(false, QStringLiteral("The project has no items with audio"));

    QString itemFile;
    try {
        itemFile = WorkingFolder::projectItemFile();
    } catch (const VSError &error) {
        return finish(false, error.message);
    }
    if (QFile::exists(audioFile) && !QFile::remove(audioFile))
        return finish(false, QStringLiteral("Could not remove '%1'").arg(audioFile));

    std::unique_ptr<AIFFFile> writer;
    for (int i = 0; i < count; ++i) {
        const std::optional<ProjectItem> item = projectConnection->getAudioItem(i);
        if (!item || !item->audio)
            return finish(false, QStringLiteral("Could not read audio data"));
        QFile file(itemFile);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write(*item->audio);
            file.close();
        }
        try {
            // The track takes the format of the first item's audio.
            if (i == 0)
                writer = std::make_unique<AIFFFile>(audioFile, itemFile);
            const double gap = item->start - writer->lengthMilliseconds();
            if (gap > 0)
                writer->appendSilence(gap);
            writer->append(itemFile);
        } catch (const VSError &error) {
            return finish(false, error.message);
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
