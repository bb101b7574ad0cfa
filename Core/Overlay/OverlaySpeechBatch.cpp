#include "OverlaySpeechBatch.h"

#include "MainThread.h"
#include "Project.h"
#include "Speech/AIFFFile.h"
#include "Speech/SpeechSynthesizer.h"
#include "Speech/SpeechWorkerPool.h"
#include "VSError.h"
#include "VideoProcessor/AudioConversion.h"
#include "WorkingFolder.h"

#include <QFile>
#include <QSemaphore>
#include <QThreadPool>

namespace {

// Spoken and converted files of the batches of this process, each of its own.
QString itemFile(int batch, int index, const QString &kind)
{
    return WorkingFolder::filePath(
        QStringLiteral("overlay-item-%1-%2-%3.aiff").arg(batch).arg(index).arg(kind));
}

} // namespace

OverlaySpeechBatch::OverlaySpeechBatch(Project &project, QList<ProjectItem> &items,
                                       Display &display)
    : project(project)
    , projectItems(items)
    , display(display)
    , alive(std::make_shared<std::atomic<bool>>(true))
{}

struct OverlaySpeechBatch::Converted {
    int index = 0;
    QString file;
    bool ok = false;
};

struct OverlaySpeechBatch::StoreState {
    int index = 0;
    int id = 0;
    std::optional<int> duration; // set by the pool task before it signals done
    QSemaphore done;
    bool applied = false; // main thread
};

OverlaySpeechBatch::~OverlaySpeechBatch()
{
    alive->store(false);
    // The store in flight uses the project, which may go right after this batch: it is waited
    // for, and what it stored is kept in the item.
    finishStoring();
    pool.reset();
    conversions.waitForDone();
    discardConverted();
}

void OverlaySpeechBatch::finishStoring()
{
    if (const std::shared_ptr<StoreState> state = storing) {
        state->done.acquire();
        state->done.release();
        applyStored(state);
    }
}

bool OverlaySpeechBatch::preconditionHolds(int selectedRow) const
{
    return selectedRow != -1 && !projectItems.isEmpty();
}

void OverlaySpeechBatch::allItemsButtonClicked(int selectedRow, const std::optional<QString> &voice)
{
    if (!preconditionHolds(selectedRow))
        return display.closeSheet();
    startIndex = 0;
    endIndex = int(projectItems.size()) - 1;
    count = int(projectItems.size());
    start(voice);
}

void OverlaySpeechBatch::selectedItemButtonClicked(int selectedRow,
                                                   const std::optional<QString> &voice)
{
    if (!preconditionHolds(selectedRow))
        return display.closeSheet();
    startIndex = endIndex = selectedRow;
    count = 1;
    start(voice);
}

void OverlaySpeechBatch::cancelButtonClicked()
{
    // The item being spoken is not stored: cancelling stops the batch for real. An item
    // already being stored finishes storing.
    running = false;
    if (speechSynthesizer)
        speechSynthesizer->stopSpeaking();
    releaseWorkers();
    display.closeSheet();
}

void OverlaySpeechBatch::start(const std::optional<QString> &voice)
{
    batch = 0;
    currentIndex = startIndex;
    indeterminate = count < 2;
    display.setProgress(indeterminate, count, 0);
    if (voice)
        speechSynthesizer = SpeechSynthesizer::create(voice);
    if (!voice || !speechSynthesizer) {
        display.closeSheet();
        display.showAlert(voiceFailureTitle, QString());
        return;
    }
    speechSynthesizer->setRate(speechRate);
    speechSynthesizer->setDelegate(this);
    running = true;
    // A single item is spoken here: starting a worker would only add to the wait.
    if (jobs > 0 && count > 1)
        return startWorkers(speechSynthesizer->voice());
    speakNext();
}

