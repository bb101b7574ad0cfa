#pragma once

#include <QIcon>
#include <QIconEngine>

// Draws an icon as it is, and faded when its control is disabled: the style's own disabled form
// turns white images grey, which hardly shows on the dark controls.
class DimmedIconEngine : public QIconEngine {
public:
    explicit DimmedIconEngine(QIcon icon);

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override;
    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override;
    QIconEngine *clone() const override;

private:
    QIcon icon;
};
