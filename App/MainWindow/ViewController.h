#pragma once

#include "OverlayPanelHost.h"
#include "VideoProcessor/VideoInfo.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class AudioOverlayPanel;
class MakeOutputDisplay;
class OutputMaker;
class QComboBox;
class QLabel;
class QPushButton;
class QSplitter;
class QTableView;
class QTabWidget;
class SpeechTab;
class SubtitlesDragablePopupButton;
class TextToSpeechView;
class UserSettings;
class VideoPlayerView;
class VoiceDemo;
class WorkingSubtitles;

// The main window's content and the state of the user's work: the open video and its three track
// choosers, the working subtitles, the voice, the two workflows' panels, and the output chain
// while it runs. Every method runs on the GUI thread.
class ViewController : public QWidget, public OverlayPanelHost {
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

    // progress: where a running output chain shows its progress.
    ViewController(MakeOutputDisplay *progress, UserSettings &settings, QWidget *parent = nullptr);
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
    // path is cleared either way. True when it is a video that is being opened.
    bool openFileFromFinder();
    void showSelectedTab();
    bool isBusy() const override;
    // The working subtitles file is being written for the newest choice of subtitles.
    bool isPreparingSubtitles() const;
    // Where the chosen subtitles come from, as a project records it: the external file's path,
    // or the stream of the open video (Project::streamSource); empty with nothing chosen.
    QString subtitlesSource() const override;

    // Voice-over project files: the dialog, and opening one (after asking about unsaved work),
    // its video and its subtitles with it.
    void selectProjectFile();
    void openProjectFile(const QString &path);
    // Asks what the user would lose by quitting (a video being made, unsaved voice-over work)
    // and calls proceed unless the user keeps the window.
    void askToQuit(const std::function<void()> &proceed);
    // The enabled state of a control, held back while the window is busy and given once it is
    // free again.
    void setControlEnabled(QWidget *control, bool enabled);

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

    VideoPlayerView *playerView() const override { return videoPlayerView; }
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
    // How the panels are divided, to be given back by restoreSplit (false for what it cannot
    // read).
    QByteArray splitState() const;
    bool restoreSplit(const QByteArray &state);

signals:
    // A made video's path, once its success report is shown.
    void videoMade(const QString &path);
    // An output chain is being set up or runs (the window's open items wait), or not.
    void processingChanged(bool processing);
    // The progress of an output chain is to be shown, or taken away.
    void progressShown(bool shown);

private:
    void buildInterface();
    void subtitlesPrepared(bool succeeded, const QString &reason);
    void removeRefusedSubtitles(int tag, const QString &title);
    void videoFailed(const QString &message);
    void loadProject(const QString &path);
    // withItsVideo: the open video is the project's own, whose streams the source may name.
    void loadProjectSubtitles(const QString &source, const QByteArray &itemsSubRip,
                              bool withItsVideo);
    void startMaking(QPushButton *button, const std::optional<QString> &projectFile);
    void cancelMaking(QPushButton *button);
    void makingFinished(bool made, const QString &path, bool fromProject);
    void resetMakeButton(QPushButton *button);
    void restoreMakeButton(QPushButton *button);
    void updateMakeButtons();
    void showMadeVideo(const QString &path);
    // What Make would do now, in a few lines: the file, the speech, the subtitles, the loudness.
    QString planText() const;
    // The locale of the voice the chooser shows (it names the output and tags its streams).
    QString voiceLocale() const;
    void demoSentenceSpoken();
    void demoWithVideoStarted();
    QWidget *control(int field) const;

    UserSettings &settings;

    std::optional<VideoInfo> videoInfo;
    VideoPlayerView *videoPlayerView = nullptr;
    QComboBox *videoTrackPopupButton = nullptr;
    QComboBox *audioTrackPopupButton = nullptr;
    SubtitlesDragablePopupButton *subtitlesTrackPopupButton = nullptr;
    QPushButton *loadToOverlayButton = nullptr;
    QTabWidget *tabview = nullptr;
    SpeechTab *subtitles2SpeechControlsBox = nullptr;
    AudioOverlayPanel *audioOverlayControlsBox = nullptr;
    QSplitter *containerSplitView = nullptr;
    QSplitter *videoContainerSplitView = nullptr;
    QWidget *voicesContainerView = nullptr;
    ControlsStatus controlsStatus;
    // The working subtitles file, from the newest choice: while it is prepared, its chooser
    // and what reads the file wait. The newest choice's item, for when it is refused.
    WorkingSubtitles *workingSubtitles = nullptr;
    int preparedTag = -1;
    QString preparedTitle;
    // An external subtitles file that a newer one replaced in the chooser, by the newer one's
    // path: it comes back if the newer one is refused.
    QHash<QString, QString> replacedSubtitles;

    TextToSpeechView *textToSpeechView = nullptr;
    QPushButton *demoVoiceButton = nullptr;
    QPushButton *demoVoiceWithVideoButton = nullptr;
    QPushButton *makeSTSButton = nullptr;
    VoiceDemo *voiceDemo = nullptr;

    // The output chains: the window is busy while one runs.
    std::unique_ptr<OutputMaker> maker;
    // The Make button of the running chain, which it gives back when the chain ends.
    QPointer<QPushButton> makingButton;
};
