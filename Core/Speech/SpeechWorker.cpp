#include "SpeechWorker.h"

#include "CueFitting.h"
#include "SpeechEngine.h"
#include "SpeechSynthesizer.h"
#include "SpeechWorkerPool.h"
#include "VSError.h"

#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

// The next line of standard input, without its end; nothing at its end.
std::optional<QByteArray> readLine(QByteArray &buffer)
{
    for (;;) {
        const qsizetype end = buffer.indexOf('\n');
        if (end >= 0) {
            const QByteArray line = buffer.left(end);
            buffer.remove(0, end + 1);
            return line;
        }
        char chunk[65536];
        const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return std::nullopt;
        buffer.append(chunk, count);
    }
}

// One utterance, spoken on this thread into memory; throws VSError.
SpeechClip say(SpeechEngine &engine, const QString &voice, const QString &text, float rate)
{
    std::vector<short> samples;
    auto utterance = std::make_shared<SpeechEngine::Utterance>();
    utterance->text = text;
    utterance->voice = voice;
    utterance->rate = int(std::lround(
        std::clamp(rate, SpeechSynthesizer::minimumRate, SpeechSynthesizer::maximumRate)));
    utterance->samples = &samples;
    SpeechEngine::Outcome outcome = SpeechEngine::Outcome::Failed;
    QString message;
    engine.speakHere(utterance, [&](SpeechEngine::Outcome o, const QString &m) {
        outcome = o;
        message = m;
    });
    if (outcome != SpeechEngine::Outcome::Finished)
        throw VSError(message.isEmpty() ? QStringLiteral("The speech synthesizer stopped before "
                                                         "it finished speaking")
                                        : message);
    return SpeechClip(samples, engine.sampleRate());
}

// Fits one cue as the speech job does (or speaks an unfitted text once), each utterance held in
// memory. The answer, with the clip's samples.
QByteArray fit(SpeechEngine &engine, const QString &voice, bool keepInSync,
               const SpeechWorkerPool::Request &request)
{
    try {
        if (request.rate > 0) {
            const SpeechClip clip = say(engine, voice, request.text, request.rate);
            CueFitting::Placement placement{QString(),    0,   clip.onsetMs(), clip.speechMs(),
                                            request.rate, 1.0, true,           1};
            placement.samples = std::make_shared<const std::vector<short>>(clip.toShorts());
            placement.sampleRate = int(clip.sampleRate());
            return SpeechWorkerPool::placementLine(request.cue, placement);
        }
        CueFitting fitting(request.timing, request.nextStart, request.trackEnd, keepInSync);
        fitting.skipRatesSurelyTooSlow();
        while (fitting.spoken(say(engine, voice, request.text, fitting.rate()))) {
        }
        return SpeechWorkerPool::placementLine(request.cue, fitting.placeInMemory());
    } catch (const VSError &failure) {
        return SpeechWorkerPool::errorLine(request.cue, failure.message);
    }
}

} // namespace

std::optional<int> SpeechWorker::serveIfAsked(int argc, char **argv)
{
    if (argc < 2 || std::strcmp(argv[1], modeArgument) != 0)
        return std::nullopt;
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s %s VOICE sync|plain\n", argv[0], modeArgument);
        return 2;
    }
    QCoreApplication app(argc, argv);
    const QString voice = QString::fromUtf8(argv[2]);
    const bool keepInSync = std::strcmp(argv[3], "sync") == 0;
    // Started here, before any child: its thread then waits, and every child starts from an
    // engine that has spoken nothing.
    SpeechEngine &engine = SpeechEngine::forVoice(voice);
    if (!engine.isAvailable() || !engine.voice(voice)) {
        std::fprintf(stderr, "Could not initialize the specified voice\n");
        return 1;
    }
    QByteArray input;
    std::vector<SpeechWorkerPool::Request> block;
    while (const std::optional<QByteArray> line = readLine(input)) {
        if (!line->isEmpty()) {
            SpeechWorkerPool::Request request;
            if (!SpeechWorkerPool::readRequest(*line, request)) {
                writeAll(STDOUT_FILENO,
                         SpeechWorkerPool::errorLine(-1, QStringLiteral("Unreadable request")));
                return 1;
            }
            block.push_back(std::move(request));
            continue;
        }
        // A whole block: its cues are fitted in a child, from the engine as it is here.
        const pid_t worker = getpid();
        const pid_t child = fork();
        if (child < 0) {
            writeAll(STDOUT_FILENO,
                     SpeechWorkerPool::errorLine(block.empty() ? -1 : block.front().cue,
                                                 QString::fromLocal8Bit(std::strerror(errno))));
            return 1;
        }
        if (child == 0) {
            // A child dies with its worker, as the worker dies with the program.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != worker)
                _exit(1);
            for (const SpeechWorkerPool::Request &request : block)
                if (!writeAll(STDOUT_FILENO, fit(engine, voice, keepInSync, request)))
                    _exit(1);
            _exit(0);
        }
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            const QString why = WIFSIGNALED(status)
                                    ? QStringLiteral("stopped by signal %1").arg(WTERMSIG(status))
                                    : QStringLiteral("exit status %1").arg(WEXITSTATUS(status));
            const int cue = block.empty() ? -1 : block.front().cue;
            writeAll(
                STDOUT_FILENO,
                SpeechWorkerPool::errorLine(
                    cue, QStringLiteral("The speech of lines from %1 on could not be made (%2)")
                             .arg(cue + 1)
                             .arg(why)));
            return 1;
        }
        block.clear();
    }
    return 0;
}
