#include "GlVideoView.h"

#include "MpvPlayer.h"

#include <QMetaObject>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <mpv/render_gl.h>

GlVideoView::GlVideoView(MpvPlayer *player, QWidget *parent)
    : QOpenGLWidget(parent)
    , player(player)
{
    connect(player, &MpvPlayer::aboutToShutDown, this, &GlVideoView::releaseContext);
    connect(player, &MpvPlayer::stopped, this, [this] {
        blank = true;
        update();
    });
    connect(player, &MpvPlayer::fileLoaded, this, [this] { blank = false; });
    connect(this, &QOpenGLWidget::frameSwapped, this, [this] {
        if (renderContext)
            mpv_render_context_report_swap(renderContext);
    });
}

GlVideoView::~GlVideoView()
{
    releaseContext();
}

void GlVideoView::initializeGL()
{
    if (renderContext || !player || !player->handle())
        return;
    mpv_opengl_init_params glParameters{
        [](void *, const char *name) -> void * {
            QOpenGLContext *current = QOpenGLContext::currentContext();
            return current ? reinterpret_cast<void *>(current->getProcAddress(name)) : nullptr;
        },
        nullptr};
    mpv_render_param parameters[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &glParameters},
        {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_render_context_create(&renderContext, player->handle(), parameters) < 0) {
        renderContext = nullptr;
        player->setVideoOutputFailed(
            QStringLiteral("The video cannot be drawn with OpenGL here; start the app with "
                           "KELVORANDIX_RENDERER=software to draw it without."));
        return;
    }
    // Called on mpv's render thread: only hand over to the GUI thread.
    mpv_render_context_set_update_callback(
        renderContext,
        [](void *view) {
            auto *self = static_cast<GlVideoView *>(view);
            QMetaObject::invokeMethod(
                self, [self] { self->update(); }, Qt::QueuedConnection);
        },
        this);
    // Qt drops a widget's GL context when the widget moves to another window; mpv's must go first.
    contextConnection = connect(context(), &QOpenGLContext::aboutToBeDestroyed, this,
                                &GlVideoView::releaseContext, Qt::DirectConnection);
    player->setVideoOutputReady(true);
}

void GlVideoView::paintGL()
{
    if (renderContext) {
        const qreal ratio = devicePixelRatioF();
        mpv_opengl_fbo target{int(defaultFramebufferObject()), int(width() * ratio),
                              int(height() * ratio), 0};
        int flipY = 1;
        // Waiting for a frame's display time here would stall the GUI thread.
        int blockForTargetTime = 0;
        // A skipped frame still counts as shown, so that mpv does not wait for it.
        int skip = blank ? 1 : 0;
        mpv_render_param parameters[] = {
            {MPV_RENDER_PARAM_OPENGL_FBO, &target},
            {MPV_RENDER_PARAM_FLIP_Y, &flipY},
            {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &blockForTargetTime},
            {MPV_RENDER_PARAM_SKIP_RENDERING, &skip},
            {MPV_RENDER_PARAM_INVALID, nullptr}};
        mpv_render_context_render(renderContext, parameters);
        if (!blank)
            return;
    }
    QOpenGLFunctions *gl = context()->functions();
    gl->glClearColor(0, 0, 0, 1);
    gl->glClear(GL_COLOR_BUFFER_BIT);
}

void GlVideoView::releaseContext()
{
    // The widget's context outlives this object: it must not call back into it.
    disconnect(contextConnection);
    if (!renderContext)
        return;
    makeCurrent();
    mpv_render_context_free(renderContext);
    renderContext = nullptr;
    doneCurrent();
    if (player)
        player->setVideoOutputReady(false);
}
