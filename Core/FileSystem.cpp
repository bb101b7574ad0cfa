#include "FileSystem.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

mode_t FileSystem::newFileMode()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("Umask:"))
                return 0666 & ~mode_t(line.mid(6).trimmed().toUInt(nullptr, 8));
    return 0644;
}

std::optional<QString> FileSystem::syncToDisk(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    const bool synced = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!synced)
        return QString::fromLocal8Bit(std::strerror(error));
    return std::nullopt;
}

QStringList FileSystem::settleEnvironment()
{
    QStringList notes;
    const QByteArray home = qgetenv("HOME");
    if (!home.startsWith('/')) {
        std::vector<char> buffer(16384);
        passwd entry{};
        passwd *found = nullptr;
        if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
            found->pw_dir && found->pw_dir[0] == '/' &&
            QFileInfo(QFile::decodeName(found->pw_dir)).isDir()) {
            qputenv("HOME", found->pw_dir);
            notes.append(QStringLiteral("HOME is not set; the home folder %1 is used")
                             .arg(QFile::decodeName(found->pw_dir)));
        }
    }
    const QByteArray temp = qgetenv("TMPDIR");
    if (!temp.isEmpty() && !QFileInfo(QFile::decodeName(temp)).isDir()) {
        qunsetenv("TMPDIR");
        notes.append(QStringLiteral("TMPDIR names no folder ('%1'); /tmp is used")
                         .arg(QFile::decodeName(temp)));
    }
    return notes;
}

bool FileSystem::isUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    [[maybe_unused]] const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

std::optional<QString> FileSystem::createHiddenFile(const QString &target, const QString &tag,
                                                    QString *reason, const Claim &claim)
{
    const QFileInfo info(target);
    QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString extension = dot > 0 ? name.mid(dot + 1) : QString();
    if (!extension.isEmpty())
        name.chop(extension.size() + 1);
    const QByteArray suffix =
        QFile::encodeName(u'.' + tag + (extension.isEmpty() ? QString() : u'.' + extension));
    // The output's own name may use all of the limit; the hidden one adds to it, so its name
    // part gives way (whole characters, never half of one).
    const long limit = ::pathconf(QFile::encodeName(info.absolutePath()).constData(), _PC_NAME_MAX);
    const qsizetype room = (limit > 0 ? limit : 255) - 1 - 7 - suffix.size();
    while (!name.isEmpty() && QFile::encodeName(name).size() > room)
        name.chop(name.back().isLowSurrogate() && name.size() > 1 ? 2 : 1);
    const QByteArray prefix = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + name);
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    int fd = -1;
    QByteArray path;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        QByteArray random(6, 'X');
        for (char &letter : random)
            letter = letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)];
        path = prefix + '.' + random + suffix;
        const QString file = QFile::decodeName(path);
        if (claim)
            claim(file, true);
        fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        const int error = errno;
        if (fd < 0 && claim)
            claim(file, false);
        if (fd < 0 && error != EEXIST) {
            errno = error;
            break;
        }
    }
    if (fd < 0) {
        if (reason)
            *reason = QString::fromLocal8Bit(std::strerror(errno));
        return std::nullopt;
    }
    ::fchmod(fd, newFileMode());
    ::close(fd);
    return QFile::decodeName(path);
}
