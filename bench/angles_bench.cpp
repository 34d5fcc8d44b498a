// Angles in step on the 1080p fixtures: the longest the GUI thread is held by
// one round of its event loop (a 5 ms timer's largest gap, as bench_player
// measures it) with the main and three angles playing in a window (the main
// drawn by the software renderer, the angles painted from their feeds), and
// what the longest event was made of (the GUI thread's own work, its waits
// for a core, and time blocked); the
// process's CPU with the main and one angle playing at 1× (and the main
// alone); and the time from opening a match of four angles to the first
// frames of all four in step. Run it with QT_QPA_PLATFORM=offscreen or on X.
// Usage: bench_angles FIXTURE_DIR   (big.mp4 from scripts/make-fixtures DIR --big)
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "GuiHeartbeat.h"
#include "angles/AngleSync.h"
#include "player/MpvPlayer.h"
#include "video/AngleViews.h"
#include "video/VideoSurfaces.h"

namespace {

const QSize kWindow(1366, 768);

// The main player and its angles in a window as the video view shows them:
// the main on its software surface, the angles in a 2×2 grid, each painted
// from its feed.
struct Match {
    MpvPlayer main{std::map<std::string, std::string>{{"ao", "null"}}};
    QWidget host;
    SoftwareVideoSurface* surface = new SoftwareVideoSurface(main, &host);
    AngleViews views{&host, surface, main};

    // Opens the main, then its angles (offsets in seconds); returns the
    // milliseconds until every picture shows the instant of main time 10 s.
    double open(const std::string& mainFile, const std::vector<std::string>& angles) {
        QElapsedTimer clock;
        clock.start();
        host.resize(kWindow);
        host.show();
        bool ok = false;
        main.replaceCurrentItem(mainFile, [&](bool r) {
            ok = r;
            main.pause();
            main.seekExact(10.0);
        });
        std::vector<MatchAngle> list;
        const double offsets[] = {1.5, -2.0, 0.6};
        for (size_t i = 0; i < angles.size(); ++i)
            list.push_back({"angle", angles[i], offsets[i], 1.0});
        views.setAngles(list, "");
        views.setLayout(AngleViews::Layout::Grid, 1);
        AngleSync& sync = views.sync();
        const auto inStep = [&] {
            if (!ok || main.isSeeking() || std::abs(main.currentTime() - 10.0) > 1e-3)
                return false;
            for (size_t i = 0; i < sync.count(); ++i) {
                if (!sync.hasPicture(i) || !sync.settled(i) ||
                    std::abs(sync.shownTime(i) - angleTime(sync.angle(i), 10.0)) > 0.021)
                    return false;
            }
            return true;
        };
        while (!inStep())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        return clock.nsecsElapsed() / 1e6;
    }
};

} // namespace

int main(int argc, char** argv) {
    TimedApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setlocale(LC_NUMERIC, "C");
    const std::string dir = argc > 1 ? argv[1] : "build/fixtures";
    // The one file four times: each player decodes its own.
    const std::string mp4 = dir + "/big.mp4";

    std::vector<double> opens;
    for (int round = 0; round < 3; ++round) {
        Match m;
        opens.push_back(m.open(mp4, {mp4, mp4, mp4}));
    }
    std::printf("open a match of four 1080p angles to the first frames in step: median %.0f ms "
                "(of %.0f, %.0f, %.0f)\n",
                percentile(opens, 0.5), opens[0], opens[1], opens[2]);

    // The main alone first, the single player's figure to compare with.
    for (const std::vector<std::string>& angles :
         {std::vector<std::string>{}, std::vector<std::string>{mp4, mp4, mp4}}) {
        Match m;
        m.open(mp4, angles);
        m.main.playImmediatelyAtRate(1.0f);
        runEventLoopFor(1000);
        app.worstEventMs = app.worstWorkMs = app.worstQueuedMs = app.worstBlockedMs = 0;
        Heartbeat heartbeat;
        const double gui0 = cpuSeconds(RUSAGE_THREAD);
        app.timing = true;
        runEventLoopFor(15000);
        app.timing = false;
        const auto over = [&](double ms) {
            return std::count_if(heartbeat.gaps.begin(), heartbeat.gaps.end(),
                                 [ms](double gap) { return gap > ms; });
        };
        std::printf("%s playing 15 s: 5 ms ticks' gaps at most %.1f ms, 99th percentile %.1f ms, "
                    "99.9th %.1f ms, %ld of %zu over 10 ms; GUI thread busy %.0f %% of the time\n",
                    angles.empty() ? "the main alone" : "the main and three 1080p angles",
                    heartbeat.worstGapMs, percentile(heartbeat.gaps, 0.99),
                    percentile(heartbeat.gaps, 0.999), static_cast<long>(over(10)),
                    heartbeat.gaps.size(), 100.0 * (cpuSeconds(RUSAGE_THREAD) - gui0) / 15.0);
        std::printf("  longest event on the GUI thread %.1f ms; the most of it the GUI thread's "
                    "own work %.1f ms, waiting for a core %.1f ms, blocked %.1f ms (%s, %ld "
                    "sleeps)\n",
                    app.worstEventMs, app.worstWorkMs, app.worstQueuedMs, app.worstBlockedMs,
                    app.worstBlockedIn.c_str(), app.worstBlockedSleeps);
    }

    for (const std::vector<std::string>& angles :
         {std::vector<std::string>{}, std::vector<std::string>{mp4}}) {
        Match m;
        m.open(mp4, angles);
        m.main.playImmediatelyAtRate(1.0f);
        runEventLoopFor(2000);
        const double cpu0 = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        runEventLoopFor(20000);
        std::printf("%s at 1x: CPU %.0f %% of one core (20 s)\n",
                    angles.empty() ? "the main alone" : "the main and one angle, 1080p",
                    100.0 * (cpuSeconds() - cpu0) / (wall.nsecsElapsed() / 1e9));
    }
    return 0;
}
