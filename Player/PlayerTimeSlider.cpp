#include "PlayerTimeSlider.h"

#include <QMouseEvent>

PlayerTimeSlider::PlayerTimeSlider(QWidget *parent)
    : QSlider(Qt::Horizontal, parent)
{}

void PlayerTimeSlider::mousePressEvent(QMouseEvent *event)
{
    QSlider::mousePressEvent(event);
    if (!isEnabled() || width() == 0 || !onTimeClick)
        return;
    onTimeClick(qint64(event->position().x()) * maximum() / width());
}
