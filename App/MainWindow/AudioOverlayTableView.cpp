#include "AudioOverlayTableView.h"

#include "Subtitles/NSUtils.h"

#include <QDropEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QMouseEvent>

AudioOverlayTableView::AudioOverlayTableView(QWidget *parent)
    : QTableView(parent)
{
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setSortIndicatorShown(true);
    verticalHeader()->hide();
    setAlternatingRowColors(true);
}

void AudioOverlayTableView::mousePressEvent(QMouseEvent *event)
{
    QTableView::mousePressEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    if (onCellPressed)
        onCellPressed(index.isValid() ? index.column() : -1, index.isValid() ? index.row() : -1);
}

int AudioOverlayTableView::dropRow(const QMimeData *data, const QPoint &pos) const
{
    if (!isEnabled() || !model() || model()->rowCount() == 0 ||
        !NSUtils::droppedFile(data, audioFileTypes))
        return -1;
    const QModelIndex index = indexAt(pos);
    if (!index.isValid())
        return -1;
    // Near a row's edge the drop would go between two rows.
    const QRect cell = visualRect(index);
    const int margin = std::max(2, cell.height() / 5);
    if (pos.y() < cell.top() + margin || pos.y() > cell.bottom() - margin)
        return -1;
    return index.row();
}

void AudioOverlayTableView::dragEnterEvent(QDragEnterEvent *event)
{
    // Where the drag enters decides nothing yet: its moves are judged one by one.
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        event->ignore();
}

void AudioOverlayTableView::dragMoveEvent(QDragMoveEvent *event)
{
    if (dropRow(event->mimeData(), event->position().toPoint()) >= 0)
        event->acceptProposedAction();
    else
        event->ignore();
}

void AudioOverlayTableView::dropEvent(QDropEvent *event)
{
    const int row = dropRow(event->mimeData(), event->position().toPoint());
    if (row < 0) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    if (onFileDropped)
        onFileDropped(*NSUtils::draggedFilePath(event->mimeData()), row);
}
