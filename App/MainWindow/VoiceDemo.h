#pragma once

#include "Speech/SpeechSynthesizerDelegate.h"

#include <QObject>
#include <QString>
#include <memory>

class SpeechSynthesizer;
class SubtitleTextChanged;
class VideoPlayerView;

// The voice demos: the chosen voice saying its sentence, and the video played with its working
// subtitles spoken as they appear. GUI thread.
class VoiceDemo : public QObject, public SpeechSynthesizerDelegate {
    Q_OBJECT
public:
    explicit VoiceDemo(VideoPlayerView *player, QObject *parent = nullptr);
    ~VoiceDemo() override;

    // Says the voice's demo sentence; false when the voice cannot speak.
    bool saySentence(const QString &voice);
    // Reads the working subtitles on the thread pool, then plays the video and speaks each cue
    // as it appears.
    void startWithVideo(const QString &videoPath, const QString &voice);
    // The speech stops, and a playing video pauses.
    void stopWithVideo();

    void speechSynthesizerDidFinishSpeaking(SpeechSynthesizer &synthesizer, bool finished) override;
    void speechSynthesizerDidEncounterError(SpeechSynthesizer &synthesizer, qsizetype index,
                                            const QString &text, const QString &message) override;
    void speechSynthesizerDidEncounterSyncMessage(SpeechSynthesizer &synthesizer,
                                                  const QString &message) override;

signals:
    void sentenceSpoken();
    void startedWithVideo();
    void failed(const QString &title, const QString &detail);

private:
    VideoPlayerView *player;
    std::unique_ptr<SpeechSynthesizer> sentenceSynthesizer;
    std::shared_ptr<SpeechSynthesizer> withVideoSynthesizer;
    std::shared_ptr<SubtitleTextChanged> subtitleTextListener;
};
