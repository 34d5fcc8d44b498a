#include "angles/AudioOffset.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <filesystem>
#include <vector>

#include "export/ExportParts.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/tx.h>
}

namespace {

using namespace exportparts;

constexpr size_t kBands = 6;

// The sound is compared at 8 kHz in steps of 10 ms: a quarter of a frame at
// 25 fps before the refinement between steps. Each step is the loudness of
// 32 ms in six octave-wide bands: cameras far apart with other microphones
// hear the same events, not the same spectrum.
constexpr int kRate = 8000;
constexpr int kHop = 80;
constexpr int kWindow = 256;
constexpr double kStep = double(kHop) / kRate;
constexpr std::array<int, kBands + 1> kBandEdges = {2, 5, 10, 20, 39, 77, 129}; // FFT bins
// The stretch compared at every shift, and the least overlap a shift needs
// in files shorter than that.
constexpr double kWindowSeconds = 120.0;
constexpr double kMinOverlapSeconds = 5.0;
// The loudness changes of a second; the second-best shift is sought beyond.
constexpr int kMeanSteps = 50;
constexpr int kApartSteps = 200;

// Mean power of each band per step, from `start` (player time).
struct Loudness {
    std::array<std::vector<float>, kBands> bands;
    double start = 0.0;
    size_t size() const { return bands[0].size(); }
};

enum class Read { Ok, Unreadable, NoSound, Silent, Canceled };

bool canceled(const std::atomic<bool>* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed);
}

struct Transform {
    AVTXContext* ctx = nullptr;
    av_tx_fn fn = nullptr;
    Transform(int length, bool inverse) {
        const float scale = inverse ? 1.0f / float(length) : 1.0f;
        if (av_tx_init(&ctx, &fn, AV_TX_FLOAT_RDFT, inverse, length, &scale, AV_TX_UNALIGNED) < 0)
            throw ExportError{"transform"};
    }
    Transform(const Transform&) = delete;
    Transform& operator=(const Transform&) = delete;
    ~Transform() { av_tx_uninit(&ctx); }
};
using Complex = std::complex<float>;

// Turns decoded frames of any format into kRate mono, then band powers per step.
class StepSink {
public:
    StepSink(AVStream* stream, size_t wanted)
        : stream_(stream), wanted_(wanted), fft_(kWindow, false) {
        for (int i = 0; i < kWindow; ++i)
            hann_[size_t(i)] = float(0.5 - 0.5 * std::cos(2 * M_PI * (i + 0.5) / kWindow));
    }

    bool full() const { return out_.size() >= wanted_; }
    Loudness take() { return std::move(out_); }

    void add(AVFrame* frame, double fileStart) {
        if (!graph_.graph)
            start(frame, fileStart);
        check(av_buffersrc_add_frame(graph_.src, frame), "audio filters");
        drain();
    }
    void finish() {
        if (graph_.graph && av_buffersrc_add_frame(graph_.src, nullptr) >= 0)
            drain();
    }

private:
    void start(const AVFrame* frame, double fileStart) {
        char layout[64] = "mono";
        if (frame->ch_layout.nb_channels > 0)
            av_channel_layout_describe(&frame->ch_layout, layout, sizeof layout);
        char args[256];
        std::snprintf(args, sizeof args,
                      "time_base=%d/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%s",
                      stream_->time_base.num, stream_->time_base.den, frame->sample_rate,
                      av_get_sample_fmt_name(AVSampleFormat(frame->format)), layout);
        graph_.build("abuffer", args, "abuffersink",
                     "aformat=sample_fmts=flt:sample_rates=" + std::to_string(kRate) +
                         ":channel_layouts=mono",
                     "audio filters");
        const int64_t pts = frame->best_effort_timestamp;
        out_.start = pts == AV_NOPTS_VALUE ? 0.0 : pts * av_q2d(stream_->time_base) - fileStart;
    }
    void drain() {
        FramePtr f = newFrame();
        while (!full() && av_buffersink_get_frame(graph_.sink, f.get()) >= 0) {
            const auto* x = reinterpret_cast<const float*>(f->data[0]);
            for (int i = 0; i < f->nb_samples && !full(); ++i) {
                tail_[fill_++] = x[i];
                if (fill_ == tail_.size())
                    step();
            }
            av_frame_unref(f.get());
        }
    }
    void step() {
        std::array<float, kWindow> in;
        for (size_t i = 0; i < in.size(); ++i)
            in[i] = tail_[i] * hann_[i];
        fft_.fn(fft_.ctx, spectrum_.data(), in.data(), sizeof(float));
        for (size_t b = 0; b < kBands; ++b) {
            double power = 0.0;
            for (int k = kBandEdges[b]; k < kBandEdges[b + 1]; ++k)
                power += std::norm(spectrum_[size_t(k)]);
            out_.bands[b].push_back(float(power / (kBandEdges[b + 1] - kBandEdges[b])));
        }
        std::copy(tail_.begin() + kHop, tail_.end(), tail_.begin());
        fill_ = tail_.size() - kHop;
    }

