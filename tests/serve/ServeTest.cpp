// `rucktag serve`'s server in this process on a free port, driven by
// httplib's client as a phone's browser would: the page, byte ranges of the
// videos, and every way a request could reach a file the manifests do not
// name.
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <httplib.h>
#include <mutex>
#include <thread>

#include "support/Deadline.h"
#include "web/GroupPage.h"
#include "web/WebServer.h"

namespace {

namespace fs = std::filesystem;

const std::string kFw = std::string(42, 'f') + "W", kBk = std::string(42, 'b') + "K";
const std::string kClip = std::string(64, 'a') + ".mp4", kBkClip = std::string(64, 'b') + ".mp4";
const std::string kStray = std::string(64, 'c') + ".mp4", kLink = std::string(64, 'd') + ".mp4";
const std::string kLate = std::string(64, 'e') + ".mp4";
constexpr size_t kSize = 100000;

std::string bytes(size_t size, int seed) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 7 + (i >> 9) + seed) & 0xff);
    return data;
}

void writeAtomically(const fs::path& path, const std::string& text) {
    std::ofstream(path.string() + ".tmp", std::ios::binary) << text;
    fs::rename(path.string() + ".tmp", path);
}

std::string groupsJson(const std::string& fw) {
    return R"({"format": "rucktag-publish-groups", "version": 1, "groups": [)"
           R"({"name": "FW", "token": ")" +
           fw + R"(", "created": "2026-12-08T05:00:00Z"}, {"name": "BK", "token": ")" + kBk +
           R"(", "created": "2026-12-08T05:00:00Z"}]})";
}

std::string manifest(int id, const std::string& name, const std::string& group,
                     const std::vector<std::string>& media) {
    std::string items;
    for (const std::string& m : media)
        items += std::string(items.empty() ? "" : ",") +
                 R"({"title": "ラインアウト <script>&", "match": "2026-09-06 東京戦", )"
                 R"("matchTime": "前半 12:34", "note": "\"前で\" 取る", "media": ")" +
                 m + R"(", "duration": 12.4})";
    return R"({"format": "rucktag-publish-playlist", "version": 1, "id": )" + std::to_string(id) +
           R"(, "name": ")" + name + R"(", "groups": [")" + group +
           R"("], "revision": 3, "published": "2026-12-08T05:10:00Z", "items": [)" + items + "]}";
}

class Serve : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(path("media"));
        fs::create_directories(path("playlists"));
        writeAtomically(path("groups.json"), groupsJson(kFw));
        for (const auto& [name, seed] : {std::pair{kClip, 1}, {kBkClip, 2}, {kStray, 3}})
            std::ofstream(path("media/" + name), std::ios::binary) << bytes(kSize, seed);
        // A link in the media folder to a file outside it.
        std::ofstream(path("secret.mp4")) << "outside";
        fs::create_symlink(path("secret.mp4"), path("media/" + kLink));
        writeAtomically(path("playlists/7.json"),
                        manifest(7, "ラインアウト 3試合", "FW", {kClip, kLink}));
        writeAtomically(path("playlists/9.json"), manifest(9, "BK の攻め", "BK", {kBkClip}));
        const auto log = [this](const std::string& line) {
            const std::lock_guard lock(logMutex_);
            log_.push_back(line);
            logged_.notify_all();
        };
        server_ = std::make_unique<serve::WebServer>(serve::ServerOptions{
            dir_.path().toStdString(),
            [this](const publish::Manifest& m) { return m.id != hidden_; }, log});
        ASSERT_TRUE(server_->bind("127.0.0.1", 0));
        thread_ = std::thread([this] { server_->run(); });
    }
    void TearDown() override {
        server_->stop();
        thread_.join();
    }
    fs::path path(const std::string& name) const {
        return dir_.filePath(name.c_str()).toStdString();
    }
    httplib::Result get(const std::string& target, const httplib::Headers& headers = {}) const {
        httplib::Client client("127.0.0.1", server_->port());
        client.set_url_encode(false);
        return client.Get(target.c_str(), headers);
    }
    static std::string link(const std::string& token) { return "/g/" + token + "/"; }

    QTemporaryDir dir_;
    std::unique_ptr<serve::WebServer> server_;
    std::thread thread_;
    // The log once it has a line with `part`: httplib logs a request after
    // its response is sent.
    std::vector<std::string> logWith(const std::string& part) {
        std::unique_lock lock(logMutex_);
        logged_.wait(lock, [&] {
            return std::any_of(log_.begin(), log_.end(), [&](const std::string& line) {
                return line.find(part) != std::string::npos;
            });
        });
        return log_;
    }

    std::atomic<qint64> hidden_{0}; // a playlist the library no longer has
    std::mutex logMutex_;
    std::condition_variable logged_;
    std::vector<std::string> log_;
    Deadline deadline_{120, "a serve test"};
};

