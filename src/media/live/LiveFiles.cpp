#include "live/LiveFiles.h"

#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform/AtomicFile.h"
#include "platform/JsonReader.h"

extern "C" {
#include <libavformat/avformat.h>
}

std::string liveSidecarPath(const std::string& ts) {
    std::filesystem::path p(ts);
    return p.replace_extension(".live.json").string();
}

std::string writeLiveSidecar(const std::string& ts, const std::vector<LiveGap>& gaps,
                             const std::string& started, const std::string& source) {
    std::string text = "{\"gaps\":[";
    char pair[64];
    for (size_t i = 0; i < gaps.size(); ++i) {
        std::snprintf(pair, sizeof pair, "%s[%.3f,%.3f]", i ? "," : "", gaps[i].from, gaps[i].to);
        text += pair;
    }
    text += "],\"started\":" + jsonString(started) + ",\"source\":" + jsonString(source) + "}\n";
    return writeFileAtomically(liveSidecarPath(ts), text);
}

bool readLiveGaps(const std::string& ts, std::vector<LiveGap>& gaps, std::string& error) {
    gaps.clear();
    const std::string path = liveSidecarPath(ts);
    std::string text;
    if (!std::filesystem::exists(path))
        return true; // a recording without drop-outs (or not live at all)
    if (!readWholeFile(path, text, error))
        return false;
    JsonValue root;
    JsonError bad;
    if (!parseJson(text, root, bad)) {
        error = path + ": " + bad.message;
        return false;
    }
    const JsonValue* list = root.member("gaps");
    if (!list || list->type != JsonValue::Type::Array) {
        error = path + ": gaps がありません";
        return false;
    }
    for (const JsonValue& item : list->items) {
        if (item.type != JsonValue::Type::Array || item.items.size() != 2 ||
            item.items[0].type != JsonValue::Type::Number ||
            item.items[1].type != JsonValue::Type::Number ||
            item.items[1].number < item.items[0].number) {
            error = path + ": " + std::to_string(item.line) + " 行目の区間を読めません";
            gaps.clear();
            return false;
        }
        gaps.push_back({item.items[0].number, item.items[1].number});
    }
    return true;
}

namespace {

struct InputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct OutputCloser {
    void operator()(AVFormatContext* c) const {
        if (c->pb)
            avio_closep(&c->pb);
        avformat_free_context(c);
    }
};

// The streams of `in` that go over, as their indices in `out` (-1: left out).
bool copyStreams(AVFormatContext* in, AVFormatContext* out, std::vector<int>& map) {
    map.assign(in->nb_streams, -1);
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVCodecParameters* p = in->streams[i]->codecpar;
        if (p->codec_type != AVMEDIA_TYPE_VIDEO && p->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        AVStream* o = avformat_new_stream(out, nullptr);
        if (!o || avcodec_parameters_copy(o->codecpar, p) < 0)
            return false;
        o->codecpar->codec_tag = 0;
        map[i] = o->index;
    }
    return true;
}

bool copyPackets(AVFormatContext* in, AVFormatContext* out, const std::vector<int>& map,
                 const std::atomic<bool>& cancel) {
    AVPacket* packet = av_packet_alloc();
    int err = 0;
    while (!cancel && (err = av_read_frame(in, packet)) >= 0) {
        const int to = map[static_cast<size_t>(packet->stream_index)];
        if (to >= 0) {
            av_packet_rescale_ts(packet, in->streams[packet->stream_index]->time_base,
                                 out->streams[to]->time_base);
            packet->stream_index = to;
            packet->pos = -1;
            err = av_interleaved_write_frame(out, packet);
        }
        av_packet_unref(packet);
        if (err < 0)
            break;
    }
    av_packet_free(&packet);
    return !cancel && (err >= 0 || err == AVERROR_EOF);
}

} // namespace

bool remuxLiveToMp4(const std::string& ts, const std::string& mp4, const std::atomic<bool>& cancel,
                    std::string& error) {
    const std::string part = mp4 + ".part";
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, ts.c_str(), nullptr, nullptr) < 0) {
        error = "収録ファイルを開けません: " + ts;
        return false;
    }
    std::unique_ptr<AVFormatContext, InputCloser> in(raw);
    AVFormatContext* o = nullptr;
    if (avformat_find_stream_info(in.get(), nullptr) < 0 ||
        avformat_alloc_output_context2(&o, nullptr, "mp4", part.c_str()) < 0) {
        error = "収録ファイルを読めません: " + ts;
        return false;
    }
    std::unique_ptr<AVFormatContext, OutputCloser> out(o);
    std::vector<int> map;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    const bool ok = copyStreams(in.get(), out.get(), map) &&
                    avio_open(&out->pb, part.c_str(), AVIO_FLAG_WRITE) >= 0 &&
                    avformat_write_header(out.get(), &options) >= 0 &&
                    copyPackets(in.get(), out.get(), map, cancel) &&
                    av_write_trailer(out.get()) >= 0;
    av_dict_free(&options);
    out.reset();
    std::error_code ec;
    if (!ok || cancel) {
        std::filesystem::remove(part, ec);
        error = cancel ? "MP4 への変換を中止しました" : "MP4 に変換できません: " + mp4;
        return false;
    }
    std::filesystem::rename(part, mp4, ec);
    if (ec) {
        std::filesystem::remove(part, ec);
        error = "MP4 を置けません: " + mp4;
        return false;
    }
    return true;
}
