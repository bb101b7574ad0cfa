#include "AudioOverlayPanel.h"

#include "Audio/MicrophoneRecorder.h"
#include "AudioClipPlayer.h"
#include "AudioOverlayTTSController.h"
#include "AudioOverlayTableModel.h"
#include "AudioOverlayTableView.h"
#include "MainThread.h"
#include "OpenPanel.h"
#include "Overlay/Project.h"
#include "PlayerImages.h"
#include "Speech/AIFFFile.h"
#include "Subtitles/SubtitlesParser.h"
#include "Subtitles/Utils.h"
#include "SubtitlesPlayingListener.h"
#include "VSError.h"
#include "VideoPlayerView.h"
#include "VideoProcessor/VideoProcessor.h"
#include "ViewController.h"
#include "WorkingFolder.h"

#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

namespace {

QPushButton *button(const QString &title, QWidget *parent)
{
    auto *pushButton = new QPushButton(title, parent);
    pushButton->setAccessibleName(title);
    return pushButton;
}

void setTitle(QPushButton *button, const QString &title)
{
    button->setText(title);
    button->setAccessibleName(title);
}

} // namespace

AudioOverlayPanel::AudioOverlayPanel(ViewController *viewController, UserSettings &settings,
                                     QWidget *parent)
    : QWidget(parent)
    , viewController(viewController)
    , settings(settings)
{
    buildInterface();
    updateItemControls();
}

AudioOverlayPanel::~AudioOverlayPanel()
{
    if (playingListener)
        viewController->playerView()->removeTimeListener(playingListener.get());
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
            [this] {
                const int row = selectedRow();
                // Leaving an item whose recording is not saved asks first (once).
                if (itemDirty && shownRow >= 0 && shownRow < projectItems.size() && shownRow != row)
                    askToSaveItem(shownRow, projectItems[shownRow].id);
                showItem(row);
                updateItemControls();
            });
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
    subtitleItemTextView->setToolTip(tr("The text of the selected item"));
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

    meterUpdateTimer = new QTimer(this);
    meterUpdateTimer->setInterval(100);
    connect(meterUpdateTimer, &QTimer::timeout, this, [this] {
        if (!recorder || recorder->isPaused())
            return;
        countRecordedTime();
        showRecordingTime(qint64(recordedTime));
    });
    mediaClock.start();
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
    return WorkingFolder::overlayAudioFile();
}

bool AudioOverlayPanel::hasItemsWithAudio() const
{
    return openProject && openProject->hasItemsWithAudio();
}