struct RangeCase {
    const char* range;
    int status;
    const char* contentRange; // "" when none
    size_t first, length;
};

TEST_F(Serve, RangesAreAnsweredAsAsked) {
    const std::string data = bytes(kSize, 1);
    const RangeCase cases[] = {
        {"", 200, "", 0, kSize},
        {"bytes=0-9", 206, "bytes 0-9/100000", 0, 10},
        {"bytes=99990-", 206, "bytes 99990-99999/100000", 99990, 10},
        {"bytes=-25", 206, "bytes 99975-99999/100000", 99975, 25},
        {"bytes=-200000", 206, "bytes 0-99999/100000", 0, kSize},
        {"bytes=500-9999999", 206, "bytes 500-99999/100000", 500, kSize - 500},
        {"bytes=100000-", 416, "bytes */100000", 0, 0},
        {"bytes=200000-200010", 416, "bytes */100000", 0, 0},
        {"bytes=-0", 416, "bytes */100000", 0, 0},
        // Several ranges: the whole file, as HTTP allows.
        {"bytes=0-1,5-6", 200, "", 0, kSize},
    };
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(c.range);
        httplib::Headers headers;
        if (*c.range)
            headers.emplace("Range", c.range);
        const httplib::Result r = get(link(kFw) + "m/" + kClip, headers);
        ASSERT_TRUE(r) << httplib::to_string(r.error());
        EXPECT_EQ(r->status, c.status);
        EXPECT_EQ(r->get_header_value("Content-Range"), c.contentRange);
        EXPECT_EQ(r->get_header_value("Accept-Ranges"), "bytes");
        EXPECT_EQ(r->get_header_value("Content-Type"), c.status == 416 ? "" : "video/mp4");
        EXPECT_TRUE(r->body == data.substr(c.first, c.length)) << r->body.size();
    }
}

TEST_F(Serve, TheGroupPageShowsItsOwnPlaylistsEscaped) {
    const httplib::Result r = get(link(kFw));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->get_header_value("Content-Type"), "text/html; charset=utf-8");
    for (const std::string& part : std::vector<std::string>{
             "<html lang=\"ja\">", "<h2>ラインアウト 3試合</h2>",
             "<h3>ラインアウト &lt;script&gt;&amp;</h3>", "2026-09-06 東京戦 · 前半 12:34 · 12 秒",
             "&quot;前で&quot; 取る",
             "<video controls preload=\"metadata\" playsinline src=\"m/" + kClip + "\">"})
        EXPECT_NE(r->body.find(part), std::string::npos) << part;
    EXPECT_EQ(r->body.find("BK の攻め"), std::string::npos);
    EXPECT_EQ(r->body.find("<script"), std::string::npos);
}

TEST_F(Serve, APlaylistTheLibraryNoLongerHasIsHidden) {
    hidden_ = 7;
    EXPECT_EQ(get(link(kFw))->body.find("ラインアウト 3試合"), std::string::npos);
    EXPECT_EQ(get(link(kFw) + "m/" + kClip)->status, 404);
    EXPECT_EQ(get(link(kBk) + "m/" + kBkClip)->status, 200);
}

TEST_F(Serve, AWrongOrRevokedLinkFindsTheSamePage) {
    ASSERT_EQ(get(link(kFw))->status, 200);
    const std::string fresh = std::string(42, 'n') + "W";
    writeAtomically(path("groups.json"), groupsJson(fresh));
    for (const std::string& target :
         {link(kFw), link(kFw) + "m/" + kClip, link(std::string(43, 'x'))}) {
        const httplib::Result r = get(target, {{"Range", "bytes=0-3"}});
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 404) << target;
        EXPECT_EQ(r->body, serve::notFoundPage()) << target;
    }
    EXPECT_EQ(get(link(fresh))->status, 200);
    EXPECT_EQ(get(link(fresh) + "m/" + kClip)->status, 200);
    // The log names a link by its first characters only.
    for (const std::string& line : logWith(" /g/nnnn.../m/" + kClip + " 200 ")) {
        EXPECT_EQ(line.find(kFw), std::string::npos) << line;
        EXPECT_EQ(line.find(fresh), std::string::npos) << line;
    }
}

