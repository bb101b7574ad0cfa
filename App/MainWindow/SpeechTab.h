#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// The "Subtitles to Speech" tab: what the workflow does, what Make would do now, and Make.
class SpeechTab : public QWidget {
    Q_OBJECT
public:
    explicit SpeechTab(QWidget *parent = nullptr);

    void setPlan(const QString &text);
    QPushButton *makeButton() const { return make; }

private:
    QLabel *plan = nullptr;
    QPushButton *make = nullptr;
};
