#include "publish/SmartCut.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/opt.h>
}

using namespace exportparts;

namespace publish {

namespace {

using Bytes = std::vector<uint8_t>;

[[noreturn]] void unfit(const char* why) {
    throw SmartCutUnfit{why};
}

// The first exp-Golomb numbers of a NAL unit, after its header and `skip`
// bytes.
class Bits {
public:
    Bits(const Bytes& nal, size_t skip) {
        int zeros = 0;
        for (size_t i = 1 + skip; i < nal.size() && rbsp_.size() < 16; ++i) {
            if (zeros >= 2 && nal[i] == 3) { // emulation prevention
                zeros = 0;
                continue;
            }
            zeros = nal[i] == 0 ? zeros + 1 : 0;
            rbsp_.push_back(nal[i]);
        }
    }
    unsigned ue() {
        int zeros = 0;
        while (!bit())
            if (++zeros > 31)
                unfit("a parameter set cannot be read");
        unsigned v = 1;
        for (int i = 0; i < zeros; ++i)
            v = v << 1 | bit();
        return v - 1;
    }

private:
    unsigned bit() {
        if (at_ / 8 >= rbsp_.size())
            unfit("a parameter set cannot be read");
        const unsigned b = rbsp_[at_ / 8] >> (7 - at_ % 8) & 1;
        ++at_;
        return b;
    }
    Bytes rbsp_;
    size_t at_ = 0;
};

// The NAL units of start-code (Annex B) data.
std::vector<Bytes> annexBUnits(const uint8_t* p, size_t n) {
    std::vector<Bytes> units;
    size_t start = 0;
    bool in = false;
    for (size_t i = 0; i + 3 <= n;) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
            size_t end = i;
            while (in && end > start && p[end - 1] == 0)
                --end;
            if (in)
                units.emplace_back(p + start, p + end);
            i += 3;
            start = i;
            in = true;
        } else {
            ++i;
        }
    }
    if (in && start < n)
        units.emplace_back(p + start, p + n);
    return units;
}

struct ParameterSets {
    std::vector<Bytes> sps, pps;
    int nalLength = 0; // bytes of each NAL unit's length in a packet; 0: start codes
};

// The source's parameter sets, from its avcC (MP4) or start-code extradata.
ParameterSets parameterSets(const AVCodecParameters* par) {
    ParameterSets ps;
    const uint8_t* d = par->extradata;
    const size_t n = par->extradata_size > 0 ? static_cast<size_t>(par->extradata_size) : 0;
    if (n >= 7 && d[0] == 1) {
        ps.nalLength = (d[4] & 3) + 1;
        size_t at = 5;
        for (int list = 0; list < 2; ++list) {
            if (at >= n)
                unfit("the avcC is short");
            const int count = list == 0 ? d[at] & 31 : d[at];
            ++at;
            for (int i = 0; i < count; ++i) {
                const size_t len = at + 2 <= n ? size_t{d[at]} << 8 | d[at + 1] : n;
                at += 2;
                if (len == 0 || at + len > n)
                    unfit("the avcC is short");
                (list == 0 ? ps.sps : ps.pps).emplace_back(d + at, d + at + len);
                at += len;
            }
        }
    } else {
        for (Bytes& u : annexBUnits(d, n))
            if (!u.empty() && (u[0] & 31) == 7)
                ps.sps.push_back(std::move(u));
            else if (!u.empty() && (u[0] & 31) == 8)
                ps.pps.push_back(std::move(u));
    }
    if (ps.sps.empty() || ps.pps.empty())
        unfit("no parameter sets in the source's header");
    return ps;
}

// An id neither the source's sequence nor picture parameter sets use: x264
// gives both of its own the same.
int freeId(const ParameterSets& ps) {
    std::vector<bool> used(256);
    for (const Bytes& s : ps.sps)
        used[Bits(s, 3).ue() & 255] = true;
    for (const Bytes& p : ps.pps)
        used[Bits(p, 0).ue() & 255] = true;
    for (int id = 0; id < 32; ++id)
        if (!used[static_cast<size_t>(id)])
            return id;
    unfit("every parameter set id is taken");
}

