#include "SubtitlesDragablePopupButton.h"

#include "Subtitles/NSUtils.h"
#include "VideoProcessor/VideoProcessor.h"

#include <QDragEnterEvent>
#include <QFileInfo>
#include <QMimeData>

SubtitlesDragablePopupButton::SubtitlesDragablePopupButton(QWidget *parent)
    : QComboBox(parent)
{
    setAcceptDrops(true);
}

bool SubtitlesDragablePopupButton::acceptsDrag(const QMimeData *data)
{
    if (!data || !data->hasUrls() || data->urls().size() != 1 ||
        !data->urls().first().isLocalFile())
        return false;
    const QString path = data->urls().first().toLocalFile();
    return QFileInfo(path).isFile() && QFileInfo(path).isReadable() &&
           subtitlesFileTypes.contains(VideoProcessor::pathExtension(path));
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
    const std::optional<QString> path = NSUtils::draggedFilePath(event->mimeData());
    if (!path || !acceptsDrag(event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    if (onFileDragged)
        onFileDragged(*path);
}