    AVStream* stream_;
    size_t wanted_;
    Graph graph_;
    Loudness out_;
    Transform fft_;
    std::array<float, kWindow> tail_{}, hann_{};
    std::array<Complex, kWindow / 2 + 1> spectrum_{};
    size_t fill_ = 0;
};

struct FormatContext {
    AVFormatContext* ctx = nullptr;
    ~FormatContext() { avformat_close_input(&ctx); }
};

// Decodes the packets of `stream` into `sink` until it is full or the file ends.
Read decodeInto(AVFormatContext* ctx, AVStream* stream, AVCodecContext* dec, StepSink& sink,
                const std::atomic<bool>* cancel) {
    const double fileStart =
        ctx->start_time != AV_NOPTS_VALUE ? ctx->start_time / double(AV_TIME_BASE) : 0.0;
    PacketPtr pkt = newPacket();
    FramePtr frame = newFrame();
    bool ended = false;
    while (!ended && !sink.full()) {
        if (canceled(cancel))
            return Read::Canceled;
        const int r = av_read_frame(ctx, pkt.get());
        ended = r < 0; // the end, or a damaged tail: what was read counts
        if (!ended && pkt->stream_index != stream->index) {
            av_packet_unref(pkt.get());
            continue;
        }
        const int sent = avcodec_send_packet(dec, ended ? nullptr : pkt.get());
        av_packet_unref(pkt.get());
        if (sent < 0 && sent != AVERROR(EAGAIN) && !ended)
            continue; // one damaged packet
        while (!sink.full() && avcodec_receive_frame(dec, frame.get()) >= 0) {
            sink.add(frame.get(), fileStart);
            av_frame_unref(frame.get());
        }
    }
    sink.finish();
    return Read::Ok;
}

