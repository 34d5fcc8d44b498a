// `rucktag serve`'s throughput: 50 clients at once asking byte ranges of a
// 50 MB video, as phones seeking through a clip do. The server runs in this
// process with the command's settings; each client has its own connection.
// Usage: bench_serve [RANGE_KIB ...]   (default 1024 64)
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <httplib.h>
#include <random>
#include <thread>

#include "web/WebServer.h"

namespace {

constexpr size_t kFile = 50u << 20;
constexpr int kClients = 50;
const std::string kToken(43, 't'), kMedia = std::string(64, 'a') + ".mp4";

void writeFolder(const QString& dir) {
    const std::string d = dir.toStdString();
    std::filesystem::create_directories(d + "/media");
    std::filesystem::create_directories(d + "/playlists");
    std::string data(kFile, '\0');
    std::mt19937 random(1);
    for (char& c : data)
        c = static_cast<char>(random());
    std::ofstream(d + "/media/" + kMedia, std::ios::binary) << data;
    std::ofstream(d + "/groups.json")
        << R"({"format": "rucktag-publish-groups", "version": 1, "groups": [{"name": "FW", )"
           R"("token": ")" +
               kToken + R"(", "created": "2026-12-08T05:00:00Z"}]})";
    std::ofstream(d + "/playlists/1.json")
        << R"({"format": "rucktag-publish-playlist", "version": 1, "id": 1, "name": "p", )"
           R"("groups": ["FW"], "revision": 1, "published": "2026-12-08T05:10:00Z", "items": )"
           R"([{"title": "t", "match": "m", "matchTime": "", "note": "", "media": ")" +
               kMedia + R"(", "duration": 10}]})";
}

void run(int port, size_t range) {
    const int perClient = static_cast<int>(std::max<size_t>(4, (512u << 20) / range / kClients));
    std::vector<std::vector<double>> latency(kClients);
    std::atomic<int> failed{0};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c)
        clients.emplace_back([&, c] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            std::mt19937_64 random(c);
            for (int i = 0; i < perClient; ++i) {
                const size_t first = random() % (kFile - range);
                const auto t0 = std::chrono::steady_clock::now();
                const auto r = client.Get("/g/" + kToken + "/m/" + kMedia,
                                          {{"Range", "bytes=" + std::to_string(first) + "-" +
                                                         std::to_string(first + range - 1)}});
                failed += !r || r->status != 206 || r->body.size() != range;
                latency[c].push_back(
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                        .count());
            }
        });
    for (std::thread& t : clients)
        t.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::vector<double> all;
    for (const auto& l : latency)
        all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    const double bytes = double(all.size()) * double(range);
    std::printf("%d clients, %zu KiB ranges of a 50 MB file: %zu requests in %.2f s, "
                "%.0f MB/s, %.0f requests/s, latency median %.1f ms, p99 %.1f ms, %d failed\n",
                kClients, range >> 10, all.size(), seconds, bytes / seconds / 1e6,
                double(all.size()) / seconds, all[all.size() / 2], all[all.size() * 99 / 100],
                failed.load());
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir dir;
    writeFolder(dir.path());
    serve::WebServer server({dir.path().toStdString(), {}, [](const std::string&) {}});
    if (!server.bind("127.0.0.1", 0))
        return 1;
    std::thread serving([&] { server.run(); });
    std::vector<size_t> ranges;
    for (int i = 1; i < argc; ++i)
        ranges.push_back(std::stoul(argv[i]) << 10);
    if (ranges.empty())
        ranges = {1024u << 10, 64u << 10};
    for (const size_t range : ranges)
        run(server.port(), range);
    server.stop();
    serving.join();
}
