#include "ViewController.h"
#include "WarningSheet.h"

#include "AudioOverlayPanel.h"
#include "AudioOverlayTableView.h"
#include "DesktopServices.h"
#include "Jobs/MakeOutputChain.h"
#include "Jobs/MakeOutputDisplay.h"
#include "MakePlan.h"
#include "OpenPanel.h"
#include "OutputMaker.h"
#include "Overlay/Project.h"
#include "Settings/UserSettings.h"
#include "SpeechTab.h"
#include "Subtitles/Utils.h"
#include "Subtitles/WorkingSubtitles.h"
#include "SubtitlesDragablePopupButton.h"
#include "TextToSpeechView.h"
#include "VSError.h"
#include "VideoPlayerView.h"
#include "VideoProcessor/ContainerFormats.h"
#include "VideoProcessor/MediaProbe.h"
#include "VoiceDemo.h"
#include "WorkingFolder.h"

#include <QComboBox>
#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

namespace {

QComboBox *chooser(const QString &name, QWidget *parent)
{
    auto *box = new QComboBox(parent);
    box->setAccessibleName(name);
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(16);
    return box;
}

QPushButton *button(const QString &title, QWidget *parent)
{
    auto *pushButton = new QPushButton(title, parent);
    pushButton->setAccessibleName(title);
    // Space plays the video anywhere in the window: Enter presses a focused button.
    pushButton->setAutoDefault(true);
    return pushButton;
}

// The tag of a chooser's selected item, -1 when nothing is selected.
int selectedTag(const QComboBox *box)
{
    return box->currentIndex() < 0 ? -1 : box->currentData().toInt();
}

const QStringList &videoFileTypes()
{
    // The output containers' extensions, sorted once for the process.
    static const QStringList types = [] {
        QStringList keys = ContainerFormats::videoFileTypes();
        keys.sort();
        return keys;
    }();
    return types;
}

std::array<bool ViewController::ControlsStatus::*, 15> statusFields()
{
    using S = ViewController::ControlsStatus;
    return {&S::videoTrackPopupButton, &S::audioTrackPopupButton, &S::subtitlesTrackPopupButton,
            &S::loadToOverlayButton,   &S::demoVoiceButton,       &S::demoVoiceWithVideoButton,
            &S::overlayTableView,      &S::navigationControl,     &S::buttonRecordPause,
            &S::text2SpeechButton,     &S::attachAudioButton,     &S::audioPlayButton,
            &S::audioSaveButton,       &S::subtitleVideoButton,   &S::recordButton};
}

} // namespace

ViewController::ViewController(MakeOutputDisplay *progress, UserSettings &settings, QWidget *parent)
    : QWidget(parent)
    , settings(settings)
    , maker(std::make_unique<OutputMaker>(progress))
{
    connect(maker.get(), &OutputMaker::finished, this, &ViewController::makingFinished);
    connect(maker.get(), &OutputMaker::woundDown, this, &ViewController::updateMakeButtons);
    workingSubtitles = new WorkingSubtitles(this);
    connect(workingSubtitles, &WorkingSubtitles::prepared, this,
            &ViewController::subtitlesPrepared);
    buildInterface();
    voiceDemo = new VoiceDemo(videoPlayerView, this);
    connect(voiceDemo, &VoiceDemo::sentenceSpoken, this, &ViewController::demoSentenceSpoken);
    connect(voiceDemo, &VoiceDemo::startedWithVideo, this, &ViewController::demoWithVideoStarted);
    connect(voiceDemo, &VoiceDemo::failed, this, &ViewController::showWarningSheet);
    resetTrackPopups();
    connect(tabview, &QTabWidget::currentChanged, this, [this] {
        showSelectedTab();
        if (tabview->currentWidget()->objectName() == speechTabIdentifier)
            textToSpeechView->refreshLanguages();
    });
    showSelectedTab();
    updateControls();

    audioOverlayControlsBox->setControlEnabled = [this](QWidget *control, bool enabled) {
        setControlEnabled(control, enabled);
    };
    connect(videoPlayerView, &VideoPlayerView::playbackFailed, this, &ViewController::videoFailed);
    videoPlayerView->onFileDragged = [this](const QString &path) { openVideo(path); };
    subtitlesTrackPopupButton->onFileDragged = [this](const QString &path) {
        if (isBusy())
            return;
        addSubtitlesFile(path);
        loadSelectedSubtitles();
    };
    openFileFromFinder();
    if (settings.isFirstTimeRunning())
        settings.setBool(UserSettings::isFirstTimeRunningKey, false);
}

ViewController::~ViewController()
{
    stopDemoWithVideo();
    // A chain still running is cancelled and waited for: its jobs talk to this window.
    maker.reset();
}

