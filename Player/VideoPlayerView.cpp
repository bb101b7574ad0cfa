#include "VideoPlayerView.h"

#include "PlayerImages.h"
#include "PlayerTimeSlider.h"
#include "Settings/UserSettings.h"
#include "SliderJumpStyle.h"
#include "SubtitleTextChanged.h"
#include "Subtitles/NSUtils.h"
#include "Subtitles/SubtitlesParser.h"
#include "Subtitles/SubtitlesSeeker.h"
#include "Subtitles/Utils.h"
#include "SubtitlesTextField.h"
#include "VideoProcessor/ContainerFormats.h"
#include "VideoRenderView.h"
#include "VideoTimeChangedListener.h"
#include "WorkingFolder.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

namespace {

constexpr int controlsHeight = 40;
constexpr int autoHideDelay = 3000; // milliseconds after the first play
constexpr int timeDisplayPeriod =
    100; // the slider and label need no more than ten updates a second

const QString sliderStyle =
    QStringLiteral("QSlider::groove:horizontal { height: 4px; background: rgba(255, 255, 255, 80);"
                   " border-radius: 2px; }"
                   "QSlider::sub-page:horizontal { background: #5aa9ff; border-radius: 2px; }"
                   "QSlider::handle:horizontal { background: white; width: 12px; margin: -4px 0;"
                   " border-radius: 6px; }"
                   "QSlider::sub-page:horizontal:disabled { background: rgba(255, 255, 255, 60); }"
                   "QSlider::handle:horizontal:disabled { background: #777; }");

QToolButton *makeButton(QWidget *parent, const QString &objectName, const QString &name,
                        const QString &image)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setAccessibleName(name);
    button->setToolTip(name);
    button->setAutoRaise(true);
    button->setIconSize(QSize(22, 22));
    // Keys belong to the window's shortcuts (Space, Left, Right), not to a focused button.
    button->setFocusPolicy(Qt::NoFocus);
    PlayerImages::setImage(button, image);
    return button;
}

} // namespace

VideoPlayerView::VideoPlayerView(QWidget *parent)
    : QWidget(parent)
{
    setAcceptDrops(true);
    setMinimumSize(320, 180);
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, Qt::black);
    setPalette(background);

    player = new MpvPlayer(MpvPlayer::Output::Video, this);
    containerView = new QWidget(this);
    containerView->setObjectName(QStringLiteral("containerView"));
    renderView = VideoRenderView::create(player, containerView);
    renderView->widget()->setObjectName(QStringLiteral("videoView"));
    subtitlesView = new SubtitlesTextField(containerView);
    subtitlesView->setObjectName(QStringLiteral("subtitlesView"));
    subtitlesView->setText(QString());

    emptyHint = new QLabel(tr("Drop a video file here"), containerView);
    emptyHint->setAlignment(Qt::AlignCenter);
    emptyHint->setStyleSheet(QStringLiteral("color: #9a9a9a; font-size: 15pt;"));
    emptyHint->setAttribute(Qt::WA_TransparentForMouseEvents);

    buildControls();

    autoHideTimer = new QTimer(this);
    autoHideTimer->setSingleShot(true);
    autoHideTimer->setInterval(autoHideDelay);
    connect(autoHideTimer, &QTimer::timeout, this, [this] {
        if (!mouseBeingIn)
            setControlsShown(false);
    });

    // A time change that came too soon after the last display is shown when the period ends.
    timeDisplayTimer = new QTimer(this);
    timeDisplayTimer->setSingleShot(true);
    connect(timeDisplayTimer, &QTimer::timeout, this,
            [this] { updateTimeDisplay(currentTime, true); });

    connect(player, &MpvPlayer::fileLoaded, this, &VideoPlayerView::mediaLoaded);
    connect(player, &MpvPlayer::durationChanged, this, [this] {
        if (player->isLoaded())
            updateTimeDisplay(currentTime, true);
    });
    connect(player, &MpvPlayer::timeChanged, this, &VideoPlayerView::playerTimeChanged);
    connect(player, &MpvPlayer::playbackStateChanged, this, &VideoPlayerView::playerStateChanged);
    connect(player, &MpvPlayer::loadFailed, this, &VideoPlayerView::playerFailed);
    connect(player, &MpvPlayer::endReached, this, &VideoPlayerView::playerReachedEnd);

    // The saved choices; nothing is written back until the user changes them.
    const int volume = std::clamp<int>(UserSettings::shared().playerVolume(), 0, 100);
    {
        const QSignalBlocker blocker(volumeBar);
        volumeBar->setValue(volume);
    }
    showVolumeState();
    player->setVolume(volume / 100.0);
    playingSubtitles = UserSettings::shared().boolValue(UserSettings::isSubtitlesVisibleKey);
    subtitlesView->setVisible(playingSubtitles);
    PlayerImages::setImage(buttonCC, playingSubtitles ? QStringLiteral("ButtonCC_on")
                                                      : QStringLiteral("ButtonCC_off"));

    // Nothing to play yet.
    for (QWidget *control :
         {static_cast<QWidget *>(timeView), static_cast<QWidget *>(playButton),
          static_cast<QWidget *>(forwardButton), static_cast<QWidget *>(backwardButton),
          static_cast<QWidget *>(volumeButton), static_cast<QWidget *>(volumeBar),
          static_cast<QWidget *>(fullscreenButton)})
        control->setEnabled(false);
    controlsContainerView->hide();
}

