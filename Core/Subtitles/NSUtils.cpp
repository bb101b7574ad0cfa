#include "NSUtils.h"
#include "VideoProcessor/ContainerFormats.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QMimeData>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>

QString NSUtils::defaultMoviesFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    return folder;
}

std::optional<QString> NSUtils::languageName(const QString &identifier)
{
    // language[_Script][_TERRITORY], with "_" or "-" between the parts.
    const QStringList parts = identifier.split(QRegularExpression(QStringLiteral("[_-]")));
    const QLocale::Language language = QLocale::codeToLanguage(parts.value(0));
    if (language == QLocale::AnyLanguage || language == QLocale::C)
        return std::nullopt;

    // Every further part must be a script or a territory the locale data knows.
    QStringList details;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QString &part = parts[i];
        if (part.size() == 4) {
            const QLocale::Script script = QLocale::codeToScript(part);
            if (script == QLocale::AnyScript)
                return std::nullopt;
            details.append(QLocale::scriptToString(script));
            continue;
        }
        const QLocale::Territory territory = QLocale::codeToTerritory(part);
        if (territory == QLocale::AnyTerritory)
            return std::nullopt;
        details.append(QLocale::territoryToString(territory));
    }

    QString name = QLocale::languageToString(language);
    if (!details.isEmpty())
        name += QStringLiteral(" (") + details.join(QStringLiteral(", ")) + u')';
    return name;
}

std::optional<QString> NSUtils::draggedFilePath(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return std::nullopt;
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return std::nullopt;
    return urls.first().toLocalFile();
}

std::optional<QString> NSUtils::droppedFile(const QMimeData *data, const QStringList &types)
{
    if (!data || data->urls().size() != 1)
        return std::nullopt;
    const std::optional<QString> path = draggedFilePath(data);
    if (!path)
        return std::nullopt;
    const QFileInfo file(*path);
    if (!file.isFile() || !file.isReadable() ||
        !types.contains(ContainerFormats::pathExtension(*path)))
        return std::nullopt;
    return path;
}