void ViewController::buildInterface()
{
    videoPlayerView = new VideoPlayerView(this);

    voicesContainerView = new QWidget(this);
    auto *voices = new QVBoxLayout(voicesContainerView);
    auto *tracks = new QGroupBox(tr("Tracks"), voicesContainerView);
    auto *trackForm = new QFormLayout(tracks);
    videoTrackPopupButton = chooser(tr("Video track"), tracks);
    audioTrackPopupButton = chooser(tr("Audio track"), tracks);
    subtitlesTrackPopupButton = new SubtitlesDragablePopupButton(tracks);
    subtitlesTrackPopupButton->setAccessibleName(tr("Subtitles"));
    subtitlesTrackPopupButton->setSizeAdjustPolicy(
        QComboBox::AdjustToMinimumContentsLengthWithIcon);
    subtitlesTrackPopupButton->setMinimumContentsLength(16);
    subtitlesTrackPopupButton->setToolTip(tr("A subtitle stream of the video, or a subtitle file "
                                             "(open one, or drop it here)"));
    trackForm->addRow(tr("Video:"), videoTrackPopupButton);
    trackForm->addRow(tr("Audio:"), audioTrackPopupButton);
    trackForm->addRow(tr("Subtitles:"), subtitlesTrackPopupButton);
    voices->addWidget(tracks);

    auto *voiceBox = new QGroupBox(tr("Voice"), voicesContainerView);
    auto *voiceLayout = new QVBoxLayout(voiceBox);
    textToSpeechView = new TextToSpeechView(settings, voiceBox);
    voiceLayout->addWidget(textToSpeechView);
    auto *demos = new QHBoxLayout;
    demoVoiceButton = button(tr("Demo"), voiceBox);
    demoVoiceButton->setToolTip(tr("Hear the voice say a sentence"));
    demoVoiceWithVideoButton = button(tr("Demo with Video"), voiceBox);
    demoVoiceWithVideoButton->setProperty("tag", 0);
    demoVoiceWithVideoButton->setToolTip(tr("Play the video and hear its subtitles spoken"));
    demos->addWidget(demoVoiceButton);
    demos->addWidget(demoVoiceWithVideoButton);
    demos->addStretch();
    voiceLayout->addLayout(demos);
    voices->addWidget(voiceBox);
    loadToOverlayButton = button(tr("Load to Overlay"), voicesContainerView);
    loadToOverlayButton->setToolTip(tr("Make a voice-over project with one item per subtitle"));
    loadToOverlayButton->setFocusPolicy(Qt::TabFocus);
    voices->addWidget(loadToOverlayButton, 0, Qt::AlignLeft);
    voices->addStretch();

    videoContainerSplitView = new QSplitter(Qt::Horizontal);
    videoContainerSplitView->addWidget(videoPlayerView);
    videoContainerSplitView->addWidget(voicesContainerView);
    videoContainerSplitView->setStretchFactor(0, 1);
    videoContainerSplitView->setChildrenCollapsible(false);

    tabview = new QTabWidget(this);
    subtitles2SpeechControlsBox = new SpeechTab;
    subtitles2SpeechControlsBox->setObjectName(speechTabIdentifier);
    makeSTSButton = subtitles2SpeechControlsBox->makeButton();
    audioOverlayControlsBox = new AudioOverlayPanel(this, settings);
    audioOverlayControlsBox->setObjectName(overlayTabIdentifier);
    connect(audioOverlayControlsBox, &AudioOverlayPanel::projectChanged, this,
            &ViewController::updateControls);
    connect(audioOverlayControlsBox, &AudioOverlayPanel::overlayTabWanted, this,
            &ViewController::selectOverlayTab);
    connect(loadToOverlayButton, &QPushButton::clicked, audioOverlayControlsBox,
            &AudioOverlayPanel::loadToOverlayClicked);
    connect(audioOverlayControlsBox->makeAudioOverlayButton, &QPushButton::clicked, this,
            &ViewController::makeAudioOverlayClicked);
    tabview->addTab(subtitles2SpeechControlsBox, tr("Subtitles to Speech"));
    tabview->addTab(audioOverlayControlsBox, tr("Audio Overlay"));

    containerSplitView = new QSplitter(Qt::Vertical);
    containerSplitView->addWidget(videoContainerSplitView);
    containerSplitView->addWidget(tabview);
    containerSplitView->setChildrenCollapsible(false);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(containerSplitView);

    connect(videoTrackPopupButton, &QComboBox::activated, this, [this] {
        if (videoInfo && videoTrackPopupButton->currentIndex() >= 0)
            videoPlayerView->selectVideoTrack(selectedTag(videoTrackPopupButton));
    });
    connect(audioTrackPopupButton, &QComboBox::activated, this, [this] {
        if (videoInfo && audioTrackPopupButton->currentIndex() >= 0)
            videoPlayerView->selectAudioTrack(selectedTag(audioTrackPopupButton));
        updateControls();
    });
    connect(textToSpeechView, &TextToSpeechView::voiceChanged, this,
            &ViewController::updateControls);
    connect(subtitlesTrackPopupButton, &QComboBox::activated, this, [this] {
        if (videoInfo)
            loadSelectedSubtitles();
    });
    connect(demoVoiceButton, &QPushButton::clicked, this, &ViewController::demoVoiceButtonClicked);
    connect(demoVoiceWithVideoButton, &QPushButton::clicked, this,
            &ViewController::demoVoiceWithVideoButtonClicked);
    connect(makeSTSButton, &QPushButton::clicked, this, &ViewController::makeSTSButtonClicked);
}

