#include "web/WebServer.h"

#include <arpa/inet.h>
#include <array>
#include <csignal>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

#include "web/GroupPage.h"
#include "web/MediaFile.h"
#include "web/WorkerPool.h"

namespace serve {

namespace {

constexpr size_t kTokenLength = 43;
constexpr size_t kChunk = 64 * 1024;

struct Route {
    enum Kind { None, Page, Media } kind = None;
    std::string_view token, media;
};

bool tokenChars(std::string_view s) {
    for (const char c : s)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_')
            return false;
    return true;
}

// "/g/TOKEN/" and "/g/TOKEN/m/KEY.mp4" (httplib has decoded the path).
Route route(std::string_view path) {
    if (!path.starts_with("/g/") || path.size() < 3 + kTokenLength + 1)
        return {};
    const std::string_view token = path.substr(3, kTokenLength);
    const std::string_view rest = path.substr(3 + kTokenLength);
    if (!tokenChars(token))
        return {};
    if (rest == "/")
        return {Route::Page, token, {}};
    const std::string_view media = rest.substr(std::min<size_t>(3, rest.size()));
    if (!rest.starts_with("/m/") ||
        !publish::isMediaName(QString::fromLatin1(media.data(), qsizetype(media.size()))))
        return {};
    return {Route::Media, token, media};
}

struct OpenFile {
    explicit OpenFile(int f) : fd(f) {}
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() { ::close(fd); }
    const int fd;
};

// httplib's listen backlog is 5, too few for a squad opening the page at once.
class HttpServer : public httplib::Server {
public:
    void widenBacklog() { ::listen(svr_sock_, 128); }
};

void toStderr(const std::string& line) {
    static std::mutex mutex;
    const std::lock_guard lock(mutex);
    std::cerr << line << std::endl;
}

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    std::array<char, 32> text{};
    std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text.data();
}

std::optional<in6_addr> parsedAddress(const std::string& text) {
    in_addr v4{};
    if (::inet_pton(AF_INET, text.c_str(), &v4) == 1) {
        in6_addr mapped{};
        mapped.s6_addr[10] = mapped.s6_addr[11] = 0xff;
        std::memcpy(&mapped.s6_addr[12], &v4, 4);
        return mapped;
    }
    in6_addr v6{};
    if (::inet_pton(AF_INET6, text.c_str(), &v6) == 1)
        return v6;
    return std::nullopt;
}

} // namespace

std::string clientForLog(const std::string& peer, std::string_view forwardedFor) {
    const std::optional<in6_addr> a = parsedAddress(peer);
    const bool loopback =
        a && (IN6_IS_ADDR_LOOPBACK(&*a) || (IN6_IS_ADDR_V4MAPPED(&*a) && a->s6_addr[12] == 127));
    if (!loopback)
        return peer;
    const size_t comma = forwardedFor.rfind(',');
    std::string_view last = forwardedFor.substr(comma == std::string_view::npos ? 0 : comma + 1);
    while (!last.empty() && (last.front() == ' ' || last.front() == '\t'))
        last.remove_prefix(1);
    while (!last.empty() && (last.back() == ' ' || last.back() == '\t'))
        last.remove_suffix(1);
    // Nothing but an address reaches the log: no line breaks, no escapes.
    const std::string client(last);
    return parsedAddress(client) ? client : peer;
}

std::string pathForLog(std::string_view path) {
    std::string shown(path);
    if (path.starts_with("/g/")) {
        const size_t end = std::min(path.find('/', 3), path.size());
        if (end - 3 > 4)
            shown = std::string(path.substr(0, 7)) + "..." + std::string(path.substr(end));
    }
    std::string out;
    for (const char c : shown) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7f && b != '\\') {
            out += c;
        } else {
            std::array<char, 5> hex{};
            std::snprintf(hex.data(), hex.size(), "\\x%02x", b);
            out += hex.data();
        }
    }
    return out;
}

struct WebServer::Impl {
    ServerOptions options;
    PublishedSite site;
    HttpServer http;
    int port = -1;

    explicit Impl(ServerOptions o) : options(std::move(o)), site(options.folder) {}
    void handle(const httplib::Request& req, httplib::Response& res);
    void serveMedia(const httplib::Request& req, httplib::Response& res, const std::string& name);
    void log(const httplib::Request& req, const httplib::Response& res) const;
};

void WebServer::Impl::handle(const httplib::Request& req, httplib::Response& res) {
    // httplib 0.11 would cut the response to the request's Range itself, with
    // no check against the length (a range past the end gets a bogus
    // Content-Length) and error pages too; ranges are answered here instead.
    const_cast<httplib::Request&>(req).ranges.clear();
    const Route r = route(req.path);
    const std::shared_ptr<const Site> now = r.kind == Route::None ? nullptr : site.current();
    const int group = now ? findGroup(*now, r.token) : -1;
    if (group >= 0 && r.kind == Route::Page) {
        res.set_header("Cache-Control", "no-store");
        res.set_content(groupPage(now->groups[group].name, playlistsOf(*now, group, options.keep)),
                        "text/html; charset=utf-8");
    } else if (group >= 0 && groupHasMedia(*now, group, r.media, options.keep)) {
        serveMedia(req, res, std::string(r.media));
    } else {
        res.status = 404;
    }
}

