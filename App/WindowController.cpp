#include "WindowController.h"

#include "AboutViewController.h"
#include "DesktopServices.h"
#include "MainWindow/AudioOverlayPanel.h"
#include "MainWindow/ViewController.h"
#include "OptionsViewController.h"
#include "ProgressToolbarItem.h"
#include "Settings/UserSettings.h"
#include "VideoPlayerView.h"
#include "WarningSheet.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QMenuBar>
#include <QShortcut>
#include <QTimer>
#include <QToolBar>

WindowController::WindowController(UserSettings &settings, QWidget *parent)
    : QMainWindow(parent)
    , settings(settings)
{
    setWindowTitle(QStringLiteral("Kelvorandix"));
    progress = new ProgressToolbarItem(this);
    content = new ViewController(progress, settings, this);
    connect(content, &ViewController::processingChanged, this,
            [this](bool processing) { setOpenEnabled(!processing); });
    connect(content, &ViewController::progressShown, this, &WindowController::showProgressItem);
    setCentralWidget(content);
    buildMenusAndToolbar();
    content->updateControls();
    restoreFrame();

    VideoPlayerView *player = content->playerView();
    // The player then toggles the window's full screen itself.
    connect(player, &VideoPlayerView::fullScreenRequested, this,
            [this] { goingFullFromVideo = true; });
    buildPlayerKeys();
    connect(content->overlayPanel(), &AudioOverlayPanel::documentChanged, this,
            &WindowController::updateTitle);
    connect(content->overlayPanel(), &AudioOverlayPanel::projectChanged, this,
            &WindowController::updateProjectActions);
    updateTitle();
    updateProjectActions();
}

void WindowController::buildPlayerKeys()
{
    VideoPlayerView *player = content->playerView();
    // The player's keys work wherever the focus is in the window. A text field keeps the keys it
    // types and moves with (it takes them before any shortcut), and Enter presses a focused
    // button.
    const std::pair<Qt::Key, void (VideoPlayerView::*)()> keys[] = {
        {Qt::Key_Space, &VideoPlayerView::playClicked},
        {Qt::Key_Left, &VideoPlayerView::backwardClicked},
        {Qt::Key_Right, &VideoPlayerView::forwardClicked}};
    for (const auto &[key, action] : keys) {
        auto *shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, player, action);
    }
    auto *leave = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    leave->setContext(Qt::WindowShortcut);
    connect(leave, &QShortcut::activated, this, [this] {
        if (isFullScreen())
            showNormal();
    });
}

WindowController::~WindowController() = default;

VideoPlayerView *WindowController::playerView() const
{
    return content->playerView();
}

