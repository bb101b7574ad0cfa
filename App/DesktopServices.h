#pragma once

#include <QString>
#include <QUrl>

// What the desktop does for us: notifications, the file manager, default applications, and the
// documents shipped with the app. Every function reports whether the desktop took the request; a
// desktop without a notification service or a session bus is no error, only a false.
class DesktopServices {
public:
    static inline const QString userGuideDocument = QStringLiteral("user-guide.html");
    // The user guide's section on where to get help, which Contact opens.
    static inline const QString contactSection = QStringLiteral("help");
    static inline const QString acknowledgmentsDocument = QStringLiteral("acknowledgments.html");

    // A notification through the desktop's notification service.
    static bool notify(const QString &title, const QString &body);
    // Shows a file selected in the file manager, or a folder's contents; without a file manager
    // that takes the request, opens the folder (a file's own folder) in the default application.
    static bool showInFolder(const QString &path);
    // Opens a file in its default application.
    static bool openFile(const QString &path);
    static bool openUrl(const QUrl &url);

    // The path of a document shipped with the app, or an empty text when it is missing. They are
    // installed in share/kelvorandix/docs beside bin/, and the build tree has the same layout, so
    // that a build runs without installing.
    static QString documentPath(const QString &fileName);
    // Opens a shipped document (at a section of it, by its anchor) in the default application;
    // false when it is missing.
    static bool openDocument(const QString &fileName, const QString &section = QString());
};