void WebServer::Impl::serveMedia(const httplib::Request& req, httplib::Response& res,
                                 const std::string& name) {
    uint64_t size = 0;
    const int fd = openMedia(options.folder, name, &size);
    if (fd < 0) {
        res.status = 404;
        return;
    }
    auto file = std::make_shared<OpenFile>(fd);
    const ByteRange range = byteRange(req.get_header_value("Range"), size);
    res.set_header("Accept-Ranges", "bytes");
    res.set_header("Cache-Control", "private, max-age=3600");
    if (range.kind == ByteRange::Unsatisfiable) {
        res.status = 416;
        res.set_header("Content-Range", "bytes */" + std::to_string(size));
        return;
    }
    uint64_t first = 0, length = size;
    res.status = 200;
    if (range.kind == ByteRange::Part) {
        res.status = 206;
        first = range.first;
        length = range.last - range.first + 1;
        res.set_header("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                            std::to_string(range.last) + "/" +
                                            std::to_string(size));
    }
    if (length == 0) {
        res.set_content("", "video/mp4");
        return;
    }
    // Streamed a chunk at a time: a large file is never read whole.
    res.set_content_provider(
        length, "video/mp4", [file, first](size_t offset, size_t left, httplib::DataSink& sink) {
            std::array<char, kChunk> buffer;
            const ssize_t n = ::pread(file->fd, buffer.data(), std::min(left, kChunk),
                                      static_cast<off_t>(first + offset));
            return n > 0 && sink.write(buffer.data(), size_t(n));
        });
}

void WebServer::Impl::log(const httplib::Request& req, const httplib::Response& res) const {
    std::string bytes = "0";
    if (req.method != "HEAD")
        bytes = res.has_header("Content-Length") ? res.get_header_value("Content-Length")
                                                 : std::to_string(res.body.size());
    const size_t forwarded = req.get_header_value_count("X-Forwarded-For");
    const std::string client = clientForLog(
        req.remote_addr,
        forwarded ? req.get_header_value("X-Forwarded-For", forwarded - 1) : std::string());
    std::string line = utcNow() + " " + client + " " + pathForLog(req.method) + " " +
                       pathForLog(req.path) + " " + std::to_string(res.status) + " " + bytes;
    if (req.has_header("Range"))
        line += " range=" + pathForLog(req.get_header_value("Range"));
    (options.log ? options.log : toStderr)(line);
}

WebServer::WebServer(ServerOptions options) : d(std::make_unique<Impl>(std::move(options))) {
    // httplib writes with send() and no MSG_NOSIGNAL: a client gone away
    // must not end the server.
    std::signal(SIGPIPE, SIG_IGN);
    httplib::Server& http = d->http;
    const size_t threads = d->options.threads, waiting = d->options.waiting;
    http.new_task_queue = [threads, waiting] { return new WorkerPool(threads, waiting); };
    http.Get(".*",
             [this](const httplib::Request& req, httplib::Response& res) { d->handle(req, res); });
    http.set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request& req, httplib::Response& res) {
            const_cast<httplib::Request&>(req).ranges.clear();
            if (res.status != 404)
                return httplib::Server::HandlerResponse::Unhandled;
            res.set_header("Cache-Control", "no-store");
            res.set_content(notFoundPage(), "text/html; charset=utf-8");
            return httplib::Server::HandlerResponse::Handled;
        }));
    http.set_logger(
        [this](const httplib::Request& req, const httplib::Response& res) { d->log(req, res); });
    http.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                              {"Referrer-Policy", "no-referrer"},
                              {"Content-Security-Policy",
                               "default-src 'none'; media-src 'self'; style-src 'unsafe-inline'; "
                               "frame-ancestors 'none'; base-uri 'none'; form-action 'none'"}});
    // httplib's own options add SO_REUSEPORT, with which a second server of
    // the same user would share the port instead of failing to bind it.
    http.set_socket_options([](int sock) {
        const int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    http.set_payload_max_length(4096);
    http.set_keep_alive_max_count(100);
    http.set_keep_alive_timeout(3);
    http.set_read_timeout(10);
    http.set_write_timeout(15);
}

WebServer::~WebServer() {
    stop();
}

bool WebServer::bind(const std::string& host, int port) {
    if (port == 0)
        d->port = d->http.bind_to_any_port(host);
    else if (d->http.bind_to_port(host, port))
        d->port = port;
    if (d->port <= 0)
        return false;
    d->http.widenBacklog();
    return true;
}

int WebServer::port() const {
    return d->port;
}

bool WebServer::run() {
    return d->port > 0 && d->http.listen_after_bind();
}

void WebServer::stop() {
    d->http.stop();
}

} // namespace serve
