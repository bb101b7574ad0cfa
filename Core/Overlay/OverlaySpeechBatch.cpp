#include "OverlaySpeechBatch.h"

#include "MainThread.h"
#include "Project.h"
#include "Speech/SpeechSynthesizer.h"
#include "VSError.h"
#include "VideoProcessor/AudioConversion.h"
#include "WorkingFolder.h"

#include <QSemaphore>
#include <QThreadPool>

OverlaySpeechBatch::OverlaySpeechBatch(Project &project, QList<ProjectItem> &items,
                                       Display &display)
    : project(project)
    , projectItems(items)
    , display(display)
    , alive(std::make_shared<std::atomic<bool>>(true))
{}

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
    display.closeSheet();
}

void OverlaySpeechBatch::start(const std::optional<QString> &voice)
{
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
    speakNext();
}

void OverlaySpeechBatch::speakNext()
{
    while (currentIndex <= endIndex) {
        // Items with nothing to say are skipped and keep whatever audio they had.
        if (currentIndex >= 0 && currentIndex < projectItems.size() &&
            !projectItems[currentIndex].text.trimmed().isEmpty())
            break;
        ++currentIndex;
    }
    if (currentIndex > endIndex)
        return finish();
    const QString text = projectItems[currentIndex].text;
    display.setLabel(
        indeterminate
            ? QStringLiteral("Text: ") + text
            : QStringLiteral("%1/%2: %3").arg(currentIndex + 1).arg(endIndex + 1).arg(text));
    display.setProgress(indeterminate, count, currentIndex);
    try {
        speechSynthesizer->startSpeaking(text, WorkingFolder::overlayAudioFile());
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

void OverlaySpeechBatch::store()
{
    auto state = std::make_shared<StoreState>();
    state->index = currentIndex;
    state->id = projectItems[currentIndex].id;
    storing = state;
    const std::shared_ptr<std::atomic<bool>> stillAlive = alive;
    Project *target = &project;
    QThreadPool::globalInstance()->start([this, state, target, stillAlive] {
        try {
            const QString converted = WorkingFolder::projectItemFile();
            if (AudioConversion::convertToPCMAudio(WorkingFolder::overlayAudioFile(), converted))
                state->duration = target->saveItemAudioFile(state->id, converted);
        } catch (const VSError &) {
        }
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
            if (currentIndex != endIndex) {
                ++currentIndex;
                speakNext();
            } else {
                finish();
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
    display.closeSheet();
    display.reloadTable();
    display.refreshControls();
}

void OverlaySpeechBatch::fail(const QString &title, const QString &message)
{
    running = false;
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
