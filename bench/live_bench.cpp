// Live recording on this machine: the CPU of recording a compressed 1080p25
// stream arriving over UDP (% of one core), the CPU of encoding a raw 1080p25
// source (ffmpeg's test device), and the delay from a picture's last datagram
// arriving to the picture being in the file (written, as a kill would find it).
// The bench is the camera: it sends a 1080p25 H.264 MPEG-TS file it made first
// over UDP at the file's own rate, and watches the recording grow.
// Usage: bench_live [SECONDS]   (default 60 s of stream, 20 s of raw encoding)
#include <QCoreApplication>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "live/LiveRecorder.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPort = 23456;
constexpr int kVideoPid = 0x100; // ffmpeg's first stream, in the source and in ours

double processCpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double threadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

double since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

bool startsVideoPicture(const unsigned char* p) {
    return p[0] == 0x47 && (p[1] & 0x40) && (((p[1] & 0x1f) << 8) | p[2]) == kVideoPid;
}

// Sends `ts` to the port at its average rate in datagrams of 7 packets; the
// time each picture's last packet went is kept (picture k ends where k+1 starts).
std::vector<double> sendAtRate(const std::string& ts, double seconds, Clock::time_point t0,
                               double& cpu) {
    std::ifstream in(ts, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), {});
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kPort);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const double rate = data.size() / seconds;
    std::vector<double> ends;
    bool started = false;
    for (size_t at = 0; at + 188 <= data.size(); at += 7 * 188) {
        const size_t n = std::min<size_t>(7 * 188, data.size() - at);
        const auto due = t0 + std::chrono::duration<double>(at / rate);
        std::this_thread::sleep_until(std::chrono::time_point_cast<Clock::duration>(due));
        ::sendto(s, data.data() + at, n, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        for (size_t p = at; p < at + n; p += 188)
            if (startsVideoPicture(reinterpret_cast<const unsigned char*>(data.data() + p))) {
                if (started)
                    ends.push_back(since(t0)); // the picture before is whole
                started = true;
            }
    }
    ::close(s);
    cpu = threadCpu();
    return ends;
}

// Watches the file grow: the time each picture's first packet is in it.
void watch(const std::string& file, const std::atomic<bool>& done, Clock::time_point t0,
           std::vector<double>& seen, double& cpu) {
    size_t read = 0;
    std::vector<unsigned char> packet(188);
    while (!done) {
        std::ifstream in(file, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(read));
        while (in.read(reinterpret_cast<char*>(packet.data()), 188)) {
            read += 188;
            if (startsVideoPicture(packet.data()))
                seen.push_back(since(t0));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    cpu = threadCpu();
}

void compressed(const fs::path& dir, double seconds) {
    const std::string source = (dir / "camera.ts").string();
    const std::string make =
        "ffmpeg -v error -y -filter_complex 'testsrc2=size=1920x1080:rate=25:duration=" +
        std::to_string(seconds) + "[v];sine=frequency=440:duration=" + std::to_string(seconds) +
        "[a]' -map '[v]' -map '[a]' -c:v libx264 -preset veryfast -b:v 8M -maxrate 8M "
        "-bufsize 8M -g 50 -c:a aac -f mpegts '" +
        source + "'";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "ffmpeg could not make the stream\n");
        std::exit(1);
    }
    const std::string out = (dir / "recorded.ts").string();
    LiveRecorder recorder({"udp://127.0.0.1:" + std::to_string(kPort), "", {}}, out);
    recorder.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the socket is open
    const double cpu0 = processCpu();
    const auto t0 = Clock::now() + std::chrono::milliseconds(50);
    std::atomic<bool> done{false};
    std::vector<double> seen;
    double sendCpu = 0, watchCpu = 0;
    std::thread watcher([&] { watch(out, done, t0, seen, watchCpu); });
    const std::vector<double> sent = sendAtRate(source, seconds, t0, sendCpu);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    done = true;
    watcher.join();
    const double wall = since(t0);
    const double cpu = processCpu() - cpu0 - sendCpu - watchCpu;
    recorder.stop();
    // Picture k is written whole at once, so it is in the file when its first
    // packet is. The first 2 s are left out: the probe of a new source holds
    // its first pictures back once.
    std::vector<double> delays;
    for (size_t k = 50; k < seen.size() && k < sent.size(); ++k)
        delays.push_back((seen[k] - sent[k]) * 1000);
    std::sort(delays.begin(), delays.end());
    const LiveStatus s = recorder.status();
    std::printf(
        "compressed 1080p25 over UDP, %.0f s at %.1f Mb/s: recorder CPU %.1f %% of a core\n",
        seconds, fs::file_size(source) * 8 / seconds / 1e6, 100 * cpu / wall);
    if (!delays.empty())
        std::printf("picture's last datagram to the picture in the file: median %.1f ms, 95th "
                    "%.1f ms, worst %.1f ms (%zu pictures in the file of %zu sent)\n",
                    delays[delays.size() / 2], delays[delays.size() * 95 / 100], delays.back(),
                    seen.size(), sent.size() + 1);
    std::printf("  edge %.2f s, %lld bytes\n", s.edge, static_cast<long long>(s.bytes));
}

void raw(const fs::path& dir, double seconds) {
    const std::string out = (dir / "raw.ts").string();
    LiveRecorder recorder({"testsrc2=size=1920x1080:rate=25", "lavfi", {}}, out);
    const double cpu0 = processCpu();
    const auto t0 = Clock::now();
    recorder.start();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double cpu = processCpu() - cpu0, wall = since(t0);
    recorder.stop();
    // The test picture alone, made the same way, to take out of the figure.
    const std::string alone = "ffmpeg -v error -f lavfi -i testsrc2=size=1920x1080:rate=25 -t " +
                              std::to_string(seconds) + " -f null -";
    rusage before{}, after{};
    getrusage(RUSAGE_CHILDREN, &before);
    if (std::system(alone.c_str()) != 0)
        return;
    getrusage(RUSAGE_CHILDREN, &after);
    const double picture = (after.ru_utime.tv_sec - before.ru_utime.tv_sec) +
                           (after.ru_utime.tv_usec - before.ru_utime.tv_usec) / 1e6 +
                           (after.ru_stime.tv_sec - before.ru_stime.tv_sec) +
                           (after.ru_stime.tv_usec - before.ru_stime.tv_usec) / 1e6;
    const LiveStatus s = recorder.status();
    std::printf(
        "raw 1080p25 encoded (libx264 superfast, zerolatency): %.1f %% of a core with the "
        "test picture, %.1f %% without it; %.1f s of %.1f s on the file's clock, %.1f Mb/s\n",
        100 * cpu / wall, 100 * (cpu - picture) / wall, s.edge, wall, s.bytesPerSecond * 8 / 1e6);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60;
    const fs::path dir =
        fs::temp_directory_path() / ("rucktag-live-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    compressed(dir, seconds);
    raw(dir, std::min(seconds, 20.0));
    fs::remove_all(dir);
    return 0;
}
