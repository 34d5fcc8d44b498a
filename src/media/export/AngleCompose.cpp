// The angles of a match in an export: each tile at an output frame shows the
// angle's picture of the same instant, mapped through the angle's offset and
// scale; the sound is the main video's throughout.
#include "export/AngleCompose.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

std::vector<MatchAngle> withAbsoluteFiles(std::vector<MatchAngle> angles,
                                          const std::string& folder) {
    namespace fs = std::filesystem;
    for (MatchAngle& a : angles)
        if (const fs::path file(a.file); file.is_relative())
            a.file = (fs::path(folder) / file).lexically_normal().string();
    return angles;
}

namespace exportparts {

namespace {

// Two frames closer than this are at the same instant (well below a frame,
// above the rounding of any stream's clock).
constexpr double kSameInstant = 1e-4;

double packetTime(const Input& in, const AVPacket& pkt) {
    const int64_t ts = pkt.dts != AV_NOPTS_VALUE ? pkt.dts : pkt.pts;
    return ts == AV_NOPTS_VALUE ? NAN : ts * av_q2d(in.ctx->streams[pkt.stream_index]->time_base);
}

// Streams not read while it lives (the other file gives them).
class Unread {
public:
    Unread(AVStream* a, AVStream* b) : a_(a), b_(b) {
        for (AVStream* s : {a_, b_})
            if (s)
                s->discard = AVDISCARD_ALL;
    }
    ~Unread() {
        for (AVStream* s : {a_, b_})
            if (s)
                s->discard = AVDISCARD_DEFAULT;
    }
    Unread(const Unread&) = delete;
    Unread& operator=(const Unread&) = delete;

private:
    AVStream* a_;
    AVStream* b_;
};

} // namespace

// ---- AngleReader

AngleReader::AngleReader(const std::string& path) : in_(path), cur_(newFrame()), next_(newFrame()) {
    if (in_.aIn)
        in_.aIn->discard = AVDISCARD_ALL;
    if (const double rate = av_q2d(in_.frameRate); rate > 0)
        frameLength_ = 1.0 / rate;
    firstT_ = in_.vIn->start_time != AV_NOPTS_VALUE
                  ? in_.vIn->start_time * av_q2d(in_.vIn->time_base)
                  : in_.fileTime(0.0);
}

void AngleReader::reposition(double fileT) {
    in_.seekBefore(fileT);
    haveCur_ = haveNext_ = eof_ = false;
    started_ = true;
}

bool AngleReader::decodeNext() {
    AVCodecContext* dec = in_.vDec.ctx;
    auto pkt = newPacket();
    bool draining = false;
    for (;;) {
        const int r = avcodec_receive_frame(dec, next_.get());
        if (r >= 0) {
            if (next_->best_effort_timestamp == AV_NOPTS_VALUE)
                continue;
            nextT_ = next_->best_effort_timestamp * av_q2d(in_.vIn->time_base);
            return haveNext_ = true;
        }
        if (r != AVERROR(EAGAIN) || draining) {
            eof_ = true;
            return haveNext_ = false;
        }
        if (!in_.read(pkt.get())) {
            draining = true;
            avcodec_send_packet(dec, nullptr);
            continue;
        }
        if (pkt->stream_index == in_.vIndex)
            avcodec_send_packet(dec, pkt.get()); // a damaged packet is skipped
        av_packet_unref(pkt.get());
    }
}

const AVFrame* AngleReader::frameAt(double t) {
    const double ft = in_.fileTime(t);
    if (ft < firstT_ - kSameInstant)
        return nullptr;
    // Back in time, or far ahead: a seek; else decoding on is quicker.
    const bool back = haveCur_ ? ft < curT_ - kSameInstant : haveNext_ && ft < nextT_;
    const bool far = haveCur_ && !eof_ && ft > curT_ + 5.0;
    if (!started_ || back || far)
        reposition(ft);
    if (!haveNext_ && !eof_)
        decodeNext();
    while (haveNext_ && nextT_ <= ft + kSameInstant) {
        std::swap(cur_, next_);
        curT_ = nextT_;
        haveCur_ = true;
        decodeNext();
    }
    if (!haveCur_ || (eof_ && ft >= curT_ + frameLength_ - kSameInstant))
        return nullptr;
    return cur_.get();
}

// ---- TileCanvas

TileCanvas::TileCanvas(int width, int height, int columns, int rows)
    : width_(width), height_(height), columns_(columns), tileW_((width / columns) & ~1),
      tileH_((height / rows) & ~1), scalers_(static_cast<size_t>(columns * rows)) {}

FramePtr TileCanvas::scaled(size_t tile, const AVFrame& picture) {
    Scaler& s = scalers_[tile];
    if (!s.graph.graph || s.width != picture.width || s.height != picture.height ||
        s.format != picture.format) {
        char args[160];
        std::snprintf(args, sizeof args,
                      "video_size=%dx%d:pix_fmt=%d:time_base=1/25:pixel_aspect=%d/%d",
                      picture.width, picture.height, picture.format,
                      std::max(1, picture.sample_aspect_ratio.num),
                      std::max(1, picture.sample_aspect_ratio.den));
        char chain[160];
        std::snprintf(chain, sizeof chain,
                      "scale=%d:%d:force_original_aspect_ratio=decrease:force_divisible_by=2,"
                      "format=yuv420p",
                      tileW_, tileH_);
        s.graph.build("buffer", args, "buffersink", chain, "tiling the angles");
        s.width = picture.width;
        s.height = picture.height;
        s.format = picture.format;
    }
    auto in = newFrame();
    check(av_frame_ref(in.get(), &picture), "tiling the angles");
    in->pts = s.pts++;
    check(av_buffersrc_add_frame(s.graph.src, in.get()), "tiling the angles");
    auto out = newFrame();
    check(av_buffersink_get_frame(s.graph.sink, out.get()), "tiling the angles");
    return out;
}

FramePtr TileCanvas::compose(const std::vector<const AVFrame*>& tiles) {
    FramePtr canvas = newFrame();
    canvas->format = AV_PIX_FMT_YUV420P;
    canvas->width = width_;
    canvas->height = height_;
    check(av_frame_get_buffer(canvas.get(), 0), "tiling the angles");
    // Black (video range) where no picture goes.
    for (int p = 0; p < 3; ++p) {
        const int rows = p ? (height_ + 1) / 2 : height_;
        const int bytes = p ? (width_ + 1) / 2 : width_;
        for (int y = 0; y < rows; ++y)
            std::memset(canvas->data[p] + y * canvas->linesize[p], p ? 128 : 16, bytes);
    }
    for (size_t i = 0; i < tiles.size() && i < scalers_.size(); ++i) {
        if (!tiles[i]) {
            markNoPicture(*canvas, static_cast<int>(i) % columns_ * tileW_,
                          static_cast<int>(i) / columns_ * tileH_);
            continue;
        }
        const FramePtr t = scaled(i, *tiles[i]);
        // Centred in its tile, on even pixels (4:2:0).
        const int x0 = static_cast<int>(i) % columns_ * tileW_ + (((tileW_ - t->width) / 2) & ~1);
        const int y0 = static_cast<int>(i) / columns_ * tileH_ + (((tileH_ - t->height) / 2) & ~1);
        for (int p = 0; p < 3; ++p) {
            const int shift = p ? 1 : 0;
            const int rows = p ? (t->height + 1) / 2 : t->height;
            const int bytes = p ? (t->width + 1) / 2 : t->width;
            for (int y = 0; y < rows; ++y)
                std::memcpy(canvas->data[p] + ((y0 >> shift) + y) * canvas->linesize[p] +
                                (x0 >> shift),
                            t->data[p] + y * t->linesize[p], static_cast<size_t>(bytes));
        }
    }
    return canvas;
}

void TileCanvas::markNoPicture(AVFrame& canvas, int x0, int y0) {
    if (!noPictureMade_) {
        noPictureMade_ = true;
        // Text needs the application's fonts; without them the tile stays
        // plain black.
        if (!qGuiApp || tileW_ < 32 || tileH_ < 32)
            return;
        QImage text(tileW_, tileH_, QImage::Format_Grayscale8);
        text.fill(0);
        QPainter p(&text);
        QFont font = p.font();
        font.setPixelSize(std::max(8, tileH_ / 12));
        p.setFont(font);
        p.setPen(QColor(160, 160, 160));
        p.drawText(text.rect(), Qt::AlignCenter, QStringLiteral("映像なし"));
        p.end();
        noPicture_.resize(static_cast<size_t>(tileW_) * tileH_);
        for (int y = 0; y < tileH_; ++y)
            std::memcpy(&noPicture_[static_cast<size_t>(y) * tileW_], text.constScanLine(y),
                        static_cast<size_t>(tileW_));
    }
    if (noPicture_.empty())
        return;
    // Grey on black: the luma alone, in video range.
    for (int y = 0; y < tileH_; ++y) {
        uint8_t* row = canvas.data[0] + (y0 + y) * canvas.linesize[0] + x0;
        const uint8_t* mask = &noPicture_[static_cast<size_t>(y) * tileW_];
        for (int x = 0; x < tileW_; ++x)
            row[x] = static_cast<uint8_t>(16 + mask[x] * 219 / 255);
    }
}

// ---- AngleCutter

struct AngleCutter::MainAngles {
    std::vector<MatchAngle> maps;
    std::vector<std::unique_ptr<AngleReader>> readers; // opened when first shown
    int chosen = -1;                                   // OneAngle's
    std::unique_ptr<Input> chosenInput;
};

AngleCutter::AngleCutter(AngleExportChoice choice) : choice_(std::move(choice)) {}

AngleCutter::~AngleCutter() = default;

AngleCutter::MainAngles& AngleCutter::of(const std::string& mainPath) {
    std::unique_ptr<MainAngles>& m = mains_[mainPath];
    if (!m) {
        m = std::make_unique<MainAngles>();
        if (auto it = choice_.angles.find(mainPath); it != choice_.angles.end())
            m->maps = it->second;
        if (m->maps.size() > kMaxAngles)
            m->maps.resize(kMaxAngles);
        m->readers.resize(m->maps.size());
        for (size_t i = 0; i < m->maps.size() && m->chosen < 0; ++i)
            if (m->maps[i].name == choice_.angleName)
                m->chosen = static_cast<int>(i);
    }
    return *m;
}

AngleReader& AngleCutter::reader(MainAngles& m, size_t i) {
    if (!m.readers[i])
        m.readers[i] = std::make_unique<AngleReader>(m.maps[i].file);
    return *m.readers[i];
}

TileCanvas& AngleCutter::canvas(int width, int height, int columns, int rows) {
    std::unique_ptr<TileCanvas>& c = canvases_[{width, height, columns, rows}];
    if (!c)
        c = std::make_unique<TileCanvas>(width, height, columns, rows);
    return *c;
}

Input& AngleCutter::pictureInput(const std::string& mainPath, Input& main) {
    MainAngles& m = of(mainPath);
    if (choice_.layout != AngleExport::OneAngle || m.chosen < 0)
        return main;
    if (!m.chosenInput)
        m.chosenInput = std::make_unique<Input>(m.maps[static_cast<size_t>(m.chosen)].file);
    return *m.chosenInput;
}

VideoSettings AngleCutter::settings(const Input& main, VideoSettings base) const {
    if (choice_.layout != AngleExport::SideBySide && choice_.layout != AngleExport::Grid)
        return base;
    // Two tiles across, each at most half of 1920 wide: two 1080p angles give
    // 1920×540 side by side, four give 1920×1080.
    const int w = main.vDec.ctx->width, h = main.vDec.ctx->height;
    const int tileW = std::min(w, 960) & ~1;
    const int tileH = 2 * static_cast<int>(std::lround(tileW * double(h) / w / 2));
    base.width = 2 * tileW;
    base.height = (choice_.layout == AngleExport::Grid ? 2 : 1) * tileH;
    return base;
}

size_t AngleCutter::parts(const std::string& mainPath) {
    return choice_.layout == AngleExport::InTurn ? 1 + of(mainPath).maps.size() : 1;
}

void AngleCutter::cut(const std::string& mainPath, Input& main, VideoPath& video, AudioPath& audio,
                      double start, double end, const std::atomic<bool>& cancelled,
                      const std::function<void(double)>& progress) {
    MainAngles& m = of(mainPath);
    switch (choice_.layout) {
    case AngleExport::OneAngle:
        if (m.chosen >= 0) {
            cutPieceWithSound(pictureInput(mainPath, main), main,
                              m.maps[static_cast<size_t>(m.chosen)], video, audio, start, end,
                              cancelled, progress);
            return;
        }
        break; // a match without that angle: its main video
    case AngleExport::SideBySide:
    case AngleExport::Grid:
        cutComposite(m, main, video, audio, start, end, cancelled, progress);
        return;
    case AngleExport::InTurn:
        cutInTurn(m, main, video, audio, start, end, cancelled, progress);
        return;
    case AngleExport::Main:
        break;
    }
    cutPiece(main, video, audio, start, end, cancelled, progress);
}

void AngleCutter::cutComposite(MainAngles& m, Input& main, VideoPath& video, AudioPath& audio,
                               double start, double end, const std::atomic<bool>& cancelled,
                               const std::function<void(double)>& progress) {
    // The main's frames set the instants (its rate); each angle shows its
    // picture of the same instant.
    const int rows = choice_.layout == AngleExport::Grid ? 2 : 1;
    TileCanvas& tiles = canvas(video.width(), video.height(), 2, rows);
    const size_t shown = std::min(m.maps.size(), static_cast<size_t>(2 * rows - 1));
    video.compose = [&](const AVFrame& frame, double t) {
        const double mainT = main.playerTime(t);
        std::vector<const AVFrame*> pictures{&frame};
        for (size_t i = 0; i < shown; ++i)
            pictures.push_back(reader(m, i).frameAt(angleTime(m.maps[i], mainT)));
        return tiles.compose(pictures);
    };
    cutPiece(main, video, audio, start, end, cancelled, progress);
    video.compose = nullptr;
}

void AngleCutter::cutInTurn(MainAngles& m, Input& main, VideoPath& video, AudioPath& audio,
                            double start, double end, const std::atomic<bool>& cancelled,
                            const std::function<void(double)>& progress) {
    // Each angle's part is timed by the main's frames over the same moment,
    // under the main's sound of that moment again: the whistle or the impact
    // is heard with each angle's picture of it.
    const double parts = 1.0 + static_cast<double>(m.maps.size());
    auto part = [&](size_t k) {
        return [&, k](double p) {
            if (progress)
                progress((static_cast<double>(k) + p) / parts);
        };
    };
    cutPiece(main, video, audio, start, end, cancelled, part(0));
    TileCanvas& whole = canvas(video.width(), video.height(), 1, 1);
    for (size_t i = 0; i < m.maps.size(); ++i) {
        video.compose = [&, i](const AVFrame&, double t) {
            return whole.compose({reader(m, i).frameAt(angleTime(m.maps[i], main.playerTime(t)))});
        };
        cutPiece(main, video, audio, start, end, cancelled, part(i + 1));
    }
    video.compose = nullptr;
}

void cutPieceWithSound(Input& picture, Input& sound, const MatchAngle& map, VideoPath& video,
                       AudioPath& audio, double start, double end,
                       const std::atomic<bool>& cancelled,
                       const std::function<void(double)>& progress) {
    const bool open = std::isinf(end);
    const double vs = picture.fileTime(angleTime(map, start));
    const double ve = open ? end : picture.fileTime(angleTime(map, end));
    const double ae = open ? end : sound.fileTime(end);
    const double span = std::max(1e-3, std::min(ve, picture.end()) - vs);
    const double frame = av_q2d(video.timeBase());
    const Unread unread(picture.aIn, sound.vIn);
    video.setInput(picture);
    audio.setInput(sound);
    picture.seekBefore(vs);
    sound.seekBefore(sound.fileTime(start));
    video.beginPiece(vs, ve);
    audio.beginPiece(ae + frame);
    video.onOrigin = [&](double origin) {
        // The sound from the instant of the angle's first frame.
        const double o = sound.fileTime(mainTimeOf(map, picture.playerTime(origin)));
        audio.setOrigin(o, ae + frame - o);
    };
    video.onFrame = [&](double t) {
        if (progress)
            progress(std::clamp((t - vs) / span, 0.0, 1.0));
    };
    // Read from the file that is behind (main time), so that the sound keeps
    // up with the picture.
    double pictureAt = -std::numeric_limits<double>::infinity(), soundAt = pictureAt;
    auto pkt = newPacket();
    while (!(video.pieceDone() && audio.pieceDone())) {
        if (cancelled.load())
            throw ExportError{"cancelled"};
        const bool fromPicture = !video.pieceDone() && (audio.pieceDone() || pictureAt <= soundAt);
        Input& in = fromPicture ? picture : sound;
        if (!in.read(pkt.get())) {
            if (fromPicture)
                video.decode(nullptr);
            else
                audio.decode(nullptr);
            continue;
        }
        const double at = packetTime(in, *pkt);
        if (fromPicture && pkt->stream_index == picture.vIndex) {
            if (!std::isnan(at))
                pictureAt = mainTimeOf(map, picture.playerTime(at));
            video.decode(pkt.get());
        } else if (!fromPicture && pkt->stream_index == sound.aIndex) {
            if (!std::isnan(at))
                soundAt = sound.playerTime(at);
            audio.decode(pkt.get());
        }
        av_packet_unref(pkt.get());
    }
    video.onOrigin = nullptr;
    video.onFrame = nullptr;
    audio.endPiece(av_rescale_q(video.endPts(), video.timeBase(), {1, audio.sampleRate()}));
}

} // namespace exportparts
