#include "OptionsViewController.h"
#include "WarningSheet.h"

#include "DesktopServices.h"
#include "MainWindow/MakePlan.h"
#include "Settings/UserSettings.h"
#include "VideoProcessor/OutputOptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>

OptionsViewController::OptionsViewController(UserSettings &settings, const QString &videoPath,
                                             QWidget *parent)
    : QDialog(parent)
    , settings(settings)
{
    setWindowTitle(tr("Options"));
    buildInterface();
    loadSettings(videoPath);
    // Connected once the stored states are shown, so that showing them stores nothing.
    connectControls();
}

void OptionsViewController::buildInterface()
{
    auto *folderBox = new QGroupBox(tr("Output folder"), this);
    outputFolderField = new QLineEdit(folderBox);
    outputFolderField->setReadOnly(true);
    outputFolderField->setAccessibleName(tr("Output folder"));
    outputFolderField->setMinimumWidth(fontMetrics().averageCharWidth() * 48);
    auto *chooseButton = new QPushButton(tr("Choose..."), folderBox);
    chooseButton->setObjectName(QStringLiteral("chooseFolderButton"));
    chooseButton->setAutoDefault(false);
    auto *showButton = new QPushButton(tr("Show in Folder"), folderBox);
    showButton->setObjectName(QStringLiteral("showInFolderButton"));
    showButton->setAutoDefault(false);
    connect(chooseButton, &QPushButton::clicked, this, &OptionsViewController::selectFolderClicked);
    connect(showButton, &QPushButton::clicked, this, &OptionsViewController::showInFolderClicked);
    auto *folderLayout = new QHBoxLayout(folderBox);
    folderLayout->addWidget(outputFolderField, 1);
    folderLayout->addWidget(chooseButton);
    folderLayout->addWidget(showButton);

    auto *audioBox = new QGroupBox(tr("Audio"), this);
    auto *volumeLabel = new QLabel(tr("Original audio under the speech:"), audioBox);
    volumeSlider = new QSlider(Qt::Horizontal, audioBox);
    volumeSlider->setRange(0, 100);
    volumeSlider->setPageStep(10);
    volumeSlider->setAccessibleName(tr("Original audio under the speech"));
    volumeSlider->setToolTip(tr("How loud the video's own audio stays where the speech is "
                                "mixed into it"));
    volumeLabel->setBuddy(volumeSlider);
    volumeValueLabel = new QLabel(audioBox);
    // Wide enough for "100%", so that the slider does not move while it is dragged.
    volumeValueLabel->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("100%")));
    volumeValueLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    newAudioStreamBox =
        new QCheckBox(tr("Add the speech as a new audio stream, keeping the original"), audioBox);
    defaultAudioStreamBox =
        new QCheckBox(tr("Make the audio stream with the speech the default"), audioBox);
    maximizeOutputVolumeBox =
        new QCheckBox(tr("Raise the finished video's volume to the maximum"), audioBox);
    keepSpeechInSyncBox = new QCheckBox(tr("Keep the speech in sync"), audioBox);
    keepSpeechInSyncBox->setToolTip(
        tr("Fit each line into its time and up to a second of the quiet after it, playing what "
           "is still too long up to 1.25 times as fast, rather than only speaking faster"));
    duckOriginalAudioBox =
        new QCheckBox(tr("Lower the original only while the voice speaks"), audioBox);
    auto explanation = [audioBox] {
        auto *label = new QLabel(audioBox);
        label->setTextFormat(Qt::PlainText);
        label->setIndent(24);
        label->setEnabled(false); // drawn in the muted colour of a hint
        return label;
    };
    mixLineLabel = explanation();
    auto *loudnessLabel = new QLabel(tr("Loudness target:"), audioBox);
    loudnessTargetBox = new QComboBox(audioBox);
    loudnessTargetBox->addItem(tr("Off"), 0);
    loudnessTargetBox->addItem(tr("-23 LUFS (broadcast, EBU R128)"), -23);
    loudnessTargetBox->addItem(tr("-16 LUFS (online video)"), -16);
    loudnessTargetBox->setAccessibleName(tr("Loudness target"));
    loudnessLabel->setBuddy(loudnessTargetBox);
    loudnessLineLabel = explanation();
    auto *audioLayout = new QGridLayout(audioBox);
    audioLayout->addWidget(volumeLabel, 0, 0);
    audioLayout->addWidget(volumeSlider, 0, 1);
    audioLayout->addWidget(volumeValueLabel, 0, 2);
    audioLayout->addWidget(duckOriginalAudioBox, 1, 0, 1, 3);
    audioLayout->addWidget(mixLineLabel, 2, 0, 1, 3);
    audioLayout->addWidget(newAudioStreamBox, 3, 0, 1, 3);
    audioLayout->addWidget(defaultAudioStreamBox, 4, 0, 1, 3);
    audioLayout->addWidget(loudnessLabel, 5, 0);
    audioLayout->addWidget(loudnessTargetBox, 5, 1, 1, 2, Qt::AlignLeft);
    audioLayout->addWidget(maximizeOutputVolumeBox, 6, 0, 1, 3);
    audioLayout->addWidget(loudnessLineLabel, 7, 0, 1, 3);
    audioLayout->addWidget(keepSpeechInSyncBox, 8, 0, 1, 3);
    audioLayout->setColumnStretch(1, 1);

    auto *subtitlesBox = new QGroupBox(tr("Subtitles"), this);
    newSubtitlesStreamBox = new QCheckBox(tr("Add the subtitles as a stream"), subtitlesBox);
    defaultSubtitlesStreamBox =
        new QCheckBox(tr("Make the chosen subtitles stream the default"), subtitlesBox);
    auto *subtitlesLayout = new QVBoxLayout(subtitlesBox);
    subtitlesLayout->addWidget(newSubtitlesStreamBox);
    subtitlesLayout->addWidget(defaultSubtitlesStreamBox);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(folderBox);
    layout->addWidget(audioBox);
    layout->addWidget(subtitlesBox);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void OptionsViewController::loadSettings(const QString &videoPath)
{
    outputFolderField->setText(settings.outputFolder());
    const int volume = settings.volume();
    volumeSlider->setValue(volume);
    // The stored value, even one outside the slider's range that the slider cannot show.
    volumeValueLabel->setText(QString::number(volume) + u'%');

    newSubtitlesStreamBox->setChecked(settings.boolValue(UserSettings::newSubtitlesStreamKey));
    defaultSubtitlesStreamBox->setChecked(
        settings.boolValue(UserSettings::defaultSubtitlesStreamKey));
    newAudioStreamBox->setChecked(settings.boolValue(UserSettings::newAudioStreamKey));
    defaultAudioStreamBox->setChecked(settings.boolValue(UserSettings::defaultAudioStreamKey));

    // The same rule as the window's Make, which ignores what is greyed out here.
    const OutputOptions::Availability available =
        OutputOptions::availability(videoPath, newSubtitlesStreamBox->isChecked());
    newAudioStreamBox->setEnabled(available.newAudioStream);
    defaultAudioStreamBox->setEnabled(available.defaultAudioStream);
    newSubtitlesStreamBox->setEnabled(available.newSubtitlesStream);
    defaultSubtitlesStreamBox->setEnabled(available.defaultSubtitlesStream);

    // Read as a make reads them: a stored target wins over the maximize option.
    const OutputOptions stored = OutputOptions::fromSettings(settings);
    maximizeOutputVolumeBox->setChecked(stored.maximizeOutputVolume);
    keepSpeechInSyncBox->setChecked(settings.boolValue(UserSettings::keepSpeechInSyncKey));
    duckOriginalAudioBox->setChecked(stored.duckOriginalAudio);
    loudnessTargetBox->setCurrentIndex(
        std::max(0, loudnessTargetBox->findData(stored.loudnessTarget.value_or(0))));
    updateExplanations();
}

