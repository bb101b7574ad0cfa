#pragma once

#include "Overlay/ProjectItem.h"

#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QWidget>
#include <memory>

class AudioClipPlayer;
class AudioOverlayTableModel;
class AudioOverlayTableView;
class MicrophoneRecorder;
class Project;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class SubtitlesPlayingListener;
class UserSettings;
class ViewController;

// The audio overlay tab: the voice-over project built from the subtitles, its item table, and the
// panel of the selected item, which gets its audio by recording, speech or an attached file, plays
// it, saves it and plays the item's stretch of the video. Everything on the GUI thread but the
// project build, attachments and reading stored audio, which run on the thread pool.
class AudioOverlayPanel : public QWidget {
    Q_OBJECT
public:
    static inline const QString overwritePrompt = QStringLiteral(
        "All audios from your current work will be overwriten. Do you want to continue?");
    static inline const QString savePrompt =
        QStringLiteral("Do you want to save the current audio?");

    AudioOverlayPanel(ViewController *viewController, UserSettings &settings,
                      QWidget *parent = nullptr);
    ~AudioOverlayPanel() override;

    // Building the project from the working subtitles.
    void loadToOverlayClicked();
    void loadToOverlay();
    bool isBuilding() const { return building; }

    // The table and the item panel.
    void showItem(int row);
    void updateItemControls();
    void onNavigationClicked(int segment);
    void selectRow(int row);
    void sortItems(int column, Qt::SortOrder order);
    void playItemAudio(int column, int row);
    void subtitleVideoButtonClicked();
    void text2SpeechButtonClicked();

    // Attaching a file, from the dialog or dropped on a row.
    void overlayAttachAudioFileClicked();
    void attachAudio(const QString &path, int row);

    // Recording and review of the selected item's audio.
    void recordButtonClicked();
    void onPauseRecordClicked();
    void audioPlayButtonClicked();
    void audioSaveButtonClicked();
    void askToSaveItem(int row, int itemId);
    void saveItemAudio(int row, int itemId);
    // The recorded length so far, in milliseconds, as the meter shows it.
    qint64 recordedMilliseconds() const { return qint64(recordedTime); }

    Project *project() const { return openProject.get(); }
    const QList<ProjectItem> &items() const { return projectItems; }
    bool hasItemsWithAudio() const;
    int selectedRow() const;
    // After an output made from the project: nothing of it is unsaved any more.
    void clearDirtyFlags();

    bool isProjectDirty = false;
    bool itemDirty = false;

    AudioOverlayTableView *overlayTableView = nullptr;
    QWidget *navigationControl = nullptr;
    QPushButton *previousButton = nullptr;
    QPushButton *nextButton = nullptr;
    QLineEdit *subtitleItemTextView = nullptr;
    QLabel *labelSubtitlesTime = nullptr;
    QLabel *labelRecordTime = nullptr;
    QPushButton *recordButton = nullptr;
    QPushButton *buttonRecordPause = nullptr;
    QPushButton *audioPlayButton = nullptr;
    QPushButton *audioSaveButton = nullptr;
    QPushButton *text2SpeechButton = nullptr;
    QPushButton *attachAudioButton = nullptr;
    QPushButton *subtitleVideoButton = nullptr;
    QPushButton *makeAudioOverlayButton = nullptr;

signals:
    // The project, its items' audio or the selection changed: the window's controls follow.
    void projectChanged();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildInterface();
    void projectBuilt(std::shared_ptr<Project> built, const QList<ProjectItem> &items,
                      const QString &error);
    void showRecordingTime(qint64 milliseconds);
    // Adds the time since the last count to the recorded time (not while paused).
    void countRecordedTime();
    void reviewRecording();
    void recordingStarted();
    void recordingFinished(const QString &error);
    void stopReview();
    void placeSpinner();
    QString recordingFile() const;

    ViewController *viewController;
    UserSettings &settings;
    std::shared_ptr<Project> openProject;
    QList<ProjectItem> projectItems;
    AudioOverlayTableModel *model = nullptr;
    QProgressBar *loadingAnimationView = nullptr;
    QLabel *slotCaption = nullptr;
    QLabel *audioCaption = nullptr;
    bool building = false;
    // The row whose unsaved recording the save prompt is about, so that it asks once.
    int shownRow = -1;

    std::unique_ptr<AudioClipPlayer> itemAudioPlayer;
    std::unique_ptr<AudioClipPlayer> audioPlayer;
    std::shared_ptr<SubtitlesPlayingListener> playingListener;
    std::unique_ptr<MicrophoneRecorder> recorder;
    QTimer *meterUpdateTimer = nullptr;
    QElapsedTimer mediaClock;
    double recordingStartTime = 0;
    double recordedTime = 0;
};
