#pragma once

#include "Jobs/MakeOutputDisplay.h"

#include <QList>
#include <QStringList>

// Keeps everything the jobs showed, for assertions.
class RecordingDisplay : public MakeOutputDisplay {
public:
    void setTaskLabel(const QString &text) override { labels.append(text); }
    void setProgressMaximum(double maximum) override { this->maximum = maximum; }
    double progressMaximum() const override { return maximum; }
    void setProgressValue(double value) override { values.append(value); }
    void showAlert(const QString &title, const QString &message) override
    {
        alerts.append(title + QStringLiteral(" | ") + message);
    }

    QStringList labels;
    QList<double> values;
    QStringList alerts;
    double maximum = 0;
};
