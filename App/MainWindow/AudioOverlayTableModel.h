#pragma once

#include "Overlay/ProjectItem.h"

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

// The overlay project's items as the item table shows them: one row per item in the project's
// current order, the columns id, subtitle, start, end, length and audio.
class AudioOverlayTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { IdColumn, SubtitleColumn, StartColumn, EndColumn, LengthColumn, AudioColumn };
    static inline const QStringList columnIdentifiers = {
        QStringLiteral("id"),  QStringLiteral("subtitle"), QStringLiteral("start"),
        QStringLiteral("end"), QStringLiteral("length"),   QStringLiteral("audio")};

    explicit AudioOverlayTableModel(const QList<ProjectItem> &items, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The items were replaced or changed as a whole.
    void reloadData();
    // One item's audio changed: only that cell is drawn again.
    void reloadAudio(int row);
    // One item's text changed.
    void reloadText(int row);
    // New audio for any items, the rows as they were: the selection stays.
    void reloadAudioColumn();

    // The project's order field for a column.
    static QString sortKey(int column);

private:
    const QList<ProjectItem> &items;
};
