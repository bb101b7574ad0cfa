#include "VideoRenderView.h"

#include "GlVideoView.h"
#include "SoftwareVideoView.h"

#include <QGuiApplication>

VideoRenderView::Kind VideoRenderView::preferredKind()
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return Kind::Software;
    if (qgetenv(rendererVariable) == "software")
        return Kind::Software;
    return Kind::OpenGL;
}

VideoRenderView *VideoRenderView::create(MpvPlayer *player, QWidget *parent)
{
    if (preferredKind() == Kind::Software)
        return new SoftwareVideoView(player, parent);
    return new GlVideoView(player, parent);
}
