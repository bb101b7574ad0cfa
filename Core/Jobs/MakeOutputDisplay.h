#pragma once

#include <QString>

// What the output jobs show while they run: the main window's toolbar progress item and alert
// sheets in the app, a progress line and error lines in the command-line tool. Called on the
// main thread only.
class MakeOutputDisplay {
public:
    virtual ~MakeOutputDisplay() = default;

    virtual void setTaskLabel(const QString &text) = 0;
    virtual void setProgressMaximum(double maximum) = 0;
    virtual double progressMaximum() const = 0;
    virtual void setProgressValue(double value) = 0;
    // A warning alert: title as its message text, message as its informative text.
    virtual void showAlert(const QString &title, const QString &message) = 0;
};