void OptionsViewController::updateExplanations()
{
    OutputOptions shown;
    shown.volume = volumeSlider->value();
    shown.duckOriginalAudio = duckOriginalAudioBox->isChecked();
    shown.maximizeOutputVolume = maximizeOutputVolumeBox->isChecked();
    if (const int target = loudnessTargetBox->currentData().toInt(); target != 0)
        shown.loudnessTarget = target;
    mixLineLabel->setText(MakePlan::mixLine(shown));
    QString loudness = MakePlan::loudnessLine(shown);
    loudness[0] = loudness[0].toUpper();
    loudnessLineLabel->setText(loudness);
}

void OptionsViewController::loudnessTargetChosen(int index)
{
    const int target = loudnessTargetBox->itemData(index).toInt();
    settings.setLoudnessTarget(target != 0 ? std::optional<int>(target) : std::nullopt);
    // A target and raising the peak to full scale exclude each other.
    if (target != 0 && maximizeOutputVolumeBox->isChecked())
        maximizeOutputVolumeBox->setChecked(false);
    updateExplanations();
}

void OptionsViewController::maximizeVolumeClicked(bool on)
{
    settings.setBool(UserSettings::maximizeOutputVolumeKey, on);
    if (on && loudnessTargetBox->currentIndex() != 0)
        loudnessTargetBox->setCurrentIndex(0);
    updateExplanations();
}