VideoPlayerView::~VideoPlayerView()
{
    // The player goes first, while this view can still take its last signals.
    player->disconnect(this);
    delete player;
}

void VideoPlayerView::buildControls()
{
    controlsContainerView = new QWidget(containerView);
    controlsContainerView->setObjectName(QStringLiteral("controlsContainerView"));
    controlsContainerView->setAttribute(Qt::WA_StyledBackground);
    controlsContainerView->setStyleSheet(
        QStringLiteral("#controlsContainerView { background: rgba(0, 0, 0, 150); }"
                       "QLabel { color: white; }"
                       "QToolButton { border: none; border-radius: 4px; padding: 2px; }"
                       "QToolButton:hover { background: rgba(255, 255, 255, 40); }") +
        sliderStyle);
    auto *containerLayout = new QVBoxLayout(controlsContainerView);
    containerLayout->setContentsMargins(6, 0, 6, 0);
    controlsRowView = new QWidget(controlsContainerView);
    controlsRowView->setObjectName(QStringLiteral("controlsRowView"));
    containerLayout->addWidget(controlsRowView);

    backwardButton = makeButton(controlsRowView, QStringLiteral("backwardButton"),
                                tr("Back 5 seconds"), QStringLiteral("ButtonBackward"));
    playButton = makeButton(controlsRowView, QStringLiteral("playButton"), tr("Play"),
                            QStringLiteral("ButtonPlay"));
    forwardButton = makeButton(controlsRowView, QStringLiteral("forwardButton"),
                               tr("Forward 5 seconds"), QStringLiteral("ButtonForward"));
    timeLabel = new QLabel(QStringLiteral("00:00 / 00:00"), controlsRowView);
    timeLabel->setObjectName(QStringLiteral("timeLabel"));
    timeLabel->setAccessibleName(tr("Play time"));
    timeView = new PlayerTimeSlider(controlsRowView);
    timeView->setObjectName(QStringLiteral("timeView"));
    timeView->setAccessibleName(tr("Play time"));
    timeView->setFocusPolicy(Qt::NoFocus);
    timeView->setRange(0, 0);
    timeView->setMinimumWidth(40);
    volumeButton = makeButton(controlsRowView, QStringLiteral("volumeButton"), tr("Mute"),
                              QStringLiteral("ButtonVolume100"));
    volumeBar = new QSlider(Qt::Horizontal, controlsRowView);
    volumeBar->setObjectName(QStringLiteral("volumeBar"));
    volumeBar->setAccessibleName(tr("Volume level"));
    volumeBar->setFocusPolicy(Qt::NoFocus);
    volumeBar->setRange(0, 100);
    // In a narrow pane it shares what is left with the time slider, down to a width that still
    // takes a click.
    volumeBar->setMinimumWidth(40);
    volumeBar->setMaximumWidth(80);
    // The view's children go in the order they were made: this style after the slider.
    auto *jumpStyle = new SliderJumpStyle;
    jumpStyle->setParent(this);
    volumeBar->setStyle(jumpStyle);
    buttonCC = makeButton(controlsRowView, QStringLiteral("buttonCC"), tr("Subtitles"),
                          QStringLiteral("ButtonCC_off"));
    fullscreenButton = makeButton(controlsRowView, QStringLiteral("fullscreenButton"),
                                  tr("Full screen"), QStringLiteral("ButtonFullScreen"));

    auto *row = new QHBoxLayout(controlsRowView);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    row->addWidget(backwardButton);
    row->addWidget(playButton);
    row->addWidget(forwardButton);
    row->addSpacing(4);
    row->addWidget(timeLabel);
    row->addSpacing(6);
    row->addWidget(timeView, 1);
    row->addSpacing(6);
    row->addWidget(volumeButton);
    row->addWidget(volumeBar);
    row->addWidget(buttonCC);
    row->addWidget(fullscreenButton);

    connect(playButton, &QToolButton::clicked, this, &VideoPlayerView::playClicked);
    connect(forwardButton, &QToolButton::clicked, this, &VideoPlayerView::forwardClicked);
    connect(backwardButton, &QToolButton::clicked, this, &VideoPlayerView::backwardClicked);
    connect(fullscreenButton, &QToolButton::clicked, this, &VideoPlayerView::fullscreenClicked);
    connect(volumeButton, &QToolButton::clicked, this, &VideoPlayerView::volumeClicked);
    connect(buttonCC, &QToolButton::clicked, this, &VideoPlayerView::subtitlesClicked);
    connect(volumeBar, &QSlider::valueChanged, this, &VideoPlayerView::volumeBarChanged);
    connect(timeView, &QSlider::sliderMoved, this, [this](int value) { seek(value); });
    timeView->onTimeClick = [this](qint64 milliseconds) { timeClicked(milliseconds); };
}

