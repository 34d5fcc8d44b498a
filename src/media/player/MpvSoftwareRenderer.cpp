#include "player/MpvSoftwareRenderer.h"

#include <QMetaObject>

#include "player/MpvPlayer.h"

MpvSoftwareRenderer::MpvSoftwareRenderer(MpvPlayer& player, QObject* parent)
    : QObject(parent), player_(player) {
    context_ = player.createRenderContext(
        MPV_RENDER_API_TYPE_SW, nullptr,
        [](void* data) {
            // Only a flag here: libmpv forbids render calls from its callback.
            auto* self = static_cast<MpvSoftwareRenderer*>(data);
            {
                std::lock_guard lock(self->mutex_);
                self->updated_ = true;
            }
            self->wake_.notify_one();
        },
        this, "software video surface");
    if (context_)
        thread_ = std::thread([this] { run(); });
}

MpvSoftwareRenderer::~MpvSoftwareRenderer() {
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    // The callback may still come until the context is freed; it only sets
    // a flag of this object, alive until then.
    player_.freeRenderContext(context_);
}

void MpvSoftwareRenderer::setSize(QSize size) {
    if (!size.isValid() || size.isEmpty())
        return;
    std::lock_guard lock(mutex_);
    size_ = size;
}

void MpvSoftwareRenderer::requestRender() {
    {
        std::lock_guard lock(mutex_);
        redraw_ = true;
    }
    wake_.notify_one();
}

void MpvSoftwareRenderer::run() {
    for (;;) {
        bool always = false;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stop_ || updated_ || redraw_; });
            if (stop_)
                return;
            always = redraw_;
            updated_ = redraw_ = false;
        }
        QImage image;
        if (const uint64_t ticket = render(image, always))
            QMetaObject::invokeMethod(
                this, [this, image, ticket] { handOver(image, ticket); }, Qt::QueuedConnection);
    }
}

void MpvSoftwareRenderer::renderNow() {
    QImage image;
    if (const uint64_t ticket = render(image, true))
        handOver(std::move(image), ticket);
}

uint64_t MpvSoftwareRenderer::render(QImage& out, bool always) {
    if (!context_)
        return 0;
    std::lock_guard render(renderLock_);
    if (!(mpv_render_context_update(context_) & MPV_RENDER_UPDATE_FRAME) && !always)
        return 0;
    QSize box;
    {
        std::lock_guard lock(mutex_);
        box = size_;
    }
    // RGB32 is 0xffRRGGBB in memory order B, G, R, X on little-endian
    // machines: mpv's "bgr0". Qt aligns lines to 4 bytes; mpv copies when they
    // are not 64-byte aligned, which is only slower.
    out = QImage(box, QImage::Format_RGB32);
    int size[2] = {box.width(), box.height()};
    char format[] = "bgr0";
    size_t stride = static_cast<size_t>(out.bytesPerLine());
    // Drawn now, not held until the frame's time: mpv hands the frame over
    // at its time already.
    int block = 0;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block},
                                 {MPV_RENDER_PARAM_SW_SIZE, size},
                                 {MPV_RENDER_PARAM_SW_FORMAT, format},
                                 {MPV_RENDER_PARAM_SW_STRIDE, &stride},
                                 {MPV_RENDER_PARAM_SW_POINTER, out.bits()},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_render_context_render(context_, params) < 0)
        return 0;
    return ++ticket_;
}

void MpvSoftwareRenderer::handOver(QImage image, uint64_t ticket) {
    // A picture drawn on the thread may arrive after a newer one drawn here.
    if (ticket <= shownTicket_)
        return;
    shownTicket_ = ticket;
    image_ = std::move(image);
    emit frameReady();
}
