#include "live/LiveStream.h"

#include "live/LiveAudio.h"

#include <cerrno>
#include <functional>

extern "C" {
#include <libavdevice/avdevice.h>
#include <libswscale/swscale.h>
}

namespace live {

int Interrupt::callback(void* self) {
    const auto* i = static_cast<const Interrupt*>(self);
    return (i->stop && i->stop->load()) || Clock::now() > i->deadline;
}

std::string avErrorText(int err) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, text, sizeof text);
    return text;
}

bool worthRetrying(int err) {
    return err == AVERROR_EXIT || err == AVERROR(ETIMEDOUT) || err == AVERROR(EIO) ||
           err == AVERROR(ECONNREFUSED) || err == AVERROR(ECONNRESET) ||
           err == AVERROR(EHOSTUNREACH) || err == AVERROR(ENETUNREACH) || err == AVERROR(EAGAIN) ||
           err == AVERROR(EBUSY) || err == AVERROR_EOF;
}

void InputDeleter::operator()(AVFormatContext* c) const {
    avformat_close_input(&c);
}

namespace {

bool isNetwork(const LiveSource& source) {
    return source.format.empty() && source.url.find("://") != std::string::npos &&
           source.url.rfind("file:", 0) != 0;
}

AVDictionary* inputOptions(const LiveSource& source) {
    AVDictionary* options = nullptr;
    if (isNetwork(source)) {
        // Reads give up after 2 s (the interrupt sees a drop sooner); UDP gets
        // a large queue filled by its own thread, so a busy moment of ours
        // never loses datagrams, and a full queue is not an error.
        av_dict_set(&options, "timeout", "2000000", 0);
        av_dict_set(&options, "rw_timeout", "2000000", 0);
        av_dict_set(&options, "fifo_size", "200000", 0);
        av_dict_set(&options, "overrun_nonfatal", "1", 0);
        av_dict_set(&options, "buffer_size", "8388608", 0);
    }
    for (const auto& [key, value] : source.options)
        av_dict_set(&options, key.c_str(), value.c_str(), 0);
    return options;
}

} // namespace

int openLiveInput(const LiveSource& source, Interrupt& interrupt, InputPtr& in,
                  Clock::time_point& firstData) {
    static const bool registered = [] {
        avdevice_register_all();
        avformat_network_init();
        return true;
    }();
    (void)registered;
    const AVInputFormat* format = nullptr;
    if (!source.format.empty() && !(format = av_find_input_format(source.format.c_str())))
        return AVERROR_DEMUXER_NOT_FOUND;
    AVFormatContext* c = avformat_alloc_context();
    if (!c)
        return AVERROR(ENOMEM);
    c->interrupt_callback = {&Interrupt::callback, &interrupt};
    AVDictionary* options = inputOptions(source);
    int err = avformat_open_input(&c, source.url.c_str(), format, &options);
    av_dict_free(&options);
    if (err < 0)
        return err;
    firstData = Clock::now();
    InputPtr opened(c);
    if ((err = avformat_find_stream_info(c, nullptr)) < 0)
        return err;
    if (bestStream(c, AVMEDIA_TYPE_VIDEO) < 0 && bestStream(c, AVMEDIA_TYPE_AUDIO) < 0)
        return AVERROR_STREAM_NOT_FOUND;
    in = std::move(opened);
    return 0;
}