void VideoPlayerView::resizeEvent(QResizeEvent *)
{
    layoutOverlays();
}

void VideoPlayerView::layoutOverlays()
{
    const QRect area = rect();
    containerView->setGeometry(area);
    renderView->widget()->setGeometry(area);
    emptyHint->setGeometry(area);
    controlsContainerView->setGeometry(0, area.height() - controlsHeight, area.width(),
                                       controlsHeight);
    // The subtitle stands just above the controls, so that they never cover it.
    const int bottom = area.height() - controlsHeight - 8;
    const int height = std::max(bottom * 45 / 100, 0);
    subtitlesView->setGeometry(0, bottom - height, area.width(), height);
}

void VideoPlayerView::loadVideo(const QString &path)
{
    loadedFile = path;
    currentTime = 0;
    // The previous video's cues would otherwise be drawn over this one at their times; the new
    // video's subtitles arrive through loadSubtitles().
    dropSubtitles();
    autoHideTimer->stop();
    emptyHint->hide();
    player->load(path);
    setControlsShown(true);
    showPlayAction(true);
    timeView->setValue(0);
    firstTimePlayedThisVideo = true;
    needsUpdateTotalTime = true;
    controlsDisabled = false;
    for (QWidget *control :
         {static_cast<QWidget *>(timeView), static_cast<QWidget *>(playButton),
          static_cast<QWidget *>(forwardButton), static_cast<QWidget *>(backwardButton),
          static_cast<QWidget *>(volumeButton), static_cast<QWidget *>(volumeBar),
          static_cast<QWidget *>(fullscreenButton)})
        control->setEnabled(true);
}

void VideoPlayerView::closeVideo()
{
    // First: the state change it reports redraws the time display, which is reset below.
    player->stop();
    loadedFile.reset();
    currentTime = 0;
    dropSubtitles();
    autoHideTimer->stop();
    timeDisplayTimer->stop();
    firstTimePlayedThisVideo = false;
    timeView->setRange(0, 0);
    timeLabel->setText(QStringLiteral("00:00 / 00:00"));
    showPlayAction(true);
    disableControlsUntilNextVideo();
    setControlsShown(false);
    emptyHint->show();
}

