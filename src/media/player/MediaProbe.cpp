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