bool OverlaySpeechBatch::skipSilentItems()
{
    while (currentIndex <= endIndex) {
        // Items with nothing to say are skipped and keep whatever audio they had.
        if (currentIndex >= 0 && currentIndex < projectItems.size() &&
            !projectItems[currentIndex].text.trimmed().isEmpty())
            break;
        ++currentIndex;
    }
    if (currentIndex > endIndex) {
        finish();
        return false;
    }
    const QString text = projectItems[currentIndex].text;
    display.setLabel(
        indeterminate
            ? QStringLiteral("Text: ") + text
            : QStringLiteral("%1/%2: %3").arg(currentIndex + 1).arg(endIndex + 1).arg(text));
    display.setProgress(indeterminate, count, currentIndex);
    return true;
}

void OverlaySpeechBatch::startWorkers(const QString &voice)
{
    static int batches = 0;
    batch = ++batches;
    QList<QList<SpeechWorkerPool::Request>> blocks;
    int texts = 0;
    for (int index = std::max(startIndex, 0); index <= endIndex && index < int(projectItems.size());
         ++index) {
        if (projectItems[index].text.trimmed().isEmpty())
            continue;
        if (texts++ % SpeechWorkerPool::cuesPerChild == 0)
            blocks.append(QList<SpeechWorkerPool::Request>());
        SpeechWorkerPool::Request request;
        request.cue = index;
        request.text = projectItems[index].text;
        request.rate = speechRate;
        blocks.last().append(request);
    }
    if (!skipSilentItems())
        return;
    const std::weak_ptr<std::atomic<bool>> stillAlive = alive;
    pool = std::make_unique<SpeechWorkerPool>(
        std::min(jobs, texts), voice, false,
        [this, stillAlive](const SpeechWorkerPool::Request &request,
                           const CueFitting::Placement &placement) {
            const auto living = stillAlive.lock();
            if (living && living->load() && running && placement.samples)
                spokenByWorker(request.cue, *placement.samples, placement.sampleRate);
        },
        [this, stillAlive](const QString &message) {
            const auto living = stillAlive.lock();
            if (living && living->load() && running)
                fail(speechFailureTitle, message);
        });
    conversions.setMaxThreadCount(jobs);
    for (QList<SpeechWorkerPool::Request> &block : blocks)
        pool->submit(std::move(block));
}

void OverlaySpeechBatch::spokenByWorker(int index, const std::vector<short> &samples,
                                        int sampleRate)
{
    const QString spoken = itemFile(batch, index, QStringLiteral("spoken"));
    try {
        AIFFFile file(spoken, sampleRate);
        file.append(samples, sampleRate);
        file.close();
    } catch (const VSError &error) {
        QFile::remove(spoken);
        return fail(speechFailureTitle, error.message);
    }
    toConvert.emplace_back(index, spoken);
    convertNext();
}

void OverlaySpeechBatch::convertNext()
{
    while (running && !toConvert.empty() && converting < jobs) {
        const int index = toConvert.front().first;
        const QString spoken = toConvert.front().second;
        toConvert.pop_front();
        ++converting;
        auto result = std::make_shared<Converted>();
        result->index = index;
        result->file = itemFile(batch, index, QStringLiteral("converted"));
        const std::shared_ptr<std::atomic<bool>> stillAlive = alive;
        conversions.start([this, result, spoken, stillAlive] {
            try {
                result->ok = AudioConversion::convertToPCMAudio(spoken, result->file);
            } catch (const VSError &) {
            }
            QFile::remove(spoken);
            MainThread::post([this, result, stillAlive] {
                if (!stillAlive->load()) {
                    QFile::remove(result->file);
                    return;
                }
                --converting;
                if (!running || !result->ok) {
                    QFile::remove(result->file);
                    if (running)
                        fail(speechFailureTitle, QString());
                    return;
                }
                converted.emplace(result->index, result);
                storeNextConverted();
                convertNext();
            });
        });
    }
}

void OverlaySpeechBatch::storeNextConverted()
{
    if (!running || storing)
        return;
    const auto found = converted.find(currentIndex);
    if (found == converted.end())
        return;
    const QString file = found->second->file;
    converted.erase(found);
    store(file);
}