void VideoPlayerView::mediaLoaded()
{
    const qint64 total = qint64(player->duration() * 1000);
    timeView->setRange(0, int(std::min<qint64>(total, std::numeric_limits<int>::max())));
    timeLabel->setText(QStringLiteral("00:00 / ") + Utils::clockTimeString(total));
    needsUpdateTotalTime = false;
    timeDisplayClock.start();
}

bool VideoPlayerView::loadSubtitles()
{
    std::optional<SubtitlesParser> parser =
        SubtitlesParser::fromFile(WorkingFolder::subtitlesFile());
    if (!parser)
        return false;
    subtitlesSeeker = std::make_unique<SubtitlesSeeker>(std::move(parser->subtitles));
    // The picture may stand still: show the new subtitles' text for it now.
    updateSubtitleText(currentTime);
    return true;
}

void VideoPlayerView::play()
{
    player->play();
}

void VideoPlayerView::pause()
{
    player->pause();
}

void VideoPlayerView::seek(qint64 milliseconds)
{
    player->seek(milliseconds);
}

void VideoPlayerView::playClicked()
{
    if (!playButton->isEnabled())
        return;
    if (player->playbackState() == MpvPlayer::PlaybackState::Playing)
        player->pause();
    else
        player->play();
}

void VideoPlayerView::forwardClicked()
{
    if (forwardButton->isEnabled())
        seek(qint64((player->currentTime() + jumpStep / 1000.0) * 1000));
}

void VideoPlayerView::backwardClicked()
{
    if (backwardButton->isEnabled())
        seek(qint64((player->currentTime() - jumpStep / 1000.0) * 1000));
}

void VideoPlayerView::fullscreenClicked()
{
    if (!fullscreenButton->isEnabled())
        return;
    emit fullScreenRequested();
    QWidget *topLevel = window();
    if (topLevel->isFullScreen())
        topLevel->showNormal();
    else
        topLevel->showFullScreen();
}

void VideoPlayerView::volumeClicked()
{
    if (volumeButton->isEnabled())
        setMuted(!muted);
}

void VideoPlayerView::subtitlesClicked()
{
    setSubtitlesVisible(!playingSubtitles);
}

void VideoPlayerView::volumeBarChanged(int value)
{
    player->setVolume(value / 100.0);
    UserSettings::shared().setInteger(UserSettings::playerVolumeKey, value);
    // Choosing a level is asking to hear it.
    setMuted(false);
}

void VideoPlayerView::setMuted(bool mute)
{
    if (mute != muted) {
        muted = mute;
        player->setMuted(mute);
    }
    showVolumeState();
}

void VideoPlayerView::showVolumeState()
{
    PlayerImages::setImage(volumeButton, muted ? QStringLiteral("ButtonVolume0")
                                               : volumeImageName(volumeBar->value()));
    const QString action = muted ? tr("Unmute") : tr("Mute");
    volumeButton->setAccessibleName(action);
    volumeButton->setToolTip(action);
}

QString VideoPlayerView::volumeImageName(int volume)
{
    if (volume <= 0)
        return QStringLiteral("ButtonVolume0");
    if (volume < 33)
        return QStringLiteral("ButtonVolume33");
    if (volume < 66)
        return QStringLiteral("ButtonVolume66");
    return QStringLiteral("ButtonVolume100");
}

void VideoPlayerView::setSubtitlesVisible(bool visible)
{
    playingSubtitles = visible;
    UserSettings::shared().setBool(UserSettings::isSubtitlesVisibleKey, visible);
    PlayerImages::setImage(buttonCC, visible ? QStringLiteral("ButtonCC_on")
                                             : QStringLiteral("ButtonCC_off"));
    subtitlesView->setVisible(visible);
    if (visible) {
        // While hidden the label was not kept up to date.
        subtitlesView->setText(subtitleText);
        updateSubtitleText(currentTime);
    }
}

