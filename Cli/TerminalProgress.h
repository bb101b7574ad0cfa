#pragma once

#include "Jobs/MakeOutputDisplay.h"

#include <QString>

// Shows a job chain's progress on standard error: one redrawn line with a bar on a terminal,
// plain lines otherwise (at most one per whole percent). Alerts become "title: message" lines.
class TerminalProgress : public MakeOutputDisplay {
public:
    TerminalProgress();
    ~TerminalProgress() override;

    void setTaskLabel(const QString &text) override;
    void setProgressMaximum(double maximum) override;
    double progressMaximum() const override { return maximum; }
    void setProgressValue(double value) override;
    void showAlert(const QString &title, const QString &message) override;

    // Ends the progress line, if one is shown.
    void finishLine();
    int alertCount() const { return alerts; }

private:
    void draw();

    const bool terminal;
    QString label;
    double maximum = 0;
    double value = 0;
    bool lineOpen = false;
    QString lastPrinted;
    int alerts = 0;
};
