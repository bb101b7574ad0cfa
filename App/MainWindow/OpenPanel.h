#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QObject;
class QWidget;

// The window-modal dialog that opens one existing file of some types.
class OpenPanel {
public:
    // chosen is called with the file's path once the user confirms, never on cancel; receiver
    // ends the wait when it goes first.
    static void open(QWidget *window, const QString &title, const QString &kind,
                     const QStringList &types, QObject *receiver,
                     std::function<void(const QString &path)> chosen);
};
