#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QMimeData;

// Desktop facts shared by several parts: the default output folder and language names.
class NSUtils {
public:
    // The user's videos folder (XDG), whether or not it exists yet.
    static QString defaultMoviesFolder();

    // English display name of a locale identifier such as "fr_CA" ("French (Canada)"); nothing
    // when the language, a script or a territory in it is unknown.
    static std::optional<QString> languageName(const QString &identifier);

    // The first local file of a drag or drop, if any.
    static std::optional<QString> draggedFilePath(const QMimeData *data);
    // The one local file a drag or drop carries, when it is a readable file whose extension, as
    // written, is one of types; nothing for several files, a folder or another type.
    static std::optional<QString> droppedFile(const QMimeData *data, const QStringList &types);
};
