// Publishes a playlist of ITEMS moments of SECONDS each, spread over a match
// video, into a fresh folder, and prints the time taken, the load average and
// which items were smart cut.
// Usage: publish_bench VIDEO DIR [ITEMS=20] [SECONDS=12] [MAX_HEIGHT=720] [KBPS=2500]
//        [X264_PRESET]
#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

#include "player/MediaProbe.h"
#include "publish/ItemRender.h"
#include "publish/PublishJob.h"

namespace {

QString loadAverage() {
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(' ', 0, 2)
                                       : QStringLiteral("?");
}

// CPU seconds of the process so far, all threads.
double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: publish_bench VIDEO DIR [ITEMS] [SECONDS] [MAX_HEIGHT] [KBPS]\n");
        return 2;
    }
    const int items = argc > 3 ? std::atoi(argv[3]) : 20;
    const double seconds = argc > 4 ? std::atof(argv[4]) : 12.0;
    publish::PublishRequest r;
    r.dir = QString::fromLocal8Bit(argv[2]);
    r.group = QStringLiteral("FW");
    r.playlistId = 1;
    r.playlistName = QStringLiteral("bench");
    r.maxHeight = argc > 5 ? std::atoi(argv[5]) : 720;
    r.bitRateKbps = argc > 6 ? std::atoi(argv[6]) : 2500;
    // Starts mid-GOP, spread over the video (overlapping when it is short).
    const double length = mediaLength(argv[1]);
    const double step = items > 1 ? std::max(0.0, length - seconds - 1.0) / (items - 1) : 0.0;
    for (int i = 0; i < items; ++i) {
        const double from = 0.52 + i * step;
        r.items.push_back({QString::fromLocal8Bit(argv[1]),
                           from,
                           from + seconds,
                           QString::number(i),
                           {},
                           {},
                           {}});
    }
    publish::RenderSettings settings;
    std::string paths; // an item's letter: c smart cut, e encoded whole
    if (argc > 7)
        settings.preset = argv[7];
    const publish::Renderer render = [&](const QString& source, double from, double to,
                                         const QString& target, int maxHeight, int kbps,
                                         const std::function<void(double)>& progress,
                                         const std::atomic<bool>& cancelled, QString* error) {
        settings.maxHeight = maxHeight;
        settings.bitRateKbps = kbps;
        std::string why;
        publish::RenderPath path{};
        const bool done =
            publish::renderItem(source.toStdString(), from, to, target.toStdString(), settings,
                                progress, cancelled, why, &path) == publish::RenderStatus::Done;
        *error = QString::fromStdString(why);
        if (done)
            paths += path == publish::RenderPath::Copied ? 'c' : 'e';
        return done;
    };
    const QString before = loadAverage();
    std::atomic<bool> cancelled{false};
    const auto t0 = std::chrono::steady_clock::now();
    const double cpu0 = cpuSeconds();
    const publish::PublishResult result = publish::publishPlaylist(r, render, {}, cancelled);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%s: status %d rendered %d kept %d in %.1f s (%.2f s an item), CPU %.1f s; load "
                "before %s, after %s %s\nitems (c smart cut, e encoded): %s\n",
                settings.preset.c_str(), static_cast<int>(result.status), result.rendered,
                result.kept, s, s / std::max(1, items), cpuSeconds() - cpu0, qPrintable(before),
                qPrintable(loadAverage()), qPrintable(result.error), paths.c_str());
    return result.status == publish::PublishStatus::Done ? 0 : 1;
}
