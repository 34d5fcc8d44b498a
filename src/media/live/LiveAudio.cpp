#include "live/LiveAudio.h"

#include <algorithm>

namespace live {

LiveAudioEncoder::~LiveAudioEncoder() {
    avcodec_free_context(&dec_);
    avcodec_free_context(&enc_);
    swr_free(&swr_);
    if (fifo_)
        av_audio_fifo_free(fifo_);
    av_frame_free(&frame_);
    av_frame_free(&converted_);
    av_packet_free(&out_);
}

bool LiveAudioEncoder::open(const AVStream* in, std::string& error) {
    const AVCodec* decoder = avcodec_find_decoder(in->codecpar->codec_id);
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_AAC);
    error = "音声を AAC にできません";
    if (!decoder || !encoder || !(dec_ = avcodec_alloc_context3(decoder)) ||
        !(enc_ = avcodec_alloc_context3(encoder)) ||
        avcodec_parameters_to_context(dec_, in->codecpar) < 0 ||
        avcodec_open2(dec_, decoder, nullptr) < 0 || dec_->sample_rate <= 0)
        return false;
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, std::clamp(dec_->ch_layout.nb_channels, 1, 2));
    enc_->ch_layout = layout;
    enc_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    enc_->sample_rate = dec_->sample_rate;
    enc_->time_base = {1, dec_->sample_rate};
    enc_->bit_rate = 96000 * layout.nb_channels;
    if (avcodec_open2(enc_, encoder, nullptr) < 0 ||
        swr_alloc_set_opts2(&swr_, &enc_->ch_layout, AV_SAMPLE_FMT_FLTP, enc_->sample_rate,
                            &dec_->ch_layout, dec_->sample_fmt, dec_->sample_rate, 0,
                            nullptr) < 0 ||
        swr_init(swr_) < 0 ||
        !(fifo_ = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, layout.nb_channels, 4096)) ||
        !(frame_ = av_frame_alloc()) || !(converted_ = av_frame_alloc()) ||
        !(out_ = av_packet_alloc()))
        return false;
    error.clear();
    return true;
}

bool LiveAudioEncoder::encode(AVPacket* packet, AVRational inTimeBase, int64_t offsetUs,
                              const std::function<bool(AVPacket*)>& sink) {
    if (avcodec_send_packet(dec_, packet) < 0)
        return true; // damaged sound is skipped
    while (avcodec_receive_frame(dec_, frame_) >= 0) {
        int64_t at = AV_NOPTS_VALUE;
        if (frame_->best_effort_timestamp != AV_NOPTS_VALUE)
            at = av_rescale_q(
                av_rescale_q(frame_->best_effort_timestamp, inTimeBase, AV_TIME_BASE_Q) + offsetUs,
                AV_TIME_BASE_Q, enc_->time_base);
        const bool ok = queue(at) && sendFrames(enc_->frame_size, sink);
        av_frame_unref(frame_);
        if (!ok)
            return false;
    }
    return true;
}

// Converts the decoded frame into the queue. Sound that does not follow on
// from what is queued (the source came back after a drop-out) starts afresh
// at its own time; what was queued of the old is let go.
bool LiveAudioEncoder::queue(int64_t atSample) {
    const int64_t queuedEnd = next_ + av_audio_fifo_size(fifo_);
    if (atSample != AV_NOPTS_VALUE &&
        (next_ == AV_NOPTS_VALUE || std::llabs(atSample - queuedEnd) > enc_->sample_rate / 5)) {
        av_audio_fifo_reset(fifo_);
        next_ = atSample;
    }
    if (next_ == AV_NOPTS_VALUE || next_ < 0)
        return true; // nothing to place it by yet, or before the recording began
    av_frame_unref(converted_);
    converted_->format = AV_SAMPLE_FMT_FLTP;
    converted_->sample_rate = enc_->sample_rate;
    converted_->nb_samples = swr_get_out_samples(swr_, frame_->nb_samples);
    if (av_channel_layout_copy(&converted_->ch_layout, &enc_->ch_layout) < 0 ||
        av_frame_get_buffer(converted_, 0) < 0)
        return false;
    const int n =
        swr_convert(swr_, converted_->data, converted_->nb_samples,
                    const_cast<const uint8_t**>(frame_->extended_data), frame_->nb_samples);
    return n >= 0 && av_audio_fifo_write(fifo_, reinterpret_cast<void**>(converted_->data), n) == n;
}

// Encodes whole frames from the queue while `least` samples are there.
bool LiveAudioEncoder::sendFrames(int least, const std::function<bool(AVPacket*)>& sink) {
    while (av_audio_fifo_size(fifo_) >= std::max(least, 1)) {
        const int n = std::min(av_audio_fifo_size(fifo_), enc_->frame_size);
        av_frame_unref(converted_);
        converted_->format = AV_SAMPLE_FMT_FLTP;
        converted_->sample_rate = enc_->sample_rate;
        converted_->nb_samples = n;
        if (av_channel_layout_copy(&converted_->ch_layout, &enc_->ch_layout) < 0 ||
            av_frame_get_buffer(converted_, 0) < 0 ||
            av_audio_fifo_read(fifo_, reinterpret_cast<void**>(converted_->data), n) != n)
            return false;
        converted_->pts = next_;
        next_ += n;
        if (avcodec_send_frame(enc_, converted_) < 0 || !drain(sink))
            return false;
    }
    return true;
}

bool LiveAudioEncoder::flush(const std::function<bool(AVPacket*)>& sink) {
    const bool ok = sendFrames(1, sink); // the last, shorter frame
    avcodec_send_frame(enc_, nullptr);
    return drain(sink) && ok;
}

bool drainEncoder(AVCodecContext* enc, AVPacket* out, const std::function<bool(AVPacket*)>& sink) {
    int err = 0;
    while ((err = avcodec_receive_packet(enc, out)) >= 0) {
        const bool ok = sink(out);
        av_packet_unref(out);
        if (!ok)
            return false;
    }
    return err == AVERROR(EAGAIN) || err == AVERROR_EOF;
}

bool LiveAudioEncoder::drain(const std::function<bool(AVPacket*)>& sink) {
    return drainEncoder(enc_, out_, sink);
}

} // namespace live
