#include "player/MediaProbe.h"

#include <algorithm>
#include <cmath>
#include <limits>

extern "C" {
#include <libavformat/avformat.h>
}

double mediaLength(const std::string& path) {
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0)
        return NAN;
    double length = NAN;
    if (avformat_find_stream_info(ctx, nullptr) >= 0) {
        // As the export counts: from the file's start to where its streams end.
        const double offset =
            ctx->start_time != AV_NOPTS_VALUE ? ctx->start_time / double(AV_TIME_BASE) : 0.0;
        double end = -std::numeric_limits<double>::infinity();
        for (unsigned i = 0; i < ctx->nb_streams; ++i) {
            const AVStream* st = ctx->streams[i];
            if (st->start_time != AV_NOPTS_VALUE && st->duration > 0)
                end = std::max(end, (st->start_time + st->duration) * av_q2d(st->time_base));
        }
        if (std::isinf(end) && ctx->duration > 0)
            end = offset + ctx->duration / double(AV_TIME_BASE);
        if (std::isfinite(end))
            length = std::max(0.0, end - offset);
    }
    avformat_close_input(&ctx);
    return length;
}

double videoFrameRate(const std::string& path) {
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0)
        return NAN;
    double rate = NAN;
    if (avformat_find_stream_info(ctx, nullptr) >= 0) {
        const int video = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (video >= 0) {
            const AVStream* st = ctx->streams[video];
            // A still picture (cover art) is no video.
            const AVRational r = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
            if (!(st->disposition & AV_DISPOSITION_ATTACHED_PIC) && r.num > 0 && r.den > 0)
                rate = av_q2d(r);
        }
    }
    avformat_close_input(&ctx);
    return rate;
}