QComboBox *ViewController::videoTrackPopup() const
{
    return videoTrackPopupButton;
}

QComboBox *ViewController::audioTrackPopup() const
{
    return audioTrackPopupButton;
}

void ViewController::layoutDefaultSplit()
{
    const int height = containerSplitView->height();
    containerSplitView->setSizes({height / 2, height - height / 2});
    const int width = videoContainerSplitView->width();
    videoContainerSplitView->setSizes({width / 2, width - width / 2});
}

QByteArray ViewController::splitState() const
{
    QByteArray state;
    QDataStream out(&state, QIODevice::WriteOnly);
    out << containerSplitView->saveState() << videoContainerSplitView->saveState();
    return state;
}

bool ViewController::restoreSplit(const QByteArray &state)
{
    QByteArray outer;
    QByteArray inner;
    QDataStream in(state);
    in >> outer >> inner;
    if (in.status() != QDataStream::Ok || !containerSplitView->restoreState(outer) ||
        !videoContainerSplitView->restoreState(inner))
        return false;
    // A split saved in a smaller window must still leave each panel room.
    for (QSplitter *split : {containerSplitView, videoContainerSplitView})
        for (int size : split->sizes())
            if (size <= 0)
                return false;
    return true;
}

void ViewController::setPanelsHidden(bool hidden)
{
    voicesContainerView->setVisible(!hidden);
    tabview->setVisible(!hidden);
}

// Opening media

void ViewController::selectVideoFile()
{
    OpenPanel::open(window(), tr("Select a Video file"), tr("Videos"), videoFileTypes(), this,
                    [this](const QString &path) { openVideo(path); });
}

void ViewController::openVideo(const QString &path)
{
    if (isBusy())
        return;
    resetTrackPopups();
    videoInfo.reset();
    updateControls();
    videoPlayerView->loadVideo(path);
    const VideoInfo info = MediaProbe::probeMedia(path);
    fillTrackPopups(info);
    videoInfo = info;
    updateControls();
}

void ViewController::videoFailed(const QString &message)
{
    // Nothing of a file that does not play stays, nor of the video before it: no picture, no
    // tracks, and no output named after it.
    videoPlayerView->closeVideo();
    resetTrackPopups();
    videoInfo.reset();
    updateControls();
    showWarningSheet(tr("Could not open the video"), message);
}

void ViewController::selectSubtitlesFile()
{
    OpenPanel::open(window(), tr("Select a Subtitles file"), tr("Subtitles"),
                    SubtitlesDragablePopupButton::subtitlesFileTypes, this,
                    [this](const QString &path) {
                        if (isBusy())
                            return;
                        addSubtitlesFile(path);
                        loadSelectedSubtitles();
                    });
}

void ViewController::resetTrackPopups()
{
    videoTrackPopupButton->clear();
    videoTrackPopupButton->setEnabled(false);
    audioTrackPopupButton->clear();
    audioTrackPopupButton->setEnabled(false);
    // An external subtitles file chosen before stays for the next video.
    if (subtitlesTrackPopupButton->count() > 0 &&
        subtitlesTrackPopupButton->itemData(0).toInt() == externalSubtitlesTag) {
        for (int i = subtitlesTrackPopupButton->count() - 1; i >= 1; --i)
            subtitlesTrackPopupButton->removeItem(i);
    } else {
        subtitlesTrackPopupButton->clear();
        subtitlesTrackPopupButton->setEnabled(false);
        loadToOverlayButton->setEnabled(false);
    }
}

void ViewController::fillTrackPopups(const VideoInfo &info)
{
    auto fill = [](QComboBox *box, const QList<MediaStream> &streams) {
        for (const MediaStream &stream : streams) {
            box->addItem(stream.trackTitle(), stream.streamIndex);
            if (stream.isDefault)
                box->setCurrentIndex(box->count() - 1);
        }
        box->setEnabled(true);
    };
    fill(videoTrackPopupButton, info.videoStreams);
    fill(audioTrackPopupButton, info.audioStreams);
    // No audio of the video: the speech is added on its own. Chosen when there is no other.
    audioTrackPopupButton->addItem(tr("None"), -1);
    if (audioTrackPopupButton->currentIndex() < 0)
        audioTrackPopupButton->setCurrentIndex(audioTrackPopupButton->count() - 1);
    fill(subtitlesTrackPopupButton, info.subtitlesStreams);
    loadToOverlayButton->setEnabled(true);
    loadSelectedSubtitles();
}