void WindowController::buildMenusAndToolbar()
{
    openVideoAction =
        new QAction(QIcon::fromTheme(QStringLiteral("video-x-generic"),
                                     QIcon::fromTheme(QStringLiteral("document-open"))),
                    tr("Open Video..."), this);
    openVideoAction->setShortcut(QKeySequence::Open);
    openVideoAction->setIconText(tr("Open Video"));
    connect(openVideoAction, &QAction::triggered, content, &ViewController::selectVideoFile);
    openSubtitlesAction = new QAction(QIcon::fromTheme(QStringLiteral("text-x-generic")),
                                      tr("Open Subtitles..."), this);
    openSubtitlesAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    openSubtitlesAction->setIconText(tr("Open Subtitles"));
    connect(openSubtitlesAction, &QAction::triggered, content,
            &ViewController::selectSubtitlesFile);
    optionsAction =
        new QAction(QIcon::fromTheme(QStringLiteral("preferences-system")), tr("Options..."), this);
    // The desktop-neutral platform theme has no standard key for preferences.
    optionsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    optionsAction->setIconText(tr("Options"));
    connect(optionsAction, &QAction::triggered, this, &WindowController::showOptions);
    auto *quit = new QAction(tr("Quit"), this);
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, &QWidget::close);

    openProjectAction =
        new QAction(QIcon::fromTheme(QStringLiteral("document-open")), tr("Open Project..."), this);
    // Ctrl+O opens a video and Ctrl+Shift+O subtitles.
    openProjectAction->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_O));
    connect(openProjectAction, &QAction::triggered, content, &ViewController::selectProjectFile);
    saveProjectAction =
        new QAction(QIcon::fromTheme(QStringLiteral("document-save")), tr("Save Project"), this);
    saveProjectAction->setShortcut(QKeySequence::Save);
    connect(saveProjectAction, &QAction::triggered, this,
            [this] { content->overlayPanel()->saveProjectClicked(); });
    saveProjectAsAction = new QAction(QIcon::fromTheme(QStringLiteral("document-save-as")),
                                      tr("Save Project As..."), this);
    // Not every desktop's key scheme has one for Save As.
    saveProjectAsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    connect(saveProjectAsAction, &QAction::triggered, this,
            [this] { content->overlayPanel()->saveProjectAsClicked(); });

    QMenu *file = menuBar()->addMenu(tr("&File"));
    file->addAction(openVideoAction);
    file->addAction(openSubtitlesAction);
    file->addSeparator();
    file->addAction(openProjectAction);
    recentProjectsMenu = file->addMenu(tr("Open Recent Project"));
    connect(recentProjectsMenu, &QMenu::aboutToShow, this, &WindowController::fillRecentProjects);
    file->addAction(saveProjectAction);
    file->addAction(saveProjectAsAction);
    file->addSeparator();
    file->addAction(optionsAction);
    file->addSeparator();
    file->addAction(quit);
    // The keys stay when a full screen hides the menus.
    addActions({openVideoAction, openSubtitlesAction, openProjectAction, saveProjectAction,
                saveProjectAsAction, optionsAction, quit});
    QMenu *help = menuBar()->addMenu(tr("&Help"));
    QAction *guide = help->addAction(tr("Kelvorandix Help"), [] {
        DesktopServices::openDocument(DesktopServices::userGuideDocument);
    });
    guide->setShortcut(QKeySequence::HelpContents);
    help->addAction(tr("Contact"), [] {
        DesktopServices::openDocument(DesktopServices::userGuideDocument,
                                      DesktopServices::contactSection);
    });
    help->addSeparator();
    help->addAction(tr("About Kelvorandix"), this, &WindowController::showAbout);

    mainToolbar = addToolBar(tr("Main"));
    mainToolbar->setObjectName(QStringLiteral("mainToolbar"));
    mainToolbar->setMovable(false);
    mainToolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    mainToolbar->addAction(openVideoAction);
    mainToolbar->addAction(openSubtitlesAction);
    auto *spacer = new QWidget(mainToolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    mainToolbar->addWidget(spacer);
    mainToolbar->addAction(optionsAction);
    // The progress item stands just before the options item, shown only while a chain runs.
    progressAction = mainToolbar->insertWidget(optionsAction, progress);
    progressAction->setVisible(false);
}

void WindowController::setOpenEnabled(bool enabled)
{
    openVideoEnable = enabled;
    openSubtitleEnable = enabled;
    optionEnable = enabled;
    validateToolbarItems();
    updateProjectActions();
}

void WindowController::updateProjectActions()
{
    // Another project is not opened while a video is made, nor the recent list used.
    openProjectAction->setEnabled(openVideoEnable);
    recentProjectsMenu->setEnabled(openVideoEnable);
    const bool open = content->overlayPanel()->project() != nullptr;
    saveProjectAction->setEnabled(open);
    saveProjectAsAction->setEnabled(open);
}

void WindowController::updateTitle()
{
    const AudioOverlayPanel *overlay = content->overlayPanel();
    const QString name = overlay->projectName();
    setWindowTitle(name.isEmpty() ? QStringLiteral("Kelvorandix")
                                  : name + QStringLiteral("[*] — Kelvorandix"));
    setWindowModified(overlay->hasUnsavedChanges());
}

