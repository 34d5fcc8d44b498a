// Publishing playlists into the publish folder: the rendered videos judged
// by FFmpeg's own tools and the frame numbers the fixtures carry; the folder
// read back as the server reads it.
#include <QByteArray>
#include <sstream>
#include <sys/stat.h>
#include <tuple>

#include "commands/PublishCommand.h"

#include "playlist/Playlists.h"
#include "publish/ItemRender.h"
#include "publish/PublishJob.h"
#include "support/ExportFixture.h"

using namespace publish;

namespace {

class Publish : public ExportFixture {
protected:
    PublishItem item(const char* video, double from, double to) const {
        return {QString::fromStdString(fixturePath(video)),
                from,
                to,
                QStringLiteral("ラインアウト"),
                QStringLiteral("2026-09-06 東京戦"),
                QStringLiteral("前半 12:34"),
                QStringLiteral("押し切る")};
    }
    PublishResult publish(std::vector<PublishItem> items, int maxHeight = 720,
                          std::function<bool(double)> cancelWhen = {}) {
        PublishRequest r{QString::fromStdString(dir.string()),
                         QStringLiteral("FW"),
                         7,
                         QStringLiteral("ラインアウト 3試合"),
                         12,
                         std::move(items),
                         maxHeight,
                         800};
        std::atomic<bool> cancelled{false};
        return publishPlaylist(
            r, &renderForPublish,
            [&](double p) {
                if (cancelWhen && cancelWhen(p))
                    cancelled.store(true);
            },
            cancelled);
    }
    fs::path media(const Manifest& m, size_t i) const {
        return dir / "media" / m.items.at(i).media.toStdString();
    }
    QString folder() const { return QString::fromStdString(dir.string()); }
};

struct Stamp {
    ino_t inode;
    timespec mtime;
    bool operator==(const Stamp& o) const {
        return inode == o.inode && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec;
    }
};

Stamp stampOf(const fs::path& file) {
    struct stat st {};
    EXPECT_EQ(::stat(file.c_str(), &st), 0) << file;
    return {st.st_ino, st.st_mtim};
}

} // namespace

TEST_F(Publish, ItemsArePhonePlayableScaledDownAndFrameExact) {
    struct Case {
        int maxHeight;
        const char* size;
    };
    // 320x240 sources: never scaled up, scaled down with the aspect kept and
    // both sides even.
    for (const Case c : {Case{720, "320x240"}, Case{120, "160x120"}, Case{101, "134x100"}}) {
        SCOPED_TRACE(c.maxHeight);
        // 25 frames a second; the MPEG-TS counts from its audio, 0.021 s
        // before the first frame.
        const PublishResult r =
            publish({item("clip.mp4", 2.0, 5.0), item("clip.mts", 3.3, 6.0)}, c.maxHeight);
        ASSERT_EQ(r.status, PublishStatus::Done) << r.error.toStdString();
        const std::pair<int, int> frames[] = {{50, 124}, {82, 149}};
        for (size_t i = 0; i < 2; ++i) {
            const fs::path out = media(r.manifest, i);
            EXPECT_EQ(probe(out, "stream=codec_name,pix_fmt", "-select_streams v"),
                      "h264\nyuv420p");
            EXPECT_EQ(probe(out, "stream=codec_name", "-select_streams a"), "aac");
            const std::string size = probe(out, "stream=width,height", "-select_streams v");
            EXPECT_EQ(size, std::string(c.size).replace(3, 1, "\n"));
            const std::string bytes = slurp(out);
            EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
            EXPECT_EQ(frameAt(out, 0, dir / "first.png"), frames[i].first);
            EXPECT_EQ(frameAt(out, -1, dir / "last.png"), frames[i].second);
        }
    }
    // The 244 kb/s source against 800 kb/s: its whole GOPs copied where
    // it need not be scaled (the ends encoded; to its end nothing), the
    // same frames either way, decoded without a message.
    for (const auto& [maxHeight, from, to, first, last] :
         {std::tuple{720, 2.5, 7.3, 63, 182}, std::tuple{720, 4.0, 10.0, 100, 249},
          std::tuple{120, 2.5, 7.3, 63, 182}}) {
        const fs::path cut = dir / "cut.mp4";
        RenderPath path{};
        std::string why;
        const std::atomic<bool> no{false};
        ASSERT_EQ(renderItem(fixturePath("clip.mp4"), from, to, cut.string(), {maxHeight, 800}, {},
                             no, why, &path),
                  RenderStatus::Done)
            << why;
        EXPECT_EQ(path, maxHeight >= 240 ? RenderPath::Copied : RenderPath::Encoded);
        EXPECT_EQ(frameNumbers(cut), frameSpans({{first, last}}));
        EXPECT_EQ(run("ffmpeg -v error -i '" + cut.string() + "' -f null - 2>&1"), "");
        EXPECT_EQ(probe(cut, "stream=codec_name", "-select_streams v"), "h264");
        const std::string bytes = slurp(cut);
        EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
    }
    // Read back as the server reads the folder.
    QStringList problems;
    const std::vector<Manifest> all = loadManifests(folder(), &problems);
    EXPECT_TRUE(problems.isEmpty()) << problems.join('\n').toStdString();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].groups, QStringList{QStringLiteral("FW")});
    EXPECT_EQ(all[0].name, QStringLiteral("ラインアウト 3試合"));
    ASSERT_EQ(all[0].items.size(), 2u);
    EXPECT_NEAR(all[0].items[1].duration, 2.7, 1e-9);
    std::vector<Group> groups;
    ASSERT_TRUE(loadGroups(folder(), groups, nullptr));
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(fs::status(dir / "groups.json").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    // Each size its own media; the earlier ones went with the manifest that
    // named them.
    EXPECT_EQ(namesIn(dir / "media").size(), 2u);
}

