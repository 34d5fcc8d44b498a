#include "player/MpvSoftwareRenderer.h"

#include <QMetaObject>

#include "platform/SystemLog.h"
#include "player/MpvPlayer.h"

MpvSoftwareRenderer::MpvSoftwareRenderer(MpvPlayer& player, QObject* parent)
    : QObject(parent), player_(player) {
    context_ = player.createRenderContext(
        MPV_RENDER_API_TYPE_SW, nullptr,
        [](void* self) {
            QMetaObject::invokeMethod(static_cast<MpvSoftwareRenderer*>(self),
                                      &MpvSoftwareRenderer::onUpdate, Qt::QueuedConnection);
        },
        this, "software video surface");
}

MpvSoftwareRenderer::~MpvSoftwareRenderer() {
    player_.freeRenderContext(context_);
}

void MpvSoftwareRenderer::setSize(QSize size) {
    if (size.isValid() && !size.isEmpty())
        size_ = size;
}

void MpvSoftwareRenderer::onUpdate() {
    if (context_ && (mpv_render_context_update(context_) & MPV_RENDER_UPDATE_FRAME))
        renderNow();
}

void MpvSoftwareRenderer::renderNow() {
    if (!context_)
        return;
    // RGB32 is 0xffRRGGBB in memory order B, G, R, X on little-endian
    // machines: mpv's "bgr0". Qt aligns lines to 4 bytes; mpv copies when they
    // are not 64-byte aligned, which is only slower.
    if (image_.size() != size_)
        image_ = QImage(size_, QImage::Format_RGB32);
    int size[2] = {size_.width(), size_.height()};
    char format[] = "bgr0";
    size_t stride = static_cast<size_t>(image_.bytesPerLine());
    // Drawn now, not held until the frame's time: mpv hands the frame over
    // at its time already, and a wait here is the GUI thread's.
    int block = 0;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block},
                                 {MPV_RENDER_PARAM_SW_SIZE, size},
                                 {MPV_RENDER_PARAM_SW_FORMAT, format},
                                 {MPV_RENDER_PARAM_SW_STRIDE, &stride},
                                 {MPV_RENDER_PARAM_SW_POINTER, image_.bits()},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_render_context_render(context_, params) >= 0)
        emit frameReady();
}
