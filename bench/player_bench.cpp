// Our player against a bare libmpv handle with the same options, on the
// 1080p fixtures: open to first frame, exact seek latency and landing error
// (paused, whole-second targets), replacing an open video by another, the
// longest the GUI thread is held by one round of its event loop while doing
// so, the slowest currentTime() call during seeks, and the process's memory
// while playing.
// Usage: bench_player FIXTURE_DIR   (files from scripts/make-fixtures DIR --big)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mpv/client.h>
#include <mpv/render.h>
#include <random>
#include <string>
#include <vector>

#include "player/MpvPlayer.h"
#include "player/MpvSoftwareRenderer.h"

namespace {

constexpr double kFps = 25.0;
const QSize kSize(640, 360);

int frameNumberOf(const QImage& image) {
    int number = 0;
    for (int bit = 0; bit < 12; ++bit)
        if (qGray(image.pixel((2 * bit + 1) * image.width() / 24, image.height() / 12)) > 128)
            number |= 1 << bit;
    return number;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? NAN : v[v.size() / 2];
}

long rssKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 10, '\n');
    }
    return -1;
}

struct Figures {
    std::vector<double> openMs, seekMs;
    int worstError = 0;
};

// Slowest currentTime() call on the GUI thread, over the whole run.
double worstCurrentTimeMs = 0;

// How long the GUI thread is held: a 5 ms timer's largest gap between ticks.
class Heartbeat {
public:
    Heartbeat() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout,
                         [this] { worstGapMs = std::max(worstGapMs, clock_.restart() * 1.0); });
        clock_.start();
        timer_.start();
    }
    double worstGapMs = 0;

private:
    QTimer timer_;
    QElapsedTimer clock_;
};

// A bare handle: same options, a software render context, events waited on
// directly.
class Bare {
public:
    Bare() {
        mpv_ = mpv_create();
        for (auto [k, v] : {std::pair{"vo", "libmpv"},
                            {"keep-open", "yes"},
                            {"hr-seek", "yes"},
                            {"hr-seek-demuxer-offset", "2.5"},
                            {"load-scripts", "no"},
                            {"ytdl", "no"},
                            {"config", "no"},
                            {"input-default-bindings", "no"},
                            {"osc", "no"},
                            {"terminal", "no"},
                            {"idle", "yes"},
                            {"ao", "null"}})
            mpv_set_option_string(mpv_, k, v);
        mpv_initialize(mpv_);
        char api[] = MPV_RENDER_API_TYPE_SW;
        mpv_render_param params[] = {{MPV_RENDER_PARAM_API_TYPE, api},
                                     {MPV_RENDER_PARAM_INVALID, nullptr}};
        mpv_render_context_create(&ctx_, mpv_, params);
        mpv_render_context_set_update_callback(
            ctx_, [](void* self) { static_cast<Bare*>(self)->updates_++; }, this);
        image_ = QImage(kSize, QImage::Format_RGB32);
    }
    ~Bare() {
        mpv_render_context_free(ctx_);
        mpv_terminate_destroy(mpv_);
    }
    // Draws every new frame (mpv waits for the first one before it reports
    // the restart) until `id` has come and a frame after it was drawn.
    void waitThenDraw(mpv_event_id id) {
        bool seen = false, drawn = false;
        while (!seen || !drawn) {
            mpv_event* e = mpv_wait_event(mpv_, 0.001);
            if (e->event_id == id)
                seen = true;
            if (updates_.exchange(0) &&
                (mpv_render_context_update(ctx_) & MPV_RENDER_UPDATE_FRAME)) {
                draw();
                drawn = true;
            }
        }
    }
    void draw() {
        int size[2] = {kSize.width(), kSize.height()};
        char format[] = "bgr0";
        size_t stride = static_cast<size_t>(image_.bytesPerLine());
        mpv_render_param params[] = {{MPV_RENDER_PARAM_SW_SIZE, size},
                                     {MPV_RENDER_PARAM_SW_FORMAT, format},
                                     {MPV_RENDER_PARAM_SW_STRIDE, &stride},
                                     {MPV_RENDER_PARAM_SW_POINTER, image_.bits()},
                                     {MPV_RENDER_PARAM_INVALID, nullptr}};
        mpv_render_context_render(ctx_, params);
    }
    double open(const std::string& path) {
        QElapsedTimer t;
        t.start();
        const char* cmd[] = {"loadfile", path.c_str(), "replace", nullptr};
        mpv_command(mpv_, cmd);
        int yes = 1;
        mpv_set_property(mpv_, "pause", MPV_FORMAT_FLAG, &yes);
        waitThenDraw(MPV_EVENT_PLAYBACK_RESTART);
        return t.nsecsElapsed() / 1e6;
    }
    double seek(double target, int& frame) {
        QElapsedTimer t;
        t.start();
        const std::string s = std::to_string(target);
        const char* cmd[] = {"seek", s.c_str(), "absolute+exact", nullptr};
        mpv_command(mpv_, cmd);
        waitThenDraw(MPV_EVENT_PLAYBACK_RESTART);
        frame = frameNumberOf(image_);
        return t.nsecsElapsed() / 1e6;
    }

private:
    mpv_handle* mpv_ = nullptr;
    mpv_render_context* ctx_ = nullptr;
    std::atomic<int> updates_{0};
    QImage image_;
};