// The first `seconds` of the first sound stream of `path`.
Read readLoudness(const std::string& path, double seconds, const std::atomic<bool>* cancel,
                  Loudness& out) {
    FormatContext in;
    if (avformat_open_input(&in.ctx, path.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(in.ctx, nullptr) < 0)
        return Read::Unreadable;
    const int index = av_find_best_stream(in.ctx, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0)
        return Read::NoSound;
    // The pictures are not even read where the container can skip them.
    for (unsigned i = 0; i < in.ctx->nb_streams; ++i)
        if (int(i) != index)
            in.ctx->streams[i]->discard = AVDISCARD_ALL;
    AVStream* stream = in.ctx->streams[index];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    CodecContext dec;
    if (!codec || !(dec.ctx = avcodec_alloc_context3(codec)) ||
        avcodec_parameters_to_context(dec.ctx, stream->codecpar) < 0)
        return Read::Unreadable;
    dec.ctx->pkt_timebase = stream->time_base;
    if (avcodec_open2(dec.ctx, codec, nullptr) < 0)
        return Read::Unreadable;
    StepSink sink(stream, size_t(seconds / kStep));
    try {
        if (const Read r = decodeInto(in.ctx, stream, dec.ctx, sink, cancel); r != Read::Ok)
            return r;
    } catch (const ExportError&) {
        return Read::Unreadable;
    }
    out = sink.take();
    if (out.size() == 0)
        return Read::NoSound;
    const bool silent = std::all_of(out.bands.begin(), out.bands.end(), [](const auto& band) {
        return std::all_of(band.begin(), band.end(), [](float e) { return e < 1e-10f; });
    });
    return silent ? Read::Silent : Read::Ok;
}

std::string readError(Read r, const std::string& path) {
    const std::string name = "「" + std::filesystem::path(path).filename().string() + "」";
    switch (r) {
    case Read::Unreadable:
        return name + "を読めません";
    case Read::NoSound:
        return name + "には音声がありません";
    case Read::Silent:
        return name + "の音声は無音です";
    case Read::Canceled:
        return "中止しました";
    case Read::Ok:
        break;
    }
    return {};
}

// The log loudness minus its mean over the second around: what changes, not
// how loud or through which microphone. Zero mean, unit power.
std::vector<float> changes(const std::vector<float>& steps) {
    const size_t n = steps.size();
    double mean = 0.0;
    for (float e : steps)
        mean += e;
    const double floor = mean / double(n) * 1e-6 + 1e-12; // silence is -60 dB, not -inf
    std::vector<double> sum(n + 1, 0.0);
    std::vector<double> logs(n);
    for (size_t i = 0; i < n; ++i) {
        logs[i] = std::log(steps[i] + floor);
        sum[i + 1] = sum[i] + logs[i];
    }
    std::vector<float> out(n);
    double power = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const size_t a = i > size_t(kMeanSteps) ? i - kMeanSteps : 0;
        const size_t b = std::min(n, i + kMeanSteps + 1);
        out[i] = float(logs[i] - (sum[b] - sum[a]) / double(b - a));
        power += double(out[i]) * out[i];
    }
    const double scale = power > 0.0 ? 1.0 / std::sqrt(power / double(n)) : 0.0;
    for (float& v : out)
        v = float(v * scale);
    return out;
}

using Bands = std::array<std::vector<float>, kBands>;

Bands changes(const Loudness& loudness) {
    Bands out;
    for (size_t b = 0; b < kBands; ++b)
        out[b] = changes(loudness.bands[b]);
    return out;
}

// Summed over the bands: x[t] * y[t + k], at index k (k >= 0) and n + k (k < 0).
std::vector<float> crossCorrelation(const Bands& x, const Bands& y) {
    int n = 1;
    while (size_t(n) < x[0].size() + y[0].size())
        n *= 2;
    Transform forward(n, false), inverse(n, true);
    auto spectrum = [&](const std::vector<float>& v) {
        std::vector<float> in(size_t(n), 0.0f);
        std::copy(v.begin(), v.end(), in.begin());
        std::vector<Complex> out(size_t(n) / 2 + 1);
        forward.fn(forward.ctx, out.data(), in.data(), sizeof(float));
        return out;
    };
    std::vector<Complex> sum(size_t(n) / 2 + 1);
    for (size_t b = 0; b < kBands; ++b) {
        const std::vector<Complex> xs = spectrum(x[b]), ys = spectrum(y[b]);
        for (size_t i = 0; i < sum.size(); ++i)
            sum[i] += std::conj(xs[i]) * ys[i];
    }
    std::vector<float> out(static_cast<size_t>(n));
    inverse.fn(inverse.ctx, out.data(), sum.data(), sizeof(Complex));
    return out;
}

