#pragma once

#include <QString>

class QWidget;

// The warning the window shows over itself: a title, a line of detail and OK. It does not block;
// it deletes itself once closed.
class WarningSheet {
public:
    static void show(QWidget *window, const QString &title, const QString &detail);
};
