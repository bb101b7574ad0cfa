#pragma once

#include <QDialog>
#include <QList>
#include <QString>

class QLabel;
class QPushButton;

// The About dialog: the app's name, version and licence, the libraries it is built on with their
// licences, and the acknowledgments document that says more about each.
class AboutViewController : public QDialog {
    Q_OBJECT
public:
    struct Library {
        QString name;
        QString licence;
    };
    // Every library the app and the command-line tool are built on or run.
    static const QList<Library> &libraries();

    explicit AboutViewController(QWidget *parent = nullptr);

    QLabel *versionLabel() const { return versionText; }
    QLabel *acknowledgmentsLabel() const { return ackText; }
    QPushButton *acknowledgmentsButton() const { return ackButton; }

private:
    void onAckClicked();

    QLabel *versionText = nullptr;
    QLabel *ackText = nullptr;
    QPushButton *ackButton = nullptr;
};
