#include "SingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QMetaObject>
#include <algorithm>

namespace {

// The running instance answers before it opens anything, so a live one is far quicker than this;
// one that hangs must not keep the new process waiting long before it runs on its own instead.
constexpr int handOverTimeout = 5000; // milliseconds

} // namespace

SingleInstance::SingleInstance(QObject *parent)
    : QObject(parent)
{}

SingleInstance::~SingleInstance()
{
    if (current != Role::Running)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(serviceName);
    bus.unregisterObject(objectPath);
}

SingleInstance::Role SingleInstance::claim()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return current = Role::Alone;
    if (current == Role::Running)
        return current;
    // The object first: a call that arrives the moment the name is ours must find someone to
    // answer it.
    if (!bus.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots))
        return current = Role::Alone;
    // Without queueing, a name that is taken is refused at once instead of being promised to us
    // for when its owner ends.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus.interface()->registerService(serviceName, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return current = Role::Running;
    bus.unregisterObject(objectPath);
    return current = reply.isValid() ? Role::Another : Role::Alone;
}

bool SingleInstance::handOver(const QStringList &paths, qint64 at)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage message =
        QDBusMessage::createMethodCall(serviceName, objectPath, serviceName,
                                       at > 0 ? QStringLiteral("OpenAt") : QStringLiteral("Open"));
    message << paths;
    if (at > 0)
        message << qlonglong(at);
    const QDBusMessage reply = bus.call(message, QDBus::Block, handOverTimeout);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    // A running app of an earlier version knows no time: it opens the files at least.
    if (at > 0 && reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod"))
        return handOver(paths, 0);
    return false;
}

void SingleInstance::Open(const QStringList &paths)
{
    OpenAt(paths, 0);
}

void SingleInstance::OpenAt(const QStringList &paths, qlonglong at)
{
    // A relative path would be taken in this process's folder, which is not the caller's.
    QStringList files;
    for (const QString &path : paths)
        if (QDir::isAbsolutePath(path))
            files.append(path);
    // Queued: the reply goes out when this returns, and opening a video probes it first.
    QMetaObject::invokeMethod(
        this,
        [this, files, at] {
            emit openRequested(files, qint64(std::max<qlonglong>(at, 0)));
            emit activateRequested();
        },
        Qt::QueuedConnection);
}