// Calls f(offset, size) for each NAL unit of a length-prefixed packet.
template <class F> void eachUnit(const AVPacket* pkt, int nalLength, F f) {
    const uint8_t* p = pkt->data;
    const size_t n = static_cast<size_t>(pkt->size);
    size_t at = 0;
    while (at < n) {
        size_t len = 0;
        for (int i = 0; i < nalLength && at < n; ++i, ++at)
            len = len << 8 | p[at];
        if (len == 0 || at + len > n)
            unfit("a damaged packet");
        f(at, len);
        at += len;
    }
}

bool isIdr(const AVPacket* pkt, int nalLength) {
    const uint8_t* p = pkt->data;
    bool idr = false;
    if (nalLength > 0) {
        eachUnit(pkt, nalLength, [&](size_t at, size_t) { idr = idr || (p[at] & 31) == 5; });
        return idr;
    }
    for (size_t i = 0; i + 3 < static_cast<size_t>(pkt->size); ++i)
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && (p[i + 3] & 31) == 5)
            return true;
    return false;
}

// The packet with start codes, as the muxer takes x264's (it writes them
// all length-prefixed).
PacketPtr toAnnexB(const AVPacket* pkt, int nalLength) {
    PacketPtr out = newPacket();
    if (nalLength == 0) {
        check(av_packet_ref(out.get(), pkt), "copying a packet");
        return out;
    }
    Bytes data;
    data.reserve(static_cast<size_t>(pkt->size) + 64);
    eachUnit(pkt, nalLength, [&](size_t at, size_t len) {
        const uint8_t start[] = {0, 0, 0, 1};
        data.insert(data.end(), start, start + 4);
        data.insert(data.end(), pkt->data + at, pkt->data + at + len);
    });
    check(av_new_packet(out.get(), static_cast<int>(data.size())), "copying a packet");
    std::memcpy(out->data, data.data(), data.size());
    check(av_packet_copy_props(out.get(), pkt), "copying a packet");
    return out;
}

const char* x264Profile(int profile) {
    switch (profile) {
    case FF_PROFILE_H264_CONSTRAINED_BASELINE:
        return "baseline";
    case FF_PROFILE_H264_MAIN:
        return "main";
    case FF_PROFILE_H264_HIGH:
        return "high";
    default:
        return nullptr;
    }
}

// x264 for the encoded ends: the source's size, profile, level and colour
// description, so that its pictures join the copied ones; parameter sets
// under `id`; closed GOPs (x264's default); the requested bit rate.
void openEncoder(CodecContext& enc, const Input& in, const RenderSettings& s, int id) {
    const AVCodec* x264 = avcodec_find_encoder_by_name("libx264");
    if (!x264)
        throw ExportError{"The H.264 encoder (libx264) is not available."};
    const AVCodecParameters* par = in.vIn->codecpar;
    AVCodecContext* e = enc.ctx = avcodec_alloc_context3(x264);
    e->width = par->width;
    e->height = par->height;
    e->sample_aspect_ratio = par->sample_aspect_ratio;
    e->pix_fmt = AV_PIX_FMT_YUV420P;
    e->color_range = par->color_range;
    e->color_primaries = par->color_primaries;
    e->color_trc = par->color_trc;
    e->colorspace = par->color_space;
    e->chroma_sample_location = par->chroma_location;
    e->time_base = in.vIn->time_base;
    e->framerate = in.frameRate;
    e->thread_count = s.threads;
    e->level = par->level;
    e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    e->bit_rate = int64_t{s.bitRateKbps} * 1000;
    e->rc_max_rate = e->bit_rate * 3 / 2;
    e->rc_buffer_size = static_cast<int>(e->bit_rate * 2);
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "preset", s.preset.c_str(), 0);
    av_dict_set(&opts, "profile", x264Profile(par->profile), 0);
    av_dict_set(&opts, "x264-params", ("sps-id=" + std::to_string(id)).c_str(), 0);
    const int opened = avcodec_open2(e, x264, &opts);
    av_dict_free(&opts);
    if (opened < 0) // x264 refuses the source's profile or level: encode whole
        unfit("x264 cannot take the source's parameters");
}

