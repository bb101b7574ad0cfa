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

// The list holds one record per file: its kind and its path, each ended by a NUL byte, the one
// byte no path can hold (a folder's name may hold a line end).
QByteArray leftoverRecord(const QString &file, WorkingFolder::Leftover kind)
{
    return (kind == WorkingFolder::Leftover::Partial ? QByteArrayLiteral("partial")
                                                     : QByteArrayLiteral("reserved")) +
           '\0' + QFile::encodeName(file) + '\0';
}

struct LeftoverRecord {
    QByteArray kind;
    QByteArray path;
};

QList<LeftoverRecord> leftoverRecords(const QByteArray &list)
{
    QList<LeftoverRecord> records;
    const QList<QByteArray> fields = list.split('\0');
    // A record counts only with its final NUL: a list cut short ends in a path cut short.
    for (qsizetype i = 0; i + 2 < fields.size(); i += 2)
        records.append({fields[i], fields[i + 1]});
    return records;
}

// The hidden names this program gives the files it writes before they are complete:
// ".NAME.XXXXXX.partial.EXT" and the like. Nothing else is removed as a partial file, whatever
// the list says.
bool isOwnPartialName(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    return name.startsWith(u'.') && (name.contains(QLatin1String(".partial")) ||
                                     name.contains(QLatin1String(".unmaximized")));
}

void removeLeftovers(const QString &manifest)
{
    QFile list(manifest);
    if (!list.open(QIODevice::ReadOnly))
        return;
    for (const LeftoverRecord &record : leftoverRecords(list.readAll())) {
        const bool partial = record.kind == "partial";
        if ((!partial && record.kind != "reserved") || !record.path.startsWith('/'))
            continue;
        struct stat status {};
        if (::lstat(record.path.constData(), &status) != 0 || !S_ISREG(status.st_mode) ||
            status.st_uid != ::getuid())
            continue;
        const QString file = QFile::decodeName(record.path);
        if (partial ? isOwnPartialName(file) : status.st_size == 0)
            ::unlink(record.path.constData());
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
            list.write(leftoverRecord(file, kind));
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
        const QByteArray path = QFile::encodeName(file);
        QByteArray kept;
        for (const LeftoverRecord &record : leftoverRecords(list.readAll()))
            if (record.path != path)
                kept += record.kind + '\0' + record.path + '\0';
        list.resize(0);
        list.seek(0);
        list.write(kept);
    } catch (const VSError &) {
    }
}

void WorkingFolder::claimPartialFile(const QString &file, bool claimed)
{
    if (claimed)
        trackOutputFile(file, Leftover::Partial);
    else
        untrackOutputFile(file);
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