void ViewController::addSubtitlesFile(const QString &path)
{
    if (subtitlesTrackPopupButton->currentIndex() >= 0 &&
        selectedTag(subtitlesTrackPopupButton) == externalSubtitlesTag) {
        const QString replaced = subtitlesTrackPopupButton->currentText();
        if (replaced != path)
            replacedSubtitles.insert(path, replaced);
        subtitlesTrackPopupButton->removeItem(subtitlesTrackPopupButton->currentIndex());
    }
    // The same file twice is one item.
    for (int i = subtitlesTrackPopupButton->count() - 1; i >= 0; --i)
        if (subtitlesTrackPopupButton->itemData(i).toInt() == externalSubtitlesTag &&
            subtitlesTrackPopupButton->itemText(i) == path)
            subtitlesTrackPopupButton->removeItem(i);
    subtitlesTrackPopupButton->insertItem(0, path, externalSubtitlesTag);
    subtitlesTrackPopupButton->setCurrentIndex(0);
    updateControls();
}

void ViewController::loadSelectedSubtitles()
{
    if (subtitlesTrackPopupButton->count() == 0)
        return;
    const int tag = selectedTag(subtitlesTrackPopupButton);
    const QString title = subtitlesTrackPopupButton->currentText();
    const QString source =
        tag == externalSubtitlesTag ? title : videoPlayerView->videoFile().value_or(QString());
    preparedTag = tag;
    preparedTitle = title;
    subtitlesTrackPopupButton->setEnabled(false);
    workingSubtitles->prepare(source,
                              tag == externalSubtitlesTag ? std::nullopt : std::optional<int>(tag));
    updateControls();
}

