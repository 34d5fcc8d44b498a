#include "export/ExportParts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <utility>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

#include "platform/AtomicFile.h"
#include "platform/FileFailure.h"

namespace exportparts {

std::string errorString(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

int check(int err, const char* what) {
    if (err < 0)
        throw ExportError{std::string(what) + ": " + errorString(err)};
    return err;
}

FramePtr newFrame() {
    return FramePtr(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
}

PacketPtr newPacket() {
    return PacketPtr(av_packet_alloc(), [](AVPacket* p) { av_packet_free(&p); });
}

void Graph::build(const char* srcName, const std::string& srcArgs, const char* sinkName,
                  const std::string& chain, const char* what) {
    avfilter_graph_free(&graph);
    graph = avfilter_graph_alloc();
    if (!graph)
        check(AVERROR(ENOMEM), what);
    check(avfilter_graph_create_filter(&src, avfilter_get_by_name(srcName), "in", srcArgs.c_str(),
                                       nullptr, graph),
          what);
    check(avfilter_graph_create_filter(&sink, avfilter_get_by_name(sinkName), "out", nullptr,
                                       nullptr, graph),
          what);
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    outputs->name = av_strdup("in");
    outputs->filter_ctx = src;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink;
    const int err = avfilter_graph_parse_ptr(graph, chain.c_str(), &inputs, &outputs, nullptr);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    check(err, what);
    check(avfilter_graph_config(graph, nullptr), what);
}

// ---- Input

Input::Input(const std::string& path) {
    // MP4 edit lists read as mpv reads them (it turns FFmpeg's advanced
    // handling off): frames before a cut stay, at times before the start.
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "advanced_editlist", "0", 0);
    const int opened = avformat_open_input(&ctx, path.c_str(), nullptr, &opts);
    av_dict_free(&opts);
    check(opened, path.c_str());
    check(avformat_find_stream_info(ctx, nullptr), "reading the streams");
    vIndex = check(av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0),
                   "finding the video stream");
    aIndex = av_find_best_stream(ctx, AVMEDIA_TYPE_AUDIO, -1, vIndex, nullptr, 0);
    vIn = ctx->streams[vIndex];
    aIn = aIndex >= 0 ? ctx->streams[aIndex] : nullptr;

    // The player counts from the file's start, the earliest stream's; the
    // streams may start later on any container (MPEG-TS, MP4 from cameras or
    // cut by other tools).
    offset = ctx->start_time != AV_NOPTS_VALUE ? ctx->start_time / double(AV_TIME_BASE) : 0.0;
    // Where the streams end (MP4's own duration counts from 0, not from the
    // start).
    fileEnd = -std::numeric_limits<double>::infinity();
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* st = ctx->streams[i];
        if (st->start_time != AV_NOPTS_VALUE && st->duration > 0)
            fileEnd = std::max(fileEnd, (st->start_time + st->duration) * av_q2d(st->time_base));
    }
    if (std::isinf(fileEnd))
        fileEnd = ctx->duration > 0 ? offset + ctx->duration / double(AV_TIME_BASE)
                                    : std::numeric_limits<double>::infinity();

    const AVCodec* vCodec = avcodec_find_decoder(vIn->codecpar->codec_id);
    if (!vCodec)
        throw ExportError{"No decoder for the video stream."};
    vDec.ctx = avcodec_alloc_context3(vCodec);
    check(avcodec_parameters_to_context(vDec.ctx, vIn->codecpar), "video decoder");
    vDec.ctx->thread_count = 0;
    vDec.ctx->pkt_timebase = vIn->time_base;
    check(avcodec_open2(vDec.ctx, vCodec, nullptr), "opening the video decoder");
    if (aIn) {
        if (const AVCodec* aCodec = avcodec_find_decoder(aIn->codecpar->codec_id)) {
            aDec.ctx = avcodec_alloc_context3(aCodec);
            check(avcodec_parameters_to_context(aDec.ctx, aIn->codecpar), "audio decoder");
            aDec.ctx->pkt_timebase = aIn->time_base;
            if (avcodec_open2(aDec.ctx, aCodec, nullptr) < 0)
                avcodec_free_context(&aDec.ctx); // export the picture alone
        }
        if (!aDec.ctx)
            aIn = nullptr;
    }
    frameRate = av_guess_frame_rate(ctx, vIn, nullptr);
    if (frameRate.num <= 0 || frameRate.den <= 0)
        frameRate = {25, 1};
}

Input::~Input() {
    avformat_close_input(&ctx);
}

