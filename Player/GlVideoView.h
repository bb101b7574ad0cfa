#pragma once

#include "VideoRenderView.h"

#include <QOpenGLWidget>
#include <QPointer>

struct mpv_render_context;

// mpv's OpenGL renderer drawing into the widget's framebuffer.
class GlVideoView : public QOpenGLWidget, public VideoRenderView {
    Q_OBJECT
public:
    GlVideoView(MpvPlayer *player, QWidget *parent = nullptr);
    ~GlVideoView() override;

    QWidget *widget() override { return this; }
    Kind kind() const override { return Kind::OpenGL; }

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void releaseContext();

    QPointer<MpvPlayer> player;
    mpv_render_context *renderContext = nullptr;
    QMetaObject::Connection contextConnection;
    // Between a stop and the next file mpv's frames are the stopped file's.
    bool blank = false;
};