int bestStream(AVFormatContext* in, AVMediaType type) {
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVCodecParameters* p = in->streams[i]->codecpar;
        if (p->codec_type == type && p->codec_id != AV_CODEC_ID_NONE &&
            !(in->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return static_cast<int>(i);
    }
    return -1;
}

namespace {

// What MPEG-TS carries as it comes; anything else is encoded (video) or
// left out (audio).
bool tsCarries(AVCodecID id) {
    switch (id) {
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_HEVC:
    case AV_CODEC_ID_MPEG2VIDEO:
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_AAC_LATM:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3:
    case AV_CODEC_ID_AC3:
    case AV_CODEC_ID_EAC3:
    case AV_CODEC_ID_OPUS:
        return true;
    default:
        return false;
    }
}

constexpr AVRational kTsTimeBase{1, 90000};

} // namespace

// Raw or MJPEG pictures to H.264: decoded, turned into 4:2:0, encoded.
class LiveEncoder {
public:
    ~LiveEncoder() {
        avcodec_free_context(&dec_);
        avcodec_free_context(&enc_);
        sws_freeContext(sws_);
        av_frame_free(&frame_);
        av_frame_free(&yuv_);
        av_packet_free(&out_);
    }

    bool open(const AVStream* in, std::string& error) {
        const AVCodec* decoder = avcodec_find_decoder(in->codecpar->codec_id);
        const AVCodec* encoder = avcodec_find_encoder_by_name("libx264");
        if (!decoder || !encoder) {
            error = "映像を H.264 にできません (libx264 がありません)";
            return false;
        }
        dec_ = avcodec_alloc_context3(decoder);
        enc_ = avcodec_alloc_context3(encoder);
        frame_ = av_frame_alloc();
        yuv_ = av_frame_alloc();
        out_ = av_packet_alloc();
        if (!dec_ || !enc_ || !frame_ || !yuv_ || !out_ ||
            avcodec_parameters_to_context(dec_, in->codecpar) < 0 ||
            avcodec_open2(dec_, decoder, nullptr) < 0) {
            error = "映像を読めません";
            return false;
        }
        AVRational rate = in->avg_frame_rate.num > 0 ? in->avg_frame_rate : in->r_frame_rate;
        if (rate.num <= 0 || rate.den <= 0)
            rate = {25, 1};
        enc_->width = in->codecpar->width;
        enc_->height = in->codecpar->height;
        enc_->pix_fmt = AV_PIX_FMT_YUV420P;
        enc_->time_base = kTsTimeBase;
        enc_->framerate = rate;
        enc_->sample_aspect_ratio = in->codecpar->sample_aspect_ratio;
        enc_->gop_size = static_cast<int>(2 * av_q2d(rate) + 0.5); // a key frame every 2 s
        // Two shared cores: superfast keeps 1080p25 within about one core;
        // zerolatency drops the look-ahead and frame threads, so a picture is
        // on disk as soon as it is encoded (a kill loses almost nothing).
        AVDictionary* options = nullptr;
        av_dict_set(&options, "preset", "superfast", 0);
        av_dict_set(&options, "tune", "zerolatency", 0);
        av_dict_set(&options, "crf", "21", 0);
        av_dict_set(&options, "threads", "0", 0);
        const int err = avcodec_open2(enc_, encoder, &options);
        av_dict_free(&options);
        if (err < 0) {
            error = "H.264 の符号化を始められません: " + avErrorText(err);
            return false;
        }
        return true;
    }

    const AVCodecContext* context() const { return enc_; }

    // Decodes `packet` and encodes its pictures at their times moved by
    // `offsetUs`; each packet made goes to `sink`.
    bool encode(AVPacket* packet, AVRational inTimeBase, int64_t offsetUs,
                const std::function<bool(AVPacket*)>& sink) {
        if (avcodec_send_packet(dec_, packet) < 0)
            return true; // a damaged picture is skipped
        while (avcodec_receive_frame(dec_, frame_) >= 0) {
            int64_t t = frame_->best_effort_timestamp;
            if (t == AV_NOPTS_VALUE)
                t = packet->pts;
            t = av_rescale_q(t, inTimeBase, kTsTimeBase) +
                av_rescale_q(offsetUs, AV_TIME_BASE_Q, kTsTimeBase);
            bool ok = true;
            if (t > lastPts_ && convert()) {
                // The encoder chooses the key frames, not the source's flags.
                yuv_->pict_type = AV_PICTURE_TYPE_NONE;
                lastPts_ = yuv_->pts = t;
                ok = avcodec_send_frame(enc_, yuv_) >= 0 && drain(sink);
            }
            av_frame_unref(frame_);
            if (!ok)
                return false;
        }
        return true;
    }

    bool flush(const std::function<bool(AVPacket*)>& sink) {
        avcodec_send_frame(enc_, nullptr);
        return drain(sink);
    }

private:
    bool convert() {
        av_frame_unref(yuv_);
        if (frame_->format == AV_PIX_FMT_YUV420P && frame_->width == enc_->width &&
            frame_->height == enc_->height)
            return av_frame_ref(yuv_, frame_) >= 0;
        sws_ = sws_getCachedContext(
            sws_, frame_->width, frame_->height, static_cast<AVPixelFormat>(frame_->format),
            enc_->width, enc_->height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
        yuv_->format = AV_PIX_FMT_YUV420P;
        yuv_->width = enc_->width;
        yuv_->height = enc_->height;
        return sws_ && av_frame_get_buffer(yuv_, 0) >= 0 &&
               sws_scale(sws_, frame_->data, frame_->linesize, 0, frame_->height, yuv_->data,
                         yuv_->linesize) > 0;
    }

    bool drain(const std::function<bool(AVPacket*)>& sink) {
        return drainEncoder(enc_, out_, sink);
    }

    AVCodecContext* dec_ = nullptr;
    AVCodecContext* enc_ = nullptr;
    SwsContext* sws_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVFrame* yuv_ = nullptr;
    AVPacket* out_ = nullptr;
    int64_t lastPts_ = INT64_MIN;
};

LiveOutput::LiveOutput() = default;

LiveOutput::~LiveOutput() {
    if (out_) {
        avio_closep(&out_->pb);
        avformat_free_context(out_);
    }
}

bool LiveOutput::open(const std::string& path, AVFormatContext* in, int video, int audio,
                      std::string& error) {
    if (avformat_alloc_output_context2(&out_, nullptr, "mpegts", path.c_str()) < 0 || !out_) {
        error = "MPEG-TS を書き出せません";
        return false;
    }
    if (video >= 0) {
        const AVStream* s = in->streams[video];
        AVStream* o = avformat_new_stream(out_, nullptr);
        if (!tsCarries(s->codecpar->codec_id)) {
            encoder_ = std::make_unique<LiveEncoder>();
            if (!encoder_->open(s, error))
                return false;
            avcodec_parameters_from_context(o->codecpar, encoder_->context());
        } else {
            avcodec_parameters_copy(o->codecpar, s->codecpar);
        }
        o->codecpar->codec_tag = 0;
        o->time_base = kTsTimeBase;
        videoOut_ = o->index;
    }
    if (audio >= 0) {
        const AVStream* s = in->streams[audio];
        std::string why; // sound it cannot make into AAC is left out
        if (!tsCarries(s->codecpar->codec_id) &&
            !(audioEncoder_ = std::make_unique<LiveAudioEncoder>())->open(s, why))
            audioEncoder_.reset();
    }
    if (audio >= 0 && (audioEncoder_ || tsCarries(in->streams[audio]->codecpar->codec_id))) {
        AVStream* o = avformat_new_stream(out_, nullptr);
        if (audioEncoder_)
            avcodec_parameters_from_context(o->codecpar, audioEncoder_->context());
        else
            avcodec_parameters_copy(o->codecpar, in->streams[audio]->codecpar);
        o->codecpar->codec_tag = 0;
        o->time_base = kTsTimeBase;
        audioOut_ = o->index;
    }
    // Every packet goes to the file as it is written: a kill loses none of it.
    out_->flags |= AVFMT_FLAG_FLUSH_PACKETS;
    int err = avio_open(&out_->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (err >= 0)
        err = avformat_write_header(out_, nullptr);
    if (err < 0) {
        error = "収録ファイルを書けません: " + path + " (" + avErrorText(err) + ")";
        return false;
    }
    return true;
}

bool LiveOutput::encoding() const {
    return encoder_ != nullptr;
}

int64_t LiveOutput::bytes() const {
    return out_ && out_->pb ? avio_tell(out_->pb) : finalBytes_;
}

bool LiveOutput::write(AVPacket* packet, bool isVideo, AVRational inTimeBase, int64_t offsetUs) {
    const int stream = isVideo ? videoOut_ : audioOut_;
    if (stream < 0)
        return true;
    if (isVideo && encoder_)
        return encoder_->encode(packet, inTimeBase, offsetUs,
                                [&](AVPacket* p) { return writeOut(p, stream); });
    if (!isVideo && audioEncoder_)
        return audioEncoder_->encode(packet, inTimeBase, offsetUs, [&](AVPacket* p) {
            av_packet_rescale_ts(p, audioEncoder_->context()->time_base, kTsTimeBase);
            return writeOut(p, stream);
        });
    const int64_t shift = av_rescale_q(offsetUs, AV_TIME_BASE_Q, kTsTimeBase);
    av_packet_rescale_ts(packet, inTimeBase, kTsTimeBase);
    if (packet->pts != AV_NOPTS_VALUE)
        packet->pts += shift;
    if (packet->dts != AV_NOPTS_VALUE)
        packet->dts += shift;
    return writeOut(packet, stream);
}

bool LiveOutput::writeOut(AVPacket* packet, int stream) {
    // A time that goes back (two sources' clocks meeting) would stop the
    // muxer, and one before the recording began (sound that starts a little
    // before the first key frame) cannot be written; such packets are left out.
    int64_t& last = lastDts_[stream == videoOut_ ? 0 : 1];
    const int64_t dts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    if (dts == AV_NOPTS_VALUE || dts < 0 || dts <= last)
        return true;
    last = dts;
    if (stream == videoOut_ && packet->pts != AV_NOPTS_VALUE)
        edge_ = std::max(edge_, packet->pts * av_q2d(kTsTimeBase));
    if (packet->pts != AV_NOPTS_VALUE)
        end_ = std::max(end_, (packet->pts + std::max<int64_t>(packet->duration, 0)) *
                                  av_q2d(kTsTimeBase));
    packet->stream_index = stream;
    packet->pos = -1;
    av_packet_rescale_ts(packet, kTsTimeBase, out_->streams[stream]->time_base);
    const int err = av_write_frame(out_, packet);
    if (err < 0) {
        error_ = err == AVERROR(ENOSPC) ? "ディスクがいっぱいです"
                                        : "収録ファイルを書けません: " + avErrorText(err);
        return false;
    }
    return true;
}

bool LiveOutput::finish() {
    if (!out_)
        return false;
    bool ok = true;
    if (encoder_ && videoOut_ >= 0)
        ok = encoder_->flush([&](AVPacket* p) { return writeOut(p, videoOut_); });
    if (audioEncoder_ && audioOut_ >= 0)
        ok = audioEncoder_->flush([&](AVPacket* p) {
            av_packet_rescale_ts(p, audioEncoder_->context()->time_base, kTsTimeBase);
            return writeOut(p, audioOut_);
        }) && ok;
    ok = av_write_trailer(out_) >= 0 && ok;
    finalBytes_ = avio_tell(out_->pb);
    avio_closep(&out_->pb);
    return ok;
}

} // namespace live
