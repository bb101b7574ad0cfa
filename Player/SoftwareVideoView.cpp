#include "SoftwareVideoView.h"

#include "MpvPlayer.h"

#include <QMetaObject>
#include <QPainter>
#include <mpv/render.h>

SoftwareVideoView::SoftwareVideoView(MpvPlayer *player, QWidget *parent)
    : QWidget(parent)
    , player(player)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (!player->handle())
        return;
    mpv_render_param parameters[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(MPV_RENDER_API_TYPE_SW)},
        {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_render_context_create(&renderContext, player->handle(), parameters) < 0) {
        renderContext = nullptr;
        player->setVideoOutputFailed(QStringLiteral("The video cannot be drawn."));
        return;
    }
    // Called on mpv's threads: only hand over to the GUI thread.
    mpv_render_context_set_update_callback(
        renderContext,
        [](void *view) {
            auto *self = static_cast<SoftwareVideoView *>(view);
            QMetaObject::invokeMethod(
                self, [self] { self->frameReady(); }, Qt::QueuedConnection);
        },
        this);
    connect(player, &MpvPlayer::aboutToShutDown, this, &SoftwareVideoView::releaseContext);
    connect(player, &MpvPlayer::stopped, this, [this] {
        blank = true;
        frame = QImage();
        update();
    });
    connect(player, &MpvPlayer::fileLoaded, this, [this] { blank = false; });
    player->setVideoOutputReady(true);
}

SoftwareVideoView::~SoftwareVideoView()
{
    releaseContext();
}

void SoftwareVideoView::frameReady()
{
    if (renderContext && (mpv_render_context_update(renderContext) & MPV_RENDER_UPDATE_FRAME))
        renderFrame();
}

void SoftwareVideoView::renderFrame()
{
    if (!renderContext)
        return;
    const qreal ratio = devicePixelRatioF();
    const QSize size = (QSizeF(this->size()) * ratio).toSize();
    // Waiting for a frame's display time here would stall the GUI thread.
    int blockForTargetTime = 0;
    if (size.isEmpty() || blank) {
        // The frame still counts as shown, so that playback timing goes on.
        int skip = 1;
        mpv_render_param parameters[] = {
            {MPV_RENDER_PARAM_SKIP_RENDERING, &skip},
            {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &blockForTargetTime},
            {MPV_RENDER_PARAM_INVALID, nullptr}};
        mpv_render_context_render(renderContext, parameters);
        return;
    }
    if (frame.size() != size)
        frame = QImage(size, QImage::Format_RGBX8888);
    frame.setDevicePixelRatio(ratio);
    int surfaceSize[2] = {size.width(), size.height()};
    // Bytes R, G, B, padding: QImage's RGBX8888.
    char format[] = "rgb0";
    size_t stride = size_t(frame.bytesPerLine());
    mpv_render_param parameters[] = {{MPV_RENDER_PARAM_SW_SIZE, surfaceSize},
                                     {MPV_RENDER_PARAM_SW_FORMAT, format},
                                     {MPV_RENDER_PARAM_SW_STRIDE, &stride},
                                     {MPV_RENDER_PARAM_SW_POINTER, frame.bits()},
                                     {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &blockForTargetTime},
                                     {MPV_RENDER_PARAM_INVALID, nullptr}};
    mpv_render_context_render(renderContext, parameters);
    update();
}

void SoftwareVideoView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (frame.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(rect(), frame);
}

void SoftwareVideoView::resizeEvent(QResizeEvent *)
{
    renderFrame();
}

void SoftwareVideoView::releaseContext()
{
    if (!renderContext)
        return;
    mpv_render_context_free(renderContext);
    renderContext = nullptr;
    frame = QImage();
    if (player)
        player->setVideoOutputReady(false);
}
