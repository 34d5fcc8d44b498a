#pragma once

// What the GUI-thread benchmarks share: how long the GUI thread is held (a
// 5 ms timer's gaps between ticks), CPU time, and percentiles.
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <sys/resource.h>
#include <vector>

class Heartbeat {
public:
    Heartbeat() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const double gap = clock_.restart();
            worstGapMs = std::max(worstGapMs, gap);
            gaps.push_back(gap);
        });
        clock_.start();
        timer_.start();
    }
    double worstGapMs = 0;
    std::vector<double> gaps;

private:
    QTimer timer_;
    QElapsedTimer clock_;
};

// Seconds of CPU of the process (RUSAGE_SELF) or of the calling thread
// (RUSAGE_THREAD).
inline double cpuSeconds(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[static_cast<size_t>(p * (v.size() - 1))];
}
