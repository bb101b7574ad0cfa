#pragma once

#include "Speech/SpeechSynthesizerDelegate.h"
#include "VideoProcessor/VideoInfo.h"

#include <QList>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <optional>

class AudioOverlayPanel;
class QComboBox;
class QLabel;
class QPushButton;
class QSplitter;
class QTableView;
class QTabWidget;
class SpeechSynthesizer;
class SubtitleTextChanged;
class SubtitlesDragablePopupButton;
class TextToSpeechView;
class UserSettings;
class VideoPlayerView;
class WindowController;

// The main window's content and the state of the user's work: the open video and its three track
// choosers, the working subtitles, the voice, the two workflows' panels, and the output chain
// while it runs. Every method runs on the GUI thread.
class ViewController : public QWidget, public SpeechSynthesizerDelegate {
    Q_OBJECT
public:
    static constexpr int externalSubtitlesTag = -10;
    static inline const QString speechTabIdentifier = QStringLiteral("Kelvorandix");
    static inline const QString overlayTabIdentifier = QStringLiteral("audioOverlay");
    static inline const QString invalidSubtitlesMessage =
        QStringLiteral("Invalid subtitles or subtitles format is not supported");

    // The enabled states of the controls an output chain disables, saved while it runs.
    struct ControlsStatus {
        bool videoTrackPopupButton = true;
        bool audioTrackPopupButton = true;
        bool subtitlesTrackPopupButton = true;
        bool loadToOverlayButton = true;
        bool demoVoiceButton = true;
        bool demoVoiceWithVideoButton = true;
        bool overlayTableView = true;
        bool navigationControl = false;
        bool buttonRecordPause = false;
        bool text2SpeechButton = false;
        bool attachAudioButton = false;
        bool audioPlayButton = false;
        bool audioSaveButton = false;
        bool subtitleVideoButton = false;
        bool recordButton = false;
        bool operator==(const ControlsStatus &) const = default;
    };

    ViewController(WindowController *windowController, UserSettings &settings,
                   QWidget *parent = nullptr);
    ~ViewController() override;

    // Opening media: the dialogs, then the same steps as every other way in.
    void selectVideoFile();
    void openVideo(const QString &path);
    void selectSubtitlesFile();
    void addSubtitlesFile(const QString &path);
    void loadSelectedSubtitles();
    void resetTrackPopups();
    void fillTrackPopups(const VideoInfo &info);
    // Enables the main controls from what is loaded; true when a make can start.
    bool updateControls();
    void setProcessing(bool isProcessing);
    // Opens the file the desktop handed over (stored in the settings), unless busy; the stored
    // path is cleared either way.
    void openFileFromFinder();
    void showSelectedTab();
    bool isBusy() const { return running != nullptr; }

    // The workflow of the speech tab.
    void demoVoiceButtonClicked();
    void demoVoiceWithVideoButtonClicked();
    void makeSTSButtonClicked();
    void stopDemoWithVideo();
    // Builds and starts the output chain; projectFile: the overlay project, for the overlay tab.
    void makeOutput(QPushButton *button, const std::optional<QString> &projectFile);

    // The track numbers a make would use: the selected items' tags, -1 for none.
    int selectedVideoTrack() const;
    int selectedAudioTrack() const;
    int selectedSubtitlesTrack() const;
    ControlsStatus currentControlsStatus() const;
    ControlsStatus savedControlsStatus() const { return controlsStatus; }

    VideoPlayerView *playerView() const { return videoPlayerView; }
    TextToSpeechView *voiceChooser() const { return textToSpeechView; }
    QComboBox *videoTrackPopup() const;
    QComboBox *audioTrackPopup() const;
    SubtitlesDragablePopupButton *subtitlesTrackPopup() const { return subtitlesTrackPopupButton; }
    QPushButton *makeButton() const { return makeSTSButton; }
    const std::optional<VideoInfo> &openVideoInfo() const { return videoInfo; }
    AudioOverlayPanel *overlayPanel() const { return audioOverlayControlsBox; }
    void selectOverlayTab();
    void makeAudioOverlayClicked();
    // A warning alert as a sheet on the window.
    void showWarningSheet(const QString &message, const QString &informative);
    // The voice panel and the tab panel, which a full screen started by the player hides.
    void setPanelsHidden(bool hidden);
    // The default split: half the height for the video, half its width for the player.
    void layoutDefaultSplit();

    void speechSynthesizerDidFinishSpeaking(SpeechSynthesizer &synthesizer, bool finished) override;
    void speechSynthesizerDidEncounterError(SpeechSynthesizer &synthesizer, qsizetype index,
                                            const QString &text, const QString &message) override;
    void speechSynthesizerDidEncounterSyncMessage(SpeechSynthesizer &synthesizer,
                                                  const QString &message) override;

signals:
    // A made video's path, once its success report is shown.
    void videoMade(const QString &path);

private:
    void buildInterface();
    QWidget *buildSpeechPanel();
    void subtitlesPrepared(bool succeeded, int tag, const QString &reason);
    struct RunningChain;
    void startMaking(QPushButton *button, const std::optional<QString> &projectFile);
    void cancelMaking(QPushButton *button);
    void finishMaking(QPushButton *button, const std::shared_ptr<RunningChain> &ended);
    void resetMakeButton(QPushButton *button);
    void restoreMakeButton(QPushButton *button);
    void updateMakeButtons();
    void showMadeVideo(const QString &path);
    // What Make would do now, in a few lines: the file, the speech, the subtitles, the loudness.
    QString planText() const;
    // The locale of the voice the chooser shows (it names the output and tags its streams).
    QString voiceLocale() const;
    void speakDemoWithVideo(const QString &videoPath, const QString &voice);
    QWidget *control(int field) const;

    WindowController *windowController;
    UserSettings &settings;

    std::optional<VideoInfo> videoInfo;
    VideoPlayerView *videoPlayerView = nullptr;
    QComboBox *videoTrackPopupButton = nullptr;
    QComboBox *audioTrackPopupButton = nullptr;
    SubtitlesDragablePopupButton *subtitlesTrackPopupButton = nullptr;
    QPushButton *loadToOverlayButton = nullptr;
    QTabWidget *tabview = nullptr;
    QWidget *subtitles2SpeechControlsBox = nullptr;
    AudioOverlayPanel *audioOverlayControlsBox = nullptr;
    QSplitter *containerSplitView = nullptr;
    QSplitter *videoContainerSplitView = nullptr;
    QWidget *voicesContainerView = nullptr;
    ControlsStatus controlsStatus;
    // The working subtitles file is being written: its chooser stays disabled meanwhile, so that
    // the file has one writer at a time.
    bool preparingSubtitles = false;

    TextToSpeechView *textToSpeechView = nullptr;
    QPushButton *demoVoiceButton = nullptr;
    QPushButton *demoVoiceWithVideoButton = nullptr;
    QPushButton *makeSTSButton = nullptr;
    QLabel *planLabel = nullptr;
    std::unique_ptr<SpeechSynthesizer> demoSynthesizer;
    std::shared_ptr<SpeechSynthesizer> demoWithVideoSynthesizer;
    std::shared_ptr<SubtitleTextChanged> subtitleTextChangedListener;

    // The output chain and its queue: present exactly while the window is busy with it. A chain
    // the user cancelled winds down on its own, and is cleaned up when its last job has ended.
    std::shared_ptr<RunningChain> running;
    QList<std::shared_ptr<RunningChain>> windingDown;
};
