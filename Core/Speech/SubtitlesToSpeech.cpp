#include "SubtitlesToSpeech.h"

#include "AIFFFile.h"
#include "MainThread.h"
#include "SpeechClip.h"
#include "SpeechSynthesizer.h"
#include "Subtitles/SubtitlesParser.h"
#include "VSError.h"
#include "WorkingFolder.h"

#include <algorithm>

std::shared_ptr<SubtitlesToSpeech> SubtitlesToSpeech::create(QList<Subtitle> subtitles,
                                                             QString speechFile,
                                                             std::optional<QString> voice,
                                                             Progress onProgress, Finish onFinish)
{
    return std::shared_ptr<SubtitlesToSpeech>(
        new SubtitlesToSpeech(std::move(subtitles), std::move(speechFile), std::move(voice),
                              std::move(onProgress), std::move(onFinish)));
}

SubtitlesToSpeech::SubtitlesToSpeech(QList<Subtitle> subtitles, QString speechFile,
                                     std::optional<QString> voice, Progress onProgress,
                                     Finish onFinish)
    : tempVoiceOutFile(WorkingFolder::filePath(tempVoiceOutFileName))
    , speechFile(std::move(speechFile))
    , subtitles(std::move(subtitles))
    , voice(std::move(voice))
    , onProgress(std::move(onProgress))
    , onFinish(std::move(onFinish))
    , syncClipFile(WorkingFolder::filePath(syncClipFileName))
{}

SubtitlesToSpeech::~SubtitlesToSpeech() = default;

void SubtitlesToSpeech::initSynthesizer()
{
    speechSynthesizer = SpeechSynthesizer::create(voice);
    if (!speechSynthesizer)
        throw VSError(QStringLiteral("Could not initialize the specified voice"));
    speechSynthesizer->setDelegate(this);
    speechSynthesizer->setVolume(1.0f);
}

void SubtitlesToSpeech::start()
{
    if (stopped.load())
        return;
    running.store(true);
    // The caller's thread may be a job's worker thread; all further state lives on the main
    // thread, so that a stop can never race with a step of the chain.
    const std::weak_ptr<SubtitlesToSpeech> weak = weak_from_this();
    MainThread::post([weak] {
        if (const std::shared_ptr<SubtitlesToSpeech> self = weak.lock())
            self->speakNext();
    });
}

void SubtitlesToSpeech::stop()
{
    stopped.store(true);
    running.store(false);
    if (!MainThread::isCurrent()) {
        MainThread::post([self = shared_from_this()] { self->stop(); });
        return;
    }
    if (speechSynthesizer && speechSynthesizer->isSpeaking())
        speechSynthesizer->stopSpeaking();
    release();
}

void SubtitlesToSpeech::release()
{
    // Dropping the writer closes the speech file.
    audioProcessor.reset();
    speechSynthesizer.reset();
    // The pool may be reporting right now: it goes once that report is over.
    if (pool)
        MainThread::post([gone = std::shared_ptr<SpeechWorkerPool>(std::move(pool))] {});
}

void SubtitlesToSpeech::speakNext()
{
    if (!running.load() || stopped.load())
        return;
    if (cueIndex == subtitles.size()) {
        QString failure;
        try {
            if (audioProcessor)
                audioProcessor->close();
        } catch (const VSError &error) {
            failure = error.message;
        }
        release();
        running.store(false);
        reported = true;
        onFinish(failure.isEmpty(), failure);
        return;
    }
    onProgress(double(cueIndex));
    // The progress report may have stopped the run.
    if (!running.load() || stopped.load())
        return;
    if (jobs > 0) {
        if (!pool)
            startWorkers();
        layFitted();
        return;
    }
    passes.append(0);
    fitting.emplace(subtitles[cueIndex], nextStart(cueIndex), trackLength(), keepInSync);
    speechSynthesizer->setRate(fitting->rate());
    speakCurrentCue();
}

std::optional<double> SubtitlesToSpeech::nextStart(int cue) const
{
    return cue + 1 < subtitles.size() ? std::optional(subtitles[cue + 1].start) : std::nullopt;
}

double SubtitlesToSpeech::trackLength() const
{
    return audioProcessor ? audioProcessor->lengthMilliseconds() : 0;
}

void SubtitlesToSpeech::speakCurrentCue()
{
    ++passes.last();
    speechSynthesizer->startSpeaking(SubtitlesParser::plainText(subtitles[cueIndex].text),
                                     tempVoiceOutFile);
}

void SubtitlesToSpeech::speechSynthesizerDidFinishSpeaking(SpeechSynthesizer &, bool finished)
{
    if (!running.load() || stopped.load() || reported || jobs > 0)
        return;
    if (!finished) {
        // Stops clear running before the synthesizer reports; anything else stopped the
        // utterance behind our back, and waiting for it would wait for ever.
        fail(QStringLiteral("The speech synthesizer stopped before it finished speaking"));
        return;
    }
    layCue([this] {
        if (fitting->spoken(tempVoiceOutFile)) {
            speechSynthesizer->setRate(fitting->rate());
            speakCurrentCue();
            return false;
        }
        lay(fitting->place(tempVoiceOutFile, syncClipFile));
        fitting.reset();
        return true;
    });
}

