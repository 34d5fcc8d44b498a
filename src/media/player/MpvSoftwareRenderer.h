#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <condition_variable>
#include <cstdint>
#include <mpv/render.h>
#include <mutex>
#include <thread>

class MpvPlayer;

// Draws the player's picture into an image on the CPU, for platforms without
// OpenGL (offscreen, for one). The image is letterboxed to the requested size.
//
// New frames are drawn on a thread of the renderer's own (as libmpv
// recommends), so the GUI thread neither converts pictures nor waits for the
// player's locks: it only takes the finished image.
class MpvSoftwareRenderer : public QObject {
    Q_OBJECT
public:
    explicit MpvSoftwareRenderer(MpvPlayer& player, QObject* parent = nullptr);
    ~MpvSoftwareRenderer() override;

    bool isValid() const { return context_ != nullptr; }
    // Size of the image in pixels; the next frame is drawn at this size.
    void setSize(QSize size);
    // The newest picture handed over (on the GUI thread).
    const QImage& image() const { return image_; }
    // Draws the current frame now, on the calling thread, and hands it over.
    void renderNow();
    // Draws the current frame again on the renderer's thread (after a
    // resize); frameReady follows.
    void requestRender();

signals:
    void frameReady();

private:
    void run();
    // Draws into a new image under renderLock_; returns its ticket (0: not
    // drawn).
    uint64_t render(QImage& out, bool always);
    void handOver(QImage image, uint64_t ticket);

    MpvPlayer& player_;
    mpv_render_context* context_ = nullptr;
    QImage image_;
    uint64_t shownTicket_ = 0; // GUI thread: the ticket of image_

    std::mutex renderLock_; // one mpv_render_* call at a time
    uint64_t ticket_ = 0;   // under renderLock_

    std::mutex mutex_;
    std::condition_variable wake_;
    QSize size_{320, 240};
    bool updated_ = false; // the player has something new to draw
    bool redraw_ = false;  // draw even without a new frame
    bool stop_ = false;
    std::thread thread_;
};
