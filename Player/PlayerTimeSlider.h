#pragma once

#include <QSlider>
#include <functional>

// The play-time slider (milliseconds): a click anywhere on it asks for that time.
class PlayerTimeSlider : public QSlider {
    Q_OBJECT
public:
    explicit PlayerTimeSlider(QWidget *parent = nullptr);

    std::function<void(qint64 milliseconds)> onTimeClick;

protected:
    void mousePressEvent(QMouseEvent *event) override;
};
