#include "Media/ClipExportSession.h"

#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

#include "SubModuleClass/AtomicFile.h"

namespace {

std::string errorString(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

struct FormatInput {
    AVFormatContext* ctx = nullptr;
    ~FormatInput() { avformat_close_input(&ctx); }
};
struct FormatOutput {
    AVFormatContext* ctx = nullptr;
    ~FormatOutput() {
        if (ctx && !(ctx->oformat->flags & AVFMT_NOFILE))
            avio_closep(&ctx->pb);
        avformat_free_context(ctx);
    }
};
struct Codec {
    AVCodecContext* ctx = nullptr;
    ~Codec() { avcodec_free_context(&ctx); }
};
struct Graph {
    AVFilterGraph* graph = nullptr;
    AVFilterContext* src = nullptr;
    AVFilterContext* sink = nullptr;
    ~Graph() { avfilter_graph_free(&graph); }
};
using FramePtr = std::unique_ptr<AVFrame, void (*)(AVFrame*)>;
FramePtr newFrame() {
    return FramePtr(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
}
using PacketPtr = std::unique_ptr<AVPacket, void (*)(AVPacket*)>;
PacketPtr newPacket() {
    return PacketPtr(av_packet_alloc(), [](AVPacket* p) { av_packet_free(&p); });
}

// Thrown inside the worker with FFmpeg's error text; caught in run().
struct ExportError {
    std::string text;
};
int check(int err, const char* what) {
    if (err < 0)
        throw ExportError{std::string(what) + ": " + errorString(err)};
    return err;
}

int buildGraph(Graph& g, const char* srcName, const std::string& srcArgs, const char* sinkName,
               const std::string& chain) {
    g.graph = avfilter_graph_alloc();
    if (!g.graph)
        return AVERROR(ENOMEM);
    int err = avfilter_graph_create_filter(&g.src, avfilter_get_by_name(srcName), "in",
                                           srcArgs.c_str(), nullptr, g.graph);
    if (err < 0)
        return err;
    err = avfilter_graph_create_filter(&g.sink, avfilter_get_by_name(sinkName), "out", nullptr,
                                       nullptr, g.graph);
    if (err < 0)
        return err;
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    outputs->name = av_strdup("in");
    outputs->filter_ctx = g.src;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = g.sink;
    err = avfilter_graph_parse_ptr(g.graph, chain.c_str(), &inputs, &outputs, nullptr);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (err < 0)
        return err;
    return avfilter_graph_config(g.graph, nullptr);
}

} // namespace

ClipExportSession::ClipExportSession(std::string inputPath) : input_(std::move(inputPath)) {
    // Errors are reported through errorText(); the encoders' chatter is not
    // for the user's terminal.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });
}

ClipExportSession::~ClipExportSession() {
    cancel();
    if (worker_.joinable())
        worker_.join();
}

void ClipExportSession::setTimeRange(int64_t startMs, int64_t endMs) {
    startMs_ = startMs;
    endMs_ = endMs;
}

void ClipExportSession::cancel() {
    cancelled_.store(true);
}

std::string ClipExportSession::errorText() const {
    std::lock_guard lock(errorMutex_);
    return error_;
}

void ClipExportSession::fail(const std::string& reason) {
    std::lock_guard lock(errorMutex_);
    error_ = reason;
}

void ClipExportSession::exportAsynchronously(std::function<void()> completion) {
    if (worker_.joinable())
        return;
    completion_ = std::move(completion);
    status_.store(Waiting, std::memory_order_release);
    worker_ = std::thread([this] {
        run();
        if (completion_)
            completion_();
    });
}

void ClipExportSession::run() {
    status_.store(Exporting, std::memory_order_release);
    // Written beside the target under a temporary name, renamed over it only
    // when complete: a failure never leaves a half-written or missing file.
    const std::filesystem::path target(outputURL);
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::string temp;
    try {
        if (outputURL.empty())
            throw ExportError{"No output file was given."};
        if (outputFileType != "mp4")
            throw ExportError{"Only MPEG-4 output is supported."};
        temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
        const int fd = ::mkstemp(temp.data());
        if (fd < 0)
            throw ExportError{outputURL + ": " + errorString(AVERROR(errno))};
        // mkstemp makes the file private; a video is as readable as any other
        // new file.
        ::fchmod(fd, 0666 & ~processUmask());
        ::close(fd);

        FormatInput in;
        // MP4 edit lists read as mpv reads them (it turns FFmpeg's advanced
        // handling off): frames before a cut stay, at times before the start.
        AVDictionary* inOpts = nullptr;
        av_dict_set(&inOpts, "advanced_editlist", "0", 0);
        const int opened = avformat_open_input(&in.ctx, input_.c_str(), nullptr, &inOpts);
        av_dict_free(&inOpts);
        check(opened, input_.c_str());
        check(avformat_find_stream_info(in.ctx, nullptr), "reading the streams");
        const int vIndex = av_find_best_stream(in.ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        check(vIndex, "finding the video stream");
        const int aIndex = av_find_best_stream(in.ctx, AVMEDIA_TYPE_AUDIO, -1, vIndex, nullptr, 0);
        AVStream* vIn = in.ctx->streams[vIndex];
        AVStream* aIn = aIndex >= 0 ? in.ctx->streams[aIndex] : nullptr;

        // The player counts from the file's start, the earliest stream's;
        // the streams may start later on any container (MPEG-TS, MP4 from
        // cameras or cut by other tools).
        const double offset =
            in.ctx->start_time != AV_NOPTS_VALUE ? in.ctx->start_time / double(AV_TIME_BASE) : 0.0;
        const double start = startMs_ / 1000.0 + offset;
        const double end =
            endMs_ > 0 ? endMs_ / 1000.0 + offset : std::numeric_limits<double>::infinity();
        // Where the streams end (MP4's own duration counts from 0, not from
        // the start).
        double fileEnd = -std::numeric_limits<double>::infinity();
        for (unsigned i = 0; i < in.ctx->nb_streams; ++i) {
            const AVStream* st = in.ctx->streams[i];
            if (st->start_time != AV_NOPTS_VALUE && st->duration > 0)
                fileEnd =
                    std::max(fileEnd, (st->start_time + st->duration) * av_q2d(st->time_base));
        }
        if (std::isinf(fileEnd))
            fileEnd = in.ctx->duration > 0 ? offset + in.ctx->duration / double(AV_TIME_BASE)
                                           : start + 1.0;
        const double span = std::max(1e-3, std::min(end, fileEnd) - start);

        // Decoders.
        Codec vDec, aDec;
        const AVCodec* vCodec = avcodec_find_decoder(vIn->codecpar->codec_id);
        if (!vCodec)
            throw ExportError{"No decoder for the video stream."};
        vDec.ctx = avcodec_alloc_context3(vCodec);
        check(avcodec_parameters_to_context(vDec.ctx, vIn->codecpar), "video decoder");
        vDec.ctx->thread_count = 0;
        vDec.ctx->pkt_timebase = vIn->time_base;
        check(avcodec_open2(vDec.ctx, vCodec, nullptr), "opening the video decoder");
        if (aIn) {
            const AVCodec* aCodec = avcodec_find_decoder(aIn->codecpar->codec_id);
            if (aCodec) {
                aDec.ctx = avcodec_alloc_context3(aCodec);
                check(avcodec_parameters_to_context(aDec.ctx, aIn->codecpar), "audio decoder");
                aDec.ctx->pkt_timebase = aIn->time_base;
                if (avcodec_open2(aDec.ctx, aCodec, nullptr) < 0)
                    avcodec_free_context(&aDec.ctx); // export the picture alone
            }
            if (!aDec.ctx)
                aIn = nullptr;
        }

        // Output and encoders.
        FormatOutput out;
        check(avformat_alloc_output_context2(&out.ctx, nullptr, "mp4", temp.c_str()),
              "creating the MPEG-4 file");
        const AVRational frameRate = av_guess_frame_rate(in.ctx, vIn, nullptr);
        const AVRational encTb = frameRate.num > 0 ? av_inv_q(frameRate) : AVRational{1, 25};

        Codec vEnc, aEnc;
        const AVCodec* x264 = avcodec_find_encoder_by_name("libx264");
        if (!x264)
            throw ExportError{"The H.264 encoder (libx264) is not available."};
        vEnc.ctx = avcodec_alloc_context3(x264);
        vEnc.ctx->width = vDec.ctx->width;
        vEnc.ctx->height = vDec.ctx->height;
        vEnc.ctx->sample_aspect_ratio = vDec.ctx->sample_aspect_ratio;
        vEnc.ctx->pix_fmt = AV_PIX_FMT_YUV420P;
        vEnc.ctx->time_base = encTb;
        vEnc.ctx->framerate = frameRate;
        vEnc.ctx->thread_count = 0;
        if (out.ctx->oformat->flags & AVFMT_GLOBALHEADER)
            vEnc.ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        AVDictionary* vOpts = nullptr;
        av_dict_set(&vOpts, "preset", videoPreset.c_str(), 0);
        av_dict_set(&vOpts, "crf", "18", 0);
        av_dict_set(&vOpts, "profile", "high", 0);
        const int vOpen = avcodec_open2(vEnc.ctx, x264, &vOpts);
        av_dict_free(&vOpts);
        check(vOpen, "opening the H.264 encoder");
        AVStream* vOut = avformat_new_stream(out.ctx, nullptr);
        check(avcodec_parameters_from_context(vOut->codecpar, vEnc.ctx), "video stream");
        vOut->time_base = encTb;

        AVStream* aOut = nullptr;
        if (aIn) {
            const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
            aEnc.ctx = avcodec_alloc_context3(aac);
            aEnc.ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
            aEnc.ctx->sample_rate = aDec.ctx->sample_rate > 0 ? aDec.ctx->sample_rate : 48000;
            if (aDec.ctx->ch_layout.nb_channels > 0 && aDec.ctx->ch_layout.nb_channels <= 8)
                av_channel_layout_default(&aEnc.ctx->ch_layout, aDec.ctx->ch_layout.nb_channels);
            else
                av_channel_layout_default(&aEnc.ctx->ch_layout, 2);
            aEnc.ctx->bit_rate = 96000 * std::max(1, aEnc.ctx->ch_layout.nb_channels);
            aEnc.ctx->time_base = {1, aEnc.ctx->sample_rate};
            if (out.ctx->oformat->flags & AVFMT_GLOBALHEADER)
                aEnc.ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            check(avcodec_open2(aEnc.ctx, aac, nullptr), "opening the AAC encoder");
            aOut = avformat_new_stream(out.ctx, nullptr);
            check(avcodec_parameters_from_context(aOut->codecpar, aEnc.ctx), "audio stream");
            aOut->time_base = aEnc.ctx->time_base;
        }

        // Video filters: interlaced frames are deinterlaced (others pass),
        // everything leaves as 4:2:0.
        Graph vGraph;
        char vArgs[256];
        std::snprintf(vArgs, sizeof vArgs,
                      "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d",
                      vDec.ctx->width, vDec.ctx->height, vDec.ctx->pix_fmt, vIn->time_base.num,
                      vIn->time_base.den, std::max(0, vDec.ctx->sample_aspect_ratio.num),
                      std::max(1, vDec.ctx->sample_aspect_ratio.den));
        check(buildGraph(vGraph, "buffer", vArgs, "buffersink",
                         "yadif=mode=send_frame:parity=auto:deint=interlaced,format=yuv420p"),
              "video filters");

        check(avio_open(&out.ctx->pb, temp.c_str(), AVIO_FLAG_WRITE), temp.c_str());
        AVDictionary* muxOpts = nullptr;
        if (shouldOptimizeForNetworkUse)
            av_dict_set(&muxOpts, "movflags", "+faststart", 0);
        const int header = avformat_write_header(out.ctx, &muxOpts);
        av_dict_free(&muxOpts);
        check(header, "writing the MPEG-4 header");

        // Seek well before the start; decoding from the key frame before it
        // and dropping what precedes the start gives the exact first frame.
        const int64_t seekTo = static_cast<int64_t>((start - 3.0) * AV_TIME_BASE);
        if (start > 0.5)
            av_seek_frame(in.ctx, -1,
                          std::max<int64_t>(seekTo, in.ctx->start_time == AV_NOPTS_VALUE
                                                        ? 0
                                                        : in.ctx->start_time),
                          AVSEEK_FLAG_BACKWARD);

        auto writePackets = [&](AVCodecContext* enc, AVStream* st, AVFrame* frame) {
            check(avcodec_send_frame(enc, frame), "encoding");
            auto pkt = newPacket();
            for (;;) {
                const int r = avcodec_receive_packet(enc, pkt.get());
                if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                    return;
                check(r, "encoding");
                pkt->stream_index = st->index;
                // Without a duration the muxer's edit list cuts the last frame.
                if (pkt->duration == 0 && enc->codec_type == AVMEDIA_TYPE_VIDEO)
                    pkt->duration = 1;
                av_packet_rescale_ts(pkt.get(), enc->time_base, st->time_base);
                check(av_interleaved_write_frame(out.ctx, pkt.get()), "writing the file");
            }
        };

        // Audio waits until the first kept video frame fixes the time origin.
        Graph aGraph;
        bool aGraphReady = false;
        std::deque<FramePtr> pendingAudio;
        double origin = NAN;
        bool videoDone = false, audioDone = !aIn;
        int64_t audioSamples = 0;

        auto drainAudioSink = [&](bool flush) {
            if (!aGraphReady)
                return;
            auto f = newFrame();
            for (;;) {
                const int r = av_buffersink_get_frame(aGraph.sink, f.get());
                if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                    break;
                check(r, "audio filters");
                f->pts = audioSamples;
                audioSamples += f->nb_samples;
                writePackets(aEnc.ctx, aOut, f.get());
                av_frame_unref(f.get());
            }
            if (flush)
                writePackets(aEnc.ctx, aOut, nullptr);
        };
        auto setUpAudio = [&] {
            char aArgs[256];
            char layout[64] = "stereo";
            av_channel_layout_describe(&aDec.ctx->ch_layout, layout, sizeof layout);
            std::snprintf(aArgs, sizeof aArgs,
                          "time_base=%d/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%s",
                          aIn->time_base.num, aIn->time_base.den, aDec.ctx->sample_rate,
                          av_get_sample_fmt_name(aDec.ctx->sample_fmt), layout);
            char outLayout[64];
            av_channel_layout_describe(&aEnc.ctx->ch_layout, outLayout, sizeof outLayout);
            const long long originPts = std::llround(origin / av_q2d(aIn->time_base));
            char chain[512];
            if (std::isinf(end))
                std::snprintf(chain, sizeof chain,
                              "atrim=start=%.6f,asetpts=PTS-%lld,aresample=async=1:first_pts=0,"
                              "aformat=sample_fmts=fltp:sample_rates=%d:channel_layouts=%s",
                              origin, originPts, aEnc.ctx->sample_rate, outLayout);
            else
                std::snprintf(chain, sizeof chain,
                              "atrim=start=%.6f:end=%.6f,asetpts=PTS-%lld,"
                              "aresample=async=1:first_pts=0,"
                              "aformat=sample_fmts=fltp:sample_rates=%d:channel_layouts=%s",
                              origin, end, originPts, aEnc.ctx->sample_rate, outLayout);
            check(buildGraph(aGraph, "abuffer", aArgs, "abuffersink", chain), "audio filters");
            av_buffersink_set_frame_size(aGraph.sink, aEnc.ctx->frame_size);
            aGraphReady = true;
            for (auto& f : pendingAudio)
                check(av_buffersrc_add_frame(aGraph.src, f.get()), "audio filters");
            pendingAudio.clear();
            drainAudioSink(false);
        };
        auto feedAudio = [&](AVFrame* f) {
            if (aGraphReady) {
                check(av_buffersrc_add_frame(aGraph.src, f), "audio filters");
                drainAudioSink(false);
            } else {
                auto copy = newFrame();
                av_frame_ref(copy.get(), f);
                pendingAudio.push_back(std::move(copy));
            }
        };

        int64_t videoFrames = 0;
        const AVRational sinkTb = av_buffersink_get_time_base(vGraph.sink);
        auto drainVideoSink = [&] {
            auto f = newFrame();
            for (;;) {
                const int r = av_buffersink_get_frame(vGraph.sink, f.get());
                if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                    break;
                check(r, "video filters");
                const int64_t ts = f->pts;
                // The deinterlacer works in half the input's time base.
                const double t = ts == AV_NOPTS_VALUE ? NAN : ts * av_q2d(sinkTb);
                if (!videoDone && !std::isnan(t) && t >= start - 1e-6 && t < end - 1e-6) {
                    if (std::isnan(origin)) {
                        origin = t;
                        if (aIn)
                            setUpAudio();
                    }
                    f->pts = std::llround((t - origin) / av_q2d(encTb));
                    f->pict_type = AV_PICTURE_TYPE_NONE;
                    writePackets(vEnc.ctx, vOut, f.get());
                    ++videoFrames;
                    progress_.store(static_cast<float>(std::clamp((t - start) / span, 0.0, 1.0)),
                                    std::memory_order_relaxed);
                } else if (!std::isnan(t) && t >= end - 1e-6) {
                    videoDone = true;
                }
                av_frame_unref(f.get());
            }
        };

        auto pkt = newPacket();
        auto frame = newFrame();
        bool sawKeyFrame = false;
        auto decode = [&](AVCodecContext* dec, const AVPacket* p, bool video) {
            if (avcodec_send_packet(dec, p) < 0 && p)
                return; // a damaged packet: skip it
            for (;;) {
                const int r = avcodec_receive_frame(dec, frame.get());
                if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                    return;
                if (r < 0)
                    return;
                if (video) {
                    frame->pts = frame->best_effort_timestamp;
                    check(av_buffersrc_add_frame_flags(vGraph.src, frame.get(),
                                                       AV_BUFFERSRC_FLAG_KEEP_REF),
                          "video filters");
                    drainVideoSink();
                } else {
                    frame->pts = frame->best_effort_timestamp;
                    const double t = frame->pts * av_q2d(aIn->time_base);
                    if (frame->pts == AV_NOPTS_VALUE || t < end)
                        feedAudio(frame.get());
                    else
                        audioDone = true;
                }
                av_frame_unref(frame.get());
            }
        };

        while (!(videoDone && audioDone)) {
            if (cancelled_.load())
                throw ExportError{"cancelled"};
            const int r = av_read_frame(in.ctx, pkt.get());
            if (r == AVERROR_EOF)
                break;
            if (r < 0)
                break; // a damaged tail ends the clip where the file ends
            if (pkt->stream_index == vIndex && !videoDone) {
                // After a seek into MPEG-TS, frames before a key frame are
                // garbage: start decoding at one.
                if (!sawKeyFrame && !(pkt->flags & AV_PKT_FLAG_KEY)) {
                    av_packet_unref(pkt.get());
                    continue;
                }
                sawKeyFrame = true;
                decode(vDec.ctx, pkt.get(), true);
            } else if (aIn && pkt->stream_index == aIndex && !audioDone) {
                decode(aDec.ctx, pkt.get(), false);
            }
            av_packet_unref(pkt.get());
        }
        if (!videoDone) {
            decode(vDec.ctx, nullptr, true);
            check(av_buffersrc_add_frame(vGraph.src, nullptr), "video filters");
            drainVideoSink();
        }
        if (videoFrames == 0)
            throw ExportError{"The range holds no picture."};
        writePackets(vEnc.ctx, vOut, nullptr);
        if (aIn) {
            if (!aGraphReady && !std::isnan(origin))
                setUpAudio();
            if (aGraphReady) {
                if (!audioDone)
                    decode(aDec.ctx, nullptr, false);
                check(av_buffersrc_add_frame(aGraph.src, nullptr), "audio filters");
                drainAudioSink(true);
            }
        }
        check(av_write_trailer(out.ctx), "finishing the file");
        check(avio_closep(&out.ctx->pb), "closing the file");
        std::error_code ec;
        std::filesystem::rename(temp, target, ec);
        if (ec)
            throw ExportError{outputURL + ": " + ec.message()};
        temp.clear();
        progress_.store(1.0f);
        status_.store(Completed, std::memory_order_release);
    } catch (const ExportError& e) {
        if (!temp.empty())
            ::unlink(temp.c_str());
        if (cancelled_.load()) {
            status_.store(Cancelled, std::memory_order_release);
        } else {
            fail(e.text);
            status_.store(Failed, std::memory_order_release);
        }
    } catch (const std::exception& e) {
        if (!temp.empty())
            ::unlink(temp.c_str());
        fail(e.what());
        status_.store(Failed, std::memory_order_release);
    }
}
