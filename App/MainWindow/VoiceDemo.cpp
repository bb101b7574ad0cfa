#include "VoiceDemo.h"

#include "MainThread.h"
#include "Speech/SpeechSynthesizer.h"
#include "SubtitleTextChanged.h"
#include "Subtitles/SubtitlesParser.h"
#include "VSError.h"
#include "VideoPlayerView.h"
#include "WorkingFolder.h"

#include <QPointer>
#include <QThreadPool>

namespace {

// Speaks each new subtitle text while the video plays. A gap between cues (an empty text) lets
// the current speech run on.
class ChangedListener : public SubtitleTextChanged {
public:
    explicit ChangedListener(std::shared_ptr<SpeechSynthesizer> synthesizer)
        : synthesizer(std::move(synthesizer))
    {}
    void textChanged(const QString &text) override
    {
        // Starting an utterance replaces the one still running; it never blocks.
        if (!text.isEmpty() && synthesizer)
            synthesizer->startSpeaking(text);
    }
    std::shared_ptr<SpeechSynthesizer> synthesizer;
};

} // namespace

VoiceDemo::VoiceDemo(VideoPlayerView *player, QObject *parent)
    : QObject(parent)
    , player(player)
{}

VoiceDemo::~VoiceDemo() = default;

bool VoiceDemo::saySentence(const QString &voice)
{
    sentenceSynthesizer = SpeechSynthesizer::create(voice);
    const std::optional<VoiceAttributes> attributes = SpeechSynthesizer::attributesForVoice(voice);
    if (!sentenceSynthesizer || !attributes)
        return false;
    sentenceSynthesizer->setDelegate(this);
    sentenceSynthesizer->startSpeaking(attributes->demoText);
    return true;
}

void VoiceDemo::speechSynthesizerDidFinishSpeaking(SpeechSynthesizer &, bool)
{
    emit sentenceSpoken();
}

void VoiceDemo::speechSynthesizerDidEncounterError(SpeechSynthesizer &, qsizetype, const QString &,
                                                   const QString &)
{}

void VoiceDemo::speechSynthesizerDidEncounterSyncMessage(SpeechSynthesizer &, const QString &)
{}

void VoiceDemo::startWithVideo(const QString &videoPath, const QString &voice)
{
    const QPointer<VoiceDemo> self(this);
    QThreadPool::globalInstance()->start([self, videoPath, voice] {
        std::optional<SubtitlesParser> parsed;
        try {
            parsed = SubtitlesParser::fromFile(WorkingFolder::subtitlesFile());
        } catch (const VSError &) {
        }
        const bool usable = parsed && !parsed->subtitles.isEmpty();
        MainThread::post([self, usable, videoPath, voice] {
            if (!self)
                return;
            if (!usable) {
                emit self->failed(tr("Could not parse subtitles track from the video"), videoPath);
                return;
            }
            emit self->startedWithVideo();
            self->withVideoSynthesizer = SpeechSynthesizer::create(voice);
            self->subtitleTextListener =
                std::make_shared<ChangedListener>(self->withVideoSynthesizer);
            self->player->setSubtitleTextListener(self->subtitleTextListener);
            self->player->play();
        });
    });
}

void VoiceDemo::stopWithVideo()
{
    if (subtitleTextListener) {
        player->setSubtitleTextListener(nullptr);
        subtitleTextListener.reset();
    }
    if (withVideoSynthesizer) {
        withVideoSynthesizer->stopSpeaking();
        withVideoSynthesizer.reset();
    }
    if (player->videoPlayer()->playbackState() == MpvPlayer::PlaybackState::Playing)
        player->pause();
}