TEST_F(Serve, TheLogNamesTheClientALoopbackProxyForwardsAndNothingElseOfIt) {
    // Asked from 127.0.0.1: X-Forwarded-For, the client logged.
    const std::pair<std::string, std::string> asked[] = {
        {"198.51.100.1, 203.0.113.7", "203.0.113.7"},
        {" 2001:db8::7 ", "2001:db8::7"},
        {"203.0.113.7\x1b[2J\x7f", "127.0.0.1"},
        {"203.0.113.7 GET /g/fake 200", "127.0.0.1"},
    };
    for (size_t i = 0; i < std::size(asked); ++i) {
        const std::string path = "/log" + std::to_string(i);
        ASSERT_TRUE(get(path, {{"X-Forwarded-For", asked[i].first}}));
        const std::vector<std::string> log = logWith(" " + path + " ");
        const auto line = std::find_if(log.begin(), log.end(), [&](const std::string& l) {
            return l.find(" " + path + " ") != std::string::npos;
        });
        EXPECT_NE(line->find("Z " + asked[i].second + " GET " + path + " 404 "), std::string::npos)
            << *line;
        EXPECT_TRUE(std::all_of(line->begin(), line->end(), [](char c) {
            return c >= 0x20 && c < 0x7f;
        })) << *line;
    }
    // The header of a peer elsewhere, and a line break however it came.
    EXPECT_EQ(serve::clientForLog("192.0.2.9", "203.0.113.7"), "192.0.2.9");
    EXPECT_EQ(serve::clientForLog("::ffff:127.0.0.1", "203.0.113.7"), "203.0.113.7");
    EXPECT_EQ(serve::clientForLog("::1", "10.0.0.1\n203.0.113.7"), "::1");
}

TEST_F(Serve, NothingButTheGroupsMediaIsReached) {
    const std::string g = "/g/" + kFw, m = g + "/m/";
    const std::string targets[] = {
        g + "/../groups.json",
        m + "../../groups.json",
        g + "/%2e%2e/groups.json",
        m + "%2E%2e%2fgroups.json",
        m + "%252e%252e%252fgroups.json",
        m + "..\\..\\groups.json",
        m + "%5c..%5cgroups.json",
        m + "/etc/passwd",
        m + "%2fetc%2fpasswd",
        "/etc/passwd",
        m + kClip + "%00",
        m + kClip + "%00.txt",
        m + "%c0%ae%c0%ae/groups.json",
        m + "%c0%af" + kClip,
        m + kStray,
        m + kBkClip,
        m + kLink,
        m + "7.json",
        g + "/playlists/7.json",
        "/playlists/7.json",
        g + "/groups.json",
        "/groups.json",
        m + ".tmp-" + kClip,
        m + "media/" + kClip,
        g + "/m/./" + kClip,
        g + "//m/" + kClip,
        "/g/" + kBk + "/m/" + kClip,
        g,
        g + "x/",
        "/G/" + kFw + "/",
        "/g/%" + kFw + "/",
        "//g/" + kFw + "/",
    };
    for (const std::string& target : targets) {
        const httplib::Result r = get(target);
        ASSERT_TRUE(r) << target;
        EXPECT_EQ(r->status, 404) << target;
        EXPECT_EQ(r->body, serve::notFoundPage()) << target;
    }
}

TEST_F(Serve, RangesAreServedWhileAPlaylistIsPublished) {
    const std::string data = bytes(kSize, 1), late = bytes(4 * kSize, 5);
    std::thread publisher([&] {
        // As the publisher does: the media first, renamed when complete, then
        // the manifest naming it.
        {
            std::ofstream tmp(path("media/.tmp-" + kLate), std::ios::binary);
            for (size_t at = 0; at < late.size(); at += 4096)
                tmp.write(late.data() + at, std::min<std::streamsize>(4096, late.size() - at))
                    .flush();
        }
        fs::rename(path("media/.tmp-" + kLate), path("media/" + kLate));
        writeAtomically(path("playlists/12.json"), manifest(12, "後から", "FW", {kLate}));
    });
    std::atomic<int> wrong{0}, seen{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < 50; ++c)
        clients.emplace_back([&, c] {
            for (int round = 0; round < 4; ++round) {
                const size_t first = (c * 1931 + round * 7717) % (kSize - 100);
                const httplib::Result r = get(link(kFw) + "m/" + kClip,
                                              {{"Range", "bytes=" + std::to_string(first) + "-" +
                                                             std::to_string(first + 99)}});
                wrong += !r || r->status != 206 || r->body != data.substr(first, 100);
                const httplib::Result page = get(link(kFw));
                if (page && page->body.find("後から") != std::string::npos) {
                    ++seen;
                    const httplib::Result whole = get(link(kFw) + "m/" + kLate);
                    wrong += !whole || whole->status != 200 || whole->body != late;
                }
            }
        });
    for (std::thread& t : clients)
        t.join();
    publisher.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_NE(get(link(kFw))->body.find("後から"), std::string::npos);
}

} // namespace
