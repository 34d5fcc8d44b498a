#include "video/VideoSurfaces.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPainter>
#include <mpv/render_gl.h>

#include "platform/SystemLog.h"
#include "player/MpvPlayer.h"
#include "player/MpvSoftwareRenderer.h"

SoftwareVideoSurface::SoftwareVideoSurface(MpvPlayer& player, QWidget* parent)
    : QWidget(parent), renderer_(new MpvSoftwareRenderer(player, this)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(renderer_, &MpvSoftwareRenderer::frameReady, this, qOverload<>(&QWidget::update));
}

SoftwareVideoSurface::~SoftwareVideoSurface() = default;

void SoftwareVideoSurface::resizeEvent(QResizeEvent*) {
    renderer_->setSize(size() * devicePixelRatio());
    renderer_->requestRender();
}

void SoftwareVideoSurface::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QImage& image = renderer_->image();
    if (image.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(rect(), image);
}

bool OpenGLVideoSurface::available() {
    const QString platform = QGuiApplication::platformName();
    // Qt 6.4's offscreen platform crashes in QOpenGLWidget.
    if (platform == "offscreen" || platform == "minimal")
        return false;
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext context;
    return context.create() && context.makeCurrent(&surface);
}

OpenGLVideoSurface::OpenGLVideoSurface(MpvPlayer& player, QWidget* parent)
    : QOpenGLWidget(parent), player_(player) {}

OpenGLVideoSurface::~OpenGLVideoSurface() {
    // QOpenGLWidget's own destructor destroys the context; by then this
    // object is gone, so the handler must not run.
    disconnect(contextGone_);
    makeCurrent();
    freeContext();
    doneCurrent();
}

void OpenGLVideoSurface::freeContext() {
    if (!context_)
        return;
    // mpv turns the video off when its output goes away; note the track so
    // a new context can turn it back on.
    savedVideoTrack_ = player_.videoTrack();
    player_.freeRenderContext(context_);
}

void OpenGLVideoSurface::initializeGL() {
    if (!player_.handle())
        return;
    // Reparenting (full screen) destroys the GL context: free ours with it.
    disconnect(contextGone_);
    contextGone_ = connect(
        context(), &QOpenGLContext::aboutToBeDestroyed, this,
        [this] {
            makeCurrent();
            freeContext();
            doneCurrent();
        },
        Qt::DirectConnection);

    mpv_opengl_init_params glInit{
        [](void*, const char* name) -> void* {
            QOpenGLContext* current = QOpenGLContext::currentContext();
            return current ? reinterpret_cast<void*>(current->getProcAddress(name)) : nullptr;
        },
        nullptr};
    context_ = player_.createRenderContext(
        MPV_RENDER_API_TYPE_OPENGL, &glInit,
        [](void* self) {
            QMetaObject::invokeMethod(static_cast<OpenGLVideoSurface*>(self), "update",
                                      Qt::QueuedConnection);
        },
        this, "OpenGL video surface");
    if (!context_)
        return;
    if (savedVideoTrack_ > 0)
        player_.setVideoTrack(savedVideoTrack_);
}

void OpenGLVideoSurface::paintGL() {
    if (!context_)
        return;
    const qreal ratio = devicePixelRatio();
    mpv_opengl_fbo fbo{static_cast<int>(defaultFramebufferObject()),
                       static_cast<int>(width() * ratio), static_cast<int>(height() * ratio), 0};
    int flipY = 1;
    // Drawn now, not held until the frame's time (see the player's
    // video-timing-offset): a wait here is the GUI thread's.
    int block = 0;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
                                 {MPV_RENDER_PARAM_FLIP_Y, &flipY},
                                 {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_render_context_render(context_, params) >= 0)
        drawn_ = true;
}
