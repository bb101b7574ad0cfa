#include "SubtitlesDragablePopupButton.h"

#include "Subtitles/NSUtils.h"

#include <QDragEnterEvent>
#include <QMimeData>

SubtitlesDragablePopupButton::SubtitlesDragablePopupButton(QWidget *parent)
    : QComboBox(parent)
{
    setAcceptDrops(true);
}

bool SubtitlesDragablePopupButton::acceptsDrag(const QMimeData *data)
{
    return NSUtils::droppedFile(data, subtitlesFileTypes).has_value();
}

void SubtitlesDragablePopupButton::dragEnterEvent(QDragEnterEvent *event)
{
    if (acceptsDrag(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void SubtitlesDragablePopupButton::dragMoveEvent(QDragMoveEvent *event)
{
    if (acceptsDrag(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void SubtitlesDragablePopupButton::dropEvent(QDropEvent *event)
{
    const std::optional<QString> path = NSUtils::droppedFile(event->mimeData(), subtitlesFileTypes);
    if (!path) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    if (onFileDragged)
        onFileDragged(*path);
}
