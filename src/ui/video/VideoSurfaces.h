#pragma once

#include <QOpenGLWidget>
#include <QWidget>

class MpvPlayer;
class MpvSoftwareRenderer;
struct mpv_render_context;

// The picture drawn by mpv's software renderer into an image.
class SoftwareVideoSurface : public QWidget {
    Q_OBJECT
public:
    SoftwareVideoSurface(MpvPlayer& player, QWidget* parent);
    ~SoftwareVideoSurface() override;
    MpvSoftwareRenderer* renderer() const { return renderer_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    MpvSoftwareRenderer* renderer_;
};

// The picture drawn by mpv's OpenGL renderer.
class OpenGLVideoSurface : public QOpenGLWidget {
    Q_OBJECT
public:
    OpenGLVideoSurface(MpvPlayer& player, QWidget* parent);
    ~OpenGLVideoSurface() override;
    // True once a frame has been drawn through OpenGL.
    bool hasDrawn() const { return drawn_; }

    // Whether an OpenGL context can be made on this platform.
    static bool available();

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void freeContext();

    MpvPlayer& player_;
    mpv_render_context* context_ = nullptr;
    int64_t savedVideoTrack_ = -1; // restored after the GL context is remade
    bool drawn_ = false;
    QMetaObject::Connection contextGone_;
};
