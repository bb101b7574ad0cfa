#pragma once

#include <QStringList>
#include <QTableView>
#include <functional>

class QMimeData;

// The item table: a click tells the owner which cell it hit (the audio column plays the item's
// audio), and one audio file dropped on a row is attached to that row's item.
class AudioOverlayTableView : public QTableView {
    Q_OBJECT
public:
    static inline const QStringList audioFileTypes = {
        QStringLiteral("pcm"), QStringLiteral("wav"),  QStringLiteral("aiff"),
        QStringLiteral("mp3"), QStringLiteral("aac"),  QStringLiteral("ogg"),
        QStringLiteral("wma"), QStringLiteral("flac"), QStringLiteral("alac"),
        QStringLiteral("amr"), QStringLiteral("m4a"),  QStringLiteral("midi"),
        QStringLiteral("m4b"), QStringLiteral("m4p"),  QStringLiteral("3ga"),
        QStringLiteral("ape"), QStringLiteral("arf")};

    explicit AudioOverlayTableView(QWidget *parent = nullptr);

    // The row a drop at pos (viewport coordinates) would go to: only onto a row, never between
    // two rows, and only one readable audio file whose extension is one of ours as written.
    // -1 when the drop is refused.
    int dropRow(const QMimeData *data, const QPoint &pos) const;

    // (column, row) of a press, -1 for none.
    std::function<void(int column, int row)> onCellPressed;
    std::function<void(const QString &path, int row)> onFileDropped;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
};
