#include "PlayerImages.h"

#include "DimmedIconEngine.h"

#include <QAbstractButton>
#include <QVariant>

QIcon PlayerImages::icon(const QString &name)
{
    return QIcon(new DimmedIconEngine(QIcon(QStringLiteral(":/images/%1.svg").arg(name))));
}

void PlayerImages::setImage(QAbstractButton *button, const QString &name)
{
    if (button->property("imageName").toString() == name)
        return;
    button->setIcon(icon(name));
    button->setProperty("imageName", name);
}
