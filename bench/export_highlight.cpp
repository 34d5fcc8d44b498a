// Exports ranges back to back with our exporter and prints the time taken.
// Usage: export_highlight INPUT OUTPUT PRESET THREADS START_MS:END_MS...
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "export/ClipExportSession.h"

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s INPUT OUTPUT PRESET THREADS START_MS:END_MS...\n", argv[0]);
        return 2;
    }
    ClipExportSession s(argv[1]);
    s.outputURL = argv[2];
    s.videoPreset = argv[3];
    s.videoThreads = std::atoi(argv[4]);
    std::vector<std::pair<int64_t, int64_t>> ranges;
    for (int i = 5; i < argc; ++i) {
        long long a = 0, b = 0;
        if (std::sscanf(argv[i], "%lld:%lld", &a, &b) == 2)
            ranges.emplace_back(a, b);
    }
    s.setTimeRanges(ranges);
    std::atomic<bool> done{false};
    const auto t0 = std::chrono::steady_clock::now();
    s.exportAsynchronously([&] { done = true; });
    while (!done)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    std::printf("status %d err '%s' %.0f ms\n", static_cast<int>(s.status()), s.errorText().c_str(),
                ms);
    return s.status() == ClipExportSession::Completed ? 0 : 1;
}
