// The audio path of a clip export: decoded, resampled and cut to each
// piece's length through a filter graph and a FIFO, then encoded.
#include "export/ExportParts.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

namespace exportparts {

AudioPath::AudioPath(Input& in, Output& out) : in_(&in), out_(out) {
    if (!in.aIn)
        return;
    AVCodecContext* dec = in.aDec.ctx;
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    enc_.ctx = avcodec_alloc_context3(aac);
    AVCodecContext* e = enc_.ctx;
    e->sample_fmt = AV_SAMPLE_FMT_FLTP;
    e->sample_rate = dec->sample_rate > 0 ? dec->sample_rate : 48000;
    if (dec->ch_layout.nb_channels > 0 && dec->ch_layout.nb_channels <= 8)
        av_channel_layout_default(&e->ch_layout, dec->ch_layout.nb_channels);
    else
        av_channel_layout_default(&e->ch_layout, 2);
    e->bit_rate = 96000 * std::max(1, e->ch_layout.nb_channels);
    e->time_base = {1, e->sample_rate};
    if (out.globalHeader())
        e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    check(avcodec_open2(e, aac, nullptr), "opening the AAC encoder");
    st_ = out.addStream(e);
    fifo_ = av_audio_fifo_alloc(e->sample_fmt, e->ch_layout.nb_channels, 4 * e->frame_size);
    if (!fifo_)
        check(AVERROR(ENOMEM), "audio buffer");
}

AudioPath::~AudioPath() {
    if (fifo_)
        av_audio_fifo_free(fifo_);
}

void AudioPath::beginPiece(double end) {
    end_ = end;
    pieceDone_ = false;
    graphReady_ = false;
    pending_.clear();
}

void AudioPath::setOrigin(double origin, double length) {
    if (!active() || !in_->aIn)
        return;
    AVCodecContext* dec = in_->aDec.ctx;
    char args[256];
    char layout[64] = "stereo";
    av_channel_layout_describe(&dec->ch_layout, layout, sizeof layout);
    std::snprintf(args, sizeof args,
                  "time_base=%d/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%s",
                  in_->aIn->time_base.num, in_->aIn->time_base.den, dec->sample_rate,
                  av_get_sample_fmt_name(dec->sample_fmt), layout);
    char outLayout[64];
    av_channel_layout_describe(&enc_.ctx->ch_layout, outLayout, sizeof outLayout);
    const long long originPts = std::llround(origin / av_q2d(in_->aIn->time_base));
    char trim[128];
    if (std::isinf(length))
        std::snprintf(trim, sizeof trim, "atrim=start=%.6f", origin);
    else
        std::snprintf(trim, sizeof trim, "atrim=start=%.6f:end=%.6f", origin, origin + length);
    char chain[512];
    std::snprintf(chain, sizeof chain,
                  "%s,asetpts=PTS-%lld,aresample=async=1:first_pts=0,"
                  "aformat=sample_fmts=fltp:sample_rates=%d:channel_layouts=%s",
                  trim, originPts, enc_.ctx->sample_rate, outLayout);
    graph_.build("abuffer", args, "abuffersink", chain, "audio filters");
    graphReady_ = true;
    for (auto& f : pending_)
        check(av_buffersrc_add_frame(graph_.src, f.get()), "audio filters");
    pending_.clear();
    drainGraph();
}

void AudioPath::feed(AVFrame* f) {
    if (graphReady_) {
        check(av_buffersrc_add_frame(graph_.src, f), "audio filters");
        drainGraph();
    } else {
        auto copy = newFrame();
        av_frame_ref(copy.get(), f);
        pending_.push_back(std::move(copy));
    }
}

void AudioPath::decode(const AVPacket* pkt) {
    if (!active() || !in_->aIn)
        return;
    AVCodecContext* dec = in_->aDec.ctx;
    if (avcodec_send_packet(dec, pkt) < 0 && pkt)
        return;
    auto frame = newFrame();
    for (;;) {
        const int r = avcodec_receive_frame(dec, frame.get());
        if (r < 0)
            break;
        frame->pts = frame->best_effort_timestamp;
        const double t = frame->pts * av_q2d(in_->aIn->time_base);
        if (frame->pts == AV_NOPTS_VALUE || t < end_)
            feed(frame.get());
        else
            pieceDone_ = true;
        av_frame_unref(frame.get());
    }
    if (!pkt)
        pieceDone_ = true;
}

void AudioPath::drainGraph() {
    auto f = newFrame();
    for (;;) {
        const int r = av_buffersink_get_frame(graph_.sink, f.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            break;
        check(r, "audio filters");
        check(av_audio_fifo_write(fifo_, reinterpret_cast<void**>(f->extended_data), f->nb_samples),
              "audio buffer");
        queued_ += f->nb_samples;
        av_frame_unref(f.get());
    }
    encodeFull(false);
}

void AudioPath::encodeFull(bool all) {
    // A piece's last samples may yet be trimmed to its video: keep them back
    // until the piece ends.
    const int size = enc_.ctx->frame_size > 0 ? enc_.ctx->frame_size : 1024;
    const int reserve = all ? 0 : enc_.ctx->sample_rate / 4;
    while (av_audio_fifo_size(fifo_) >= size + reserve)
        encodeFromFifo(size);
}

void AudioPath::encodeFromFifo(int samples) {
    auto f = newFrame();
    f->nb_samples = samples;
    f->format = enc_.ctx->sample_fmt;
    f->sample_rate = enc_.ctx->sample_rate;
    av_channel_layout_copy(&f->ch_layout, &enc_.ctx->ch_layout);
    check(av_frame_get_buffer(f.get(), 0), "audio buffer");
    av_audio_fifo_read(fifo_, reinterpret_cast<void**>(f->data), samples);
    f->pts = encoded_;
    encoded_ += samples;
    out_.encode(enc_.ctx, st_, f.get());
}

void AudioPath::endPiece(int64_t totalSamples) {
    if (!active())
        return;
    if (graphReady_) {
        check(av_buffersrc_add_frame(graph_.src, nullptr), "audio filters");
        auto f = newFrame();
        for (;;) {
            const int r = av_buffersink_get_frame(graph_.sink, f.get());
            if (r < 0)
                break;
            av_audio_fifo_write(fifo_, reinterpret_cast<void**>(f->extended_data), f->nb_samples);
            queued_ += f->nb_samples;
            av_frame_unref(f.get());
        }
    }
    graphReady_ = false;
    pending_.clear();
    const int channels = enc_.ctx->ch_layout.nb_channels;
    if (queued_ < totalSamples) {
        // The audio stopped before the picture (the end of the file): silence.
        const int missing = static_cast<int>(totalSamples - queued_);
        uint8_t** data = nullptr;
        check(av_samples_alloc_array_and_samples(&data, nullptr, channels, missing,
                                                 enc_.ctx->sample_fmt, 0),
              "audio buffer");
        av_samples_set_silence(data, 0, missing, channels, enc_.ctx->sample_fmt);
        av_audio_fifo_write(fifo_, reinterpret_cast<void**>(data), missing);
        av_freep(&data[0]);
        av_freep(&data);
        queued_ = totalSamples;
    } else if (queued_ > totalSamples) {
        // Drop the tail past the piece's picture.
        const int keep = static_cast<int>(
            std::max<int64_t>(0, av_audio_fifo_size(fifo_) - (queued_ - totalSamples)));
        const int have = av_audio_fifo_size(fifo_);
        uint8_t** data = nullptr;
        check(av_samples_alloc_array_and_samples(&data, nullptr, channels, std::max(1, have),
                                                 enc_.ctx->sample_fmt, 0),
              "audio buffer");
        av_audio_fifo_read(fifo_, reinterpret_cast<void**>(data), have);
        av_audio_fifo_reset(fifo_);
        av_audio_fifo_write(fifo_, reinterpret_cast<void**>(data), keep);
        av_freep(&data[0]);
        av_freep(&data);
        queued_ = encoded_ + keep;
    }
    // Whole frames go now; the rest runs on into the next piece.
    encodeFull(true);
}

void AudioPath::finish() {
    if (!active())
        return;
    if (const int rest = av_audio_fifo_size(fifo_); rest > 0)
        encodeFromFifo(rest); // the last, short frame
    out_.encode(enc_.ctx, st_, nullptr);
}

} // namespace exportparts
