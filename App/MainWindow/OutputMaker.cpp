#include "OutputMaker.h"

#include "Jobs/MakeOutputChain.h"
#include "Jobs/MakeOutputDisplay.h"
#include "Jobs/MakeOutputOperation.h"
#include "Jobs/MakeOutputQueue.h"
#include "MainThread.h"
#include "Speech/SyncReport.h"
#include "VSError.h"
#include "VideoProcessor/ToolProcess.h"

#include <QPointer>
#include <QTimer>

struct OutputMaker::RunningChain {
    std::unique_ptr<MakeOutputChain> chain;
    std::unique_ptr<MakeOutputQueue> queue;
    // Made from the voice-over project: its stored audio is then in a video.
    bool fromProject = false;
};

OutputMaker::OutputMaker(MakeOutputDisplay *progress, QObject *parent)
    : QObject(parent)
    , progress(progress)
{}

OutputMaker::~OutputMaker()
{
    if (running)
        running->queue->cancelAllOperations();
    running.reset();
    windingDown.clear();
}

void OutputMaker::announce(const QString &label)
{
    progress->setTaskLabel(label);
    progress->setProgressMaximum(0);
    progress->setProgressValue(0);
}

std::optional<QString> OutputMaker::start(const MakeOutputRequest &request)
{
    auto started = std::make_shared<RunningChain>();
    started->fromProject = request.projectFile.has_value();
    try {
        started->chain = std::make_unique<MakeOutputChain>(request);
    } catch (const VSError &error) {
        return error.message;
    }
    const QPointer<OutputMaker> self(this);
    const std::weak_ptr<RunningChain> weak = started;
    started->chain->operations.last()->setCompletionBlock([self, weak] {
        MainThread::post([self, weak] {
            if (const std::shared_ptr<RunningChain> ended = weak.lock(); ended && self)
                self->chainEnded(ended);
        });
    });
    running = started;
    running->queue = std::make_unique<MakeOutputQueue>(progress, running->chain->operations);
    return std::nullopt;
}

void OutputMaker::cancel()
{
    if (!running)
        return;
    running->queue->cancelAllOperations();
    // The chain cleans up after itself once its last job has ended.
    windingDown.append(running);
    running.reset();
}

void OutputMaker::chainEnded(const std::shared_ptr<RunningChain> &ended)
{
    const std::optional<QString> path = ended->chain->finish();
    if (windingDown.removeOne(ended)) {
        emit woundDown();
        return;
    }
    if (ended != running)
        return;
    running.reset();
    const SyncReport *report = ended->chain->speechReport();
    lastSpeechSentence = report ? report->sentence() : QString();
    const QString loudness = ended->chain->loudnessNote();
    if (!loudness.isEmpty())
        lastSpeechSentence +=
            (lastSpeechSentence.isEmpty() ? QString() : QStringLiteral(" ")) + loudness;
    emit finished(path.has_value(), path.value_or(QString()), ended->fromProject);
}

void OutputMaker::whenStopped(const std::function<void()> &then, int patienceMs)
{
    // The tools' ends are handled by the event loop, which quitting would leave behind.
    if ((windingDown.isEmpty() && ToolProcess::runningCount() == 0) || patienceMs <= 0) {
        then();
        return;
    }
    QTimer::singleShot(50, this, [this, then, patienceMs] { whenStopped(then, patienceMs - 50); });
}
