#include "DimmedIconEngine.h"

#include <QPainter>
#include <QPixmap>

namespace {

constexpr qreal disabledOpacity = 0.35;

} // namespace

DimmedIconEngine::DimmedIconEngine(QIcon icon)
    : icon(std::move(icon))
{}

void DimmedIconEngine::paint(QPainter *painter, const QRect &rect, QIcon::Mode mode,
                             QIcon::State state)
{
    painter->save();
    if (mode == QIcon::Disabled)
        painter->setOpacity(painter->opacity() * disabledOpacity);
    icon.paint(painter, rect, Qt::AlignCenter, QIcon::Normal, state);
    painter->restore();
}

QPixmap DimmedIconEngine::pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state)
{
    return scaledPixmap(size, mode, state, 1.0);
}

// QIcon asks for the size in device pixels and sets the pixel ratio on what it gets.
QPixmap DimmedIconEngine::scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state,
                                       qreal)
{
    const QPixmap normal = icon.pixmap(size, 1.0, QIcon::Normal, state);
    if (mode != QIcon::Disabled || normal.isNull())
        return normal;
    QPixmap faded(normal.size());
    faded.fill(Qt::transparent);
    QPainter painter(&faded);
    painter.setOpacity(disabledOpacity);
    painter.drawPixmap(0, 0, normal);
    return faded;
}

QSize DimmedIconEngine::actualSize(const QSize &size, QIcon::Mode, QIcon::State state)
{
    return icon.actualSize(size, QIcon::Normal, state);
}

QIconEngine *DimmedIconEngine::clone() const
{
    return new DimmedIconEngine(icon);
}