void VideoPlayerView::timeClicked(qint64 milliseconds)
{
    // The slider's own page step moved the handle; the next time change puts it at the click.
    timeView->setValue(int(currentTime));
    seek(milliseconds);
}

void VideoPlayerView::addTimeListener(const std::shared_ptr<VideoTimeChangedListener> &listener)
{
    if (listener && !timeChangedListeners.contains(listener))
        timeChangedListeners.append(listener);
}

void VideoPlayerView::removeTimeListener(const VideoTimeChangedListener *listener)
{
    const auto found =
        std::find_if(timeChangedListeners.begin(), timeChangedListeners.end(),
                     [listener](const auto &candidate) { return candidate.get() == listener; });
    if (found != timeChangedListeners.end())
        timeChangedListeners.erase(found);
}

void VideoPlayerView::setSubtitleTextListener(std::shared_ptr<SubtitleTextChanged> listener)
{
    subtitleTextChanged = std::move(listener);
}

void VideoPlayerView::selectAudioTrack(int streamIndex)
{
    player->selectAudioTrack(streamIndex);
}

void VideoPlayerView::selectVideoTrack(int streamIndex)
{
    player->selectVideoTrack(streamIndex);
}

void VideoPlayerView::playerTimeChanged(double seconds)
{
    currentTime = qint64(seconds * 1000);
    updateTimeDisplay(currentTime, false);
    // A listener may add or remove listeners, itself included.
    const QList<std::shared_ptr<VideoTimeChangedListener>> listeners = timeChangedListeners;
    const QPointer<VideoPlayerView> alive(this);
    for (const auto &listener : listeners) {
        listener->timeChanged(currentTime);
        if (!alive)
            return;
    }
    if (playingSubtitles || subtitleTextChanged)
        updateSubtitleText(currentTime);
}

void VideoPlayerView::updateTimeDisplay(qint64 current, bool force)
{
    if (!force && timeDisplayClock.isValid() && timeDisplayClock.elapsed() < timeDisplayPeriod) {
        if (!timeDisplayTimer->isActive())
            timeDisplayTimer->start(int(timeDisplayPeriod - timeDisplayClock.elapsed()));
        return;
    }
    timeDisplayTimer->stop();
    timeDisplayClock.start();
    // Until a file has loaded, the length mpv last reported is the previous file's.
    const qint64 total = player->isLoaded() ? qint64(player->duration() * 1000) : 0;
    if (!timeView->isSliderDown()) {
        timeView->setMaximum(int(std::min<qint64>(total, std::numeric_limits<int>::max())));
        timeView->setValue(int(std::min<qint64>(current, std::numeric_limits<int>::max())));
    }
    timeLabel->setText(Utils::clockTimeString(current) + QStringLiteral(" / ") +
                       Utils::clockTimeString(total));
}

void VideoPlayerView::updateSubtitleText(qint64 milliseconds)
{
    if (!subtitlesSeeker)
        return;
    const std::optional<Subtitle> cue = subtitlesSeeker->seek(milliseconds);
    setSubtitleText(cue ? SubtitlesParser::plainText(cue->text) : QString());
}

void VideoPlayerView::dropSubtitles()
{
    subtitlesSeeker.reset();
    setSubtitleText(QString());
}

void VideoPlayerView::setSubtitleText(const QString &text)
{
    if (text == subtitleText)
        return;
    subtitleText = text;
    if (playingSubtitles)
        subtitlesView->setText(text);
    if (subtitleTextChanged) {
        // Held here so that a listener replacing itself finishes its call.
        const std::shared_ptr<SubtitleTextChanged> listener = subtitleTextChanged;
        listener->textChanged(text);
    }
}

void VideoPlayerView::playerStateChanged(MpvPlayer::PlaybackState state)
{
    if (state == MpvPlayer::PlaybackState::Playing) {
        if (firstTimePlayedThisVideo) {
            runAutoHideControls();
            firstTimePlayedThisVideo = false;
        }
        showPlayAction(false);
    } else {
        showPlayAction(true);
        updateTimeDisplay(currentTime, true);
    }
}

