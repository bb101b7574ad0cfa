#pragma once

// What the end-to-end tests of the window do as a user: find what is on screen by its name, paste
// a path into a file dialog, take a picture.

#include <QApplication>
#include <QString>
#include <QWidget>
#include <functional>

class QFileDialog;

namespace WindowDriver {

// Shows a window and gives it the focus (no window manager runs under the test X server).
bool showAndActivate(QWidget *window);

// A visible widget under root whose accessible name or text is name.
template <typename T> T *shown(QWidget *root, const QString &name)
{
    for (T *widget : root->findChildren<T *>())
        if (widget->isVisible() &&
            (widget->accessibleName() == name || widget->property("text") == name))
            return widget;
    return nullptr;
}

// A visible window (or a widget in one) of type T that matches.
template <typename T> T *onScreen(const std::function<bool(T *)> &matches = {})
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        QList<T *> candidates = top->findChildren<T *>();
        if (auto *self = qobject_cast<T *>(top))
            candidates.prepend(self);
        for (T *candidate : candidates)
            if (candidate->isVisible() && (!matches || matches(candidate)))
                return candidate;
    }
    return nullptr;
}

// Waits for a file dialog, pastes the path into it (typed a letter at a time, the dialog would
// take each folder as it comes) and presses Enter; true once the dialog has closed.
bool chooseFile(const QString &path);

// Saves a picture of the window and what stands over it (sheets) into the folder that
// KELVORANDIX_SCREENSHOTS names, if it names one.
void shoot(QWidget *window, const QString &name);

} // namespace WindowDriver
