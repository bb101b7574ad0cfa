#pragma once

class MpvPlayer;
class QWidget;

// Where mpv draws the picture. Two views stand behind this: OpenGL, the normal path, and a
// software one for platforms without OpenGL widgets (Qt's offscreen and minimal platforms, where
// a QOpenGLWidget takes the process down) or when KELVORANDIX_RENDERER=software asks for it.
class VideoRenderView {
public:
    enum class Kind { OpenGL, Software };

    static constexpr const char *rendererVariable = "KELVORANDIX_RENDERER";

    virtual ~VideoRenderView() = default;

    virtual QWidget *widget() = 0;
    virtual Kind kind() const = 0;

    // The view this process uses; decided before any view is created.
    static Kind preferredKind();
    // A view drawing player's picture, owned by parent.
    static VideoRenderView *create(MpvPlayer *player, QWidget *parent);
};
