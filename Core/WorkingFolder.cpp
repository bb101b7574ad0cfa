#include "WorkingFolder.h"

#include "VSError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString folderPrefix = QStringLiteral("kelvorandix-");
const QString lockName = QStringLiteral(".lock");
const QString leftoversName = QStringLiteral(".outputs");

struct Folder {
    Folder()
    {
        if (!dir.isValid())
            return;
        // The lock is taken under another name and then renamed, so that a cleaner that finds
        // ".lock" always finds it held.
        const QByteArray pending = QFile::encodeName(dir.filePath(QStringLiteral(".lock.new")));
        lockFd = ::open(pending.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (lockFd >= 0 && ::flock(lockFd, LOCK_EX | LOCK_NB) == 0)
            ::rename(pending.constData(), QFile::encodeName(dir.filePath(lockName)).constData());
    }
    ~Folder()
    {
        if (lockFd >= 0)
            ::close(lockFd);
    }

    // mkdtemp creates the folder with mode 0700; the destructor removes it with its content
    // when the process exits normally.
    QTemporaryDir dir{QDir::tempPath() + u'/' + folderPrefix + QStringLiteral("XXXXXX")};
    int lockFd = -1;
};

Folder &folder()
{
    static Folder instance;
    return instance;
}

QString leftoverLine(const QString &file, WorkingFolder::Leftover kind)
{
    return (kind == WorkingFolder::Leftover::Partial ? QStringLiteral("partial ")
                                                     : QStringLiteral("reserved ")) +
           file;
}

void removeLeftovers(const QString &manifest)
{
    QFile list(manifest);
    if (!list.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray &raw : list.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw);
        const bool partial = line.startsWith(QLatin1String("partial "));
        if (!partial && !line.startsWith(QLatin1String("reserved ")))
            continue;
        const QString file = line.section(u' ', 1);
        struct stat status {};
        if (::lstat(QFile::encodeName(file).constData(), &status) != 0 || !S_ISREG(status.st_mode))
            continue;
        if (partial || status.st_size == 0)
            QFile::remove(file);
    }
}

} // namespace

QString WorkingFolder::path()
{
    const Folder &current = folder();
    if (!current.dir.isValid())
        throw VSError(QStringLiteral("Could not create the working folder in '%1': %2")
                          .arg(QDir::tempPath(), current.dir.errorString()));
    return current.dir.path();
}

QString WorkingFolder::filePath(const QString &fileName)
{
    return path() + QLatin1Char('/') + fileName;
}

void WorkingFolder::trackOutputFile(const QString &file, Leftover kind)
{
    try {
        QFile list(filePath(leftoversName));
        if (list.open(QIODevice::WriteOnly | QIODevice::Append))
            list.write((leftoverLine(file, kind) + u'\n').toUtf8());
    } catch (const VSError &) {
        // Without a working folder there is nothing to clean up after either.
    }
}

void WorkingFolder::untrackOutputFile(const QString &file)
{
    try {
        QFile list(filePath(leftoversName));
        if (!list.open(QIODevice::ReadWrite))
            return;
        QList<QByteArray> kept;
        for (const QByteArray &line : list.readAll().split('\n'))
            if (!line.isEmpty() && QString::fromUtf8(line).section(u' ', 1) != file)
                kept.append(line);
        QByteArray text = kept.join('\n');
        if (!text.isEmpty())
            text += '\n';
        list.resize(0);
        list.seek(0);
        list.write(text);
    } catch (const VSError &) {
    }
}

int WorkingFolder::removeStaleFolders()
{
    // Our own folder, if there is one yet, is skipped by its lock like any live one.
    const QDir temp(QDir::tempPath());
    int removed = 0;
    for (const QString &name :
         temp.entryList({folderPrefix + u'*'}, QDir::Dirs | QDir::Hidden | QDir::NoSymLinks)) {
        const QString candidate = temp.filePath(name);
        struct stat status {};
        const QByteArray encoded = QFile::encodeName(candidate);
        if (::lstat(encoded.constData(), &status) != 0 || !S_ISDIR(status.st_mode) ||
            status.st_uid != ::getuid())
            continue;
        // A folder without its lock is being set up, or is not ours to judge: it stays.
        const int fd = ::open(QFile::encodeName(candidate + u'/' + lockName).constData(),
                              O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            removeLeftovers(candidate + u'/' + leftoversName);
            if (QDir(candidate).removeRecursively())
                ++removed;
        }
        ::close(fd);
    }
    return removed;
}
