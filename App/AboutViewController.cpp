#include "AboutViewController.h"

#include "DesktopServices.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

const QList<AboutViewController::Library> &AboutViewController::libraries()
{
    static const QList<Library> list = {
        {QStringLiteral("Qt 6"), QStringLiteral("LGPL-3.0 or GPL-2.0")},
        {QStringLiteral("libmpv"), QStringLiteral("GPL-3.0-or-later (Debian build)")},
        {QStringLiteral("FFmpeg"), QStringLiteral("GPL-2.0-or-later (Debian build)")},
        {QStringLiteral("eSpeak NG"), QStringLiteral("GPL-3.0-or-later")},
        {QStringLiteral("Flite"), QStringLiteral("BSD-style (Flite licence)")},
        {QStringLiteral("libsndfile"), QStringLiteral("LGPL-2.1-or-later")},
        {QStringLiteral("Sonic"), QStringLiteral("Apache-2.0")},
        {QStringLiteral("libebur128"), QStringLiteral("MIT")},
        {QStringLiteral("SQLite"), QStringLiteral("public domain")},
        {QStringLiteral("uchardet"), QStringLiteral("MPL-1.1, GPL-2.0+ or LGPL-2.1+")},
        {QStringLiteral("PulseAudio (libpulse)"), QStringLiteral("LGPL-2.1-or-later")},
    };
    return list;
}

AboutViewController::AboutViewController(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("About %1").arg(QApplication::applicationName()));

    auto *name = new QLabel(QApplication::applicationName(), this);
    QFont nameFont = name->font();
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.6);
    nameFont.setBold(true);
    name->setFont(nameFont);
    name->setAlignment(Qt::AlignHCenter);

    versionText = new QLabel(tr("Version ") + QApplication::applicationVersion(), this);
    versionText->setAlignment(Qt::AlignHCenter);
    versionText->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *summary =
        new QLabel(tr("Gives a video a spoken voice track made from its subtitles."), this);
    summary->setAlignment(Qt::AlignHCenter);
    summary->setWordWrap(true);

    auto *licence = new QLabel(
        tr("Free software under the GNU General Public License, version 3 or later."), this);
    licence->setAlignment(Qt::AlignHCenter);
    licence->setWordWrap(true);

    QString rows;
    for (const Library &library : libraries())
        rows += QStringLiteral("<tr><td>%1</td><td style=\"padding-left: 12px\">%2</td></tr>")
                    .arg(library.name.toHtmlEscaped(), library.licence.toHtmlEscaped());
    ackText =
        new QLabel(tr("<p>Built on:</p>") + QStringLiteral("<table>%1</table>").arg(rows), this);
    ackText->setTextFormat(Qt::RichText);
    ackText->setTextInteractionFlags(Qt::TextSelectableByMouse);

    ackButton = new QPushButton(tr("Acknowledgments"), this);
    ackButton->setAutoDefault(false);
    ackButton->setToolTip(tr("The libraries this app is built on and their licences"));
    // A build or installation that lacks the document has nothing to open.
    ackButton->setEnabled(
        !DesktopServices::documentPath(DesktopServices::acknowledgmentsDocument).isEmpty());
    connect(ackButton, &QPushButton::clicked, this, &AboutViewController::onAckClicked);
    // Apart from the dialog's own buttons, where the style would place it beside OK.
    auto *okBox = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(okBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(ackButton);
    buttons->addStretch();
    buttons->addWidget(okBox);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->setSpacing(6);
    layout->addWidget(name);
    layout->addWidget(versionText);
    layout->addSpacing(6);
    layout->addWidget(summary);
    layout->addWidget(licence);
    layout->addSpacing(10);
    layout->addWidget(ackText);
    layout->addSpacing(16);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    summary->setMinimumWidth(fontMetrics().horizontalAdvance(summary->text()) + 8);
}

void AboutViewController::onAckClicked()
{
    DesktopServices::openDocument(DesktopServices::acknowledgmentsDocument);
}