// Running sums of the power of all bands.
std::vector<double> powerSums(const Bands& x) {
    std::vector<double> sums(x[0].size() + 1, 0.0);
    for (size_t i = 0; i < x[0].size(); ++i) {
        sums[i + 1] = sums[i];
        for (const auto& band : x)
            sums[i + 1] += double(band[i]) * band[i];
    }
    return sums;
}

struct Shift {
    bool found = false;
    double steps = 0.0; // y's step at x's step 0
    double score = 0.0, second = 0.0;
};

// The shift where x and y agree best, each shift scored by the correlation
// over its overlap alone (so that a short overlap weighs as much as a long one).
Shift bestShift(const Bands& x, const Bands& y, long maxLag, long minOverlap) {
    const std::vector<float> c = crossCorrelation(x, y);
    const long nx = long(x[0].size()), ny = long(y[0].size()), n = long(c.size());
    const std::vector<double> ex = powerSums(x), ey = powerSums(y);
    const long lo = std::max(-maxLag, minOverlap - nx), hi = std::min(maxLag, ny - minOverlap);
    std::vector<double> score(size_t(std::max(0L, hi - lo + 1)), 0.0);
    for (long k = lo; k <= hi; ++k) {
        const long a = std::max(0L, -k), b = std::min(nx, ny - k); // x's overlap [a, b)
        const double energy =
            (ex[size_t(b)] - ex[size_t(a)]) * (ey[size_t(b + k)] - ey[size_t(a + k)]);
        if (energy > 0.0)
            score[size_t(k - lo)] = c[size_t((k + n) % n)] / std::sqrt(energy);
    }
    Shift s;
    if (score.empty())
        return s;
    const size_t best = size_t(std::max_element(score.begin(), score.end()) - score.begin());
    s.found = score[best] > 0.0;
    s.score = score[best];
    s.steps = double(long(best) + lo);
    if (best > 0 && best + 1 < score.size()) {
        const double l = score[best - 1], m = score[best], r = score[best + 1];
        if (const double d = l - 2 * m + r; d < 0.0)
            s.steps += 0.5 * (l - r) / d;
    }
    for (size_t i = 0; i < score.size(); ++i)
        if (i + kApartSteps < best || i > best + kApartSteps)
            s.second = std::max(s.second, score[i]);
    return s;
}

} // namespace

AudioOffsetGuess proposeAudioOffset(const std::string& mainPath, const std::string& anglePath,
                                    const std::atomic<bool>* cancel, double maxLagSeconds) {
    AudioOffsetGuess guess;
    maxLagSeconds = std::isfinite(maxLagSeconds) ? std::clamp(maxLagSeconds, 1.0, 3600.0) : 300.0;
    const double seconds = maxLagSeconds + kWindowSeconds;
    Loudness main, angle;
    for (const auto& [path, out] : {std::pair{&mainPath, &main}, std::pair{&anglePath, &angle}})
        if (const Read r = readLoudness(*path, seconds, cancel, *out); r != Read::Ok)
            return guess.error = readError(r, *path), guess;
    const double shorter = double(std::min(main.size(), angle.size())) * kStep;
    const double overlap = std::max(kMinOverlapSeconds, std::min(kWindowSeconds, shorter / 2));
    if (shorter < 2 * kMinOverlapSeconds)
        return guess.error = "音声が短すぎて比べられません", guess;
    Shift shift;
    try {
        shift = bestShift(changes(main), changes(angle), long(maxLagSeconds / kStep),
                          long(overlap / kStep));
    } catch (const ExportError&) {
        return guess.error = "音声を比べられません", guess;
    }
    if (canceled(cancel))
        return guess.error = readError(Read::Canceled, {}), guess;
    if (!shift.found)
        return guess.error = "音声に共通するところが見つかりません", guess;
    guess.ok = true;
    guess.offset = angle.start - main.start + shift.steps * kStep;
    // 1 when nothing else comes near; near 0 when another shift fits as well.
    guess.confidence = std::clamp(1.0 - std::max(0.0, shift.second) / shift.score, 0.0, 1.0);
    return guess;
}
