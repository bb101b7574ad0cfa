#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class MakeOutputDisplay;
struct MakeOutputRequest;

// Runs the window's output chains: one at a time, its progress on a display. A chain the user
// cancelled winds down on its own, working on the same working files until its last job has
// ended; no new chain starts before. GUI thread.
class OutputMaker : public QObject {
    Q_OBJECT
public:
    explicit OutputMaker(MakeOutputDisplay *progress, QObject *parent = nullptr);
    // A chain still running is cancelled and waited for: its jobs report to this object.
    ~OutputMaker() override;

    bool isRunning() const { return running != nullptr; }
    bool isWindingDown() const { return !windingDown.isEmpty(); }
    // Shows what is about to run on the display, with no measure of it yet.
    void announce(const QString &label);
    // Builds the chain for the request and starts it; the reason when it cannot be built.
    std::optional<QString> start(const MakeOutputRequest &request);
    // Cancels the running chain, which then winds down.
    void cancel();
    // Calls then once every cancelled chain has ended and no tool of ours runs any more (its
    // partial output removed), or once the patience is spent.
    void whenStopped(const std::function<void()> &then, int patienceMs);
    // How the speech of the chain that ended last kept pace with its subtitles, in a sentence,
    // and how far its audio stayed under a loudness target it could not reach; empty when
    // neither applies.
    QString speechSentence() const { return lastSpeechSentence; }

signals:
    // The running chain has ended: made tells whether its video is at path; fromProject, that
    // it was made from the voice-over project.
    void finished(bool made, const QString &path, bool fromProject);
    // A cancelled chain has ended: the working files are free again.
    void woundDown();

private:
    struct RunningChain;
    void chainEnded(const std::shared_ptr<RunningChain> &ended);

    MakeOutputDisplay *progress;
    // Present exactly while a chain runs.
    std::shared_ptr<RunningChain> running;
    QList<std::shared_ptr<RunningChain>> windingDown;
    QString lastSpeechSentence;
};
