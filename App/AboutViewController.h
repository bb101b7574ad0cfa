#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The About dialog: the app's name and version, and the acknowledgments document listing the
// libraries the app is built on and their licences.
class AboutViewController : public QDialog {
    Q_OBJECT
public:
    explicit AboutViewController(QWidget *parent = nullptr);

    QLabel *versionLabel() const { return versionText; }
    QPushButton *acknowledgmentsButton() const { return ackButton; }

private:
    void onAckClicked();

    QLabel *versionText = nullptr;
    QPushButton *ackButton = nullptr;
};