void WindowController::fillRecentProjects()
{
    recentProjectsMenu->clear();
    const QStringList paths = settings.recentProjects();
    for (const QString &path : paths) {
        const QFileInfo file(path);
        QAction *item = recentProjectsMenu->addAction(QStringLiteral("%1 — %2").arg(
            file.fileName(), QDir::toNativeSeparators(file.absolutePath())));
        item->setToolTip(QDir::toNativeSeparators(path));
        connect(item, &QAction::triggered, this, [this, path] { openRecentProject(path); });
    }
    if (paths.isEmpty()) {
        recentProjectsMenu->addAction(tr("No Recent Projects"))->setEnabled(false);
        return;
    }
    recentProjectsMenu->addSeparator();
    connect(recentProjectsMenu->addAction(tr("Clear Menu")), &QAction::triggered, this,
            [this] { settings.setObject(UserSettings::recentProjectsKey, QStringList()); });
}

void WindowController::openRecentProject(const QString &path)
{
    if (!QFileInfo(path).isFile()) {
        settings.removeRecentProject(path);
        WarningSheet::show(this, tr("Could not open the project"),
                           tr("\"%1\" is no longer there.").arg(QDir::toNativeSeparators(path)));
        return;
    }
    content->openProjectFile(path);
}

void WindowController::validateToolbarItems()
{
    // The menus share these actions, so the open menu items follow the same flags.
    openVideoAction->setEnabled(openVideoEnable);
    openSubtitlesAction->setEnabled(openSubtitleEnable);
    optionsAction->setEnabled(optionEnable);
}

void WindowController::showProgressItem(bool shown)
{
    progressAction->setVisible(shown);
}

bool WindowController::isProgressItemShown() const
{
    return progressAction->isVisible();
}

void WindowController::showOptions()
{
    auto *options =
        new OptionsViewController(settings, playerView()->videoFile().value_or(QString()), this);
    options->setAttribute(Qt::WA_DeleteOnClose);
    connect(options, &QDialog::finished, content, &ViewController::updateControls);
    options->open();
}

void WindowController::showAbout()
{
    auto *about = new AboutViewController(this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->open();
}

void WindowController::restoreFrame()
{
    if (const std::optional<QRectF> frame = settings.mainWindowFrame()) {
        setGeometry(frame->toAlignedRect());
        frameRestored = true;
    } else {
        resize(1100, 760);
    }
}

void WindowController::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (splitPending) {
        splitPending = false;
        // The panels are divided as they were, or half and half, once the window has its size:
        // left to the layout, the side panel would be squeezed down to its smallest.
        const QByteArray split = settings.object(UserSettings::mainWindowSplitKey).toByteArray();
        QTimer::singleShot(0, content, [this, split] {
            if (!frameRestored || !content->restoreSplit(split))
                content->layoutDefaultSplit();
        });
    }
}

void WindowController::closeEvent(QCloseEvent *event)
{
    if (!closeApproved) {
        // Asked first: a video being made, unsaved voice-over work. Answered at once when there
        // is nothing to ask; otherwise the window closes once the user has answered.
        auto answeredNow = std::make_shared<bool>(false);
        auto asking = std::make_shared<bool>(true);
        content->askToQuit([this, answeredNow, asking] {
            if (*asking) {
                *answeredNow = true;
                return;
            }
            closeApproved = true;
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        });
        *asking = false;
        if (!*answeredNow) {
            event->ignore();
            return;
        }
    }
    closeApproved = false;
    // A full screen is not a frame to come back to.
    const QRect frame = isFullScreen() || isMaximized() ? normalGeometry() : geometry();
    settings.setMainWindowFrame(frame.isValid() ? std::optional<QRectF>(QRectF(frame))
                                                : std::nullopt);
    settings.setObject(UserSettings::mainWindowSplitKey, content->splitState());
    event->accept();
}

void WindowController::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !goingFullFromVideo)
        return;
    if (isFullScreen()) {
        content->setPanelsHidden(true);
        mainToolbar->hide();
        menuBar()->hide();
    } else {
        content->setPanelsHidden(false);
        mainToolbar->show();
        menuBar()->show();
        goingFullFromVideo = false;
    }
}