void ViewController::subtitlesPrepared(bool succeeded, const QString &reason)
{
    const int tag = preparedTag;
    const QString title = preparedTitle;
    updateControls();
    if (succeeded) {
        replacedSubtitles.remove(title);
        videoPlayerView->loadSubtitles();
        return;
    }
    // Application-modal, but the event loop runs on: the item goes once the alert is dismissed.
    auto *alert = new QMessageBox(QMessageBox::Warning, invalidSubtitlesMessage,
                                  invalidSubtitlesMessage, QMessageBox::Ok, window());
    alert->setInformativeText(reason);
    alert->setWindowModality(Qt::ApplicationModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(alert, &QMessageBox::finished, this,
            [this, tag, title] { removeRefusedSubtitles(tag, title); });
    alert->show();
}

void ViewController::removeRefusedSubtitles(int tag, const QString &title)
{
    // The refused item itself, found by what it is: other external files share its tag.
    for (int i = 0; i < subtitlesTrackPopupButton->count(); ++i)
        if (subtitlesTrackPopupButton->itemData(i).toInt() == tag &&
            (tag != externalSubtitlesTag || subtitlesTrackPopupButton->itemText(i) == title)) {
            subtitlesTrackPopupButton->removeItem(i);
            break;
        }
    // A file it replaced comes back in its place.
    if (tag == externalSubtitlesTag) {
        const QString replaced = replacedSubtitles.take(title);
        if (!replaced.isEmpty() && subtitlesTrackPopupButton->findText(replaced) < 0) {
            subtitlesTrackPopupButton->insertItem(0, replaced, externalSubtitlesTag);
            subtitlesTrackPopupButton->setCurrentIndex(0);
        }
    }
    updateControls();
    loadSelectedSubtitles();
}

bool ViewController::updateControls()
{
    const bool hasSubtitles = subtitlesTrackPopupButton->count() > 0;
    const bool ready = videoTrackPopupButton->count() > 0 && hasSubtitles;
    const AudioOverlayPanel *overlay = audioOverlayControlsBox;
    // What reads the working subtitles waits while they are prepared; a project being built or
    // recorded into is not replaced.
    setControlEnabled(videoTrackPopupButton, videoTrackPopupButton->count() > 0);
    setControlEnabled(subtitlesTrackPopupButton, hasSubtitles && !workingSubtitles->isPreparing());
    setControlEnabled(demoVoiceWithVideoButton,
                      demoVoiceWithVideoButton->property("tag").toInt() == 1 ||
                          (videoInfo.has_value() &&
                           subtitlesTrackPopupButton->currentIndex() >= 0 &&
                           !workingSubtitles->isPreparing()));
    setControlEnabled(loadToOverlayButton, ready && !workingSubtitles->isPreparing() &&
                                               !overlay->isBuilding() && !overlay->isRecording());
    updateMakeButtons();
    subtitles2SpeechControlsBox->setPlan(planText());
    return ready;
}

void ViewController::updateMakeButtons()
{
    const bool ready = videoTrackPopupButton->count() > 0 && subtitlesTrackPopupButton->count() > 0;
    // One output at a time: while one tab's chain runs, or a cancelled one still ends, the other
    // tab's Make waits. A make reads the working subtitles file: not while it is being written
    // either. A recording running would be cut off by the busy window: it ends first.
    const bool free = !isBusy() && !maker->isWindingDown() && !workingSubtitles->isPreparing() &&
                      !audioOverlayControlsBox->isRecording();
    if (makeSTSButton->property("tag").toInt() == 0)
        makeSTSButton->setEnabled(ready && free);
    if (audioOverlayControlsBox->makeAudioOverlayButton->property("tag").toInt() == 0)
        audioOverlayControlsBox->makeAudioOverlayButton->setEnabled(
            ready && audioOverlayControlsBox->hasItemsWithAudio() &&
            !audioOverlayControlsBox->isBuilding() && !audioOverlayControlsBox->isAttaching() &&
            free);
}

void ViewController::setControlEnabled(QWidget *control, bool enabled)
{
    if (!isBusy()) {
        control->setEnabled(enabled);
        return;
    }
    // The window gives each control its state back when the chain ends: what changes meanwhile
    // changes that state, not the control.
    const auto fields = statusFields();
    for (size_t i = 0; i < fields.size(); ++i)
        if (this->control(int(i)) == control) {
            controlsStatus.*fields[i] = enabled;
            return;
        }
    // The other controls follow the busy window through their own parents or rules.
    control->setEnabled(enabled);
}

QWidget *ViewController::control(int field) const
{
    const AudioOverlayPanel *overlay = audioOverlayControlsBox;
    const std::array<QWidget *, 15> controls = {videoTrackPopupButton,
                                                audioTrackPopupButton,
                                                subtitlesTrackPopupButton,
                                                loadToOverlayButton,
                                                demoVoiceButton,
                                                demoVoiceWithVideoButton,
                                                overlay->overlayTableView,
                                                overlay->navigationControl,
                                                overlay->buttonRecordPause,
                                                overlay->text2SpeechButton,
                                                overlay->attachAudioButton,
                                                overlay->audioPlayButton,
                                                overlay->audioSaveButton,
                                                overlay->subtitleVideoButton,
                                                overlay->recordButton};
    return controls[size_t(field)];
}

ViewController::ControlsStatus ViewController::currentControlsStatus() const
{
    ControlsStatus status;
    const auto fields = statusFields();
    for (size_t i = 0; i < fields.size(); ++i)
        status.*fields[i] = control(int(i))->isEnabled();
    return status;
}

void ViewController::setProcessing(bool isProcessing)
{
    emit processingChanged(isProcessing);
    videoPlayerView->setControlsEnabled(!isProcessing);
    textToSpeechView->setChooserEnabled(!isProcessing);
    const auto fields = statusFields();
    if (isProcessing) {
        controlsStatus = currentControlsStatus();
        for (size_t i = 0; i < fields.size(); ++i)
            control(int(i))->setEnabled(false);
    } else {
        for (size_t i = 0; i < fields.size(); ++i)
            control(int(i))->setEnabled(controlsStatus.*fields[i]);
    }
}

bool ViewController::openFileFromFinder()
{
    const QString path = settings.stringValue(UserSettings::fileOpenedWithFinderKey);
    if (path.isEmpty())
        return false;
    bool openingVideo = false;
    if (!isBusy()) {
        const QString extension = ContainerFormats::pathExtension(path);
        if (videoFileTypes().contains(extension)) {
            openVideo(path);
            openingVideo = true;
        } else if (SubtitlesDragablePopupButton::subtitlesFileTypes.contains(extension)) {
            addSubtitlesFile(path);
            loadSelectedSubtitles();
        } else if (extension == AudioOverlayPanel::projectFileType) {
            // Once the window is up: the project may ask where its video went.
            QMetaObject::invokeMethod(
                this, [this, path] { openProjectFile(path); }, Qt::QueuedConnection);
        }
    }
    settings.setString(UserSettings::fileOpenedWithFinderKey, QString());
    return openingVideo;
}

void ViewController::showSelectedTab()
{
    const bool speech = tabview->currentWidget()->objectName() == speechTabIdentifier;
    loadToOverlayButton->setVisible(!speech);
}

int ViewController::selectedVideoTrack() const
{
    return selectedTag(videoTrackPopupButton);
}

int ViewController::selectedAudioTrack() const
{
    return selectedTag(audioTrackPopupButton);
}

int ViewController::selectedSubtitlesTrack() const
{
    return selectedTag(subtitlesTrackPopupButton);
}

QString ViewController::subtitlesSource() const
{
    if (subtitlesTrackPopupButton->currentIndex() < 0)
        return QString();
    const int tag = selectedTag(subtitlesTrackPopupButton);
    return tag == externalSubtitlesTag ? subtitlesTrackPopupButton->currentText()
                                       : Project::streamSource(tag);
}

// Voice-over project files

void ViewController::selectProjectFile()
{
    OpenPanel::open(window(), tr("Select a Voice-over Project"), tr("Voice-over projects"),
                    {AudioOverlayPanel::projectFileType}, this,
                    [this](const QString &path) { openProjectFile(path); });
}

void ViewController::openProjectFile(const QString &path)
{
    if (isBusy())
        return;
    const QPointer<ViewController> self(this);
    audioOverlayControlsBox->askToSaveChanges([self, path] {
        if (self && !self->isBusy())
            self->loadProject(path);
    });
}

void ViewController::loadProject(const QString &path)
{
    QString error;
    const std::optional<AudioOverlayPanel::OpenedProject> opened =
        audioOverlayControlsBox->openProjectFile(path, &error);
    if (!opened) {
        showWarningSheet(tr("Could not open the project"), error);
        return;
    }
    selectOverlayTab();
    const QString video = opened->inputVideo;
    const QFileInfo videoFile(video);
    if (!video.isEmpty() && videoFile.isFile() && videoFile.isReadable()) {
        if (videoPlayerView->videoFile() != video || !videoInfo)
            openVideo(video);
        loadProjectSubtitles(opened->subtitlesSource, opened->itemsSubRip, true);
        return;
    }
    // The video moved or is gone: the user says where it is now.
    auto *alert =
        new QMessageBox(QMessageBox::Question, tr("Where is the project's video?"),
                        tr("Where is the project's video?"), QMessageBox::NoButton, window());
    alert->setInformativeText(
        video.isEmpty() ? tr("The project does not name its video. Choose the video to use "
                             "with it.")
                        : tr("\"%1\" cannot be found. Choose the video to use with the project.")
                              .arg(QDir::toNativeSeparators(video)));
    QPushButton *choose = alert->addButton(tr("Choose Video..."), QMessageBox::AcceptRole);
    choose->setAccessibleName(tr("Choose Video..."));
    alert->addButton(QMessageBox::Cancel)->setAccessibleName(tr("Cancel"));
    alert->setDefaultButton(choose);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    const QString source = opened->subtitlesSource;
    const QByteArray items = opened->itemsSubRip;
    // The answer is for this project only.
    const Project *project = audioOverlayControlsBox->project();
    connect(alert, &QMessageBox::buttonClicked, this,
            [this, choose, source, items, project](QAbstractButton *pressed) {
                if (audioOverlayControlsBox->project() != project)
                    return;
                if (pressed != choose) {
                    // Without its video: not another one, which Make would use in its place.
                    if (videoPlayerView->videoFile()) {
                        videoPlayerView->closeVideo();
                        resetTrackPopups();
                        videoInfo.reset();
                        updateControls();
                    }
                    loadProjectSubtitles(source, items, false);
                    return;
                }
                OpenPanel::open(window(), tr("Select a Video file"), tr("Videos"), videoFileTypes(),
                                this, [this, source, items, project](const QString &path) {
                                    if (isBusy() || audioOverlayControlsBox->project() != project)
                                        return;
                                    openVideo(path);
                                    audioOverlayControlsBox->setInputVideo(
                                        QFileInfo(path).absoluteFilePath());
                                    loadProjectSubtitles(source, items, true);
                                });
            });
    alert->open();
}

void ViewController::loadProjectSubtitles(const QString &source, const QByteArray &itemsSubRip,
                                          bool withItsVideo)
{
    if (const std::optional<int> stream = Project::sourceStream(source)) {
        // A stream of the project's own video only.
        const int index = withItsVideo ? subtitlesTrackPopupButton->findData(*stream) : -1;
        if (index >= 0) {
            subtitlesTrackPopupButton->setCurrentIndex(index);
            loadSelectedSubtitles();
            return;
        }
    } else if (QFileInfo file(source); !source.isEmpty() && file.isFile() && file.isReadable()) {
        addSubtitlesFile(source);
        loadSelectedSubtitles();
        return;
    }
    // Where the items came from is gone: the items themselves are the subtitles.
    try {
        const QString written = WorkingFolder::filePath(
            QFileInfo(audioOverlayControlsBox->projectName()).completeBaseName() +
            QStringLiteral(" items.srt"));
        QSaveFile file(written);
        if (file.open(QIODevice::WriteOnly) && file.write(itemsSubRip) == itemsSubRip.size() &&
            file.commit()) {
            addSubtitlesFile(written);
            loadSelectedSubtitles();
        }
    } catch (const VSError &) {
    }
}

void ViewController::askToQuit(const std::function<void()> &proceed)
{
    const QPointer<ViewController> self(this);
    auto askAboutProject = [self, proceed] {
        if (!self)
            return;
        self->audioOverlayControlsBox->askToSaveChanges([self, proceed] {
            if (!self)
                return;
            // What was being made stops with the window, and the window goes once it has
            // stopped: its ffmpeg ended and its partial video removed.
            for (QPushButton *button :
                 {self->makeSTSButton, self->audioOverlayControlsBox->makeAudioOverlayButton})
                if (button->property("tag").toInt() == 1)
                    self->cancelMaking(button);
            self->maker->whenStopped(proceed, 10000);
        });
    };
    if (!isBusy()) {
        askAboutProject();
        return;
    }
    auto *alert =
        new QMessageBox(QMessageBox::Warning, tr("A video is still being made."),
                        tr("A video is still being made."), QMessageBox::NoButton, window());
    alert->setInformativeText(tr("Quitting stops it, and the video is not written."));
    QPushButton *stop = alert->addButton(tr("Stop and Quit"), QMessageBox::DestructiveRole);
    stop->setAccessibleName(tr("Stop and Quit"));
    QPushButton *keep = alert->addButton(QMessageBox::Cancel);
    keep->setAccessibleName(tr("Cancel"));
    alert->setDefaultButton(keep);
    alert->setEscapeButton(keep);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(alert, &QMessageBox::buttonClicked, this,
            [stop, askAboutProject](QAbstractButton *pressed) {
                if (pressed == stop)
                    askAboutProject();
            });
    alert->open();
}

QString ViewController::voiceLocale() const
{
    const QString chosen = textToSpeechView->selectedLocale();
    return chosen.isEmpty() ? settings.stringValue(UserSettings::voiceLanguageKey) : chosen;
}

QString ViewController::planText() const
{
    return MakePlan::text(settings, {videoPlayerView->videoFile(), videoInfo, selectedAudioTrack(),
                                     audioTrackPopupButton->currentText(), voiceLocale()});
}

// The speech workflow

void ViewController::demoVoiceButtonClicked()
{
    const std::optional<QString> voice = textToSpeechView->selectedVoice();
    if (!voice)
        return;
    demoVoiceButton->setEnabled(false);
    if (!voiceDemo->saySentence(*voice))
        demoVoiceButton->setEnabled(true);
}

void ViewController::demoSentenceSpoken()
{
    // An output chain that started meanwhile keeps the button as it disabled it.
    if (!isBusy())
        demoVoiceButton->setEnabled(true);
    else
        controlsStatus.demoVoiceButton = true;
}

void ViewController::demoVoiceWithVideoButtonClicked()
{
    if (demoVoiceWithVideoButton->property("tag").toInt() == 1) {
        stopDemoWithVideo();
        return;
    }
    const std::optional<QString> video = videoPlayerView->videoFile();
    const std::optional<QString> voice = textToSpeechView->selectedVoice();
    if (subtitlesTrackPopupButton->currentIndex() < 0 || !video || !voice)
        return;
    voiceDemo->startWithVideo(*video, *voice);
}

void ViewController::demoWithVideoStarted()
{
    demoVoiceWithVideoButton->setText(tr("Stop Demo with Video"));
    demoVoiceWithVideoButton->setAccessibleName(tr("Stop Demo with Video"));
    demoVoiceWithVideoButton->setProperty("tag", 1);
}

void ViewController::stopDemoWithVideo()
{
    demoVoiceWithVideoButton->setText(tr("Demo with Video"));
    demoVoiceWithVideoButton->setAccessibleName(tr("Demo with Video"));
    demoVoiceWithVideoButton->setProperty("tag", 0);
    voiceDemo->stopWithVideo();
}

void ViewController::makeSTSButtonClicked()
{
    if (makeSTSButton->property("tag").toInt() == 1)
        cancelMaking(makeSTSButton);
    else if (makeSTSButton->isEnabled())
        startMaking(makeSTSButton, std::nullopt);
}

void ViewController::makeAudioOverlayClicked()
{
    QPushButton *button = audioOverlayControlsBox->makeAudioOverlayButton;
    if (button->property("tag").toInt() == 1)
        cancelMaking(button);
    else if (button->isEnabled())
        startMaking(button, WorkingFolder::projectFile());
}

void ViewController::selectOverlayTab()
{
    if (tabview->currentWidget() != audioOverlayControlsBox)
        tabview->setCurrentIndex(1);
}

void ViewController::startMaking(QPushButton *button, const std::optional<QString> &projectFile)
{
    // A cancelled chain still winding down works on the same working files; the Make buttons
    // come back when it has ended (a click queued before that is dropped here).
    if (isBusy() || maker->isWindingDown() || workingSubtitles->isPreparing() ||
        audioOverlayControlsBox->isRecording())
        return;
    button->setProperty("tag", 1);
    button->setText(tr("Cancel"));
    button->setAccessibleName(tr("Cancel"));
    emit progressShown(true);
    maker->announce(tr("Making the output video..."));
    makeOutput(button, projectFile);
}

void ViewController::resetMakeButton(QPushButton *button)
{
    button->setProperty("tag", 0);
    button->setText(tr("Make"));
    button->setAccessibleName(tr("Make"));
    emit progressShown(false);
}

void ViewController::restoreMakeButton(QPushButton *button)
{
    resetMakeButton(button);
    setProcessing(false);
}

void ViewController::makeOutput(QPushButton *button, const std::optional<QString> &projectFile)
{
    if (!updateControls()) {
        // Nothing was disabled yet: only the button and the progress item go back.
        showWarningSheet(tr("Could not make the output video"), QString());
        resetMakeButton(button);
        return;
    }
    MakeOutputRequest request;
    request.inputVideo = videoPlayerView->videoFile().value_or(QString());
    request.videoInfo = videoInfo.value_or(VideoInfo());
    request.videoTrack = selectedVideoTrack();
    request.audioTrack = selectedAudioTrack();
    request.subtitlesTrack = selectedSubtitlesTrack();
    request.voice = textToSpeechView->selectedVoice();
    // The chosen voice's own locale: before any choice is stored the chooser already shows one.
    request.voiceLanguage = voiceLocale();
    // The output folder is made when it is missing; where it cannot be, the video goes beside
    // its input, as the plan says.
    request.outputFolder = settings.outputFolderFor(request.inputVideo, true);
    if (request.outputFolder.isEmpty()) {
        showWarningSheet(tr("Could not make the output video"),
                         tr("Neither the output folder \"%1\" nor the video's own folder can be "
                            "written to. Choose another output folder in Options.")
                             .arg(QDir::toNativeSeparators(settings.outputFolder())));
        resetMakeButton(button);
        return;
    }
    // The stored options as they are now (the options dialog cannot change them while it runs),
    // but for those that cannot apply to this video, which the dialog shows greyed out.
    request.options = OutputOptions::fromSettings(settings).applicableTo(request.inputVideo);
    request.maximizeOutputVolume = request.options->maximizeOutputVolume;
    request.projectFile = projectFile;
    setProcessing(true);
    // Without a voice the speech job could not speak; with it the chain is built.
    if (!request.voice && !projectFile) {
        showWarningSheet(tr("Could not make the output video"),
                         tr("Choose a voice for the subtitles."));
        restoreMakeButton(button);
        return;
    }
    if (const std::optional<QString> error = maker->start(request)) {
        showWarningSheet(tr("Could not make the output video"), *error);
        restoreMakeButton(button);
        return;
    }
    makingButton = button;
    updateMakeButtons();
}

void ViewController::cancelMaking(QPushButton *button)
{
    restoreMakeButton(button);
    maker->cancel();
    updateMakeButtons();
}

void ViewController::makingFinished(bool made, const QString &path, bool fromProject)
{
    if (makingButton)
        restoreMakeButton(makingButton);
    // Only a video made from the project holds the project's audio.
    if (made && fromProject)
        audioOverlayControlsBox->clearDirtyFlags();
    updateControls();
    if (made)
        showMadeVideo(path);
}

bool ViewController::isPreparingSubtitles() const
{
    return workingSubtitles->isPreparing();
}

bool ViewController::isBusy() const
{
    return maker->isRunning();
}

void ViewController::showMadeVideo(const QString &path)
{
    DesktopServices::notify(QStringLiteral("Kelvorandix process finished"),
                            QStringLiteral("Check your video file at ") + path);
    auto *alert = new QMessageBox(window());
    alert->setIcon(QMessageBox::Information);
    alert->setWindowTitle(tr("Congratulations"));
    alert->setText(tr("Congratulations"));
    // How the speech kept pace first: the path stays last, where it is easy to find.
    const QString sentence = maker->speechSentence();
    alert->setInformativeText((sentence.isEmpty() ? QString() : sentence + QStringLiteral("\n\n")) +
                              tr("Your video has been created successfully at ") + path);
    // Wide enough for a path on one line or two, rather than a narrow column.
    alert->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_informativelabel { min-width: 460px; }"));
    alert->addButton(QMessageBox::Ok);
    QPushButton *open = alert->addButton(tr("Open"), QMessageBox::ActionRole);
    QPushButton *show = alert->addButton(tr("Show in Folder"), QMessageBox::ActionRole);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(alert, &QMessageBox::buttonClicked, this, [open, show, path](QAbstractButton *pressed) {
        if (pressed == open)
            DesktopServices::openFile(path);
        else if (pressed == show)
            DesktopServices::showInFolder(path);
    });
    alert->open();
    emit videoMade(path);
}

void ViewController::showWarningSheet(const QString &message, const QString &informative)
{
    WarningSheet::show(window(), message, informative);
}
