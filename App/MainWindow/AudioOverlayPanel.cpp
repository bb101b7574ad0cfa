#include "AudioOverlayPanel.h"

#include "AudioClipPlayer.h"
#include "AudioOverlayTTSController.h"
#include "AudioOverlayTableModel.h"
#include "AudioOverlayTableView.h"
#include "ItemRecorder.h"
#include "MainThread.h"
#include "OpenPanel.h"
#include "Overlay/ItemAudioImport.h"
#include "Overlay/Project.h"
#include "Overlay/ProjectDocument.h"
#include "Overlay/ProjectFromSubtitles.h"
#include "Overlay/ProjectSubtitles.h"
#include "OverlayPanelHost.h"
#include "PlayerImages.h"
#include "Settings/UserSettings.h"
#include "Speech/AIFFFile.h"
#include "Subtitles/Utils.h"
#include "SubtitlesPlayingListener.h"
#include "VSError.h"
#include "VideoPlayerView.h"
#include "WarningSheet.h"
#include "WorkingFolder.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QThreadPool>
#include <QVBoxLayout>
#include <cmath>

namespace {

QPushButton *button(const QString &title, QWidget *parent)
{
    auto *pushButton = new QPushButton(title, parent);
    pushButton->setAccessibleName(title);
    // Space plays the video anywhere in the window: Enter presses a focused button.
    pushButton->setAutoDefault(true);
    return pushButton;
}

void setTitle(QPushButton *button, const QString &title)
{
    button->setText(title);
    button->setAccessibleName(title);
}

} // namespace

AudioOverlayPanel::AudioOverlayPanel(OverlayPanelHost *host, UserSettings &settings,
                                     QWidget *parent)
    : QWidget(parent)
    , setControlEnabled([](QWidget *control, bool enabled) { control->setEnabled(enabled); })
    , host(host)
    , settings(settings)
{
    buildInterface();
    updateItemControls();
}

AudioOverlayPanel::~AudioOverlayPanel()
{
    if (playingListener)
        host->playerView()->removeTimeListener(playingListener.get());
    // The recorder stops and lets go of the microphone before the panel goes.
    recorder.reset();
}

