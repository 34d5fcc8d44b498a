#include "angles/AngleFeed.h"

#include <QMetaObject>
#include <algorithm>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr double kEps = 1e-6;
// Frames kept decoded ahead of the wanted instant: half a second of play at
// the rate asked (a busy machine can hold the decoding thread back that
// long), within a memory bound that keeps about 48 pictures of a 1080p angle
// drawn at 683×384.
constexpr size_t kMaxQueued = 256;
constexpr qsizetype kMaxQueuedBytes = 48 << 20;

double frameLength(const AVStream* st) {
    const AVRational r = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    return r.num > 0 && r.den > 0 ? av_q2d(av_inv_q(r)) : 0.04;
}

QSize fitted(QSize source, QSize box) {
    if (box.isEmpty())
        return source;
    return source.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(2, 2));
}

} // namespace

struct AngleFeed::Decoder {
    AVFormatContext* fmt = nullptr;
    AVCodecContext* codec = nullptr;
    SwsContext* sws = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int stream = -1;
    double timeBase = 0;
    double origin = 0; // the file's start, in seconds
    double length = 0.04;

    ~Decoder() {
        sws_freeContext(sws);
        avcodec_free_context(&codec);
        avformat_close_input(&fmt);
        av_packet_free(&packet);
        av_frame_free(&frame);
    }

    bool open(const std::string& path, int threads) {
        AVDictionary* opts = nullptr;
        // Edit lists read as the player reads them.
        av_dict_set(&opts, "advanced_editlist", "0", 0);
        const int err = avformat_open_input(&fmt, path.c_str(), nullptr, &opts);
        av_dict_free(&opts);
        if (err < 0 || avformat_find_stream_info(fmt, nullptr) < 0)
            return false;
        const AVCodec* decoder = nullptr;
        stream = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
        if (stream < 0 || !decoder)
            return false;
        const AVStream* st = fmt->streams[stream];
        codec = avcodec_alloc_context3(decoder);
        if (!codec || avcodec_parameters_to_context(codec, st->codecpar) < 0)
            return false;
        codec->thread_count = threads;
        if (avcodec_open2(codec, decoder, nullptr) < 0)
            return false;
        timeBase = av_q2d(st->time_base);
        origin = fmt->start_time != AV_NOPTS_VALUE ? fmt->start_time / double(AV_TIME_BASE) : 0.0;
        length = frameLength(st);
        for (unsigned i = 0; i < fmt->nb_streams; ++i)
            if (static_cast<int>(i) != stream)
                fmt->streams[i]->discard = AVDISCARD_ALL;
        return true;
    }

    double duration() const {
        return fmt->duration != AV_NOPTS_VALUE ? fmt->duration / double(AV_TIME_BASE) : NAN;
    }

    void seek(double t) {
        // A frame early: the key frame before must hold the instant.
        const double at = std::max(0.0, t - length) + origin;
        av_seek_frame(fmt, -1, static_cast<int64_t>(at * AV_TIME_BASE), AVSEEK_FLAG_BACKWARD);
        avcodec_flush_buffers(codec);
    }

    QImage convert(QSize box) {
        const QSize size = fitted(QSize(frame->width, frame->height), box);
        sws = sws_getCachedContext(
            sws, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
            size.width(), size.height(), AV_PIX_FMT_BGR0, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!sws)
            return {};
        // RGB32 is B, G, R, X in memory on little-endian machines.
        QImage image(size, QImage::Format_RGB32);
        uint8_t* planes[4] = {image.bits(), nullptr, nullptr, nullptr};
        int strides[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
        sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides);
        return image;
    }
};

AngleFeed::AngleFeed(std::string path, int threads, QObject* parent)
    : QObject(parent), path_(std::move(path)), threads_(std::max(1, threads)) {
    thread_ = std::thread([this] { run(); });
}

AngleFeed::~AngleFeed() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

std::string AngleFeed::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

void AngleFeed::setSize(QSize size) {
    std::lock_guard lock(mutex_);
    if (size == size_)
        return;
    size_ = size;
    // Pictures of the old size go; the wanted one is decoded again.
    ++seekAsked_;
    runFrom_ = wantT_;
    catchingUp_ = false;
    queue_.clear();
    decodedTo_ = -1e300;
    eof_ = false;
    wake_.notify_all();
}

void AngleFeed::want(double t, double rate) {
    std::lock_guard lock(mutex_);
    // Moving on steadily but the decoding left behind (a slow machine):
    // sought ahead of the instant rather than to it, or it would never catch
    // up.
    const bool steady = rate > 0.0 && std::abs(t - wantT_) < 0.5 * std::max(1.0, rate);
    wantT_ = t;
    wantRate_ = rate;
    if (catchingUp_ && (t >= runFrom_ || !steady))
        catchingUp_ = false;
    const bool back =
        !catchingUp_ && (t < runFrom_ - kEps || (!queue_.empty() && t < queue_.front().pts - kEps));
    const bool farAhead = t > std::max(decodedTo_, runFrom_) + kDecodeThrough;
    if (back || farAhead) {
        ++seekAsked_;
        catchingUp_ = farAhead && steady;
        runFrom_ = catchingUp_ ? t + 0.5 * rate : t;
        queue_.clear();
        decodedTo_ = -1e300;
        eof_ = false;
    }
    nudge();
}