void OverlaySpeechBatch::releaseWorkers()
{
    // The pool may be reporting right now: it goes once that report is over.
    if (pool)
        MainThread::post([gone = std::shared_ptr<SpeechWorkerPool>(std::move(pool))] {});
    discardConverted();
}

void OverlaySpeechBatch::discardConverted()
{
    for (const auto &[index, spoken] : toConvert)
        QFile::remove(spoken);
    toConvert.clear();
    for (const auto &[index, result] : converted)
        QFile::remove(result->file);
    converted.clear();
}

void OverlaySpeechBatch::speakNext()
{
    if (!skipSilentItems())
        return;
    try {
        speechSynthesizer->startSpeaking(projectItems[currentIndex].text,
                                         WorkingFolder::overlayAudioFile());
    } catch (const VSError &error) {
        fail(speechFailureTitle, error.message);
    }
}

void OverlaySpeechBatch::speechSynthesizerDidFinishSpeaking(SpeechSynthesizer &, bool finished)
{
    if (!running)
        return;
    if (!finished) {
        // Only a cancel stops an utterance; anything else would leave the batch waiting for ever.
        fail(speechFailureTitle, QStringLiteral("The speech synthesizer stopped before it "
                                                "finished speaking"));
        return;
    }
    store();
}

void OverlaySpeechBatch::store(const QString &convertedFile)
{
    auto state = std::make_shared<StoreState>();
    state->index = currentIndex;
    state->id = projectItems[currentIndex].id;
    storing = state;
    const std::shared_ptr<std::atomic<bool>> stillAlive = alive;
    Project *target = &project;
    QThreadPool::globalInstance()->start([this, state, target, stillAlive, convertedFile] {
        try {
            if (!convertedFile.isEmpty()) {
                state->duration = target->saveItemAudioFile(state->id, convertedFile);
            } else {
                const QString converted = WorkingFolder::projectItemFile();
                if (AudioConversion::convertToPCMAudio(WorkingFolder::overlayAudioFile(),
                                                       converted))
                    state->duration = target->saveItemAudioFile(state->id, converted);
            }
        } catch (const VSError &) {
        }
        if (!convertedFile.isEmpty())
            QFile::remove(convertedFile);
        state->done.release();
        MainThread::post([this, state, stillAlive] {
            if (!stillAlive->load())
                return;
            const bool stored = applyStored(state);
            if (!running)
                return;
            if (!stored) {
                fail(speechFailureTitle, QString());
                return;
            }
            if (currentIndex == endIndex) {
                finish();
            } else if (batch > 0) {
                ++currentIndex;
                if (skipSilentItems())
                    storeNextConverted();
            } else {
                ++currentIndex;
                speakNext();
            }
        });
    });
}

bool OverlaySpeechBatch::applyStored(const std::shared_ptr<StoreState> &state)
{
    if (storing == state)
        storing.reset();
    if (state->applied)
        return state->duration.has_value();
    state->applied = true;
    if (!state->duration)
        return false;
    isProjectDirty = true;
    // The list may have been read again meanwhile: the item is found by its id.
    if (state->index < projectItems.size() && projectItems[state->index].id == state->id)
        projectItems[state->index].audioDuration = *state->duration;
    else
        for (ProjectItem &item : projectItems)
            if (item.id == state->id)
                item.audioDuration = *state->duration;
    return true;
}

void OverlaySpeechBatch::finish()
{
    running = false;
    releaseWorkers();
    display.closeSheet();
    display.reloadTable();
    display.refreshControls();
}

void OverlaySpeechBatch::fail(const QString &title, const QString &message)
{
    running = false;
    releaseWorkers();
    display.closeSheet();
    display.showAlert(title, message);
    display.reloadTable();
}

void OverlaySpeechBatch::speechSynthesizerDidEncounterError(SpeechSynthesizer &, qsizetype,
                                                            const QString &, const QString &message)
{
    if (running)
        fail(speechFailureTitle, message);
}

void OverlaySpeechBatch::speechSynthesizerDidEncounterSyncMessage(SpeechSynthesizer &,
                                                                  const QString &message)
{
    if (running)
        fail(speechFailureTitle, message);
}
