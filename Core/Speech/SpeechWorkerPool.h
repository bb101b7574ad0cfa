#pragma once

#include "CueFitting.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class QJsonObject;
class QProcess;

// Speech workers: processes of this program (see SpeechWorker), each with its own speech engine,
// that fit cues at the same time. espeak-ng keeps process-wide state, so parallel synthesis takes
// processes rather than threads. Each worker fits one cue at a time; results come back on the main
// thread in the order they are done, each clip's samples with its placement. The workers go with
// the pool, and die with this process even when it is killed.
class SpeechWorkerPool {
public:
    struct Request {
        int cue = 0; // the cue's position in the list
        QString text;
        Subtitle timing;
        std::optional<double> nextStart;
        double trackEnd = 0; // the track length the cue is fitted for
        // Above 0: the text is spoken once at this rate and not fitted (an overlay item's);
        // timing, nextStart and trackEnd are not used.
        float rate = 0;
    };
    using Fitted = std::function<void(const Request &, const CueFitting::Placement &)>;
    using Failed = std::function<void(const QString &message)>;

    // One worker per core.
    static int defaultJobs();

    // Starts workers speakers with voice. Reports arrive on the main thread, never during a call
    // into the pool.
    SpeechWorkerPool(int workers, QString voice, bool keepInSync, Fitted onFitted, Failed onFailed);
    // Kills the workers.
    ~SpeechWorkerPool();
    SpeechWorkerPool(const SpeechWorkerPool &) = delete;
    SpeechWorkerPool &operator=(const SpeechWorkerPool &) = delete;

    // A child of a worker fits this many cues one after the other (its engine's state carries
    // from one to the next), so that a fork is not paid for every cue. Blocks of cues are fixed by
    // their place in the list, never by the number of workers.
    static constexpr int cuesPerChild = 64;

    // Queues a block of cues, fitted in order from a fresh engine; an urgent block goes before
    // all queued ones.
    void submit(QList<Request> block, bool urgent = false);

    // The lines of the workers' conversation: a cue (a block of them ends with an empty line); a
    // fitted clip, its samples (if held in memory) right after the line, or an error.
    static QByteArray requestLine(const Request &request);
    static bool readRequest(const QByteArray &line, Request &request);
    static QByteArray placementLine(int cue, const CueFitting::Placement &placement);
    static CueFitting::Placement readPlacement(const QJsonObject &answer);
    // How many bytes of samples follow an answer; nothing when it tells an impossible number.
    static std::optional<qsizetype> sampleBytes(const QJsonObject &answer);
    static QByteArray errorLine(int cue, const QString &message);

private:
    struct Worker {
        std::unique_ptr<QProcess> process;
        QByteArray output;
        QByteArray errors;
        // The cues handed over and not yet answered, in order.
        std::deque<Request> busy;
    };
    void dispatch();
    void received(Worker &worker);
    void ended(Worker &worker);
    void fail(const QString &message);
    void stopAll();

    const QString voice;
    const bool keepInSync;
    Fitted onFitted;
    Failed onFailed;
    std::deque<QList<Request>> queue;
    std::vector<std::unique_ptr<Worker>> workers;
    bool failed = false;
    // Shared with queued reports, so that none runs after the pool is gone.
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};
