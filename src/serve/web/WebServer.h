#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "web/PublishedSite.h"

namespace serve {

struct ServerOptions {
    std::string folder; // the publish folder
    // Asked at each request, from the server's threads.
    Keep keep;
    // One line per request; to stderr when empty.
    std::function<void(const std::string&)> log;
    size_t threads = 64, waiting = 256;
};

// The read-only HTTP server of a publish folder:
//   GET /g/TOKEN/              the group's page
//   GET /g/TOKEN/m/KEY.mp4     a video a playlist of that group names,
//                              with byte ranges
// and for everything else one fixed 404 page. A requested name is only ever
// looked up in the manifests, never made into a path.
class WebServer {
public:
    explicit WebServer(ServerOptions options);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Binds `host`:`port` (0: any free port); false when it cannot.
    bool bind(const std::string& host, int port);
    int port() const;
    // Serves until stop(); false when it could not start.
    bool run();
    // From any thread; run() returns once the connections in hand are done.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// A request's path as the log shows it: a link's token cut to its first 4
// characters, bytes outside printable ASCII as \xNN.
std::string pathForLog(std::string_view path);

// The client a request's log line names. Behind a reverse proxy on this
// machine every peer is a loopback address: then the last address of
// X-Forwarded-For (the one the proxy added), if it is one; else the peer.
// The header is believed for the log only.
std::string clientForLog(const std::string& peer, std::string_view forwardedFor);

} // namespace serve
