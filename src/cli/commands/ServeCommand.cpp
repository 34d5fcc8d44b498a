#include "commands/ServeCommand.h"

#include <QFileInfo>
#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <pthread.h>
#include <set>
#include <thread>
#include <unistd.h>

#include "index/LibraryFiles.h"
#include "playlist/Playlists.h"
#include "web/WebServer.h"

namespace {

constexpr const char* kUsage =
    "使い方 / Usage:\n"
    "  rucktag serve --folder DIR --listen ADDRESS:PORT [--database URL] [--allow-root]\n"
    "    公開フォルダー DIR のグループのページと動画を HTTP で配信します (読むだけです)。\n"
    "    グループのリンクは /g/TOKEN/ です。Ctrl+C (SIGINT) か SIGTERM で止まります。\n"
    "    Serves the group pages and videos of the publish folder DIR over HTTP (read\n"
    "    only); a group's link is /g/TOKEN/. Stops on Ctrl+C (SIGINT) or SIGTERM.\n"
    "  --listen ADDRESS:PORT  例 / e.g. 127.0.0.1:8080, [::1]:8080, :8080 (すべて / all)\n"
    "  --database URL         ライブラリから消したプレイリストを出さない (15 秒ごとに確認)\n"
    "                         hide playlists the season library no longer has (checked\n"
    "                         every 15 s)\n"
    "  --allow-root           root でも動かします / run even as root\n";

struct Options {
    std::string folder, listen, database;
    bool allowRoot = false;
};

bool readOptions(const std::vector<std::string>& args, Options& o, std::string& why) {
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i], value;
        const size_t equals = arg.find('=');
        const bool inlineValue = arg.rfind("--", 0) == 0 && equals != std::string::npos;
        if (inlineValue) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
        }
        std::string* into = arg == "--folder"     ? &o.folder
                            : arg == "--listen"   ? &o.listen
                            : arg == "--database" ? &o.database
                                                  : nullptr;
        if (into && !inlineValue) {
            if (i + 1 >= args.size())
                return why = arg + " に値がありません / " + arg + " needs a value", false;
            value = args[++i];
        }
        if (into)
            *into = value;
        else if (arg == "--allow-root" && !inlineValue)
            o.allowRoot = true;
        else
            return why = "知らない引数です / unknown argument: " + args[i], false;
    }
    if (o.folder.empty() || o.listen.empty())
        return why = "--folder と --listen を指定してください / --folder and --listen are needed",
               false;
    return true;
}

// Stops `server` on SIGINT or SIGTERM; the signals are blocked in every
// thread (the server's threads inherit the mask) and waited for here.
class SignalStop {
public:
    explicit SignalStop(serve::WebServer& server) {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set_, &old_);
        waiter_ = std::thread([this, &server] {
            int signal = 0;
            sigwait(&set_, &signal);
            server.stop();
        });
    }
    ~SignalStop() {
        // Wakes the waiter when the server stopped by itself.
        pthread_kill(waiter_.native_handle(), SIGTERM);
        waiter_.join();
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

private:
    sigset_t set_{}, old_{};
    std::thread waiter_;
};

// The ids of the library's playlists, read again every 15 s on a thread of
// its own (a database connection belongs to the thread that opened it). A
// library out of reach keeps the ids last read: a server restarting does
// not empty the pages.
class LibraryPlaylists {
public:
    explicit LibraryPlaylists(QString database) : database_(std::move(database)) {}
    ~LibraryPlaylists() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }
    bool start(QString* error) {
        if (!read(error))
            return false;
        thread_ = std::thread([this] { refresh(); });
        return true;
    }
    bool has(qint64 id) const {
        const std::lock_guard lock(mutex_);
        return ids_.count(id) > 0;
    }

private:
    bool read(QString* error) {
        const auto access = !library::isPostgresUrl(database_) && QFileInfo(database_).isFile()
                                ? library::SeasonLibrary::Access::ReadOnly
                                : library::SeasonLibrary::Access::ReadWrite;
        const std::unique_ptr<library::SeasonLibrary> lib =
            library::SeasonLibrary::open(database_, error, access);
        if (!lib)
            return false;
        error->clear();
        std::set<qint64> ids;
        for (const library::Playlist& p : library::PlaylistStore(*lib).list(error))
            ids.insert(p.id);
        if (!error->isEmpty())
            return false;
        const std::lock_guard lock(mutex_);
        ids_ = std::move(ids);
        return true;
    }
    void refresh() {
        std::unique_lock lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::seconds(15), [this] { return stop_; })) {
            lock.unlock();
            if (QString error; !read(&error))
                std::cerr
                    << "ライブラリを読めません。前の一覧で続けます / cannot read the library, "
                       "keeping the last list: "
                    << error.toStdString() << std::endl;
            lock.lock();
        }
    }

    const QString database_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::set<qint64> ids_;
    std::thread thread_;
};

} // namespace

bool splitListen(const std::string& text, std::string& host, int& port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        return false;
    host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    else if (host.find(':') != std::string::npos || host.find_first_of("[]") != std::string::npos)
        return false;
    if (host.empty())
        host = "::";
    const std::string digits = text.substr(colon + 1);
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    return !digits.empty() && ec == std::errc() && end == digits.data() + digits.size() &&
           port >= 0 && port <= 65535;
}

int runServeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (std::find_if(args.begin(), args.end(), [](const std::string& a) {
            return a == "--help" || a == "-h";
        }) != args.end()) {
        out << kUsage;
        return 0;
    }
    Options o;
    std::string why, host;
    int port = 0;
    if (readOptions(args, o, why) && !splitListen(o.listen, host, port))
        why = "--listen は ADDRESS:PORT です / --listen takes ADDRESS:PORT: " + o.listen;
    if (!why.empty()) {
        err << why << "\n" << kUsage;
        return 2;
    }
    if (::geteuid() == 0 && !o.allowRoot) {
        err << "root では動かしません。普通のユーザーで動かしてください (どうしてもなら "
               "--allow-root) / refusing to run as root: run it as an ordinary user (or give "
               "--allow-root)\n";
        return 1;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(o.folder, ec)) {
        err << "公開フォルダーがありません / no such publish folder: " << o.folder << "\n";
        return 1;
    }
    std::optional<LibraryPlaylists> playlists;
    serve::Keep keep;
    if (!o.database.empty()) {
        playlists.emplace(QString::fromStdString(o.database));
        if (QString error; !playlists->start(&error)) {
            err << "ライブラリを読めません / cannot read the library: " << error.toStdString()
                << "\n";
            return 1;
        }
        keep = [&playlists](const publish::Manifest& m) { return playlists->has(m.id); };
    }
    serve::WebServer server({std::filesystem::absolute(o.folder, ec).string(), keep, {}});
    if (!server.bind(host, port)) {
        err << "待ち受けられません (使用中か、ないアドレスです) / cannot listen on " << o.listen
            << " (in use, or no such address)\n";
        return 1;
    }
    const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    out << "配信中 / serving " << o.folder << " at http://" << shown << ":" << server.port() << "/"
        << std::endl;
    bool served = false;
    {
        SignalStop stop(server);
        served = server.run();
    }
    return served ? 0 : 1;
}
