#pragma once

#include <QIcon>
#include <QString>

class QAbstractButton;

// The player's images, named by role ("ButtonPlay", "ButtonVolume33", ...): our own SVGs, drawn
// at whatever size and pixel ratio they are shown, and faded on disabled controls.
class PlayerImages {
public:
    static QIcon icon(const QString &name);
    // Shows the image on the button and remembers its name in the button's "imageName" property.
    static void setImage(QAbstractButton *button, const QString &name);
};
