#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <mpv/render.h>

class MpvPlayer;

// Draws the player's picture into an image on the CPU, for platforms without
// OpenGL (offscreen, for one). The image is letterboxed to the requested size.
class MpvSoftwareRenderer : public QObject {
    Q_OBJECT
public:
    explicit MpvSoftwareRenderer(MpvPlayer& player, QObject* parent = nullptr);
    ~MpvSoftwareRenderer() override;

    bool isValid() const { return context_ != nullptr; }
    // Size of the image in pixels; the next frame is drawn at this size.
    void setSize(QSize size);
    const QImage& image() const { return image_; }
    // Draws the current frame now (also done on every new frame).
    void renderNow();

signals:
    void frameReady();

private:
    void onUpdate();

    MpvPlayer& player_;
    mpv_render_context* context_ = nullptr;
    QImage image_;
    QSize size_{320, 240};
};
