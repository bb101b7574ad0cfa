#pragma once

#include <QObject>
#include <QString>
#include <memory>

class UserSettings;
class WindowController;

// The application: its one main window, and files handed over by the desktop.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(UserSettings &settings, QObject *parent = nullptr);
    ~AppDelegate() override;

    WindowController *mainWindow() const { return window.get(); }

    // A file the desktop asks us to open: remembered in the settings, so that a window that is
    // not there yet opens it when it loads, and opened by the window when it is (or dropped
    // while it is busy).
    void openFile(const QString &path);
    // Brings the main window to the front, restored if it was minimized: where a file
    // handed over to the running app shows up.
    void activateMainWindow();

private:
    UserSettings &settings;
    std::unique_ptr<WindowController> window;
};
