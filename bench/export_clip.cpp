// Exports one clip with our exporter and prints the time taken and peak memory.
// Usage: export_clip INPUT OUTPUT START_MS END_MS [X264_PRESET]
#include "export/ClipExportSession.h"
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
int main(int argc, char** argv) {
    ClipExportSession s(argv[1]);
    s.outputURL = argv[2];
    s.setTimeRange(atoll(argv[3]), atoll(argv[4]));
    if (argc > 5)
        s.videoPreset = argv[5];
    std::atomic<bool> done{false};
    auto t0 = std::chrono::steady_clock::now();
    s.exportAsynchronously([&] { done = true; });
    while (!done)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    auto ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    long hwm = 0;
    if (FILE* f = fopen("/proc/self/status", "r")) {
        char line[256];
        while (fgets(line, sizeof line, f))
            if (sscanf(line, "VmHWM: %ld", &hwm) == 1)
                break;
        fclose(f);
    }
    printf("status %d err '%s' %.0f ms peak RSS %ld KiB\n", (int)s.status(), s.errorText().c_str(),
           ms, hwm);
}
