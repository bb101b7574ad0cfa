#pragma once

#include "Overlay/ProjectDocument.h"
#include "Overlay/ProjectItem.h"

#include <QList>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class AudioClipPlayer;
class AudioOverlayTableModel;
class AudioOverlayTableView;
class ItemRecorder;
class Project;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class SubtitlesPlayingListener;
class UserSettings;
class OverlayPanelHost;

// The audio overlay tab: the voice-over project built from the subtitles, its item table, and the
// panel of the selected item, which gets its audio by recording, speech or an attached file, plays
// it, saves it and plays the item's stretch of the video. Everything on the GUI thread but the
// project build, attachments and reading stored audio, which run on the thread pool.
class AudioOverlayPanel : public QWidget {
    Q_OBJECT
public:
    static inline const QString overwritePrompt = QStringLiteral(
        "All audio of the current project will be replaced. Do you want to continue?");
    static inline const QString savePrompt =
        QStringLiteral("Do you want to save the current audio?");
    static inline const QString saveChangesPrompt =
        QStringLiteral("Save changes to the voice-over project?");
    static inline const QString projectFileType = QStringLiteral("s2s");

    AudioOverlayPanel(OverlayPanelHost *host, UserSettings &settings, QWidget *parent = nullptr);
    ~AudioOverlayPanel() override;

    // Building the project from the working subtitles.
    void loadToOverlayClicked();
    void loadToOverlay();
    bool isBuilding() const { return building; }

    // The project file the user keeps. The window works on its copy in the working folder;
    // saving copies that back, whole or not at all.
    std::optional<QString> projectFilePath() const { return document.file(); }
    // The saved file's name, "Untitled" before the first save; empty without a project.
    QString projectName() const;
    // Something of the project (or a recording for one of its items) is not in its file.
    bool hasUnsavedChanges() const;
    // The project differs from its file (or was never saved) in what it holds.
    bool isProjectModified() const { return document.isModified(); }
    // What the window loads with an opened project: its video, and where its items came from
    // (a subtitle file's path or a stream of the video; see Project::subtitlesFile), with the
    // items as SubRip for when that source is gone.
    struct OpenedProject {
        QString inputVideo;
        QString subtitlesSource;
        QByteArray itemsSubRip;
    };
    // Opens a project file in place of the current project; the current one is kept when the
    // file cannot be opened (error says why).
    std::optional<OpenedProject> openProjectFile(const QString &path, QString *error);
    // The project's video was found elsewhere.
    void setInputVideo(const QString &path);
    // Asks about unsaved work, a running recording being stopped first, and calls proceed once
    // it is saved or the user chose not to; never when the user cancels or a save fails.
    void askToSaveChanges(const std::function<void()> &proceed);
    // Save, or Save As for a project never saved; saved follows a successful save.
    void saveProjectClicked(const std::function<void()> &saved = {});
    void saveProjectAsClicked(const std::function<void()> &saved = {});
    // Saves the project to path (replacing it); a failure is shown. True when saved.
    bool saveProjectTo(const QString &path);

    // The table and the item panel.
    void showItem(int row);
    void updateItemControls();
    void onNavigationClicked(int segment);
    void selectRow(int row);
    void sortItems(int column, Qt::SortOrder order);
    void playItemAudio(int column, int row);
    void subtitleVideoButtonClicked();
    void text2SpeechButtonClicked();
    // The row of the item with this id, -1 when it is not in the table.
    int rowOf(int itemId) const;

    // Attaching a file, from the dialog or dropped on a row.
    void overlayAttachAudioFileClicked();
    void attachAudio(const QString &path, int row);

    // Recording and review of the selected item's audio. A recording belongs to the item it was
    // started for, by id, whatever the table's order or selection does meanwhile.
    void recordButtonClicked();
    void onPauseRecordClicked();
    void audioPlayButtonClicked();
    void audioSaveButtonClicked();
    void askToSaveItem(int itemId);
    void saveItemAudio(int itemId);
    bool isRecording() const;
    // Audio is being converted and stored for an item.
    bool isAttaching() const { return attachesRunning > 0; }
    // The item the current or unsaved recording is for, -1 for none.
    int recordingItem() const { return recordingItemId; }
    // Stops a running recording and calls then once it has ended (at once without one).
    void finishRecording(const std::function<void()> &then);
    // The recorded length so far, in milliseconds, as the meter shows it.
    qint64 recordedMilliseconds() const;

    Project *project() const { return document.project().get(); }
    const QList<ProjectItem> &items() const { return projectItems; }
    bool hasItemsWithAudio() const;
    int selectedRow() const;
    // After an output made from the project: its stored audio is in a video.
    void clearDirtyFlags();

    // Where the panel's controls get their enabled state; the window holds the states of a
    // busy window back until it is free again.
    std::function<void(QWidget *control, bool enabled)> setControlEnabled;

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
    // The project's name or its saved state changed: the window's title follows.
    void documentChanged();
    // Every attachment started has been stored (or has failed).
    void attachmentsDone();
    // The panel needs to be seen: a project is being built.
    void overlayTabWanted();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildInterface();
    void projectBuilt(std::shared_ptr<Project> built, const QList<ProjectItem> &items,
                      const QString &error);
    void selectionChanged();
    void itemTextEdited(const QString &text);
    void noteModified();
    void enable(QWidget *control, bool enabled);
    void showRecordingTime(qint64 milliseconds);
    void reviewRecording();
    void recordingStarted();
    void recordingFinished(const QString &error);
    void recordingFailedToStart(const QString &reason);
    // While a recording runs, the item cannot change under it.
    void lockForRecording(bool locked);
    void discardRecording();
    void attachmentEnded();
    // With attachments running, calls retry once they have ended and answers true; false at
    // once without any.
    bool waitForAttachments(const std::function<void()> &retry);
    void stopReview();
    void placeSpinner();
    QString recordingFile() const;

    OverlayPanelHost *host;
    UserSettings &settings;
    const std::shared_ptr<Project> &openProject() const { return document.project(); }
    ProjectDocument document;
    QList<ProjectItem> projectItems;
    AudioOverlayTableModel *model = nullptr;
    QProgressBar *loadingAnimationView = nullptr;
    QLabel *slotCaption = nullptr;
    QLabel *audioCaption = nullptr;
    bool building = false;
    // The row whose item the panel shows.
    int shownRow = -1;
    int recordingItemId = -1;
    int attachesRunning = 0;
    bool askingToSave = false;

    std::unique_ptr<AudioClipPlayer> itemAudioPlayer;
    std::unique_ptr<AudioClipPlayer> audioPlayer;
    std::shared_ptr<SubtitlesPlayingListener> playingListener;
    std::unique_ptr<ItemRecorder> recorder;
};
