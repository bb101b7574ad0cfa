#include "ProgressToolbarItem.h"
#include "WarningSheet.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <algorithm>

ProgressToolbarItem::ProgressToolbarItem(QWidget *window, QWidget *parent)
    : QWidget(parent)
    , window(window)
    , label(new QLabel(this))
    , bar(new QProgressBar(this))
{
    setObjectName(identifier);
    setAccessibleName(tr("Progress"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 2, 8, 2);
    layout->setSpacing(2);
    label->setTextFormat(Qt::PlainText);
    // The bar works in thousandths so that fractions of the media's length show smoothly.
    bar->setRange(0, 1000);
    bar->setTextVisible(false);
    bar->setFixedHeight(8);
    bar->setAccessibleName(tr("Progress of the output video"));
    layout->addWidget(label);
    layout->addWidget(bar);
    setMinimumWidth(300);
}

void ProgressToolbarItem::setTaskLabel(const QString &text)
{
    label->setText(text);
}

void ProgressToolbarItem::setProgressMaximum(double maximum)
{
    this->maximum = maximum;
}

void ProgressToolbarItem::setProgressValue(double value)
{
    const double fraction = maximum > 0 ? std::clamp(value / maximum, 0.0, 1.0) : 0.0;
    bar->setValue(int(fraction * 1000));
}

void ProgressToolbarItem::showAlert(const QString &title, const QString &message)
{
    WarningSheet::show(window, title, message);
}

QString ProgressToolbarItem::taskLabel() const
{
    return label->text();
}

int ProgressToolbarItem::progressPermille() const
{
    return bar->value();
}