void AudioOverlayPanel::buildInterface()
{
    auto *layout = new QVBoxLayout(this);
    overlayTableView = new AudioOverlayTableView(this);
    overlayTableView->setAccessibleName(tr("Voice-over items"));
    model = new AudioOverlayTableModel(projectItems, this);
    overlayTableView->setModel(model);
    QHeaderView *header = overlayTableView->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(AudioOverlayTableModel::SubtitleColumn, QHeaderView::Stretch);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    connect(header, &QHeaderView::sortIndicatorChanged, this, &AudioOverlayPanel::sortItems);
    connect(overlayTableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &AudioOverlayPanel::selectionChanged);
    overlayTableView->onCellPressed = [this](int column, int row) { playItemAudio(column, row); };
    overlayTableView->onFileDropped = [this](const QString &path, int row) {
        attachAudio(path, row);
    };
    layout->addWidget(overlayTableView, 1);

    loadingAnimationView = new QProgressBar(overlayTableView);
    loadingAnimationView->setRange(0, 0);
    loadingAnimationView->setTextVisible(false);
    loadingAnimationView->setFixedSize(160, 14);
    loadingAnimationView->setAccessibleName(tr("Building the project"));
    loadingAnimationView->hide();

    // The selected item: its text and times, then its actions.
    auto *itemRow = new QHBoxLayout;
    navigationControl = new QWidget(this);
    navigationControl->setAccessibleName(tr("Item navigation"));
    auto *navigation = new QHBoxLayout(navigationControl);
    navigation->setContentsMargins(0, 0, 0, 0);
    navigation->setSpacing(0);
    previousButton = button(tr("◀"), navigationControl);
    previousButton->setAccessibleName(tr("Previous item"));
    previousButton->setToolTip(tr("Previous item"));
    nextButton = button(tr("▶"), navigationControl);
    nextButton->setAccessibleName(tr("Next item"));
    nextButton->setToolTip(tr("Next item"));
    for (QPushButton *segment : {previousButton, nextButton}) {
        segment->setFixedWidth(36);
        navigation->addWidget(segment);
    }
    connect(previousButton, &QPushButton::clicked, this, [this] { onNavigationClicked(0); });
    connect(nextButton, &QPushButton::clicked, this, [this] { onNavigationClicked(1); });
    itemRow->addWidget(navigationControl);
    subtitleItemTextView = new QLineEdit(this);
    subtitleItemTextView->setAccessibleName(tr("Item text"));
    subtitleItemTextView->setToolTip(
        tr("The text of the selected item, which Text to Speech speaks"));
    connect(subtitleItemTextView, &QLineEdit::textEdited, this, &AudioOverlayPanel::itemTextEdited);
    itemRow->addWidget(subtitleItemTextView, 1);
    slotCaption = new QLabel(tr("Slot:"), this);
    itemRow->addWidget(slotCaption);
    labelSubtitlesTime = new QLabel(this);
    labelSubtitlesTime->setAccessibleName(tr("Slot length"));
    labelSubtitlesTime->setToolTip(tr("The length of the item's slot"));
    itemRow->addWidget(labelSubtitlesTime);
    audioCaption = new QLabel(tr("Audio:"), this);
    itemRow->addWidget(audioCaption);
    labelRecordTime = new QLabel(this);
    labelRecordTime->setAccessibleName(tr("Audio length"));
    labelRecordTime->setToolTip(
        tr("The length of the item's audio; red when it outlasts the slot"));
    labelRecordTime->setProperty("tag", 0);
    itemRow->addWidget(labelRecordTime);
    layout->addLayout(itemRow);

    auto *actions = new QHBoxLayout;
    recordButton = button(tr("Record"), this);
    recordButton->setProperty("tag", 0);
    PlayerImages::setImage(recordButton, QStringLiteral("ButtonRecord"));
    buttonRecordPause = button(tr("Pause"), this);
    buttonRecordPause->setProperty("tag", 0);
    PlayerImages::setImage(buttonRecordPause, QStringLiteral("ButtonPause17"));
    audioPlayButton = new QPushButton(this);
    audioPlayButton->setAccessibleName(tr("Play the recording"));
    audioPlayButton->setToolTip(tr("Play the recording"));
    audioPlayButton->setProperty("tag", 0);
    PlayerImages::setImage(audioPlayButton, QStringLiteral("ButtonPlay17"));
    audioSaveButton = button(tr("Save"), this);
    audioSaveButton->setToolTip(tr("Keep the recording as the item's audio"));
    text2SpeechButton = button(tr("Text to Speech..."), this);
    attachAudioButton = button(tr("Attach Audio..."), this);
    subtitleVideoButton = button(tr("Play Video"), this);
    subtitleVideoButton->setToolTip(tr("Play the item's stretch of the video"));
    for (QPushButton *control : {recordButton, buttonRecordPause, audioPlayButton, audioSaveButton})
        actions->addWidget(control);
    actions->addSpacing(12);
    for (QPushButton *control : {text2SpeechButton, attachAudioButton, subtitleVideoButton})
        actions->addWidget(control);
    actions->addStretch();
    makeAudioOverlayButton = button(tr("Make"), this);
    // A click leaves the keyboard focus where it was: Space goes on playing the video.
    makeAudioOverlayButton->setFocusPolicy(Qt::TabFocus);
    makeAudioOverlayButton->setProperty("tag", 0);
    makeAudioOverlayButton->setMinimumWidth(120);
    makeAudioOverlayButton->setEnabled(false);
    actions->addWidget(makeAudioOverlayButton);
    layout->addLayout(actions);

    connect(recordButton, &QPushButton::clicked, this, &AudioOverlayPanel::recordButtonClicked);
    connect(buttonRecordPause, &QPushButton::clicked, this,
            &AudioOverlayPanel::onPauseRecordClicked);
    connect(audioPlayButton, &QPushButton::clicked, this,
            &AudioOverlayPanel::audioPlayButtonClicked);
    connect(audioSaveButton, &QPushButton::clicked, this,
            &AudioOverlayPanel::audioSaveButtonClicked);
    connect(text2SpeechButton, &QPushButton::clicked, this,
            &AudioOverlayPanel::text2SpeechButtonClicked);
    connect(attachAudioButton, &QPushButton::clicked, this,
            &AudioOverlayPanel::overlayAttachAudioFileClicked);
    connect(subtitleVideoButton, &QPushButton::clicked, this,
            &AudioOverlayPanel::subtitleVideoButtonClicked);

    recorder = std::make_unique<ItemRecorder>();
    connect(recorder.get(), &ItemRecorder::meterChanged, this,
            &AudioOverlayPanel::showRecordingTime);
    connect(recorder.get(), &ItemRecorder::started, this, &AudioOverlayPanel::recordingStarted);
    connect(recorder.get(), &ItemRecorder::paused, this, [this] {
        buttonRecordPause->setProperty("tag", 1);
        PlayerImages::setImage(buttonRecordPause, QStringLiteral("ButtonPlay17"));
        setTitle(buttonRecordPause, tr("Resume"));
    });
    connect(recorder.get(), &ItemRecorder::resumed, this, [this] {
        buttonRecordPause->setProperty("tag", 0);
        PlayerImages::setImage(buttonRecordPause, QStringLiteral("ButtonPause17"));
        setTitle(buttonRecordPause, tr("Pause"));
    });
    connect(recorder.get(), &ItemRecorder::finished, this, &AudioOverlayPanel::recordingFinished);
    connect(recorder.get(), &ItemRecorder::failedToStart, this,
            &AudioOverlayPanel::recordingFailedToStart);
}