int AudioOverlayPanel::selectedRow() const
{
    const QModelIndexList rows = overlayTableView->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void AudioOverlayPanel::clearDirtyFlags()
{
    isProjectDirty = false;
    itemDirty = false;
}

// Building the project

void AudioOverlayPanel::loadToOverlayClicked()
{
    if (!isProjectDirty) {
        loadToOverlay();
        return;
    }
    auto *alert = new QMessageBox(QMessageBox::Warning, overwritePrompt, overwritePrompt,
                                  QMessageBox::Yes | QMessageBox::No, window());
    alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(alert, &QMessageBox::finished, this, [this](int result) {
        if (result != QMessageBox::Yes)
            return;
        clearDirtyFlags();
        loadToOverlay();
    });
    alert->open();
}

void AudioOverlayPanel::loadToOverlay()
{
    viewController->selectOverlayTab();
    stopReview();
    projectItems.clear();
    model->reloadData();
    shownRow = -1;
    building = true;
    placeSpinner();
    loadingAnimationView->show();
    loadingAnimationView->raise();
    const QString video = viewController->playerView()->videoFile().value_or(QString());
    // The window's connection to the old project goes first, so that its file can be replaced.
    openProject.reset();
    updateItemControls();
    emit projectChanged();
    const QPointer<AudioOverlayPanel> self(this);
    QThreadPool::globalInstance()->start([self, video] {
        std::shared_ptr<Project> built;
        QList<ProjectItem> items;
        QString error;
        try {
            const QString file = WorkingFolder::projectFile();
            if (QFile::exists(file) && !QFile::remove(file))
                throw VSError(QStringLiteral("Could not remove '%1'").arg(file));
            built = std::make_shared<Project>(file);
            built->setInputVideo(video);
            const std::optional<SubtitlesParser> parsed =
                SubtitlesParser::fromFile(WorkingFolder::subtitlesFile());
            if (!parsed)
                throw VSError(QStringLiteral("Could not parse subtitles"));
            built->insertSubtitles(parsed->subtitles);
            items = built->getAllItems();
        } catch (const VSError &failure) {
            error = failure.message;
            built.reset();
        }
        MainThread::post([self, built, items, error] {
            if (self)
                self->projectBuilt(built, items, error);
        });
    });
}

void AudioOverlayPanel::projectBuilt(std::shared_ptr<Project> built,
                                     const QList<ProjectItem> &items, const QString &error)
{
    building = false;
    loadingAnimationView->hide();
    openProject = std::move(built);
    projectItems = items;
    model->reloadData();
    overlayTableView->clearSelection();
    overlayTableView->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    updateItemControls();
    emit projectChanged();
    if (!error.isEmpty())
        viewController->showWarningSheet(tr("Error"), error);
}

// The table and the item panel

void AudioOverlayPanel::showItem(int row)
{
    if (row < 0 || row >= projectItems.size() || !openProject)
        return;
    shownRow = row;
    const ProjectItem &item = projectItems[row];
    const int slot = item.end - item.start;
    labelRecordTime->setProperty("tag", slot);
    labelSubtitlesTime->setText(Utils::shortTimeString(slot));
    subtitleItemTextView->setText(item.text);
    stopReview();
    showRecordingTime(item.audioDuration);
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
    audioPlayButton->setEnabled(false);
    audioSaveButton->setEnabled(false);
    for (QPushButton *control :
         {recordButton, text2SpeechButton, attachAudioButton, subtitleVideoButton})
        control->setEnabled(selected);
    nextButton->setEnabled(!projectItems.isEmpty() && row < projectItems.size() - 1);
    previousButton->setEnabled(row >= 1);
    navigationControl->setEnabled(!projectItems.isEmpty());
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
    if (!openProject || column < 0)
        return;
    if (!openProject->setSortedBy(AudioOverlayTableModel::sortKey(column)))
        return;
    openProject->sortedAsc = order == Qt::AscendingOrder;
    projectItems = openProject->getAllItems();
    shownRow = -1;
    model->reloadData();
    updateItemControls();
}

void AudioOverlayPanel::playItemAudio(int column, int row)
{
    if (itemAudioPlayer)
        itemAudioPlayer->stop();
    if (column != AudioOverlayTableModel::AudioColumn || row < 0 || row >= projectItems.size() ||
        projectItems[row].audioDuration == 0 || !openProject)
        return;
    const std::optional<QByteArray> audio = openProject->getItemAudio(projectItems[row].id);
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
    VideoPlayerView *player = viewController->playerView();
    if (playingListener)
        player->removeTimeListener(playingListener.get());
    playingListener = std::make_shared<SubtitlesPlayingListener>(player, projectItems[row].end);
    player->addTimeListener(playingListener);
    player->seek(projectItems[row].start);
    player->play();
}

void AudioOverlayPanel::text2SpeechButtonClicked()
{
    auto *sheet = new AudioOverlayTTSController(openProject.get(), projectItems, selectedRow(),
                                                settings, window());
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    const QPointer<AudioOverlayPanel> self(this);
    sheet->onAlert = [self](const QString &title, const QString &message) {
        if (self)
            self->viewController->showWarningSheet(title, message);
    };
    sheet->onReloadTable = [self] {
        if (self)
            self->model->reloadAudioColumn();
    };
    sheet->onRefreshControls = [self] {
        if (self)
            emit self->projectChanged();
    };
    sheet->onProjectDirty = [self] {
        if (self) {
            self->isProjectDirty = true;
            self->model->reloadAudioColumn();
            emit self->projectChanged();
        }
    };
    sheet->open();
}

// Attaching a file

void AudioOverlayPanel::overlayAttachAudioFileClicked()
{
    const int row = selectedRow();
    OpenPanel::open(window(), tr("Select a Audio file"), tr("Audio"),
                    AudioOverlayTableView::audioFileTypes, this,
                    [this, row](const QString &path) { attachAudio(path, row); });
}

void AudioOverlayPanel::attachAudio(const QString &path, int row)
{
    if (viewController->isBusy() || row < 0 || row >= projectItems.size() || !openProject)
        return;
    const int id = projectItems[row].id;
    const std::shared_ptr<Project> target = openProject;
    const QPointer<AudioOverlayPanel> self(this);
    QThreadPool::globalInstance()->start([self, target, path, id] {
        QString failure;
        int duration = 0;
        try {
            const QString converted = WorkingFolder::projectItemFile();
            if (!VideoProcessor::convertToPCMAudio(path, converted)) {
                failure = QStringLiteral("Error while processing the audio file");
            } else {
                try {
                    duration = target->saveItemAudioFile(id, converted);
                } catch (const VSError &) {
                    failure = QStringLiteral("Error while attaching audio from the selected file");
                }
            }
        } catch (const VSError &) {
            failure = QStringLiteral("Error while processing the audio file");
        }
        MainThread::post([self, target, id, duration, failure] {
            if (!self)
                return;
            if (!failure.isEmpty()) {
                self->viewController->showWarningSheet(failure, QString());
                return;
            }
            if (target != self->openProject)
                return;
            self->isProjectDirty = true;
            for (int row = 0; row < self->projectItems.size(); ++row)
                if (self->projectItems[row].id == id) {
                    self->projectItems[row].audioDuration = duration;
                    self->model->reloadAudio(row);
                }
            if (self->shownRow >= 0 && self->shownRow < self->projectItems.size() &&
                self->projectItems[self->shownRow].id == id)
                self->showRecordingTime(duration);
            emit self->projectChanged();
        });
    });
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

void AudioOverlayPanel::countRecordedTime()
{
    const double now = double(mediaClock.nsecsElapsed()) / 1e6;
    recordedTime += now - recordingStartTime;
    recordingStartTime = now;
}

void AudioOverlayPanel::recordButtonClicked()
{
    if (recordButton->property("tag").toInt() != 0) {
        if (recorder && recorder->isRecording()) {
            // The meter counts up to the stop, not to its last tick.
            if (!recorder->isPaused())
                countRecordedTime();
            meterUpdateTimer->stop();
            recorder->stopRecording();
        }
        return;
    }
    stopReview();
    QFile::remove(recordingFile());
    if (!recorder) {
        recorder = std::make_unique<MicrophoneRecorder>();
        connect(recorder.get(), &MicrophoneRecorder::started, this,
                &AudioOverlayPanel::recordingStarted);
        connect(recorder.get(), &MicrophoneRecorder::paused, this, [this] {
            buttonRecordPause->setProperty("tag", 1);
            PlayerImages::setImage(buttonRecordPause, QStringLiteral("ButtonPlay17"));
            setTitle(buttonRecordPause, tr("Resume"));
        });
        connect(recorder.get(), &MicrophoneRecorder::resumed, this, [this] {
            buttonRecordPause->setProperty("tag", 0);
            PlayerImages::setImage(buttonRecordPause, QStringLiteral("ButtonPause17"));
            setTitle(buttonRecordPause, tr("Pause"));
        });
        connect(recorder.get(), &MicrophoneRecorder::finished, this,
                &AudioOverlayPanel::recordingFinished);
        connect(recorder.get(), &MicrophoneRecorder::failedToStart, this,
                [this](const QString &reason) {
                    viewController->showWarningSheet(tr("Could not initialize audio recorder"),
                                                     reason);
                });
    }
    recorder->startRecording(recordingFile());
}

void AudioOverlayPanel::recordingStarted()
{
    labelRecordTime->show();
    buttonRecordPause->show();
    setTitle(recordButton, tr("Stop"));
    PlayerImages::setImage(recordButton, QStringLiteral("ButtonStop17"));
    recordButton->setProperty("tag", 1);
    recordingStartTime = double(mediaClock.nsecsElapsed()) / 1e6;
    recordedTime = 0;
    showRecordingTime(0);
    meterUpdateTimer->start();
}

void AudioOverlayPanel::onPauseRecordClicked()
{
    if (!recorder)
        return;
    if (buttonRecordPause->property("tag").toInt() != 1) {
        // The time since the last tick counts: the meter stops at the pause, not at its last tick.
        if (!recorder->isPaused())
            countRecordedTime();
        recorder->pauseRecording();
    } else {
        // The pause does not count: the meter goes on from now.
        recordingStartTime = double(mediaClock.nsecsElapsed()) / 1e6;
        recorder->resumeRecording();
    }
}

void AudioOverlayPanel::recordingFinished(const QString &error)
{
    meterUpdateTimer->stop();
    buttonRecordPause->hide();
    setTitle(recordButton, tr("Record"));
    PlayerImages::setImage(recordButton, QStringLiteral("ButtonRecord"));
    recordButton->setProperty("tag", 0);
    buttonRecordPause->setProperty("tag", 0);
    PlayerImages::setImage(buttonRecordPause, QStringLiteral("ButtonPause17"));
    setTitle(buttonRecordPause, tr("Pause"));
    if (!error.isEmpty()) {
        viewController->showWarningSheet(tr("Error while recording audio"), error);
        return;
    }
    itemDirty = true;
    reviewRecording();
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
    audioPlayButton->setEnabled(true);
    audioSaveButton->setEnabled(true);
    showRecordingTime(qint64(std::llround(duration)));
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
    const int row = selectedRow();
    if (row >= 0 && row < projectItems.size())
        saveItemAudio(row, projectItems[row].id);
}

void AudioOverlayPanel::saveItemAudio(int row, int itemId)
{
    if (!openProject)
        return;
    // Whole milliseconds, as the project keeps them.
    const int duration = int(std::llround(AIFFFile::duration(recordingFile())));
    // An empty recording would read as "no audio" and lose the item's audio for nothing.
    if (duration <= 0) {
        viewController->showWarningSheet(tr("Error while saving audio"),
                                         tr("Nothing was recorded."));
        return;
    }
    QFile file(recordingFile());
    if (!file.open(QIODevice::ReadOnly)) {
        viewController->showWarningSheet(tr("Error while saving audio"), file.errorString());
        return;
    }
    try {
        openProject->updateItemAudio(itemId, file.readAll(), duration);
    } catch (const VSError &error) {
        viewController->showWarningSheet(tr("Error while saving audio"), error.message);
        audioSaveButton->setEnabled(true);
        return;
    }
    itemDirty = false;
    isProjectDirty = true;
    audioSaveButton->setEnabled(false);
    if (const std::optional<ProjectItem> item = openProject->getItem(row);
        item && row < projectItems.size()) {
        projectItems[row] = *item;
        model->reloadAudio(row);
    }
    emit projectChanged();
}

void AudioOverlayPanel::askToSaveItem(int row, int itemId)
{
    // Asked once: whatever the answer, the recording is no longer pending.
    itemDirty = false;
    auto *alert = new QMessageBox(QMessageBox::Question, savePrompt, savePrompt,
                                  QMessageBox::Yes | QMessageBox::No, window());
    alert->setWindowModality(Qt::ApplicationModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(alert, &QMessageBox::finished, this, [this, row, itemId](int result) {
        if (result == QMessageBox::Yes)
            saveItemAudio(row, itemId);
    });
    alert->show();
}