void SubtitlesToSpeech::layCue(const std::function<bool()> &lay)
{
    try {
        if (!lay())
            return;
    } catch (const VSError &error) {
        fail(error.message);
        release();
        return;
    }
    ++cueIndex;
    speakNext();
}

void SubtitlesToSpeech::lay(const CueFitting::Placement &placement)
{
    const Subtitle &cue = subtitles[cueIndex];
    const double at = appendClip(placement);
    fits.append(placement.fits);
    syncReport.append({int(cueIndex) + 1, cue.start, cue.end, at + placement.onsetMs,
                       placement.speechMs, placement.rate, placement.tempo, placement.fits});
}

void SubtitlesToSpeech::startWorkers()
{
    const auto self = weak_from_this();
    pool = std::make_unique<SpeechWorkerPool>(
        std::min<qsizetype>(jobs, subtitles.size()), speechSynthesizer->voice(), keepInSync,
        [self](const SpeechWorkerPool::Request &request, const CueFitting::Placement &placement) {
            if (const auto renderer = self.lock())
                renderer->fitted(request, placement);
        },
        [self](const QString &message) {
            if (const auto renderer = self.lock()) {
                if (!renderer->running.load() || renderer->stopped.load())
                    return;
                renderer->fail(message);
                renderer->release();
            }
        });
    submitAhead();
}

void SubtitlesToSpeech::submitAhead()
{
    // Cues are fitted for a track that ends before them, which is how it almost always is, in
    // blocks fixed by their place in the list; two blocks per worker ahead keep every worker
    // busy without fitting far beyond the track.
    const qsizetype ahead = 2 * qsizetype(jobs) * SpeechWorkerPool::cuesPerChild;
    while (submitted < subtitles.size() && submitted < cueIndex + ahead) {
        QList<SpeechWorkerPool::Request> block;
        const int end = std::min<int>(submitted + SpeechWorkerPool::cuesPerChild, subtitles.size());
        for (; submitted < end; ++submitted) {
            const Subtitle &cue = subtitles[submitted];
            block.append(
                {submitted, SubtitlesParser::plainText(cue.text), cue, nextStart(submitted), 0});
        }
        pool->submit(std::move(block));
    }
}

void SubtitlesToSpeech::fitted(const SpeechWorkerPool::Request &request,
                               const CueFitting::Placement &placement)
{
    if (!running.load() || stopped.load() || reported)
        return;
    ready.insert(request.cue, {request, placement});
    layFitted();
}

void SubtitlesToSpeech::layFitted()
{
    const auto found = ready.find(cueIndex);
    if (found == ready.end())
        return;
    const auto [request, placement] = found.value();
    ready.erase(found);
    const double length = trackLength();
    if (!CueFitting::holdsFor(request.timing, keepInSync, request.trackEnd, length)) {
        // The previous cue ran long: this one is fitted again for the track as it is.
        SpeechWorkerPool::Request again = request;
        again.trackEnd = length;
        pool->submit({again}, true);
        return;
    }
    passes.append(placement.passes);
    layCue([this, placement = placement] {
        lay(placement);
        submitAhead();
        return true;
    });
}

double SubtitlesToSpeech::appendClip(const CueFitting::Placement &placement)
{
    if (cueIndex == 0) {
        audioProcessor =
            placement.samples
                ? std::make_unique<AIFFFile>(speechFile, placement.sampleRate, overflow)
                : std::make_unique<AIFFFile>(speechFile, placement.clipFile, overflow);
        if (placement.position > 0)
            audioProcessor->appendSilence(placement.position);
    } else {
        const double gap = placement.position - audioProcessor->lengthMilliseconds();
        if (gap > 0)
            audioProcessor->appendSilence(gap);
    }
    const double at = audioProcessor->lengthMilliseconds();
    if (placement.samples)
        audioProcessor->append(*placement.samples, placement.sampleRate);
    else
        audioProcessor->append(placement.clipFile);
    return at;
}

void SubtitlesToSpeech::fail(const QString &message)
{
    if (reported)
        return;
    reported = true;
    onFinish(false, message);
}

void SubtitlesToSpeech::speechSynthesizerDidEncounterError(SpeechSynthesizer &, qsizetype,
                                                           const QString &, const QString &message)
{
    if (running.load())
        fail(message);
}

void SubtitlesToSpeech::speechSynthesizerDidEncounterSyncMessage(SpeechSynthesizer &,
                                                                 const QString &message)
{
    if (running.load())
        fail(message);
}
