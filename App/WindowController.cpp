#include "WindowController.h"

#include "AboutViewController.h"
#include "DesktopServices.h"
#include "MainWindow/ViewController.h"
#include "OptionsViewController.h"
#include "ProgressToolbarItem.h"
#include "Settings/UserSettings.h"
#include "VideoPlayerView.h"

#include <QAction>
#include <QCloseEvent>
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
    content = new ViewController(this, settings, this);
    setCentralWidget(content);
    buildMenusAndToolbar();
    content->updateControls();
    restoreFrame();

    VideoPlayerView *player = content->playerView();
    // The player then toggles the window's full screen itself.
    connect(player, &VideoPlayerView::fullScreenRequested, this,
            [this] { goingFullFromVideo = true; });
    // The player's keys, wherever the focus is in the window but in a text field.
    const std::pair<Qt::Key, void (VideoPlayerView::*)()> keys[] = {
        {Qt::Key_Space, &VideoPlayerView::playClicked},
        {Qt::Key_Left, &VideoPlayerView::backwardClicked},
        {Qt::Key_Right, &VideoPlayerView::forwardClicked}};
    for (const auto &[key, action] : keys) {
        auto *shortcut = new QShortcut(QKeySequence(key), player);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, player, action);
    }
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

    QMenu *file = menuBar()->addMenu(tr("&File"));
    file->addAction(openVideoAction);
    file->addAction(openSubtitlesAction);
    file->addSeparator();
    file->addAction(optionsAction);
    file->addSeparator();
    file->addAction(quit);
    QMenu *help = menuBar()->addMenu(tr("&Help"));
    QAction *guide = help->addAction(tr("Kelvorandix Help"), [] {
        DesktopServices::openDocument(DesktopServices::userGuideDocument);
    });
    guide->setShortcut(QKeySequence::HelpContents);
    help->addAction(tr("Contact"),
                    [] { DesktopServices::openUrl(QUrl(DesktopServices::supportAddress)); });
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
        defaultSplitPending = true;
    }
}

void WindowController::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (defaultSplitPending) {
        defaultSplitPending = false;
        // The split is laid out once the window has its size.
        QTimer::singleShot(0, content, &ViewController::layoutDefaultSplit);
    }
}

void WindowController::closeEvent(QCloseEvent *event)
{
    // A full screen is not a frame to come back to.
    const QRect frame = isFullScreen() || isMaximized() ? normalGeometry() : geometry();
    settings.setMainWindowFrame(frame.isValid() ? std::optional<QRectF>(QRectF(frame))
                                                : std::nullopt);
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
    } else {
        content->setPanelsHidden(false);
        mainToolbar->show();
        goingFullFromVideo = false;
    }
}
