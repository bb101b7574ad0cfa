#pragma once

#include <QString>
#include <QWidget>

// The subtitle over the picture: white letters outlined in black, so that they read on bright and
// dark frames alike, centred and wrapped to the width, standing on the widget's bottom edge.
// Transparent everywhere else, and to the mouse.
class SubtitlesTextField : public QWidget {
    Q_OBJECT
public:
    explicit SubtitlesTextField(QWidget *parent = nullptr);

    QString text() const { return content; }
    void setText(const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString content;
};
