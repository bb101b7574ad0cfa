#include "TerminalProgress.h"

#include "Command.h"

#include <cmath>
#include <unistd.h>

TerminalProgress::TerminalProgress()
    : terminal(::isatty(STDERR_FILENO) == 1)
{}

TerminalProgress::~TerminalProgress()
{
    finishLine();
}

void TerminalProgress::setTaskLabel(const QString &text)
{
    label = text;
    draw();
}

void TerminalProgress::setProgressMaximum(double maximum)
{
    this->maximum = maximum;
}

void TerminalProgress::setProgressValue(double value)
{
    this->value = value;
}

void TerminalProgress::showAlert(const QString &title, const QString &message)
{
    finishLine();
    ++alerts;
    Command::printError(message.isEmpty() ? title + u'\n'
                                          : title + QStringLiteral(": ") + message + u'\n');
}

void TerminalProgress::finishLine()
{
    if (lineOpen)
        Command::printError(QStringLiteral("\n"));
    lineOpen = false;
}

void TerminalProgress::draw()
{
    const double fraction = maximum > 0 ? std::clamp(value / maximum, 0.0, 1.0) : 0.0;
    if (!terminal) {
        // One line per task and per whole percent: enough to follow, little enough to log.
        const QString key = label.section(QStringLiteral(" - "), 0, 0) +
                            QString::number(int(std::floor(fraction * 100)));
        if (key == lastPrinted)
            return;
        lastPrinted = key;
        Command::printError(label + u'\n');
        return;
    }
    constexpr int width = 24;
    const int filled = int(std::lround(fraction * width));
    const QString bar = QString(filled, u'#') + QString(width - filled, u' ');
    Command::printError(QStringLiteral("\r\033[K[") + bar + QStringLiteral("] ") + label);
    lineOpen = true;
}
