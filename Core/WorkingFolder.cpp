#include "WorkingFolder.h"

#include "VSError.h"

#include <QDir>
#include <QTemporaryDir>

namespace {

struct Folder {
    // mkdtemp creates the folder with mode 0700; the destructor removes it with its content
    // when the process exits normally.
    QTemporaryDir dir{QDir::tempPath() + QStringLiteral("/kelvorandix-XXXXXX")};
};

} // namespace

QString WorkingFolder::path()
{
    static Folder folder;
    if (!folder.dir.isValid())
        throw VSError(QStringLiteral("Could not create the working folder in '%1': %2")
                          .arg(QDir::tempPath(), folder.dir.errorString()));
    return folder.dir.path();
}

QString WorkingFolder::filePath(const QString &fileName)
{
    return path() + QLatin1Char('/') + fileName;
}