void Input::seekBefore(double start) {
    // Well before the start: decoding from the key frame before it and
    // dropping what precedes the start gives the exact first frame. A fresh
    // file near its start needs no seek (some containers seek poorly there).
    const bool fresh = ctx->pb && avio_tell(ctx->pb) <= 0;
    const int64_t first = ctx->start_time == AV_NOPTS_VALUE ? 0 : ctx->start_time;
    const int64_t target =
        std::max<int64_t>(static_cast<int64_t>((start - 3.0) * AV_TIME_BASE), first);
    if (start > 0.5 || !fresh) {
        // Back to the very start by bytes where the container allows: a
        // timestamp seek there may land on the next key frame (MPEG-TS).
        // The first seek keeps the timestamp seek, as every clip always had.
        const bool rewind = sought_ && target <= first &&
                            !(ctx->iformat->flags & AVFMT_NO_BYTE_SEEK) &&
                            av_seek_frame(ctx, -1, 0, AVSEEK_FLAG_BYTE) >= 0;
        if (!rewind && av_seek_frame(ctx, -1, target, AVSEEK_FLAG_BACKWARD) < 0 && !fresh)
            check(av_seek_frame(ctx, -1, first, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY), "seeking");
    }
    sought_ = true;
    avcodec_flush_buffers(vDec.ctx);
    if (aDec.ctx)
        avcodec_flush_buffers(aDec.ctx);
    sawKeyFrame = false;
}

bool Input::read(AVPacket* pkt) {
    for (;;) {
        if (av_read_frame(ctx, pkt) < 0)
            return false; // the end, or a damaged tail: the cut ends where the file does
        // After a seek into MPEG-TS, frames before a key frame are garbage:
        // start decoding at one.
        if (pkt->stream_index == vIndex && !sawKeyFrame) {
            if (!(pkt->flags & AV_PKT_FLAG_KEY)) {
                av_packet_unref(pkt);
                continue;
            }
            sawKeyFrame = true;
        }
        return true;
    }
}

// ---- Output

Output::Output(const std::string& target, bool fastStart) : target_(target), fastStart_(fastStart) {
    if (target.empty())
        throw ExportError{"No output file was given."};
    // Written beside the target under a temporary name, renamed over it only
    // when complete: a failure never leaves a half-written or missing file.
    // The temporary file is the atomic writer's, locked until the rename, so
    // that leftovers of killed exports go before a new one starts and a live
    // export's file is never taken for one.
    removeStaleTemporaries(target);
    lockFd_ = createLockedTemporary(target, temp_);
    if (lockFd_ < 0) {
        const int err = errno;
        temp_.clear();
        throw ExportError{"書き出すファイルを作れませんでした。\nファイル: " + target +
                          "\n理由: " + fileFailureReason(err, target)};
    }
    // A video is as readable as any other new file.
    ::fchmod(lockFd_, 0666 & ~processUmask());
    check(avformat_alloc_output_context2(&ctx, nullptr, "mp4", temp_.c_str()),
          "creating the MPEG-4 file");
}

