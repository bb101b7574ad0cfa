#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
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
    // Opens each file in turn, and shows the video among them at a time in milliseconds (0: its
    // start). While the window asks something, the files wait for the answer.
    void openFiles(const QStringList &paths, qint64 at);
    // Brings the main window to the front, restored if it was minimized: where a file
    // handed over to the running app shows up.
    void activateMainWindow();

private:
    // True when it is a video that is being opened.
    bool openFileNow(const QString &path);
    void openPending();
    void showVideoAt(const QString &video, qint64 at);

    UserSettings &settings;
    struct Request {
        QStringList paths;
        qint64 at = 0;
    };
    QList<Request> pending;
    QTimer retry;
    std::unique_ptr<WindowController> window;
};