class Ours {
public:
    Ours() : player_(std::map<std::string, std::string>{{"ao", "null"}}), renderer_(player_) {
        renderer_.setSize(kSize);
    }
    double open(const std::string& path) {
        QSignalSpy frames(&renderer_, &MpvSoftwareRenderer::frameReady);
        QSignalSpy restarted(&player_, &MpvPlayer::playbackRestarted);
        QElapsedTimer t;
        t.start();
        bool ok = false;
        player_.replaceCurrentItem(path, [&](bool r) {
            ok = r;
            player_.pause();
        });
        while (!ok || frames.isEmpty() || restarted.isEmpty())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return t.nsecsElapsed() / 1e6;
    }
    double seek(double target, int& frame) {
        QSignalSpy restarted(&player_, &MpvPlayer::playbackRestarted);
        QElapsedTimer t;
        t.start();
        player_.seekExact(target);
        QSignalSpy frames(&renderer_, &MpvSoftwareRenderer::frameReady);
        while (restarted.isEmpty() || frames.isEmpty()) {
            // As a tag press reads the time while the seek runs.
            QElapsedTimer read;
            read.start();
            (void)player_.currentTime();
            worstCurrentTimeMs = std::max(worstCurrentTimeMs, read.nsecsElapsed() / 1e6);
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        const double ms = t.nsecsElapsed() / 1e6;
        renderer_.renderNow();
        frame = frameNumberOf(renderer_.image());
        if (std::getenv("BENCH_VERBOSE"))
            std::printf("  ours target %.0f frame %d\n", target, frame);
        return ms;
    }
    void playFor(int ms) {
        player_.playImmediatelyAtRate(1.0f);
        QTest::qWait(ms);
        player_.pause();
    }

private:
    MpvPlayer player_;
    MpvSoftwareRenderer renderer_;
};

template <typename P> void run(P& p, const std::string& file, Figures& f, uint32_t seed) {
    f.openMs.push_back(p.open(file));
    std::mt19937 rng(seed);
    for (int i = 0; i < 10; ++i) {
        const double target = 1 + rng() % 55;
        int frame = -1;
        f.seekMs.push_back(p.seek(target, frame));
        f.worstError = std::max(f.worstError, std::abs(frame - static_cast<int>(target * kFps)));
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setlocale(LC_NUMERIC, "C");
    const std::string dir = argc > 1 ? argv[1] : "build/fixtures";
    {
        const long before = rssKiB();
        Ours o;
        o.open(dir + "/big.mp4");
        o.playFor(5000);
        std::printf(
            "RSS of the process before the player %ld KiB, after 5 s of 1080p playback %ld KiB\n",
            before, rssKiB());
    }
    // Replacing an open video by another: the first frame of the second.
    std::printf("%-18s %-6s %12s\n", "replace", "player", "median ms");
    for (auto [from, to] : {std::pair{"big.mp4", "big.mts"}, {"big.mts", "big.mp4"}}) {
        std::vector<double> bare, ours;
        double worstGap = 0;
        for (int round = 0; round < 5; ++round) {
            {
                Bare b;
                int frame = -1;
                b.open(dir + "/" + from);
                b.seek(1.0, frame);
                bare.push_back(b.open(dir + "/" + to));
            }
            {
                Ours o;
                int frame = -1;
                o.open(dir + "/" + from);
                o.seek(1.0, frame);
                Heartbeat heartbeat;
                ours.push_back(o.open(dir + "/" + to));
                worstGap = std::max(worstGap, heartbeat.worstGapMs);
            }
        }
        const std::string name = std::string(from) + ">" + to;
        std::printf("%-18s %-6s %12.1f\n", name.c_str(), "bare", median(bare));
        std::printf("%-18s %-6s %12.1f   (GUI thread held at most %.1f ms)\n", name.c_str(), "ours",
                    median(ours), worstGap);
        std::printf("%-18s ratio  %12.2f\n", name.c_str(), median(ours) / median(bare));
    }

    std::printf("%-8s %-6s %12s %12s %12s\n", "file", "player", "open ms", "seek ms", "max err");
    for (const char* name : {"big.mp4", "big.mts"}) {
        const std::string file = dir + "/" + name;
        Figures bare, ours;
        for (int round = 0; round < 3; ++round) { // alternate so neither gets warm caches only
            {
                Bare b;
                run(b, file, bare, 100 + round);
            }
            {
                Ours o;
                run(o, file, ours, 100 + round);
            }
        }
        std::printf("%-8s %-6s %12.1f %12.1f %10d fr\n", name, "bare", median(bare.openMs),
                    median(bare.seekMs), bare.worstError);
        std::printf("%-8s %-6s %12.1f %12.1f %10d fr\n", name, "ours", median(ours.openMs),
                    median(ours.seekMs), ours.worstError);
        std::printf("%-8s ratio  %12.2f %12.2f\n", name, median(ours.openMs) / median(bare.openMs),
                    median(ours.seekMs) / median(bare.seekMs));
    }
    std::printf("worst currentTime() on the GUI thread during seeks: %.3f ms\n",
                worstCurrentTimeMs);
    return 0;
}
