#include "SubtitlesTextField.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

SubtitlesTextField::SubtitlesTextField(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    QFont systemFont = font();
    systemFont.setPointSizeF(24);
    setFont(systemFont);
}

void SubtitlesTextField::setText(const QString &text)
{
    if (text == content)
        return;
    content = text;
    update();
}

void SubtitlesTextField::paintEvent(QPaintEvent *)
{
    const QString shown = content.trimmed();
    if (shown.isEmpty())
        return;
    const qreal margin = 12;
    const qreal lineWidth = std::max<qreal>(width() - 2 * margin, 1);

    QTextLayout layout(shown, font());
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal height = 0;
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(lineWidth);
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();

    // The glyph outlines of each line, centred, the last line on the bottom edge.
    QPainterPath path;
    const qreal top = this->height() - height;
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        const QString lineText = shown.mid(line.textStart(), line.textLength()).trimmed();
        const qreal textWidth = QFontMetricsF(font()).horizontalAdvance(lineText);
        path.addText(QPointF((width() - textWidth) / 2, top + line.y() + line.ascent()), font(),
                     lineText);
    }

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The outline is stroked first and the letters filled over it, so that it only shows
    // outside the glyphs and thin strokes stay white.
    const qreal outline = std::max<qreal>(3.0, QFontMetricsF(font()).height() * 0.12);
    painter.strokePath(path, QPen(Qt::black, outline, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.fillPath(path, Qt::white);
}
