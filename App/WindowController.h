#pragma once

#include <QMainWindow>
#include <QString>

class ProgressToolbarItem;
class QAction;
class QMenu;
class QToolBar;
class UserSettings;
class VideoPlayerView;
class ViewController;

// The main window: its menus and toolbar, title and frame, the options and About dialogs, the
// progress item while an output chain runs, and the full screen the player asks for.
class WindowController : public QMainWindow {
    Q_OBJECT
public:
    explicit WindowController(UserSettings &settings, QWidget *parent = nullptr);
    ~WindowController() override;

    ViewController *viewController() const { return content; }
    VideoPlayerView *playerView() const;
    ProgressToolbarItem *progressItem() const { return progress; }
    QToolBar *toolbar() const { return mainToolbar; }

    // The open and options items follow these (the window disables them while it makes a video).
    bool openVideoEnable = true;
    bool openSubtitleEnable = true;
    bool optionEnable = true;
    void setOpenEnabled(bool enabled);

    // Shows the progress item just before the options item, or takes it away.
    void showProgressItem(bool shown);
    bool isProgressItemShown() const;
    void showOptions();
    void showAbout();

    // Set by the player's full-screen button: only that full screen hides the panels.
    bool goingFullFromVideo = false;

    // The title names the open voice-over project, marked while something of it is unsaved.
    void updateTitle();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildMenusAndToolbar();
    void buildPlayerKeys();
    void fillRecentProjects();
    void openRecentProject(const QString &path);
    void updateProjectActions();
    void validateToolbarItems();
    void restoreFrame();

    UserSettings &settings;
    ViewController *content = nullptr;
    QToolBar *mainToolbar = nullptr;
    QAction *openVideoAction = nullptr;
    QAction *openSubtitlesAction = nullptr;
    QAction *optionsAction = nullptr;
    QAction *openProjectAction = nullptr;
    QAction *saveProjectAction = nullptr;
    QAction *saveProjectAsAction = nullptr;
    QMenu *recentProjectsMenu = nullptr;
    QAction *progressAction = nullptr;
    ProgressToolbarItem *progress = nullptr;
    bool frameRestored = false;
    bool splitPending = true;
    // The user has answered every question about quitting: the next close goes through.
    bool closeApproved = false;
};