bool AngleFeed::frameAt(double t, Frame& out) {
    std::lock_guard lock(mutex_);
    bool freed = false;
    while (queue_.size() >= 2 && queue_[1].pts <= t + kEps) {
        queue_.pop_front();
        freed = true;
    }
    if (freed)
        nudge();
    if (queue_.empty() || queue_.front().pts > t + kEps)
        return false;
    out = queue_.front();
    return t < out.end - kEps || (eof_ && queue_.size() == 1);
}

void AngleFeed::nudge() {
    // Woken only with work to do, and when moving only once half of what it
    // keeps ahead is used: every wake-up may take the core from the GUI
    // thread, which asks every few ms.
    if (seekAsked_ != seekDone_ || needsFrames(0.5))
        wake_.notify_all();
}

bool AngleFeed::needsFrames(double share) const {
    if (eof_)
        return false;
    if (queue_.empty())
        return true;
    // Still: the frame holding the instant and the next. Moving: half a
    // second ahead at the rate asked.
    const double ahead = wantRate_ == 0.0 ? kEps : share * 0.5 * std::max(1.0, std::abs(wantRate_));
    const qsizetype frameBytes = queue_.back().image.sizeInBytes();
    return queue_.size() < kMaxQueued &&
           static_cast<qsizetype>(queue_.size()) * frameBytes < kMaxQueuedBytes &&
           queue_.back().pts < wantT_ + ahead;
}

void AngleFeed::push(Frame frame) {
    if (!queue_.empty() && frame.pts > queue_.back().pts)
        queue_.back().end = frame.pts;
    queue_.push_back(std::move(frame));
}

void AngleFeed::notify() {
    if (!notifyPending_.exchange(true))
        QMetaObject::invokeMethod(
            this,
            [this] {
                notifyPending_ = false;
                emit framesArrived();
            },
            Qt::QueuedConnection);
}

void AngleFeed::run() {
    Decoder d;
    const bool ok = d.open(path_, threads_);
    {
        std::lock_guard lock(mutex_);
        if (!ok)
            error_ = "映像を開けません";
    }
    if (ok)
        duration_ = d.duration();
    open_ = ok;
    QMetaObject::invokeMethod(
        this, [this, ok] { emit opened(ok); }, Qt::QueuedConnection);
    if (!ok)
        return;
    uint64_t run = 0;
    bool draining = false;
    for (;;) {
        QSize size;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stop_ || seekAsked_ != seekDone_ || needsFrames(); });
            if (stop_)
                return;
            if (seekAsked_ != seekDone_) {
                seekDone_ = seekAsked_;
                run = seekDone_;
                const double to = runFrom_;
                lock.unlock();
                d.seek(to);
                draining = false;
                continue;
            }
            size = size_;
        }
        // One packet in (or the end), every frame it gives out. The decoder
        // is emptied after each packet, so it always takes the next.
        if (!draining) {
            if (av_read_frame(d.fmt, d.packet) < 0) {
                draining = true;
                avcodec_send_packet(d.codec, nullptr);
            } else {
                if (d.packet->stream_index == d.stream)
                    avcodec_send_packet(d.codec, d.packet);
                av_packet_unref(d.packet);
            }
        }
        receive(d, run, size);
        if (draining) {
            // Whatever the decoder said, nothing more comes from this run.
            std::lock_guard lock(mutex_);
            if (run == seekAsked_)
                eof_ = true;
        }
    }
}

// Every frame the decoder gives out now, drawn and queued unless already
// past or asked for no more (a newer seek).
void AngleFeed::receive(Decoder& d, uint64_t run, QSize size) {
    for (;;) {
        const int got = avcodec_receive_frame(d.codec, d.frame);
        if (got == AVERROR_EOF) {
            std::lock_guard lock(mutex_);
            if (run == seekDone_)
                eof_ = true;
            break;
        }
        if (got < 0)
            break;
        const int64_t ts = d.frame->best_effort_timestamp;
        const double pts = ts == AV_NOPTS_VALUE ? NAN : ts * d.timeBase - d.origin;
        double wanted = 0;
        {
            std::lock_guard lock(mutex_);
            if (run != seekAsked_) {
                av_frame_unref(d.frame);
                break;
            }
            wanted = wantT_;
            decodedTo_ = std::max(decodedTo_, pts + d.length);
        }
        // Frames already past are not drawn: decoding catches up.
        if (std::isnan(pts) || pts + d.length <= wanted + kEps) {
            av_frame_unref(d.frame);
            continue;
        }
        Frame f{pts, pts + d.length, d.convert(size)};
        av_frame_unref(d.frame);
        bool pushed = false;
        {
            std::lock_guard lock(mutex_);
            if (run == seekAsked_) {
                push(std::move(f));
                pushed = true;
            }
        }
        // Told after the lock is let go: the GUI thread woken by it must not
        // find the lock held by this thread waiting for a core.
        if (pushed)
            notify();
    }
}