void AudioOverlayPanel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeSpinner();
}

void AudioOverlayPanel::placeSpinner()
{
    const QRect area = overlayTableView->rect();
    loadingAnimationView->move(area.center() - loadingAnimationView->rect().center());
}

QString AudioOverlayPanel::recordingFile() const
{
    return WorkingFolder::recordingFile();
}

bool AudioOverlayPanel::hasItemsWithAudio() const
{
    return openProject() && openProject()->hasItemsWithAudio();
}

int AudioOverlayPanel::selectedRow() const
{
    const QModelIndexList rows = overlayTableView->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void AudioOverlayPanel::clearDirtyFlags()
{
    // A recording not yet stored in its item is in no video: it stays pending.
    isProjectDirty = false;
}

int AudioOverlayPanel::rowOf(int itemId) const
{
    for (int row = 0; row < projectItems.size(); ++row)
        if (projectItems[row].id == itemId)
            return row;
    return -1;
}

void AudioOverlayPanel::enable(QWidget *control, bool enabled)
{
    setControlEnabled(control, enabled);
}

void AudioOverlayPanel::noteModified()
{
    document.noteModified();
    emit documentChanged();
}

// The project file

QString AudioOverlayPanel::projectName() const
{
    if (!openProject())
        return QString();
    return document.file() ? QFileInfo(*document.file()).fileName() : tr("Untitled");
}

bool AudioOverlayPanel::hasUnsavedChanges() const
{
    return openProject() &&
           (document.isModified() || itemDirty || isRecording() || attachesRunning > 0);
}

std::optional<AudioOverlayPanel::OpenedProject>
AudioOverlayPanel::openProjectFile(const QString &path, QString *error)
{
    if (building || isRecording() || attachesRunning > 0) {
        *error = building        ? tr("A project is being built; try again once it is ready.")
                 : isRecording() ? tr("Stop the recording first.")
                                 : tr("Audio is being attached; try again once it is stored.");
        return std::nullopt;
    }
    const QString absolute = QFileInfo(path).absoluteFilePath();
    OpenedProject opened;
    try {
        // Only a file that is a project is read, and it is never written to: the window works
        // on a copy.
        const ProjectDocument::Source source =
            document.open(absolute, WorkingFolder::projectFile());
        opened.inputVideo = source.inputVideo;
        opened.subtitlesSource = source.subtitlesSource;
    } catch (const VSError &failure) {
        *error = failure.message;
        return std::nullopt;
    }
    discardRecording();
    stopReview();
    projectItems = openProject()->getAllItems();
    opened.itemsSubRip = ProjectSubtitles::subRip(projectItems);
    shownRow = -1;
    model->reloadData();
    overlayTableView->clearSelection();
    overlayTableView->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    // Its audio is kept in its file: nothing is lost to a new build.
    isProjectDirty = false;
    settings.addRecentProject(absolute);
    updateItemControls();
    emit projectChanged();
    emit documentChanged();
    return opened;
}

void AudioOverlayPanel::setInputVideo(const QString &path)
{
    if (!openProject())
        return;
    openProject()->setInputVideo(path);
    noteModified();
}

void AudioOverlayPanel::askToSaveChanges(const std::function<void()> &proceed)
{
    // One question at a time: a second request while the first is asked (a second Quit) goes
    // with the first one's answer.
    if (askingToSave)
        return;
    const QPointer<AudioOverlayPanel> self(this);
    auto askAgain = [self, proceed] {
        if (!self)
            return;
        self->askingToSave = false;
        self->askToSaveChanges(proceed);
    };
    // What is being recorded, and audio being attached, are part of the question.
    if (isRecording()) {
        askingToSave = true;
        finishRecording(askAgain);
        return;
    }
    if (waitForAttachments(askAgain)) {
        askingToSave = true;
        return;
    }
    if (!hasUnsavedChanges()) {
        proceed();
        return;
    }
    QStringList unsaved;
    if (itemDirty) {
        const int row = rowOf(recordingItemId);
        unsaved << (row >= 0 ? tr("The recording for item %1 is not stored in the project yet.")
                                   .arg(projectItems[row].id)
                             : tr("A recording is not stored in the project yet."));
    }
    if (document.isModified())
        unsaved << (document.file() ? tr("%1 has changes that are not saved.").arg(projectName())
                                    : tr("This project has not been saved yet."));
    auto *alert = new QMessageBox(QMessageBox::Warning, saveChangesPrompt, saveChangesPrompt,
                                  QMessageBox::NoButton, window());
    alert->setInformativeText(unsaved.join(u' '));
    // A line for a file name, rather than a narrow column.
    alert->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_informativelabel { min-width: 360px; }"));
    QPushButton *save = alert->addButton(QMessageBox::Save);
    alert->addButton(tr("Don't Save"), QMessageBox::DestructiveRole)
        ->setAccessibleName(tr("Don't Save"));
    QPushButton *cancel = alert->addButton(QMessageBox::Cancel);
    save->setAccessibleName(tr("Save"));
    cancel->setAccessibleName(tr("Cancel"));
    alert->setDefaultButton(save);
    alert->setEscapeButton(cancel);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    askingToSave = true;
    connect(alert, &QMessageBox::buttonClicked, this,
            [this, save, cancel, proceed](QAbstractButton *pressed) {
                askingToSave = false;
                if (pressed == cancel)
                    return;
                if (pressed != save) {
                    discardRecording();
                    proceed();
                    return;
                }
                if (itemDirty) {
                    saveItemAudio(recordingItemId);
                    // A recording that could not be stored stays pending, and nothing goes on.
                    if (itemDirty)
                        return;
                }
                if (document.isModified())
                    saveProjectClicked(proceed);
                else
                    proceed();
            });
    alert->open();
}

void AudioOverlayPanel::saveProjectClicked(const std::function<void()> &saved)
{
    if (!openProject())
        return;
    // Saved with the audio being attached, once it is stored.
    if (waitForAttachments([this, saved] { saveProjectClicked(saved); }))
        return;
    if (!document.file()) {
        saveProjectAsClicked(saved);
        return;
    }
    if (saveProjectTo(*document.file()) && saved)
        saved();
}

void AudioOverlayPanel::saveProjectAsClicked(const std::function<void()> &saved)
{
    if (!openProject())
        return;
    if (waitForAttachments([this, saved] { saveProjectAsClicked(saved); }))
        return;
    QString suggested;
    if (document.file()) {
        suggested = *document.file();
    } else {
        // Beside the video, named after it.
        const QString video = host->playerView()->videoFile().value_or(QString());
        const QFileInfo info(video);
        suggested =
            video.isEmpty()
                ? QDir::home().filePath(tr("Untitled") + u'.' + projectFileType)
                : info.absoluteDir().filePath(info.completeBaseName() + u'.' + projectFileType);
    }
    auto *dialog = new QFileDialog(window(), tr("Save Project As"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setDefaultSuffix(projectFileType);
    dialog->setNameFilter(tr("Voice-over projects (*.%1)").arg(projectFileType));
    dialog->setDirectory(QFileInfo(suggested).absolutePath());
    dialog->selectFile(QFileInfo(suggested).fileName());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, [this, saved](const QString &path) {
        if (path.isEmpty())
            return;
        if (saveProjectTo(path) && saved)
            saved();
    });
    dialog->open();
}

bool AudioOverlayPanel::saveProjectTo(const QString &path)
{
    if (!openProject())
        return false;
    try {
        document.saveTo(path);
    } catch (const VSError &error) {
        WarningSheet::show(window(), tr("Could not save the project"), error.message);
        return false;
    }
    settings.addRecentProject(*document.file());
    emit documentChanged();
    return true;
}

// Building the project

void AudioOverlayPanel::loadToOverlayClicked()
{
    if (building || isRecording() || host->isBusy())
        return;
    // Work that is not in a file is asked about first; that answer is the only question.
    if (hasUnsavedChanges()) {
        askToSaveChanges([self = QPointer<AudioOverlayPanel>(this)] {
            if (self)
                self->loadToOverlay();
        });
        return;
    }
    if (!isProjectDirty) {
        loadToOverlay();
        return;
    }
    auto *alert = new QMessageBox(QMessageBox::Warning, overwritePrompt, overwritePrompt,
                                  QMessageBox::Yes | QMessageBox::No, window());
    alert->setInformativeText(tr("Its stored audio is not in a video yet."));
    // Enter keeps the work.
    alert->setDefaultButton(QMessageBox::No);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(alert, &QMessageBox::finished, this, [this](int result) {
        if (result != QMessageBox::Yes)
            return;
        isProjectDirty = false;
        itemDirty = false;
        loadToOverlay();
    });
    alert->open();
}

void AudioOverlayPanel::loadToOverlay()
{
    // One build at a time: two would replace each other's file under them; nor under audio being
    // stored.
    if (building || isRecording() || attachesRunning > 0)
        return;
    emit overlayTabWanted();
    discardRecording();
    stopReview();
    projectItems.clear();
    model->reloadData();
    shownRow = -1;
    building = true;
    placeSpinner();
    loadingAnimationView->show();
    loadingAnimationView->raise();
    const QString video = host->playerView()->videoFile().value_or(QString());
    const QString source = host->subtitlesSource();
    // The window's connection to the old project goes first, so that its file can be replaced.
    document.replace(nullptr);
    updateItemControls();
    emit projectChanged();
    emit documentChanged();
    const QPointer<AudioOverlayPanel> self(this);
    QThreadPool::globalInstance()->start([self, video, source] {
        const ProjectFromSubtitles::Result built = ProjectFromSubtitles::build(
            WorkingFolder::projectFile(), video, source, WorkingFolder::subtitlesFile());
        MainThread::post([self, built] {
            if (self)
                self->projectBuilt(built.project, built.items, built.error);
        });
    });
}

void AudioOverlayPanel::projectBuilt(std::shared_ptr<Project> built,
                                     const QList<ProjectItem> &items, const QString &error)
{
    building = false;
    loadingAnimationView->hide();
    document.replace(std::move(built));
    projectItems = items;
    model->reloadData();
    overlayTableView->clearSelection();
    overlayTableView->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    updateItemControls();
    emit projectChanged();
    emit documentChanged();
    if (!error.isEmpty())
        WarningSheet::show(window(), tr("Error"), error);
}

// The table and the item panel

void AudioOverlayPanel::selectionChanged()
{
    const int row = selectedRow();
    const int id = row >= 0 && row < projectItems.size() ? projectItems[row].id : -1;
    // Leaving the item whose recording is not stored yet asks first (once).
    if (itemDirty && id != recordingItemId)
        askToSaveItem(recordingItemId);
    showItem(row);
    updateItemControls();
    // Back on the recording's item (a new order of the table selects it again): it is still
    // there to hear and save.
    if (itemDirty && id >= 0 && id == recordingItemId)
        reviewRecording();
}

void AudioOverlayPanel::showItem(int row)
{
    if (row < 0 || row >= projectItems.size() || !openProject()) {
        shownRow = -1;
        return;
    }
    shownRow = row;
    const ProjectItem &item = projectItems[row];
    const int slot = int(std::clamp<qint64>(qint64(item.end) - item.start, INT_MIN, INT_MAX));
    labelRecordTime->setProperty("tag", slot);
    labelSubtitlesTime->setText(Utils::shortTimeString(slot));
    subtitleItemTextView->setText(item.text);
    stopReview();
    showRecordingTime(item.audioDuration);
}

void AudioOverlayPanel::itemTextEdited(const QString &text)
{
    if (shownRow < 0 || shownRow >= projectItems.size() || !openProject())
        return;
    ProjectItem &item = projectItems[shownRow];
    try {
        openProject()->updateItemText(item.id, text);
    } catch (const VSError &error) {
        WarningSheet::show(window(), tr("Could not change the item's text"), error.message);
        subtitleItemTextView->setText(item.text);
        return;
    }
    item.text = text;
    model->reloadText(shownRow);
    noteModified();
}

void AudioOverlayPanel::updateItemControls()
{
    const int row = selectedRow();
    const bool selected = row >= 0;
    subtitleItemTextView->setVisible(selected);
    labelRecordTime->setVisible(selected);
    labelSubtitlesTime->setVisible(selected);
    slotCaption->setVisible(selected);
    audioCaption->setVisible(selected);
    buttonRecordPause->hide();
    enable(audioPlayButton, false);
    enable(audioSaveButton, false);
    for (QPushButton *control :
         {recordButton, text2SpeechButton, attachAudioButton, subtitleVideoButton})
        enable(control, selected);
    nextButton->setEnabled(!projectItems.isEmpty() && row < projectItems.size() - 1);
    previousButton->setEnabled(row >= 1);
    enable(navigationControl, !projectItems.isEmpty());
}

void AudioOverlayPanel::selectRow(int row)
{
    overlayTableView->selectRow(row);
    overlayTableView->scrollTo(model->index(row, 0));
}

void AudioOverlayPanel::onNavigationClicked(int segment)
{
    const int row = selectedRow();
    int target = -1;
    if (segment == 0 && row > 0)
        target = row - 1;
    else if (segment == 1 && row < projectItems.size() - 1)
        target = row + 1;
    // The new selection sets the navigation's buttons.
    if (target >= 0)
        selectRow(target);
}

void AudioOverlayPanel::sortItems(int column, Qt::SortOrder order)
{
    if (!openProject() || column < 0)
        return;
    if (!openProject()->setSortedBy(AudioOverlayTableModel::sortKey(column)))
        return;
    const int row = selectedRow();
    const int selectedId = row >= 0 && row < projectItems.size() ? projectItems[row].id : -1;
    openProject()->sortedAsc = order == Qt::AscendingOrder;
    projectItems = openProject()->getAllItems();
    shownRow = -1;
    model->reloadData();
    // The selected item stays selected, wherever the new order puts it.
    if (const int moved = rowOf(selectedId); moved >= 0)
        selectRow(moved);
    else
        updateItemControls();
}

void AudioOverlayPanel::playItemAudio(int column, int row)
{
    if (itemAudioPlayer)
        itemAudioPlayer->stop();
    if (column != AudioOverlayTableModel::AudioColumn || row < 0 || row >= projectItems.size() ||
        projectItems[row].audioDuration == 0 || !openProject())
        return;
    const std::optional<QByteArray> audio = openProject()->getItemAudio(projectItems[row].id);
    if (!audio)
        return;
    if (!itemAudioPlayer)
        itemAudioPlayer = std::make_unique<AudioClipPlayer>();
    itemAudioPlayer->play(*audio);
}

void AudioOverlayPanel::subtitleVideoButtonClicked()
{
    const int row = selectedRow();
    if (row < 0 || row >= projectItems.size())
        return;
    VideoPlayerView *player = host->playerView();
    if (playingListener)
        player->removeTimeListener(playingListener.get());
    playingListener = std::make_shared<SubtitlesPlayingListener>(player, projectItems[row].end);
    player->addTimeListener(playingListener);
    player->seek(projectItems[row].start);
    player->play();
}

void AudioOverlayPanel::text2SpeechButtonClicked()
{
    auto *sheet = new AudioOverlayTTSController(openProject().get(), projectItems, selectedRow(),
                                                settings, window());
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    const QPointer<AudioOverlayPanel> self(this);
    sheet->onAlert = [self](const QString &title, const QString &message) {
        if (self)
            WarningSheet::show(self->window(), title, message);
    };
    // New speech for the shown item is shown as its audio, unless a recording for it is
    // waiting to be saved.
    auto refreshShownItem = [self] {
        if (!self || self->shownRow < 0 || self->shownRow >= self->projectItems.size() ||
            (self->itemDirty && self->projectItems[self->shownRow].id == self->recordingItemId))
            return;
        self->showRecordingTime(self->projectItems[self->shownRow].audioDuration);
    };
    sheet->onReloadTable = [self, refreshShownItem] {
        if (!self)
            return;
        self->model->reloadAudioColumn();
        refreshShownItem();
    };
    sheet->onRefreshControls = [self] {
        if (self)
            emit self->projectChanged();
    };
    sheet->onProjectDirty = [self, refreshShownItem] {
        if (self) {
            self->isProjectDirty = true;
            self->model->reloadAudioColumn();
            refreshShownItem();
            self->noteModified();
            emit self->projectChanged();
        }
    };
    sheet->open();
}

// Attaching a file

void AudioOverlayPanel::overlayAttachAudioFileClicked()
{
    const int row = selectedRow();
    if (row < 0 || row >= projectItems.size())
        return;
    // The file goes to the item chosen now, whatever is selected when the dialog closes.
    const int id = projectItems[row].id;
    OpenPanel::open(window(), tr("Select an Audio file"), tr("Audio"),
                    AudioOverlayTableView::audioFileTypes, this, [this, id](const QString &path) {
                        if (const int now = rowOf(id); now >= 0)
                            attachAudio(path, now);
                    });
}

void AudioOverlayPanel::attachAudio(const QString &path, int row)
{
    if (host->isBusy() || row < 0 || row >= projectItems.size() || !openProject())
        return;
    const int id = projectItems[row].id;
    const std::shared_ptr<Project> target = openProject();
    const QPointer<AudioOverlayPanel> self(this);
    // Until it is stored, the audio is work that quitting, saving or opening another project
    // waits for.
    ++attachesRunning;
    emit projectChanged();
    emit documentChanged();
    QThreadPool::globalInstance()->start([self, target, path, id] {
        const ItemAudioImport::Result imported = ItemAudioImport::run(*target, id, path);
        const int duration = imported.duration;
        const QString failure = imported.failure;
        const QString detail = imported.detail;
        MainThread::post([self, target, id, duration, failure, detail] {
            if (!self)
                return;
            // Counted as ended once its audio is in the project and marked unsaved.
            const auto ended = qScopeGuard([self] {
                if (self)
                    self->attachmentEnded();
            });
            if (!failure.isEmpty()) {
                WarningSheet::show(self->window(), failure, detail);
                return;
            }
            if (target != self->openProject())
                return;
            self->isProjectDirty = true;
            if (const int row = self->rowOf(id); row >= 0) {
                self->projectItems[row].audioDuration = duration;
                self->model->reloadAudio(row);
            }
            if (self->shownRow >= 0 && self->shownRow < self->projectItems.size() &&
                self->projectItems[self->shownRow].id == id &&
                !(self->itemDirty && self->recordingItemId == id))
                self->showRecordingTime(duration);
            self->noteModified();
            emit self->projectChanged();
        });
    });
}

void AudioOverlayPanel::attachmentEnded()
{
    if (--attachesRunning > 0)
        return;
    emit attachmentsDone();
    emit projectChanged();
    emit documentChanged();
}

bool AudioOverlayPanel::waitForAttachments(const std::function<void()> &retry)
{
    if (attachesRunning == 0)
        return false;
    // The connection goes with the panel: retry never runs after it.
    connect(this, &AudioOverlayPanel::attachmentsDone, this, retry, Qt::SingleShotConnection);
    return true;
}

// Recording and review

void AudioOverlayPanel::showRecordingTime(qint64 milliseconds)
{
    labelRecordTime->setText(Utils::shortTimeString(milliseconds));
    const bool tooLong = milliseconds > labelRecordTime->property("tag").toLongLong();
    labelRecordTime->setStyleSheet(tooLong ? QStringLiteral("color: #c62828;")
                                           : QStringLiteral("color: #2e7d32;"));
    labelRecordTime->setProperty("outlasting", tooLong);
}

qint64 AudioOverlayPanel::recordedMilliseconds() const
{
    return recorder->recordedMilliseconds();
}

bool AudioOverlayPanel::isRecording() const
{
    return recorder && recorder->isRecording();
}

void AudioOverlayPanel::finishRecording(const std::function<void()> &then)
{
    if (!isRecording()) {
        then();
        return;
    }
    // After the panel's own handling of the end, which was connected first.
    auto ended = std::make_shared<bool>(false);
    auto once = [ended, then] {
        if (!*ended) {
            *ended = true;
            then();
        }
    };
    connect(recorder.get(), &ItemRecorder::finished, this, once, Qt::SingleShotConnection);
    connect(recorder.get(), &ItemRecorder::failedToStart, this, once, Qt::SingleShotConnection);
    recorder->stop();
}

void AudioOverlayPanel::recordButtonClicked()
{
    if (recordButton->property("tag").toInt() != 0) {
        recorder->stop();
        return;
    }
    const int row = selectedRow();
    if (row < 0 || row >= projectItems.size() || !openProject() || host->isBusy() || isRecording())
        return;
    // The recording is this item's, by id, until it is saved or given up.
    const int id = projectItems[row].id;
    if (itemDirty && id != recordingItemId)
        return;
    recordingItemId = id;
    stopReview();
    // The recorder replaces the file only once the sound server has taken the recording, so
    // that a failed start leaves an unsaved recording as it was.
    recorder->startRecording(recordingFile());
    lockForRecording(true);
}

void AudioOverlayPanel::lockForRecording(bool locked)
{
    // The item may not change while it is recorded: no other selection, no new project.
    for (QWidget *control :
         {static_cast<QWidget *>(overlayTableView), navigationControl,
          static_cast<QWidget *>(text2SpeechButton), static_cast<QWidget *>(attachAudioButton)})
        enable(control, !locked);
    if (!locked)
        enable(navigationControl, !projectItems.isEmpty());
    emit projectChanged();
}

void AudioOverlayPanel::recordingStarted()
{
    labelRecordTime->show();
    buttonRecordPause->show();
    setTitle(recordButton, tr("Stop"));
    PlayerImages::setImage(recordButton, QStringLiteral("ButtonStop17"));
    recordButton->setProperty("tag", 1);
    showRecordingTime(0);
}

void AudioOverlayPanel::recordingFailedToStart(const QString &reason)
{
    lockForRecording(false);
    if (!itemDirty)
        recordingItemId = -1;
    else
        reviewRecording();
    WarningSheet::show(window(), tr("Could not initialize audio recorder"), reason);
}

void AudioOverlayPanel::onPauseRecordClicked()
{
    if (buttonRecordPause->property("tag").toInt() != 1)
        recorder->pause();
    else
        recorder->resume();
}

void AudioOverlayPanel::recordingFinished(const QString &error)
{
    buttonRecordPause->hide();
    setTitle(recordButton, tr("Record"));
    PlayerImages::setImage(recordButton, QStringLiteral("ButtonRecord"));
    recordButton->setProperty("tag", 0);
    buttonRecordPause->setProperty("tag", 0);
    PlayerImages::setImage(buttonRecordPause, QStringLiteral("ButtonPause17"));
    setTitle(buttonRecordPause, tr("Pause"));
    lockForRecording(false);
    if (!error.isEmpty()) {
        WarningSheet::show(window(), tr("Error while recording audio"), error);
        return;
    }
    itemDirty = true;
    reviewRecording();
    emit documentChanged();
}

void AudioOverlayPanel::reviewRecording()
{
    stopReview();
    const double duration = AIFFFile::duration(recordingFile());
    if (!(duration > 0))
        return;
    audioPlayer = std::make_unique<AudioClipPlayer>();
    connect(audioPlayer.get(), &AudioClipPlayer::finished, this, [this] {
        PlayerImages::setImage(audioPlayButton, QStringLiteral("ButtonPlay17"));
        audioPlayButton->setProperty("tag", 0);
    });
    enable(audioPlayButton, true);
    enable(audioSaveButton, itemDirty);
    showRecordingTime(qint64(std::llround(duration)));
}

void AudioOverlayPanel::discardRecording()
{
    itemDirty = false;
    recordingItemId = -1;
}

void AudioOverlayPanel::stopReview()
{
    if (audioPlayer)
        audioPlayer->stop();
    audioPlayer.reset();
    audioPlayButton->setProperty("tag", 0);
    PlayerImages::setImage(audioPlayButton, QStringLiteral("ButtonPlay17"));
}

void AudioOverlayPanel::audioPlayButtonClicked()
{
    if (!audioPlayer)
        return;
    if (audioPlayButton->property("tag").toInt() != 1) {
        PlayerImages::setImage(audioPlayButton, QStringLiteral("ButtonStop17"));
        audioPlayer->playFile(recordingFile());
    } else {
        PlayerImages::setImage(audioPlayButton, QStringLiteral("ButtonPlay17"));
        audioPlayer->stop();
    }
    audioPlayButton->setProperty("tag", 1 - audioPlayButton->property("tag").toInt());
}

void AudioOverlayPanel::audioSaveButtonClicked()
{
    if (itemDirty && recordingItemId >= 0)
        saveItemAudio(recordingItemId);
}

void AudioOverlayPanel::saveItemAudio(int itemId)
{
    if (!openProject() || itemId < 0)
        return;
    // Whole milliseconds, as the project keeps them.
    const int duration = int(std::llround(AIFFFile::duration(recordingFile())));
    // An empty recording would read as "no audio" and lose the item's audio for nothing.
    if (duration <= 0) {
        WarningSheet::show(window(), tr("Error while saving audio"), tr("Nothing was recorded."));
        return;
    }
    QFile file(recordingFile());
    if (!file.open(QIODevice::ReadOnly)) {
        WarningSheet::show(window(), tr("Error while saving audio"), file.errorString());
        return;
    }
    try {
        openProject()->updateItemAudio(itemId, file.readAll(), duration);
    } catch (const VSError &error) {
        WarningSheet::show(window(), tr("Error while saving audio"), error.message);
        enable(audioSaveButton, true);
        return;
    }
    itemDirty = false;
    isProjectDirty = true;
    enable(audioSaveButton, false);
    if (const int row = rowOf(itemId); row >= 0) {
        projectItems[row].audioDuration = duration;
        model->reloadAudio(row);
    }
    noteModified();
    emit projectChanged();
}

void AudioOverlayPanel::askToSaveItem(int itemId)
{
    // Asked once: whatever the answer, the recording is no longer pending.
    itemDirty = false;
    recordingItemId = -1;
    auto *alert = new QMessageBox(QMessageBox::Question, savePrompt, savePrompt,
                                  QMessageBox::Yes | QMessageBox::No, window());
    const int row = rowOf(itemId);
    if (row >= 0)
        alert->setInformativeText(tr("The recording is for item %1: \"%2\".")
                                      .arg(projectItems[row].id)
                                      .arg(projectItems[row].text));
    alert->setWindowModality(Qt::ApplicationModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(alert, &QMessageBox::finished, this, [this, itemId](int result) {
        if (result != QMessageBox::Yes)
            return;
        // Stored on the item it was recorded for; a store that fails leaves it pending.
        itemDirty = true;
        recordingItemId = itemId;
        saveItemAudio(itemId);
        emit documentChanged();
    });
    alert->show();
    emit documentChanged();
}
