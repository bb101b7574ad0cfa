#pragma once

#include "ProjectItem.h"
#include "Speech/SpeechSynthesizerDelegate.h"

#include <QList>
#include <QString>
#include <QThreadPool>
#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class Project;
class SpeechSynthesizer;
class SpeechWorkerPool;

// Gives overlay items their audio by speech: the selected item or all of them, one after
// another. Each text is spoken to a file, converted to the project's PCM form and stored as the
// item's audio. The sheet that shows it (or the command line) implements Display.
//
// With jobs (setJobs()), the texts are spoken by that many speech workers and converted that many
// at a time, while the items are stored one after the other in their order. Without, each text
// is spoken in this process, then converted and stored, before the next.
class OverlaySpeechBatch : public SpeechSynthesizerDelegate {
public:
    static inline const QString voiceFailureTitle =
        QStringLiteral("Could not initialize speech voice");
    static inline const QString speechFailureTitle =
        QStringLiteral("Error while converting text to speech");
    static constexpr float speechRate = 220;

    // What the sheet shows; called on the main thread.
    class Display {
    public:
        virtual ~Display() = default;
        virtual void setLabel(const QString &text) = 0;
        virtual void setProgress(bool indeterminate, double maximum, double value) = 0;
        virtual void closeSheet() = 0;
        virtual void showAlert(const QString &title, const QString &message) = 0;
        // The overlay table is read again, and the window's controls follow the project.
        virtual void reloadTable() = 0;
        virtual void refreshControls() = 0;
    };

    // items: the overlay table's items in table order; spoken items get their new duration.
    OverlaySpeechBatch(Project &project, QList<ProjectItem> &items, Display &display);
    ~OverlaySpeechBatch() override;

    // selectedRow: the table's selected row, -1 for none (then the sheet only closes).
    void selectedItemButtonClicked(int selectedRow, const std::optional<QString> &voice);
    void allItemsButtonClicked(int selectedRow, const std::optional<QString> &voice);
    void cancelButtonClicked();
    // 0: every text spoken in this process; above 0: that many speech workers.
    void setJobs(int count) { jobs = count; }

    bool isRunning() const { return running; }
    // An item's audio is being converted and stored; a cancel lets it end, and its audio, once
    // stored, shows in the item and the dirty flag.
    bool isStoring() const { return storing != nullptr; }
    // Waits for the item being stored, if any, and takes its result into the item and the dirty
    // flag (the destructor does this too).
    void finishStoring();
    bool isProjectDirty = false;

    void speechSynthesizerDidFinishSpeaking(SpeechSynthesizer &synthesizer, bool finished) override;
    void speechSynthesizerDidEncounterError(SpeechSynthesizer &synthesizer, qsizetype index,
                                            const QString &text, const QString &message) override;
    void speechSynthesizerDidEncounterSyncMessage(SpeechSynthesizer &synthesizer,
                                                  const QString &message) override;

private:
    struct Converted;
    bool preconditionHolds(int selectedRow) const;
    // The workers' way: every text handed to the workers at once.
    // Moves the current item past items with nothing to say and shows it; false (and the batch
    // finished) when none is left.
    bool skipSilentItems();
    void startWorkers(const QString &voice);
    void spokenByWorker(int index, const std::vector<short> &samples, int sampleRate);
    void convertNext();
    // Stores the current item once it is converted.
    void storeNextConverted();
    // The workers go (once the report in progress is over) and the files waiting are removed.
    void releaseWorkers();
    void discardConverted();
    void start(const std::optional<QString> &voice);
    void speakNext();
    struct StoreState;
    // Stores the current item's converted audio (the spoken file converted here when empty).
    void store(const QString &converted = QString());
    // The end of a store, on the main thread: true when the audio reached the project.
    bool applyStored(const std::shared_ptr<StoreState> &state);
    void finish();
    void fail(const QString &title, const QString &message);

    Project &project;
    QList<ProjectItem> &projectItems;
    Display &display;
    int startIndex = 0;
    int endIndex = 0;
    int count = 0;
    int currentIndex = 0;
    bool indeterminate = false;
    bool running = false;
    std::unique_ptr<SpeechSynthesizer> speechSynthesizer;
    int jobs = 0;
    std::unique_ptr<SpeechWorkerPool> pool;
    // Spoken items waiting for their conversion, in order; converted ones by item index.
    std::deque<std::pair<int, QString>> toConvert;
    int converting = 0;
    std::map<int, std::shared_ptr<Converted>> converted;
    int batch = 0; // this batch's number among those spoken by workers; 0 for none
    QThreadPool conversions;
    std::shared_ptr<StoreState> storing; // the store in flight, if any
    // Cleared when the batch object goes, so that a post from a store finds it gone.
    std::shared_ptr<std::atomic<bool>> alive;
};