// The item's video stream. Packets come in decoding order timed from the
// item's first frame; their decoding times are set here, one frame apart and
// `delay` frames early, so that the parts' differing delays join.
class VideoSink {
public:
    VideoSink(Output& out, AVStream* st, AVRational tb, int64_t frame, int64_t delay)
        : out_(out), st_(st), tb_(tb), frame_(frame), delay_(delay) {}
    void put(AVPacket* pkt) {
        pkt->dts = (count_ - delay_) * frame_;
        if (pkt->pts == AV_NOPTS_VALUE || pkt->pts < pkt->dts)
            unfit("the timestamps do not follow a steady frame rate");
        ++count_;
        pkt->duration = frame_;
        end_ = std::max(end_, pkt->pts + frame_);
        const double t = pkt->pts * av_q2d(tb_);
        out_.write(pkt, tb_, st_);
        if (onPacket)
            onPacket(t);
    }
    int64_t count() const { return count_; }
    int64_t end() const { return end_; } // after the last frame, in the source's time base
    std::function<void(double)> onPacket;

private:
    Output& out_;
    AVStream* st_;
    AVRational tb_;
    int64_t frame_, delay_;
    int64_t count_ = 0, end_ = 0;
};

// The cut, reading the source once from the key frame before the start.
// Video packets go through three stages: gathered from the last IDR frame
// before the start until the first IDR frame inside the range (the frames
// before it are decoded and encoded); then copied a group of pictures at a
// time while the groups end inside the range; the group that runs past the
// end (or everything, without an IDR frame inside) decoded and encoded.
class Cut {
public:
    Cut(Input& in, Output& out, const RenderSettings& s, double start, double end);
    void run(const std::atomic<bool>& cancelled, const std::function<void(double)>& progress);

private:
    enum class Stage { Gather, Copy, Decode, Done };
    void video(PacketPtr pkt);
    void encodeGathered();
    void enterDecode(CodecContext& enc);
    void decode(const AVPacket* pkt);
    void encodeFrame(int64_t pts);
    void encode(AVFrame* f);
    void commitGroup();
    void finishVideo();
    void setOrigin(int64_t pts);
    double seconds(int64_t pts) const { return pts * av_q2d(tb_); }

    Input& in_;
    Output& out_;
    RenderSettings settings_;
    ParameterSets ps_;
    int id_;
    double start_, end_;
    AVRational tb_;
    int64_t frame_;
    CodecContext head_, tail_;
    AVCodecContext* enc_ = nullptr; // the encoder of the stage
    std::unique_ptr<VideoSink> sink_;
    std::unique_ptr<AudioPath> audio_;
    std::vector<PacketPtr> held_; // gathered, or the group being copied
    FramePtr picture_ = newFrame();
    int64_t origin_ = AV_NOPTS_VALUE; // the first frame's time (source's time base)
    Stage stage_ = Stage::Gather;
    bool pastEnd_ = false;
};

