#pragma once

#include "VideoRenderView.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

struct mpv_render_context;

// mpv's software renderer drawing into an image the widget paints.
class SoftwareVideoView : public QWidget, public VideoRenderView {
    Q_OBJECT
public:
    SoftwareVideoView(MpvPlayer *player, QWidget *parent = nullptr);
    ~SoftwareVideoView() override;

    QWidget *widget() override { return this; }
    Kind kind() const override { return Kind::Software; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void frameReady();
    void renderFrame();
    void releaseContext();

    QPointer<MpvPlayer> player;
    mpv_render_context *renderContext = nullptr;
    QImage frame;
    // Between a stop and the next file mpv's frames are the stopped file's.
    bool blank = false;
};
