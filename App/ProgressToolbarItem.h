#pragma once

#include "Jobs/MakeOutputDisplay.h"

#include <QWidget>

class QLabel;
class QProgressBar;

// The toolbar's progress item while an output chain runs: the task and its percentage and
// remaining time over a bar. Job failures become warning sheets on the window.
class ProgressToolbarItem : public QWidget, public MakeOutputDisplay {
    Q_OBJECT
public:
    static inline const QString identifier = QStringLiteral("toolbarProgress");

    explicit ProgressToolbarItem(QWidget *window, QWidget *parent = nullptr);

    void setTaskLabel(const QString &text) override;
    void setProgressMaximum(double maximum) override;
    double progressMaximum() const override { return maximum; }
    void setProgressValue(double value) override;
    void showAlert(const QString &title, const QString &message) override;

    QString taskLabel() const;
    // The bar's position in thousandths of its length.
    int progressPermille() const;

private:
    QWidget *window;
    QLabel *label;
    QProgressBar *bar;
    double maximum = 0;
};
