#include "AudioOverlayTableModel.h"

#include "Overlay/Project.h"
#include "Subtitles/Utils.h"

#include <QColor>

AudioOverlayTableModel::AudioOverlayTableModel(const QList<ProjectItem> &items, QObject *parent)
    : QAbstractTableModel(parent)
    , items(items)
{}

int AudioOverlayTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(items.size());
}

int AudioOverlayTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(columnIdentifiers.size());
}

QVariant AudioOverlayTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= items.size())
        return {};
    const ProjectItem &item = items[index.row()];
    const bool hasAudio = item.audioDuration > 0;
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
        switch (index.column()) {
        case IdColumn:
            // The item's own number, which a new order of the table does not change.
            return item.id;
        case SubtitleColumn:
            return item.text;
        case StartColumn:
            return Utils::fullTimeString(item.start);
        case EndColumn:
            return Utils::fullTimeString(item.end);
        case LengthColumn:
            return Utils::shortTimeString(qint64(item.end) - item.start);
        case AudioColumn:
            return hasAudio ? QStringLiteral("▷ ") + Utils::shortTimeString(item.audioDuration)
                            : Utils::shortTimeString(0);
        default:
            return {};
        }
    }
    if (index.column() != AudioColumn)
        return {};
    // An item with audio shows it as a light grey, centred button to play it.
    if (role == Qt::BackgroundRole && hasAudio)
        return QColor::fromRgbF(0.9f, 0.9f, 0.9f, 1.0f);
    if (role == Qt::ForegroundRole && hasAudio)
        return QColor(Qt::black);
    if (role == Qt::TextAlignmentRole)
        return int(hasAudio ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
    if (role == Qt::ToolTipRole && hasAudio)
        return tr("Click to listen");
    return {};
}

QVariant AudioOverlayTableModel::headerData(int section, Qt::Orientation orientation,
                                            int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const QStringList titles = {tr("#"),   tr("Subtitle"), tr("Start"),
                                       tr("End"), tr("Length"),   tr("Audio")};
    return titles.value(section);
}

void AudioOverlayTableModel::reloadData()
{
    beginResetModel();
    endResetModel();
}

void AudioOverlayTableModel::reloadAudio(int row)
{
    const QModelIndex cell = index(row, AudioColumn);
    emit dataChanged(cell, cell);
}

void AudioOverlayTableModel::reloadText(int row)
{
    const QModelIndex cell = index(row, SubtitleColumn);
    emit dataChanged(cell, cell);
}

void AudioOverlayTableModel::reloadAudioColumn()
{
    if (rowCount() > 0)
        emit dataChanged(index(0, AudioColumn), index(rowCount() - 1, AudioColumn));
}

QString AudioOverlayTableModel::sortKey(int column)
{
    switch (column) {
    case SubtitleColumn:
        return QStringLiteral("text");
    case LengthColumn:
        return Project::lengthOrder;
    case AudioColumn:
        return QStringLiteral("audioDuration");
    default:
        return columnIdentifiers.value(column);
    }
}
