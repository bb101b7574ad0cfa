#include "SpeechWorker.h"

#include "CueFitting.h"
#include "SpeechSynthesizer.h"
#include "SpeechSynthesizerDelegate.h"
#include "SpeechWorkerPool.h"
#include "VSError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <deque>
#include <unistd.h>

namespace {

// Fits the cues read from standard input one after the other, as the speech job does in its own
// process, and answers each with a line on standard output.
class WorkerSession : public SpeechSynthesizerDelegate {
public:
    WorkerSession(std::unique_ptr<SpeechSynthesizer> synthesizer, bool keepInSync, QString folder)
        : synthesizer(std::move(synthesizer))
        , keepInSync(keepInSync)
        , utteranceFile(folder + QStringLiteral("/utterance.aiff"))
    {
        this->synthesizer->setDelegate(this);
        this->synthesizer->setVolume(1.0f);
    }

    void read()
    {
        char buffer[65536];
        ssize_t count;
        while ((count = ::read(STDIN_FILENO, buffer, sizeof buffer)) < 0 && errno == EINTR) {
        }
        if (count <= 0) {
            // The pool is gone or done with us.
            QCoreApplication::exit(0);
            return;
        }
        input.append(buffer, count);
        qsizetype end;
        while ((end = input.indexOf('\n')) >= 0) {
            Job job;
            if (!SpeechWorkerPool::readRequest(input.left(end), job.request, job.clipFile)) {
                answer(SpeechWorkerPool::errorLine(-1, QStringLiteral("Unreadable request")));
                QCoreApplication::exit(1);
                return;
            }
            input.remove(0, end + 1);
            jobs.push_back(std::move(job));
        }
        if (!fitting)
            next();
    }

    void speechSynthesizerDidFinishSpeaking(SpeechSynthesizer &, bool finished) override
    {
        if (!fitting)
            return;
        const Job &job = jobs.front();
        if (!finished) {
            fail(error.isEmpty() ? QStringLiteral("The speech synthesizer stopped before it "
                                                  "finished speaking")
                                 : error);
            return;
        }
        try {
            if (fitting->spoken(utteranceFile)) {
                synthesizer->setRate(fitting->rate());
                synthesizer->startSpeaking(job.request.text, utteranceFile);
                return;
            }
            CueFitting::Placement placement = fitting->place(utteranceFile, job.clipFile);
            // The plain rule lays the utterance itself: it becomes the clip, since the next cue
            // writes a new utterance.
            if (placement.clipFile != job.clipFile) {
                QFile::remove(job.clipFile);
                if (!QFile::rename(placement.clipFile, job.clipFile))
                    throw VSError(QStringLiteral("Could not move '%1' to '%2'")
                                      .arg(placement.clipFile, job.clipFile));
                placement.clipFile = job.clipFile;
            }
            answer(SpeechWorkerPool::placementLine(job.request.cue, placement));
        } catch (const VSError &failure) {
            fail(failure.message);
            return;
        }
        fitting.reset();
        jobs.pop_front();
        next();
    }
    void speechSynthesizerDidEncounterError(SpeechSynthesizer &, qsizetype, const QString &,
                                            const QString &message) override
    {
        error = message;
    }
    void speechSynthesizerDidEncounterSyncMessage(SpeechSynthesizer &,
                                                  const QString &message) override
    {
        error = message;
    }

private:
    struct Job {
        SpeechWorkerPool::Request request;
        QString clipFile;
    };

    void next()
    {
        if (jobs.empty())
            return;
        const Job &job = jobs.front();
        error.clear();
        fitting.emplace(job.request.timing, job.request.nextStart, job.request.trackEnd,
                        keepInSync);
        synthesizer->setRate(fitting->rate());
        synthesizer->startSpeaking(job.request.text, utteranceFile);
    }

    void fail(const QString &message)
    {
        answer(SpeechWorkerPool::errorLine(jobs.front().request.cue, message));
        QCoreApplication::exit(1);
    }

    static void answer(const QByteArray &line)
    {
        qsizetype done = 0;
        while (done < line.size()) {
            const ssize_t written =
                ::write(STDOUT_FILENO, line.constData() + done, size_t(line.size() - done));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                QCoreApplication::exit(1);
                return;
            }
            done += written;
        }
    }

    std::unique_ptr<SpeechSynthesizer> synthesizer;
    const bool keepInSync;
    const QString utteranceFile;
    QByteArray input;
    std::deque<Job> jobs;
    std::optional<CueFitting> fitting;
    QString error;
};

} // namespace

std::optional<int> SpeechWorker::serveIfAsked(int argc, char **argv)
{
    if (argc < 2 || std::strcmp(argv[1], modeArgument) != 0)
        return std::nullopt;
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s %s VOICE sync|plain FOLDER\n", argv[0], modeArgument);
        return 2;
    }
    QCoreApplication app(argc, argv);
    const QString voice = QString::fromUtf8(argv[2]);
    const bool keepInSync = std::strcmp(argv[3], "sync") == 0;
    const QString folder = QString::fromUtf8(argv[4]);
    QDir().mkpath(folder);
    std::unique_ptr<SpeechSynthesizer> synthesizer = SpeechSynthesizer::create(voice);
    if (!synthesizer) {
        std::fprintf(stderr, "Could not initialize the specified voice\n");
        return 1;
    }
    WorkerSession session(std::move(synthesizer), keepInSync, folder);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&session] { session.read(); });
    return app.exec();
}
