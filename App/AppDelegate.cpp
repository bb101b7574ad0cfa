#include "AppDelegate.h"

#include "MainWindow/ViewController.h"
#include "Settings/UserSettings.h"
#include "WindowController.h"

#include <QFileInfo>

AppDelegate::AppDelegate(UserSettings &settings, QObject *parent)
    : QObject(parent)
    , settings(settings)
    , window(std::make_unique<WindowController>(settings))
{}

AppDelegate::~AppDelegate() = default;

void AppDelegate::openFile(const QString &path)
{
    settings.setString(UserSettings::fileOpenedWithFinderKey, QFileInfo(path).absoluteFilePath());
    if (window)
        window->viewController()->openFileFromFinder();
}

void AppDelegate::activateMainWindow()
{
    if (!window)
        return;
    window->show();
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->raise();
    window->activateWindow();
}
