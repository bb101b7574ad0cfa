#include "FuzzSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdlib>

namespace {

QTemporaryDir *privateFolder = nullptr;

} // namespace

namespace FuzzSupport {

void initialize()
{
    if (privateFolder)
        return;
    static int argc = 1;
    static char name[] = "kelvorandix-fuzz";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/kelvorandix-fuzz-XXXXXX"));
    privateFolder = &dir;
    const QByteArray settings = QFile::encodeName(dir.filePath(QStringLiteral("settings.ini")));
    setenv("KELVORANDIX_SETTINGS", settings.constData(), 1);
    const QByteArray temporary = QFile::encodeName(dir.filePath(QStringLiteral("tmp")));
    QDir().mkpath(QFile::decodeName(temporary));
    setenv("TMPDIR", temporary.constData(), 1);
}

QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

QString writeFile(const QString &name, const QByteArray &bytes)
{
    const QString path = privateFolder->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        std::abort();
    return path;
}

QString folder()
{
    return privateFolder->path();
}

void clearFolder()
{
    QDir dir(privateFolder->path());
    for (const QString &entry :
         dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (entry == QLatin1String("tmp"))
            continue;
        const QString path = dir.filePath(entry);
        if (QFileInfo(path).isDir() && !QFileInfo(path).isSymLink())
            QDir(path).removeRecursively();
        else
            QFile::remove(path);
    }
}

} // namespace FuzzSupport
