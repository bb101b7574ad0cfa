#include "SpeechTab.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

SpeechTab::SpeechTab(QWidget *parent)
    : QWidget(parent)
{
    QWidget *panel = this;
    auto *layout = new QVBoxLayout(panel);
    auto *about = new QLabel(tr("Every subtitle is spoken by the chosen voice, sped up until it "
                                "fits its time, and the speech is laid on the video's timeline. "
                                "The stream options are in Options."),
                             panel);
    about->setWordWrap(true);
    layout->addWidget(about);
    plan = new QLabel(panel);
    plan->setTextFormat(Qt::PlainText);
    plan->setTextInteractionFlags(Qt::TextSelectableByMouse);
    plan->setAccessibleName(tr("What Make will do"));
    layout->addSpacing(6);
    layout->addWidget(plan);
    layout->addStretch();
    auto *row = new QHBoxLayout;
    row->addStretch();
    make = new QPushButton(tr("Make"), panel);
    make->setAccessibleName(tr("Make"));
    // Space plays the video anywhere in the window: Enter presses a focused button.
    make->setAutoDefault(true);
    make->setProperty("tag", 0);
    make->setMinimumWidth(120);
    // A click leaves the keyboard focus where it was: Space goes on playing the video instead of
    // making another one.
    make->setFocusPolicy(Qt::TabFocus);
    row->addWidget(make);
    layout->addLayout(row);
}

void SpeechTab::setPlan(const QString &text)
{
    plan->setText(text);
}
