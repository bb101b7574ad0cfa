#include "InstanceProbe.h"

#include "AppDelegate.h"
#include "MainWindow/SubtitlesDragablePopupButton.h"
#include "MainWindow/ViewController.h"
#include "VideoPlayerView.h"
#include "WindowController.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDBusConnection>

InstanceProbe::InstanceProbe(AppDelegate &delegate, QObject *parent)
    : QObject(parent)
    , delegate(delegate)
{}

InstanceProbe::~InstanceProbe()
{
    if (registered)
        QDBusConnection::sessionBus().unregisterObject(objectPath);
}

bool InstanceProbe::registerIfAsked()
{
    if (!qEnvironmentVariableIsSet(enableVariable))
        return false;
    registered = QDBusConnection::sessionBus().registerObject(
        objectPath, this, QDBusConnection::ExportScriptableSlots);
    return registered;
}

QVariantMap InstanceProbe::State() const
{
    const ViewController *view = delegate.mainWindow()->viewController();
    return {
        {QStringLiteral("videoTracks"), view->videoTrackPopup()->count()},
        {QStringLiteral("audioTracks"), view->audioTrackPopup()->count()},
        {QStringLiteral("subtitlesTracks"), view->subtitlesTrackPopup()->count()},
        {QStringLiteral("busy"), view->isBusy()},
        {QStringLiteral("playTime"),
         qint64(view->playerView()->videoPlayer()->currentTime() * 1000)},
    };
}

bool InstanceProbe::Press(const QString &accessibleName)
{
    for (QAbstractButton *button : delegate.mainWindow()->findChildren<QAbstractButton *>()) {
        if (button->accessibleName() != accessibleName || !button->isVisible() ||
            !button->isEnabled())
            continue;
        // After the reply: what the click starts may take a while, or open a sheet.
        QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
        return true;
    }
    return false;
}