Cut::Cut(Input& in, Output& out, const RenderSettings& s, double start, double end)
    : in_(in), out_(out), settings_(s), ps_(parameterSets(in.vIn->codecpar)), id_(freeId(ps_)),
      start_(start), end_(end), tb_(in.vIn->time_base) {
    frame_ = int64_t{tb_.den} * in.frameRate.den / (int64_t{tb_.num} * in.frameRate.num);
    openEncoder(head_, in, s, id_);
    AVStream* st = out.addStream(head_.ctx);
    // The avcC carries the source's parameter sets (first: its profile and
    // level head the box) and x264's; the muxer builds it from start codes.
    Bytes extra;
    const uint8_t start4[] = {0, 0, 0, 1};
    for (const Bytes& u : ps_.sps)
        extra.insert(extra.end(), start4, start4 + 4),
            extra.insert(extra.end(), u.begin(), u.end());
    extra.insert(extra.end(), head_.ctx->extradata,
                 head_.ctx->extradata + head_.ctx->extradata_size);
    for (const Bytes& u : ps_.pps)
        extra.insert(extra.end(), start4, start4 + 4),
            extra.insert(extra.end(), u.begin(), u.end());
    AVCodecParameters* par = st->codecpar;
    av_freep(&par->extradata);
    par->extradata = static_cast<uint8_t*>(av_mallocz(extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata)
        check(AVERROR(ENOMEM), "the video header");
    std::memcpy(par->extradata, extra.data(), extra.size());
    par->extradata_size = static_cast<int>(extra.size());
    par->profile = in.vIn->codecpar->profile;
    par->level = in.vIn->codecpar->level;
    par->field_order = AV_FIELD_PROGRESSIVE;
    const int64_t delay = std::max<int64_t>(in.vIn->codecpar->video_delay, head_.ctx->has_b_frames);
    sink_ = std::make_unique<VideoSink>(out, st, tb_, frame_, delay);
    audio_ = std::make_unique<AudioPath>(in, out);
}

void Cut::run(const std::atomic<bool>& cancelled, const std::function<void(double)>& progress) {
    const double span = std::max(1e-3, std::min(end_, in_.end()) - start_);
    sink_->onPacket = [&](double t) {
        if (progress)
            progress(std::clamp(t / span, 0.0, 1.0));
    };
    const double frame = seconds(frame_);
    in_.seekBefore(start_);
    audio_->setInput(in_);
    // The audio reads a frame past the end; endPiece trims it to the picture.
    audio_->beginPiece(end_ + frame);
    for (;;) {
        if (cancelled.load())
            throw ExportError{"cancelled"};
        if (stage_ == Stage::Done && audio_->pieceDone())
            break;
        PacketPtr pkt = newPacket();
        if (!in_.read(pkt.get()))
            break;
        if (pkt->stream_index == in_.vIndex && stage_ != Stage::Done)
            video(std::move(pkt));
        else if (in_.aIn && pkt->stream_index == in_.aIndex && !audio_->pieceDone())
            audio_->decode(pkt.get());
    }
    // The end of the file.
    if (stage_ == Stage::Gather)
        enterDecode(head_);
    if (stage_ == Stage::Decode)
        decode(nullptr);
    if (stage_ == Stage::Copy)
        commitGroup();
    finishVideo();
    if (!audio_->pieceDone())
        audio_->decode(nullptr);
    if (sink_->count() == 0)
        unfit("no frame in the range");
    audio_->endPiece(av_rescale_q(sink_->end(), tb_, {1, audio_->sampleRate()}));
    audio_->finish();
}

void Cut::video(PacketPtr pkt) {
    if (pkt->pts == AV_NOPTS_VALUE)
        unfit("a video packet without a time");
    const double t = seconds(pkt->pts);
    const bool idr = isIdr(pkt.get(), ps_.nalLength);
    const bool past = t >= end_ - 1e-6;
    switch (stage_) {
    case Stage::Gather:
        if (idr && !past && t >= start_ - 1e-6) {
            encodeGathered();
            if (origin_ == AV_NOPTS_VALUE)
                setOrigin(pkt->pts);
            held_.push_back(std::move(pkt));
            stage_ = Stage::Copy;
            return;
        }
        if (idr && !past)
            held_.clear(); // decoding starts at the last IDR frame before the start
        held_.push_back(std::move(pkt));
        if (past) // no IDR frame inside: encoded whole
            enterDecode(head_);
        return;
    case Stage::Copy:
        if (idr && !past)
            commitGroup();
        if (idr && past) {
            commitGroup(); // the group ends at the end
            finishVideo();
            return;
        }
        held_.push_back(std::move(pkt));
        if (past)
            enterDecode(tail_);
        return;
    case Stage::Decode:
        decode(pkt.get());
        if (pastEnd_)
            finishVideo();
        return;
    case Stage::Done:
        return;
    }
}

void Cut::encodeGathered() {
    // Nothing to encode when the start is the IDR frame itself.
    const bool any = std::any_of(held_.begin(), held_.end(), [&](const PacketPtr& p) {
        return seconds(p->pts) >= start_ - 1e-6;
    });
    if (any) {
        enc_ = head_.ctx;
        avcodec_flush_buffers(in_.vDec.ctx);
        for (const PacketPtr& p : held_)
            decode(p.get());
        decode(nullptr);
        encode(nullptr);
    }
    held_.clear();
    enc_ = nullptr;
}

void Cut::enterDecode(CodecContext& enc) {
    if (!enc.ctx) {
        openEncoder(enc, in_, settings_, id_);
        // Its parameter sets must be those in the header.
        const AVCodecContext* head = head_.ctx;
        if (enc.ctx->extradata_size != head->extradata_size ||
            std::memcmp(enc.ctx->extradata, head->extradata,
                        static_cast<size_t>(head->extradata_size)) != 0)
            unfit("x264's parameter sets differ");
    }
    enc_ = enc.ctx;
    stage_ = Stage::Decode;
    avcodec_flush_buffers(in_.vDec.ctx);
    for (const PacketPtr& p : held_)
        decode(p.get());
    held_.clear();
    if (pastEnd_)
        finishVideo();
}

void Cut::decode(const AVPacket* pkt) {
    AVCodecContext* dec = in_.vDec.ctx;
    if (avcodec_send_packet(dec, pkt) < 0 && pkt)
        return; // a damaged packet: skip it
    while (avcodec_receive_frame(dec, picture_.get()) >= 0) {
        const int64_t pts = picture_->best_effort_timestamp;
        const double t = seconds(pts);
        if (pts != AV_NOPTS_VALUE && t >= start_ - 1e-6 && t < end_ - 1e-6 && !pastEnd_)
            encodeFrame(pts);
        else if (pts != AV_NOPTS_VALUE && t >= end_ - 1e-6)
            pastEnd_ = true;
        av_frame_unref(picture_.get());
    }
}

void Cut::encodeFrame(int64_t pts) {
    AVFrame* f = picture_.get();
    if (f->format != AV_PIX_FMT_YUV420P || f->width != enc_->width || f->height != enc_->height ||
        f->interlaced_frame)
        unfit("a picture the copied ones cannot join");
    if (origin_ == AV_NOPTS_VALUE)
        setOrigin(pts);
    f->pts = pts - origin_;
    f->pict_type = AV_PICTURE_TYPE_NONE;
    encode(f);
}

void Cut::encode(AVFrame* f) {
    check(avcodec_send_frame(enc_, f), "encoding");
    PacketPtr pkt = newPacket();
    for (;;) {
        const int r = avcodec_receive_packet(enc_, pkt.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return;
        check(r, "encoding");
        sink_->put(pkt.get());
    }
}

void Cut::commitGroup() {
    for (const PacketPtr& p : held_) {
        PacketPtr copy = toAnnexB(p.get(), ps_.nalLength);
        copy->pts -= origin_;
        sink_->put(copy.get());
    }
    held_.clear();
}

void Cut::finishVideo() {
    if (stage_ == Stage::Done)
        return;
    if (stage_ == Stage::Decode)
        encode(nullptr);
    stage_ = Stage::Done;
}

void Cut::setOrigin(int64_t pts) {
    origin_ = pts;
    const double t = seconds(pts);
    audio_->setOrigin(t, end_ + seconds(frame_) - t);
}

} // namespace

bool copyable(const Input& in, const RenderSettings& settings) {
    const AVCodecParameters* par = in.vIn->codecpar;
    if (par->codec_id != AV_CODEC_ID_H264 || par->format != AV_PIX_FMT_YUV420P ||
        !x264Profile(par->profile) || settings.bitRateKbps <= 0)
        return false;
    if (par->height > settings.maxHeight && settings.maxHeight > 0)
        return false;
    if (par->field_order != AV_FIELD_PROGRESSIVE && par->field_order != AV_FIELD_UNKNOWN)
        return false;
    if (par->bit_rate <= 0 || par->bit_rate > 2 * int64_t{settings.bitRateKbps} * 1000)
        return false;
    const AVRational tb = in.vIn->time_base, rate = in.frameRate;
    return int64_t{tb.den} * rate.den % (int64_t{tb.num} * rate.num) == 0;
}

void smartCut(Input& in, Output& out, double from, double to, const RenderSettings& settings,
              const std::atomic<bool>& cancelled, const std::function<void(double)>& progress) {
    Cut cut(in, out, settings, in.fileTime(from), std::isinf(to) ? to : in.fileTime(to));
    out.writeHeader();
    cut.run(cancelled, progress);
}

} // namespace publish