void OptionsViewController::connectControls()
{
    connect(volumeSlider, &QSlider::valueChanged, this, &OptionsViewController::volumeClicked);
    connect(newSubtitlesStreamBox, &QCheckBox::toggled, this,
            &OptionsViewController::renderSubtitlesClicked);
    auto store = [this](QCheckBox *box, const QString &key) {
        connect(box, &QCheckBox::toggled, this,
                [this, key](bool on) { settings.setBool(key, on); });
    };
    store(defaultSubtitlesStreamBox, UserSettings::defaultSubtitlesStreamKey);
    store(newAudioStreamBox, UserSettings::newAudioStreamKey);
    store(defaultAudioStreamBox, UserSettings::defaultAudioStreamKey);
    store(keepSpeechInSyncBox, UserSettings::keepSpeechInSyncKey);
    store(duckOriginalAudioBox, UserSettings::duckOriginalAudioKey);
    connect(maximizeOutputVolumeBox, &QCheckBox::toggled, this,
            &OptionsViewController::maximizeVolumeClicked);
    connect(duckOriginalAudioBox, &QCheckBox::toggled, this,
            &OptionsViewController::updateExplanations);
    connect(loudnessTargetBox, &QComboBox::currentIndexChanged, this,
            &OptionsViewController::loudnessTargetChosen);
}

void OptionsViewController::volumeClicked(int value)
{
    volumeValueLabel->setText(QString::number(value) + u'%');
    settings.setInteger(UserSettings::volumeKey, value);
    updateExplanations();
}

void OptionsViewController::renderSubtitlesClicked(bool on)
{
    settings.setBool(UserSettings::newSubtitlesStreamKey, on);
    applyDefaultSubtitlesRule();
}

void OptionsViewController::applyDefaultSubtitlesRule()
{
    defaultSubtitlesStreamBox->setEnabled(newSubtitlesStreamBox->isEnabled() &&
                                          newSubtitlesStreamBox->isChecked());
}

void OptionsViewController::selectFolderClicked()
{
    auto *dialog =
        new QFileDialog(this, tr("Select a Folder to save your video"), outputFolderField->text());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setLabelText(QFileDialog::Accept, tr("Select"));
    connect(dialog, &QFileDialog::fileSelected, this, &OptionsViewController::folderSelected);
    dialog->open();
}

void OptionsViewController::folderSelected(const QString &path)
{
    if (path.isEmpty())
        return;
    const QFileInfo folder(path);
    // A folder we cannot write to would be stored, shown here, and then passed over for the
    // default folder by every make.
    if (!folder.isDir() || !folder.isWritable()) {
        WarningSheet::show(this, tr("Cannot save videos there"),
                           tr("\"%1\" is not a folder you can write to. Choose another folder.")
                               .arg(QDir::toNativeSeparators(path)));
        return;
    }
    const QString absolute = folder.absoluteFilePath();
    settings.setOutputFolder(absolute);
    outputFolderField->setText(absolute);
}

void OptionsViewController::showInFolderClicked()
{
    const QString folder = outputFolderField->text();
    // The default folder need not exist until the first video goes into it.
    QDir().mkpath(folder);
    DesktopServices::showInFolder(folder);
}
