#include "SpeechWorkerPool.h"

#include "MainThread.h"
#include "SpeechWorker.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <cstring>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

QJsonValue optionalNumber(const std::optional<double> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QByteArray line(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

int SpeechWorkerPool::defaultJobs()
{
    return std::max(1, QThread::idealThreadCount());
}

QByteArray SpeechWorkerPool::requestLine(const Request &request)
{
    return line({{QStringLiteral("cue"), request.cue},
                 {QStringLiteral("text"), request.text},
                 {QStringLiteral("start"), request.timing.start},
                 {QStringLiteral("end"), request.timing.end},
                 {QStringLiteral("next"), optionalNumber(request.nextStart)},
                 {QStringLiteral("trackEnd"), request.trackEnd},
                 {QStringLiteral("rate"), double(request.rate)}});
}

bool SpeechWorkerPool::readRequest(const QByteArray &text, Request &request)
{
    const QJsonObject object = QJsonDocument::fromJson(text).object();
    if (!object.contains(QStringLiteral("cue")))
        return false;
    request.cue = object.value(QStringLiteral("cue")).toInt();
    request.text = object.value(QStringLiteral("text")).toString();
    request.timing.start = object.value(QStringLiteral("start")).toDouble();
    request.timing.end = object.value(QStringLiteral("end")).toDouble();
    const QJsonValue next = object.value(QStringLiteral("next"));
    request.nextStart = next.isDouble() ? std::optional(next.toDouble()) : std::nullopt;
    request.trackEnd = object.value(QStringLiteral("trackEnd")).toDouble();
    request.rate = float(object.value(QStringLiteral("rate")).toDouble());
    return true;
}

QByteArray SpeechWorkerPool::placementLine(int cue, const CueFitting::Placement &placement)
{
    QJsonObject answer{{QStringLiteral("cue"), cue},
                       {QStringLiteral("position"), placement.position},
                       {QStringLiteral("onset"), placement.onsetMs},
                       {QStringLiteral("speech"), placement.speechMs},
                       {QStringLiteral("rate"), double(placement.rate)},
                       {QStringLiteral("tempo"), placement.tempo},
                       {QStringLiteral("fits"), placement.fits},
                       {QStringLiteral("passes"), placement.passes}};
    if (!placement.samples)
        return line(answer);
    const std::vector<short> &samples = *placement.samples;
    answer.insert(QStringLiteral("frames"), qint64(samples.size()));
    answer.insert(QStringLiteral("sampleRate"), placement.sampleRate);
    return line(answer) + QByteArray(reinterpret_cast<const char *>(samples.data()),
                                     qsizetype(samples.size() * sizeof(short)));
}

CueFitting::Placement SpeechWorkerPool::readPlacement(const QJsonObject &answer)
{
    CueFitting::Placement placement;
    placement.position = answer.value(QStringLiteral("position")).toDouble();
    placement.onsetMs = answer.value(QStringLiteral("onset")).toDouble();
    placement.speechMs = answer.value(QStringLiteral("speech")).toDouble();
    placement.rate = float(answer.value(QStringLiteral("rate")).toDouble());
    placement.tempo = answer.value(QStringLiteral("tempo")).toDouble();
    placement.fits = answer.value(QStringLiteral("fits")).toBool();
    placement.passes = answer.value(QStringLiteral("passes")).toInt();
    return placement;
}

std::optional<qsizetype> SpeechWorkerPool::sampleBytes(const QJsonObject &answer)
{
    const QJsonValue frames = answer.value(QStringLiteral("frames"));
    if (frames.isUndefined())
        return 0;
    // Under 2 GiB of samples, as an answer to one line never comes near.
    const qint64 count = frames.toInteger(-1);
    if (count < 0 || count > (qint64(1) << 30))
        return std::nullopt;
    return qsizetype(count) * qsizetype(sizeof(short));
}

QByteArray SpeechWorkerPool::errorLine(int cue, const QString &message)
{
    return line({{QStringLiteral("cue"), cue}, {QStringLiteral("error"), message}});
}

SpeechWorkerPool::SpeechWorkerPool(int count, QString voice, bool keepInSync, Fitted onFitted,
                                   Failed onFailed)
    : voice(std::move(voice))
    , keepInSync(keepInSync)
    , onFitted(std::move(onFitted))
    , onFailed(std::move(onFailed))
{
    for (int started = 0; started < std::max(count, 1); ++started) {
        auto worker = std::make_unique<Worker>();
        worker->process = std::make_unique<QProcess>();
        QProcess &process = *worker->process;
        // Workers leave the terminal's process group, so that Ctrl-C reaches this process
        // alone and it stops them; and they die with it, even when it is killed.
        const pid_t parent = getpid();
        process.setChildProcessModifier([parent] {
            setpgid(0, 0);
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(1);
        });
        Worker *raw = worker.get();
        QObject::connect(&process, &QProcess::readyReadStandardOutput,
                         [this, raw] { received(*raw); });
        QObject::connect(&process, &QProcess::readyReadStandardError,
                         [raw] { raw->errors += raw->process->readAllStandardError(); });
        QObject::connect(&process, &QProcess::finished, [this, raw] { ended(*raw); });
        QObject::connect(&process, &QProcess::errorOccurred, [this, raw](QProcess::ProcessError e) {
            if (e == QProcess::FailedToStart)
                ended(*raw);
        });
        process.start(QCoreApplication::applicationFilePath(),
                      {QString::fromLatin1(SpeechWorker::modeArgument), this->voice,
                       keepInSync ? QStringLiteral("sync") : QStringLiteral("plain")});
        workers.push_back(std::move(worker));
    }
}

SpeechWorkerPool::~SpeechWorkerPool()
{
    *alive = false;
    stopAll();
}

void SpeechWorkerPool::stopAll()
{
    for (const std::unique_ptr<Worker> &worker : workers) {
        QProcess &process = *worker->process;
        process.disconnect();
        if (process.state() != QProcess::NotRunning) {
            // The worker and the child fitting a cue for it, which share a process group.
            ::kill(-pid_t(process.processId()), SIGKILL);
            process.kill();
            process.waitForFinished(5000);
        }
    }
}

void SpeechWorkerPool::submit(QList<Request> block, bool urgent)
{
    if (urgent)
        queue.push_front(std::move(block));
    else
        queue.push_back(std::move(block));
    dispatch();
}

void SpeechWorkerPool::dispatch()
{
    if (failed)
        return;
    for (const std::unique_ptr<Worker> &worker : workers) {
        if (queue.empty())
            return;
        if (!worker->busy.empty() || worker->process->state() == QProcess::NotRunning)
            continue;
        const QList<Request> block = std::move(queue.front());
        queue.pop_front();
        QByteArray lines;
        for (const Request &request : block) {
            worker->busy.push_back(request);
            lines += requestLine(request);
        }
        worker->process->write(lines + '\n');
    }
}

void SpeechWorkerPool::received(Worker &worker)
{
    worker.output += worker.process->readAllStandardOutput();
    qsizetype end;
    while ((end = worker.output.indexOf('\n')) >= 0) {
        const QJsonObject answer = QJsonDocument::fromJson(worker.output.left(end)).object();
        const std::optional<qsizetype> bytes = sampleBytes(answer);
        if (!bytes) {
            fail(QStringLiteral("A speech worker gave an unreadable answer"));
            return;
        }
        // The samples after the line may still be on their way.
        if (worker.output.size() - (end + 1) < *bytes)
            break;
        std::shared_ptr<std::vector<short>> samples;
        if (answer.contains(QStringLiteral("frames"))) {
            samples = std::make_shared<std::vector<short>>(size_t(*bytes) / sizeof(short));
            std::memcpy(samples->data(), worker.output.constData() + end + 1, size_t(*bytes));
        }
        worker.output.remove(0, end + 1 + *bytes);
        if (worker.busy.empty() || failed)
            continue;
        const Request request = worker.busy.front();
        if (answer.contains(QStringLiteral("error"))) {
            fail(answer.value(QStringLiteral("error")).toString());
            return;
        }
        CueFitting::Placement placement = readPlacement(answer);
        placement.samples = std::move(samples);
        placement.sampleRate = answer.value(QStringLiteral("sampleRate")).toInt();
        if (answer.value(QStringLiteral("cue")).toInt() != request.cue || !placement.samples) {
            fail(QStringLiteral("A speech worker answered for another line"));
            return;
        }
        worker.busy.pop_front();
        MainThread::post([alive = std::weak_ptr(alive), this, request, placement] {
            if (alive.lock() && !failed)
                onFitted(request, placement);
        });
    }
    dispatch();
}

void SpeechWorkerPool::ended(Worker &worker)
{
    if (failed)
        return;
    QProcess &process = *worker.process;
    QString why;
    if (process.error() == QProcess::FailedToStart)
        why = process.errorString();
    else if (process.exitStatus() == QProcess::CrashExit)
        why = QStringLiteral("it was stopped by a signal");
    else
        why = QStringLiteral("it exited with status %1").arg(process.exitCode());
    worker.errors += process.readAllStandardError();
    const QString said = QString::fromUtf8(worker.errors).trimmed().section(u'\n', -1);
    fail(QStringLiteral("A speech worker stopped unexpectedly: %1%2")
             .arg(why, said.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(said)));
}

void SpeechWorkerPool::fail(const QString &message)
{
    if (failed)
        return;
    failed = true;
    MainThread::post([alive = std::weak_ptr(alive), this, message] {
        if (alive.lock())
            onFailed(message);
    });
}