Output::~Output() {
    if (ctx && ctx->pb && !(ctx->oformat->flags & AVFMT_NOFILE))
        avio_closep(&ctx->pb);
    avformat_free_context(ctx);
    if (!committed_ && !temp_.empty())
        ::unlink(temp_.c_str());
    // The lock goes only once the file is renamed or removed.
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

bool Output::globalHeader() const {
    return ctx->oformat->flags & AVFMT_GLOBALHEADER;
}

AVStream* Output::addStream(AVCodecContext* enc) {
    AVStream* st = avformat_new_stream(ctx, nullptr);
    if (!st)
        check(AVERROR(ENOMEM), "adding a stream");
    check(avcodec_parameters_from_context(st->codecpar, enc), "adding a stream");
    st->time_base = enc->time_base;
    return st;
}

int Output::checkWrite(int err, const char* what) const {
    if (err < 0 && isFileSystemError(AVUNERROR(err)))
        throw ExportError{"ファイルを書き込めませんでした。\nファイル: " + target_ +
                          "\n理由: " + fileFailureReason(AVUNERROR(err), target_)};
    return check(err, what);
}

void Output::writeHeader() {
    checkWrite(avio_open(&ctx->pb, temp_.c_str(), AVIO_FLAG_WRITE), temp_.c_str());
    AVDictionary* opts = nullptr;
    if (fastStart_)
        av_dict_set(&opts, "movflags", "+faststart", 0);
    const int header = avformat_write_header(ctx, &opts);
    av_dict_free(&opts);
    checkWrite(header, "writing the MPEG-4 header");
}

void Output::write(AVPacket* pkt, AVCodecContext* enc, AVStream* st) {
    write(pkt, enc->time_base, st);
}

void Output::write(AVPacket* pkt, AVRational tb, AVStream* st) {
    pkt->stream_index = st->index;
    av_packet_rescale_ts(pkt, tb, st->time_base);
    checkWrite(av_interleaved_write_frame(ctx, pkt), "writing the file");
}

void Output::encode(AVCodecContext* enc, AVStream* st, AVFrame* frame) {
    check(avcodec_send_frame(enc, frame), "encoding");
    auto pkt = newPacket();
    for (;;) {
        const int r = avcodec_receive_packet(enc, pkt.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return;
        check(r, "encoding");
        // Without a duration the muxer's edit list cuts the last frame.
        if (pkt->duration == 0 && enc->codec_type == AVMEDIA_TYPE_VIDEO)
            pkt->duration = 1;
        write(pkt.get(), enc, st);
    }
}

void Output::finish() {
    checkWrite(av_write_trailer(ctx), "finishing the file");
    checkWrite(avio_closep(&ctx->pb), "closing the file");
}

void Output::commit() {
    std::error_code ec;
    std::filesystem::rename(temp_, target_, ec);
    if (ec)
        throw ExportError{"書き出したファイルを置けませんでした。\nファイル: " + target_ +
                          "\n理由: " + fileFailureReason(ec.value(), target_)};
    committed_ = true;
    ::close(lockFd_);
    lockFd_ = -1;
}

// ---- Video path

namespace {

// The encoded picture's size: the input's, or scaled down to `maxHeight`
// with the same pixel aspect, both sides even.
std::pair<int, int> encodedSize(const AVCodecContext* dec, int maxHeight) {
    if (maxHeight <= 0)
        return {dec->width, dec->height};
    const int height = std::min(dec->height, maxHeight) & ~1;
    const int width =
        2 * static_cast<int>(std::lround(dec->width * double(height) / dec->height / 2));
    return {std::max(2, width), std::max(2, height)};
}

} // namespace

VideoPath::VideoPath(Input& in, Output& out, const VideoSettings& settings)
    : in_(&in), out_(out), frame_(newFrame()) {
    encTb_ = av_inv_q(in.frameRate);
    const AVCodec* x264 = avcodec_find_encoder_by_name("libx264");
    if (!x264)
        throw ExportError{"The H.264 encoder (libx264) is not available."};
    AVCodecContext* dec = in.vDec.ctx;
    enc_.ctx = avcodec_alloc_context3(x264);
    AVCodecContext* e = enc_.ctx;
    std::tie(e->width, e->height) = encodedSize(dec, settings.maxHeight);
    e->sample_aspect_ratio = dec->sample_aspect_ratio;
    if (settings.width > 0 && settings.height > 0) {
        e->width = settings.width;
        e->height = settings.height;
        e->sample_aspect_ratio = {1, 1};
    }
    e->pix_fmt = AV_PIX_FMT_YUV420P;
    e->time_base = encTb_;
    e->framerate = in.frameRate;
    e->thread_count = settings.threads;
    if (out.globalHeader())
        e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "preset", settings.preset.c_str(), 0);
    if (settings.bitRateKbps > 0) {
        // Steady enough for a phone on a club's Wi-Fi to stream.
        e->bit_rate = int64_t{settings.bitRateKbps} * 1000;
        e->rc_max_rate = e->bit_rate * 3 / 2;
        e->rc_buffer_size = static_cast<int>(e->bit_rate * 2);
    } else {
        av_dict_set(&opts, "crf", "18", 0);
    }
    av_dict_set(&opts, "profile", "high", 0);
    const int opened = avcodec_open2(e, x264, &opts);
    av_dict_free(&opts);
    check(opened, "opening the H.264 encoder");
    st_ = out.addStream(e);
}

void VideoPath::beginPiece(double start, double end) {
    start_ = start;
    end_ = end;
    pieceDone_ = false;
    originKnown_ = false;
    pieceFrames_ = 0;
    pieceBase_ = nextPts_;
    // Interlaced frames are deinterlaced (others pass), everything leaves as
    // 4:2:0. A new graph each piece: the deinterlacer keeps frames.
    AVCodecContext* dec = in_->vDec.ctx;
    char args[256];
    std::snprintf(
        args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d",
        dec->width, dec->height, dec->pix_fmt, in_->vIn->time_base.num, in_->vIn->time_base.den,
        std::max(0, dec->sample_aspect_ratio.num), std::max(1, dec->sample_aspect_ratio.den));
    std::string chain = "yadif=mode=send_frame:parity=auto:deint=interlaced";
    // A piece of another video takes the first one's picture size and rate.
    const AVCodecContext* e = enc_.ctx;
    if (!compose && (dec->width != e->width || dec->height != e->height))
        chain += ",scale=" + std::to_string(e->width) + ":" + std::to_string(e->height) +
                 ",setsar=" + std::to_string(std::max(1, e->sample_aspect_ratio.num)) + "/" +
                 std::to_string(std::max(1, e->sample_aspect_ratio.den));
    if (av_cmp_q(in_->frameRate, e->framerate) != 0)
        chain +=
            ",fps=" + std::to_string(e->framerate.num) + "/" + std::to_string(e->framerate.den);
    graph_.build("buffer", args, "buffersink", chain + ",format=yuv420p", "video filters");
}

void VideoPath::decode(const AVPacket* pkt) {
    AVCodecContext* dec = in_->vDec.ctx;
    if (avcodec_send_packet(dec, pkt) < 0 && pkt)
        return; // a damaged packet: skip it
    for (;;) {
        const int r = avcodec_receive_frame(dec, frame_.get());
        if (r < 0)
            break;
        frame_->pts = frame_->best_effort_timestamp;
        check(av_buffersrc_add_frame(graph_.src, frame_.get()), "video filters");
        drain();
    }
    if (!pkt) {
        check(av_buffersrc_add_frame(graph_.src, nullptr), "video filters");
        drain();
        pieceDone_ = true;
    }
}

void VideoPath::drain() {
    // The deinterlacer works in half the input's time base.
    const AVRational sinkTb = av_buffersink_get_time_base(graph_.sink);
    auto f = newFrame();
    for (;;) {
        const int r = av_buffersink_get_frame(graph_.sink, f.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            break;
        check(r, "video filters");
        const double t = f->pts == AV_NOPTS_VALUE ? NAN : f->pts * av_q2d(sinkTb);
        if (!pieceDone_ && !std::isnan(t) && t >= start_ - 1e-6 && t < end_ - 1e-6) {
            if (!originKnown_) {
                originKnown_ = true;
                origin_ = t;
                if (onOrigin)
                    onOrigin(t);
            }
            // Timestamps rise strictly, whatever the source's.
            f->pts = std::max<int64_t>(nextPts_,
                                       pieceBase_ + std::llround((t - origin_) / av_q2d(encTb_)));
            nextPts_ = f->pts + 1;
            AVFrame* sent = f.get();
            FramePtr composed = compose ? compose(*f, t) : FramePtr(nullptr, nullptr);
            if (composed) {
                composed->pts = f->pts;
                sent = composed.get();
            }
            sent->pict_type = AV_PICTURE_TYPE_NONE;
            out_.encode(enc_.ctx, st_, sent);
            ++pieceFrames_;
            ++frames_;
            if (onFrame)
                onFrame(t);
        } else if (!std::isnan(t) && t >= end_ - 1e-6) {
            pieceDone_ = true;
        }
        av_frame_unref(f.get());
    }
}

void VideoPath::finish() {
    out_.encode(enc_.ctx, st_, nullptr);
}

int64_t VideoPath::endPts() const {
    return nextPts_;
}

// ---- One piece through both paths

void cutPiece(Input& in, VideoPath& video, AudioPath& audio, double start, double end,
              const std::atomic<bool>& cancelled, const std::function<void(double)>& progress) {
    const double s = in.fileTime(start);
    const double e = std::isinf(end) ? end : in.fileTime(end);
    const double span = std::max(1e-3, std::min(e, in.end()) - s);
    const double frame = av_q2d(video.timeBase());
    video.setInput(in);
    audio.setInput(in);
    in.seekBefore(s);
    video.beginPiece(s, e);
    // The audio reads a frame past the end; endPiece trims it to the picture.
    audio.beginPiece(e + frame);
    video.onOrigin = [&](double origin) { audio.setOrigin(origin, e + frame - origin); };
    video.onFrame = [&](double t) {
        if (progress)
            progress(std::clamp((t - s) / span, 0.0, 1.0));
    };
    auto pkt = newPacket();
    while (!(video.pieceDone() && audio.pieceDone())) {
        if (cancelled.load())
            throw ExportError{"cancelled"};
        if (!in.read(pkt.get()))
            break;
        if (pkt->stream_index == in.vIndex && !video.pieceDone())
            video.decode(pkt.get());
        else if (in.aIn && pkt->stream_index == in.aIndex && !audio.pieceDone())
            audio.decode(pkt.get());
        av_packet_unref(pkt.get());
    }
    if (!video.pieceDone())
        video.decode(nullptr);
    if (!audio.pieceDone())
        audio.decode(nullptr);
    video.onOrigin = nullptr;
    video.onFrame = nullptr;
    audio.endPiece(av_rescale_q(video.endPts(), video.timeBase(), {1, audio.sampleRate()}));
}

} // namespace exportparts
