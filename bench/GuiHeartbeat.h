#pragma once

// What the GUI-thread benchmarks share: how long the GUI thread is held (a
// 5 ms timer's gaps between ticks), what each event's handling was made of,
// CPU time, and percentiles.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
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

// Runs the event loop for `ms` the way the application runs it. QTest::qWait
// sleeps 10 ms between its rounds of events, which a heartbeat counts as the
// GUI thread held.
inline void runEventLoopFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// The application, timing each event the GUI thread handles while `timing`
// is on, split into its own CPU, its waits for a core (from the kernel's
// schedstat) and the rest: time blocked on locks, the disk or other threads.
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;
    ~TimedApplication() override {
        if (schedstat_ >= 0)
            ::close(schedstat_);
    }

    bool timing = false;
    double worstEventMs = 0, worstWorkMs = 0, worstQueuedMs = 0, worstBlockedMs = 0;
    std::string worstBlockedIn;  // the receiver's class and the event's type
    long worstBlockedSleeps = 0; // times the thread went to sleep in that event

    bool notify(QObject* receiver, QEvent* event) override {
        if (!timing || depth_ > 0)
            return QApplication::notify(receiver, event);
        const Sample before = sample();
        // Named only when it is the worst: no allocation on every event. The
        // class name is static, so it outlives a receiver deleted meanwhile.
        const char* receiverClass = receiver->metaObject()->className();
        const int type = static_cast<int>(event->type());
        ++depth_;
        const bool result = QApplication::notify(receiver, event);
        --depth_;
        const Sample after = sample();
        const double wall = after.wall - before.wall, work = after.cpu - before.cpu;
        const long sleeps = after.sleeps - before.sleeps;
        // Off the core without having slept: the run queue, or the machine's
        // own processor not running.
        const double queued = sleeps == 0 ? wall - work : after.queued - before.queued;
        worstEventMs = std::max(worstEventMs, wall);
        worstWorkMs = std::max(worstWorkMs, work);
        worstQueuedMs = std::max(worstQueuedMs, queued);
        if (wall - work - queued > worstBlockedMs) {
            worstBlockedMs = wall - work - queued;
            worstBlockedIn = std::string(receiverClass) + " event " + std::to_string(type);
            worstBlockedSleeps = sleeps;
        }
        return result;
    }

private:
    struct Sample {
        double wall, cpu, queued; // ms
        long sleeps;              // voluntary context switches
    };
    static double ms(clockid_t clock) {
        timespec ts{};
        clock_gettime(clock, &ts);
        return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
    }
    Sample sample() {
        if (schedstat_ < 0) {
            const std::string path =
                "/proc/self/task/" + std::to_string(::syscall(SYS_gettid)) + "/schedstat";
            schedstat_ = ::open(path.c_str(), O_RDONLY);
        }
        // "run-time wait-time timeslices", in ns.
        char text[96] = {};
        double queued = 0;
        if (schedstat_ >= 0 && ::pread(schedstat_, text, sizeof text - 1, 0) > 0) {
            unsigned long long run = 0, wait = 0;
            if (std::sscanf(text, "%llu %llu", &run, &wait) == 2)
                queued = wait / 1e6;
        }
        rusage usage{};
        getrusage(RUSAGE_THREAD, &usage);
        return {ms(CLOCK_MONOTONIC), ms(CLOCK_THREAD_CPUTIME_ID), queued, usage.ru_nvcsw};
    }
    int schedstat_ = -1;
    int depth_ = 0;
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
