#pragma once

#include <QProxyStyle>

// Under this style a left click on a slider puts the handle under the pointer, where the usual
// styles only step a page toward it; the press goes on as a drag of the handle.
class SliderJumpStyle : public QProxyStyle {
    Q_OBJECT
public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption *option = nullptr,
                  const QWidget *widget = nullptr,
                  QStyleHintReturn *returnData = nullptr) const override;
};
