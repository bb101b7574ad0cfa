#include "SubtitlesToSpeechOperation.h"

#include "Speech/SubtitlesToSpeech.h"
#include "VSError.h"
#include "WorkingFolder.h"

SubtitlesToSpeechOperation::SubtitlesToSpeechOperation(QString taskName,
                                                       std::optional<QString> voiceName,
                                                       QString subtitlesFile, QString speechFile)
    : MakeOutputOperation(std::move(taskName))
    , voiceName(std::move(voiceName))
    , subtitlesFile(subtitlesFile.isEmpty() ? WorkingFolder::subtitlesFile() : subtitlesFile)
    , speechFile(speechFile.isEmpty() ? WorkingFolder::speechFile() : speechFile)
{}

SubtitlesToSpeechOperation::~SubtitlesToSpeechOperation() = default;

void SubtitlesToSpeechOperation::run()
{
    if (isCancelled())
        return;
    subtitleParser = SubtitlesParser::fromFile(subtitlesFile);
    if (isCancelled())
        return;
    if (!subtitleParser || subtitleParser->subtitles.isEmpty()) {
        if (isCancelled())
            return;
        showError(parseFailureTitle, QString());
        cancel();
        return;
    }
    if (isCancelled())
        return;
    const qsizetype count = subtitleParser->subtitles.size();
    if (isCancelled())
        return;
    postSetupProgress(double(count - 1));
    if (isCancelled())
        return;

    auto progress = progressCallback();
    auto finish = finishCallback(semaphore);
    if (isCancelled())
        return;
    auto renderer = SubtitlesToSpeech::create(subtitleParser->subtitles, speechFile, voiceName,
                                              std::move(progress), std::move(finish));
    renderer->setOverflow(overflow);
    renderer->setKeepInSync(keepSpeechInSync);
    renderer->setJobs(jobs);
    try {
        renderer->initSynthesizer();
    } catch (const VSError &) {
        cancel();
        showError(synthesizerFailureTitle, QString());
        return;
    }
    subtitlesToSpeech.store(renderer);
    if (isCancelled())
        return;
    renderer->start();
    waitFor(semaphore);
}

void SubtitlesToSpeechOperation::cancel()
{
    if (!markCancelled())
        return;
    // The renderer reports nothing once stopped, so the wait is released here.
    if (const std::shared_ptr<SubtitlesToSpeech> renderer = subtitlesToSpeech.load())
        renderer->stop();
    semaphore.release();
}
