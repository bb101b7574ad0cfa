#include "AudioOverlayTTSController.h"

#include "Overlay/Project.h"
#include "Speech/SpeechWorkerPool.h"
#include "TextToSpeechView.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

AudioOverlayTTSController::AudioOverlayTTSController(Project *project, QList<ProjectItem> &items,
                                                     int selectedRow, UserSettings &settings,
                                                     QWidget *parent)
    : QDialog(parent)
    , items(items)
    , selectedRow(selectedRow)
{
    setWindowTitle(tr("Text to Speech"));
    setWindowModality(Qt::WindowModal);
    if (project) {
        batch = std::make_unique<OverlaySpeechBatch>(*project, items, *this);
        batch->setJobs(SpeechWorkerPool::defaultJobs());
    }

    auto *layout = new QVBoxLayout(this);
    auto *about = new QLabel(tr("Give the selected item, or every item, the chosen voice's "
                                "speech of its text."),
                             this);
    about->setWordWrap(true);
    layout->addWidget(about);
    text2SpeechView = new TextToSpeechView(settings, this);
    layout->addWidget(text2SpeechView);
    taskLabel = new QLabel(this);
    taskLabel->setTextFormat(Qt::PlainText);
    taskLabel->setAccessibleName(tr("Item being spoken"));
    taskLabel->setWordWrap(true);
    layout->addWidget(taskLabel);
    bar = new QProgressBar(this);
    bar->setAccessibleName(tr("Progress"));
    bar->setTextVisible(false);
    bar->hide();
    layout->addWidget(bar);

    auto *buttons = new QDialogButtonBox(this);
    selectedButton = buttons->addButton(tr("Selected Item"), QDialogButtonBox::AcceptRole);
    allButton = buttons->addButton(tr("All Items"), QDialogButtonBox::AcceptRole);
    cancelButton = buttons->addButton(QDialogButtonBox::Cancel);
    for (QPushButton *button : {selectedButton, allButton, cancelButton})
        button->setAccessibleName(button->text().remove(u'&'));
    connect(selectedButton, &QPushButton::clicked, this,
            &AudioOverlayTTSController::selectedItemButtonClicked);
    connect(allButton, &QPushButton::clicked, this,
            &AudioOverlayTTSController::allItemsButtonClicked);
    connect(cancelButton, &QPushButton::clicked, this,
            &AudioOverlayTTSController::cancelButtonClicked);
    layout->addWidget(buttons);
    setMinimumWidth(520);
}

AudioOverlayTTSController::~AudioOverlayTTSController()
{
    if (batch) {
        batch->finishStoring();
        noteDirty();
        batch.reset();
    }
}

void AudioOverlayTTSController::noteDirty()
{
    if (batch && batch->isProjectDirty && !dirtyReported) {
        dirtyReported = true;
        if (onProjectDirty)
            onProjectDirty();
    }
}

void AudioOverlayTTSController::selectedItemButtonClicked()
{
    if (!batch)
        return closeSheet();
    selectedButton->setEnabled(false);
    allButton->setEnabled(false);
    batch->selectedItemButtonClicked(selectedRow, text2SpeechView->selectedVoice());
}

void AudioOverlayTTSController::allItemsButtonClicked()
{
    if (!batch)
        return closeSheet();
    selectedButton->setEnabled(false);
    allButton->setEnabled(false);
    batch->allItemsButtonClicked(selectedRow, text2SpeechView->selectedVoice());
}

void AudioOverlayTTSController::cancelButtonClicked()
{
    if (batch)
        batch->cancelButtonClicked();
    else
        closeSheet();
}

void AudioOverlayTTSController::setLabel(const QString &text)
{
    taskLabel->setText(text);
}

void AudioOverlayTTSController::setProgress(bool indeterminate, double maximum, double value)
{
    bar->show();
    bar->setRange(0, indeterminate ? 0 : int(maximum));
    bar->setValue(int(value));
}

void AudioOverlayTTSController::closeSheet()
{
    noteDirty();
    accept();
}

void AudioOverlayTTSController::showAlert(const QString &title, const QString &message)
{
    if (onAlert)
        onAlert(title, message);
}

void AudioOverlayTTSController::reloadTable()
{
    noteDirty();
    if (onReloadTable)
        onReloadTable();
}

void AudioOverlayTTSController::refreshControls()
{
    if (onRefreshControls)
        onRefreshControls();
}