void VideoPlayerView::showPlayAction(bool play)
{
    const QString name = play ? tr("Play") : tr("Pause");
    PlayerImages::setImage(playButton,
                           play ? QStringLiteral("ButtonPlay") : QStringLiteral("ButtonPause"));
    playButton->setAccessibleName(name);
    playButton->setToolTip(name);
}

void VideoPlayerView::playerFailed(const QString &message)
{
    // Nothing to control in a file that does not play.
    disableControlsUntilNextVideo();
    const QString name = loadedFile ? QFileInfo(*loadedFile).fileName() : QString();
    emit playbackFailed(name.isEmpty() ? message
                                       : tr("Could not play \"%1\": %2").arg(name, message));
}

void VideoPlayerView::playerReachedEnd()
{
    PlayerImages::setImage(playButton, QStringLiteral("ButtonPlay"));
    setControlsShown(true);
    updateTimeDisplay(currentTime, true);
    const QList<std::shared_ptr<VideoTimeChangedListener>> listeners = timeChangedListeners;
    const QPointer<VideoPlayerView> alive(this);
    for (const auto &listener : listeners) {
        listener->playbackEnded();
        if (!alive)
            return;
    }
}

void VideoPlayerView::setControlsEnabled(bool enabled)
{
    struct Control {
        QWidget *widget;
        bool *status;
    };
    const Control controls[] = {{timeView, &timeViewEnableStatus},
                                {playButton, &playButtonEnableStatus},
                                {forwardButton, &forwardButtonEnableStatus},
                                {backwardButton, &backwardButtonEnableStatus},
                                {volumeButton, &volumeButtonEnableStatus},
                                {volumeBar, &volumeBarEnableStatus},
                                {fullscreenButton, &fullscreenButtonEnableStatus}};
    // A second disable must not remember the disabled states, nor an enable without a disable
    // restore states that were never saved.
    if (enabled == !controlsDisabled)
        return;
    controlsDisabled = !enabled;
    for (const Control &control : controls) {
        if (!enabled) {
            *control.status = control.widget->isEnabled();
            control.widget->setEnabled(false);
        } else {
            control.widget->setEnabled(*control.status);
        }
    }
}

void VideoPlayerView::disableControlsUntilNextVideo()
{
    // They stay disabled also when a caller that disables them meanwhile (a running make)
    // enables them again.
    setControlsEnabled(false);
    timeViewEnableStatus = playButtonEnableStatus = forwardButtonEnableStatus =
        backwardButtonEnableStatus = volumeButtonEnableStatus = volumeBarEnableStatus =
            fullscreenButtonEnableStatus = false;
}

void VideoPlayerView::runAutoHideControls()
{
    autoHideTimer->start();
}

void VideoPlayerView::setControlsShown(bool shown)
{
    controlsContainerView->setVisible(shown);
}

void VideoPlayerView::enterEvent(QEnterEvent *)
{
    mouseBeingIn = true;
    if (loadedFile && !firstTimePlayedThisVideo)
        setControlsShown(true);
}

void VideoPlayerView::leaveEvent(QEvent *)
{
    mouseBeingIn = false;
    if (loadedFile && !firstTimePlayedThisVideo)
        setControlsShown(false);
}

bool VideoPlayerView::acceptsDroppedFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isReadable() &&
           ContainerFormats::videoFileTypes().contains(ContainerFormats::pathExtension(path));
}

void VideoPlayerView::dragEnterEvent(QDragEnterEvent *event)
{
    dragMoveEvent(event);
}

void VideoPlayerView::dragMoveEvent(QDragMoveEvent *event)
{
    const std::optional<QString> path = NSUtils::draggedFilePath(event->mimeData());
    if (path && acceptsDroppedFile(*path))
        event->acceptProposedAction();
    else
        event->ignore();
}

void VideoPlayerView::dropEvent(QDropEvent *event)
{
    const std::optional<QString> path = NSUtils::draggedFilePath(event->mimeData());
    if (!path || !acceptsDroppedFile(*path)) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    if (onFileDragged)
        onFileDragged(*path);
}
