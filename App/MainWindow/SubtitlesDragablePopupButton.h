#pragma once

#include <QComboBox>
#include <QStringList>
#include <functional>

class QMimeData;

// The subtitles chooser: a drop target for one subtitle file.
class SubtitlesDragablePopupButton : public QComboBox {
    Q_OBJECT
public:
    static inline const QStringList subtitlesFileTypes = {
        QStringLiteral("srt"), QStringLiteral("ass"), QStringLiteral("ssa"), QStringLiteral("vtt")};

    explicit SubtitlesDragablePopupButton(QWidget *parent = nullptr);

    // A drag is taken only when it carries exactly one readable file whose extension is one of
    // the subtitle types as written (an "SRT" is not one).
    static bool acceptsDrag(const QMimeData *data);

    // Called with the dropped file's path.
    std::function<void(const QString &path)> onFileDragged;

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
};
