#include "DesktopServices.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QVariantMap>

namespace {

// A service that is there answers at once; one that hangs must not freeze the window for long.
constexpr int callTimeout = 2000; // milliseconds

bool call(const QString &service, const QString &path, const QString &interface,
          const QString &method, const QVariantList &arguments)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return bus.call(message, QDBus::Block, callTimeout).type() == QDBusMessage::ReplyMessage;
}

} // namespace

bool DesktopServices::notify(const QString &title, const QString &body)
{
    const QVariantList arguments{QCoreApplication::applicationName(),
                                 uint(0),
                                 QString(),
                                 title,
                                 body,
                                 QStringList(),
                                 QVariantMap(),
                                 int(-1)};
    return call(QStringLiteral("org.freedesktop.Notifications"),
                QStringLiteral("/org/freedesktop/Notifications"),
                QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"),
                arguments);
}

bool DesktopServices::showInFolder(const QString &path)
{
    const QFileInfo info(path);
    const QString absolute = info.absoluteFilePath();
    // ShowItems would select a folder inside its parent; a folder is shown with its contents.
    const bool isFolder = info.isDir();
    const QStringList uris{QUrl::fromLocalFile(absolute).toString()};
    if (call(QStringLiteral("org.freedesktop.FileManager1"),
             QStringLiteral("/org/freedesktop/FileManager1"),
             QStringLiteral("org.freedesktop.FileManager1"),
             isFolder ? QStringLiteral("ShowFolders") : QStringLiteral("ShowItems"),
             {uris, QString()}))
        return true;
    return openUrl(QUrl::fromLocalFile(isFolder ? absolute : info.absolutePath()));
}

bool DesktopServices::openFile(const QString &path)
{
    return openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}

bool DesktopServices::openUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

QString DesktopServices::documentPath(const QString &fileName)
{
    const QString path = QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                         QStringLiteral("/../share/kelvorandix/docs/") + fileName);
    return QFileInfo(path).isFile() ? path : QString();
}

bool DesktopServices::openDocument(const QString &fileName, const QString &section)
{
    const QString path = documentPath(fileName);
    if (path.isEmpty())
        return false;
    QUrl url = QUrl::fromLocalFile(path);
    if (!section.isEmpty())
        url.setFragment(section);
    return openUrl(url);
}