TEST_F(Publish, UnchangedItemsAreKeptAndACancelLeavesTheFolderAsItWas) {
    const PublishItem kept = item("clip.mp4", 1.0, 2.0), added = item("clip-long.mp4", 10.0, 40.0);
    const PublishResult first = publish({kept});
    ASSERT_EQ(first.status, PublishStatus::Done) << first.error.toStdString();
    const Stamp keptStamp = stampOf(media(first.manifest, 0));
    const std::string manifest = slurp(dir / "playlists" / "7.json");

    // Stopped while the new item renders: nothing of it stays.
    const PublishResult stopped = publish({kept, added}, 720, [](double p) { return p > 0.2; });
    EXPECT_EQ(stopped.status, PublishStatus::Cancelled);
    EXPECT_EQ(slurp(dir / "playlists" / "7.json"), manifest);
    EXPECT_EQ(namesIn(dir / "media"),
              std::set<std::string>{first.manifest.items[0].media.toStdString()});

    const PublishResult both = publish({kept, added});
    ASSERT_EQ(both.status, PublishStatus::Done) << both.error.toStdString();
    EXPECT_EQ(both.rendered, 1);
    EXPECT_EQ(both.kept, 1);
    EXPECT_EQ(both.group.token, first.group.token);
    EXPECT_EQ(stampOf(media(both.manifest, 0)), keptStamp);
    EXPECT_NEAR(std::stod(probe(media(both.manifest, 1), "format=duration")), 30.0, 0.05);

    // An item no manifest names any more goes after the next publish.
    const PublishResult last = publish({added});
    ASSERT_EQ(last.status, PublishStatus::Done);
    EXPECT_EQ(last.removed, 1);
    EXPECT_EQ(namesIn(dir / "media"),
              std::set<std::string>{both.manifest.items[1].media.toStdString()});
}

TEST_F(Publish, TokensAreRandomAndARevokedOneIsGone) {
    QString error;
    const std::optional<Group> fw = ensureGroup(folder(), QStringLiteral("FW"), &error);
    const std::optional<Group> all = ensureGroup(folder(), QStringLiteral("全員"), &error);
    ASSERT_TRUE(fw && all) << error.toStdString();
    for (const QString& token : {fw->token, all->token}) {
        EXPECT_EQ(token.size(), 43);
        EXPECT_EQ(QByteArray::fromBase64(token.toLatin1(), QByteArray::Base64UrlEncoding).size(),
                  32);
    }
    EXPECT_NE(fw->token, all->token);
    EXPECT_EQ(ensureGroup(folder(), QStringLiteral("FW"), &error)->token, fw->token);

    const std::optional<Group> revoked = revokeGroup(folder(), QStringLiteral("FW"), &error);
    ASSERT_TRUE(revoked) << error.toStdString();
    EXPECT_NE(revoked->token, fw->token);
    const std::string text = slurp(dir / "groups.json");
    EXPECT_EQ(text.find(fw->token.toStdString()), std::string::npos);
    std::vector<Group> groups;
    ASSERT_TRUE(loadGroups(folder(), groups, &error));
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].token, revoked->token);
    EXPECT_EQ(groups[1].token, all->token);
    EXPECT_FALSE(revokeGroup(folder(), QStringLiteral("BK"), &error));
}

TEST_F(Publish, TheCommandPublishesAStoredPlaylistAndRecordsIt) {
    const std::string db = (dir / "library.sqlite").string(), pub = (dir / "pub").string();
    QString error;
    auto lib = library::SeasonLibrary::open(QString::fromStdString(db), &error);
    ASSERT_TRUE(lib) << error.toStdString();
    library::PlaylistStore store(*lib);
    ASSERT_EQ(store.create(QStringLiteral("ラインアウト"), &error), library::PlaylistResult::Done);
    library::PlaylistItem tag;
    tag.video = fixturePath("clip.mp4");
    tag.time = 3.0;
    tag.lead = 1.0;
    tag.lag = 1.0; // frames 50 to 99
    ASSERT_EQ(
        store.append(store.load(QStringLiteral("ラインアウト"), &error)->id, 1, {tag}, &error),
        library::PlaylistResult::Done);

    std::ostringstream out, err;
    ASSERT_EQ(runPublishCommand({"ラインアウト", "--group", "全員", "--folder", pub, "--database",
                                 db, "--max-height", "144"},
                                out, err),
              0)
        << err.str();
    std::vector<Group> groups;
    ASSERT_TRUE(loadGroups(QString::fromStdString(pub), groups, nullptr));
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(out.str(), "/g/" + groups[0].token.toStdString() + "/\n");
    const std::optional<library::Playlist> p = store.load(QStringLiteral("ラインアウト"), &error);
    EXPECT_EQ(p->publishedRevision, p->revision);
    EXPECT_EQ(p->publishedGroups, QStringList{QStringLiteral("全員")});
    const std::vector<Manifest> m = loadManifests(QString::fromStdString(pub), nullptr);
    ASSERT_EQ(m.size(), 1u);
    const fs::path video = fs::path(pub) / "media" / m[0].items.at(0).media.toStdString();
    EXPECT_EQ(frameAt(video, 0, dir / "first.png"), 50);
    EXPECT_EQ(frameAt(video, -1, dir / "last.png"), 99);
}
