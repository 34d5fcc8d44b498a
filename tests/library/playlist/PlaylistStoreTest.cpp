// Playlists on both engines: made, changed, and two analysts changing one at
// once through two connections.
#include <QSignalSpy>
#include <QThread>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

#include "client/LibraryClient.h"
#include "library/EngineTest.h"
#include "library/LibraryTestSupport.h"
#include "playlist/Playlists.h"
#include "publish/PlaylistPublish.h"

using namespace library;
using namespace librarytest;

namespace {

using R = PlaylistResult;

class PlaylistTest : public EngineTest {
protected:
    // A library with one match of three tags and the playlist "ラインアウト"
    // holding them.
    std::unique_ptr<SeasonLibrary> filled() {
        writeMatch(folder("season"), "2026-09-06 東京戦",
                   {tag(true, 10.5f, "ラインアウト", "", {}, 14.0f), tag(false, 2.0f, "スクラム"),
                    tag(true, 30.0f, "トライ")},
                   1);
        auto lib = openLibrary();
        ScanReport report;
        QString error;
        EXPECT_TRUE(lib && lib->addFolders({folder("season")}, report, &error));
        PlaylistStore store(*lib);
        EXPECT_EQ(store.create(QStringLiteral("ラインアウト"), &error), R::Done);
        std::vector<PlaylistItem> items;
        for (const Hit& hit : lib->search({}, &error))
            items.push_back(playlistItem(hit, 8, 4, QStringLiteral("押す")));
        EXPECT_EQ(store.append(load(*lib).id, 1, items, &error), R::Done) << error.toStdString();
        return lib;
    }
    static Playlist load(SeasonLibrary& lib) {
        QString error;
        const std::optional<Playlist> p =
            PlaylistStore(lib).load(QStringLiteral("ラインアウト"), &error);
        EXPECT_TRUE(p) << error.toStdString();
        return p.value_or(Playlist());
    }
};

TEST_P(PlaylistTest, MadeAppendedReorderedEditedPublishedAndRemoved) {
    auto lib = filled();
    ASSERT_TRUE(lib);
    PlaylistStore store(*lib);
    QString error;
    EXPECT_EQ(store.create(QStringLiteral(" ラインアウト "), &error), R::Failed); // taken
    EXPECT_EQ(store.create(QStringLiteral("  "), &error), R::Failed);

    Playlist p = load(*lib);
    EXPECT_EQ(p.revision, 2);
    ASSERT_EQ(p.items.size(), 3u);
    // In match and time order, each a copy of its tag with its moment.
    const PlaylistItem& first = p.items[0];
    EXPECT_EQ(first.code, "スクラム");
    EXPECT_FALSE(first.teamA);
    EXPECT_EQ(first.matchTitle, QStringLiteral("東京戦"));
    EXPECT_EQ(first.matchDate, QStringLiteral("2026-09-06"));
    EXPECT_EQ(first.title, QStringLiteral("スクラム 0:00:02"));
    EXPECT_EQ(first.note, QStringLiteral("押す"));
    EXPECT_EQ(first.session, sessionOf(folder("season"), "2026-09-06 東京戦"));
    EXPECT_EQ(std::pair(first.from(), first.to()), std::pair(0.0, 6.0));
    EXPECT_EQ(std::pair(p.items[1].from(), p.items[1].to()), std::pair(2.5, 18.0));
    EXPECT_EQ(p.items[1].end, 14.0);

    QSignalSpy changed(lib.get(), &SeasonLibrary::changed);
    const std::vector<qint64> order = {p.items[2].id, p.items[0].id, p.items[1].id};
    ASSERT_EQ(store.reorder(p.id, p.revision, order, &error), R::Done) << error.toStdString();
    EXPECT_TRUE(changed.wait(2000));
    EXPECT_EQ(store.reorder(p.id, p.revision + 1, {order[0], order[1]}, &error), R::Failed);
    PlaylistItem edited = load(*lib).items[0];
    EXPECT_EQ(edited.id, order[0]);
    edited.note = QStringLiteral("下がらない");
    edited.lead = 3;
    EXPECT_EQ(store.editItem(p.id, edited, &error), R::Done);
    edited.lead = 61;
    EXPECT_EQ(store.editItem(p.id, edited, &error), R::Failed);
    ASSERT_EQ(store.removeItems(p.id, p.revision + 2, {order[1]}, &error), R::Done);
    ASSERT_EQ(store.rename(p.id, p.revision + 3, QStringLiteral("LO"), &error), R::Done);
    ASSERT_EQ(store.markPublished(p.id, p.revision + 4, {"FW", "全員"}, &error), R::Done);
    // An older publish recorded after a newer one would hide it.
    EXPECT_EQ(store.markPublished(p.id, p.revision + 3, {"BK"}, &error), R::Conflict);

    const std::vector<Playlist> all = store.list(&error);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].name, QStringLiteral("LO"));
    EXPECT_EQ(all[0].itemCount, 2);
    EXPECT_EQ(all[0].revision, p.revision + 4);
    EXPECT_EQ(all[0].publishedRevision, p.revision + 4);
    EXPECT_EQ(all[0].publishedGroups, QStringList({"FW", "全員"}));
    EXPECT_TRUE(all[0].publishedAt.endsWith('Z')) << all[0].publishedAt.toStdString();
    const Playlist now = store.load(p.id, &error).value();
    ASSERT_EQ(now.items.size(), 2u);
    EXPECT_EQ(now.items[0].note, QStringLiteral("下がらない"));
    EXPECT_EQ(now.items[0].from(), 27.0);
    EXPECT_EQ(now.items[0].revision, 2);
    EXPECT_EQ(now.items[1].id, order[2]);

    EXPECT_EQ(store.remove(p.id, now.revision, &error), R::Done);
    error.clear();
    EXPECT_FALSE(store.load(p.id, &error));
    EXPECT_TRUE(error.isEmpty());
    EXPECT_EQ(store.remove(p.id, now.revision + 1, &error), R::NotFound);
}

// What one analyst did and how it shows in the playlist; each made on the
// playlist both analysts loaded.
struct Change {
    std::function<R(PlaylistStore&, const Playlist&, QString*)> make;
    std::function<bool(const Playlist&)> shows;
};

Change note(size_t item, const char* text) {
    return {[=](PlaylistStore& s, const Playlist& p, QString* e) {
                PlaylistItem i = p.items[item];
                i.note = QString::fromUtf8(text);
                return s.editItem(p.id, i, e);
            },
            [=](const Playlist& now) {
                return std::any_of(now.items.begin(), now.items.end(), [&](const PlaylistItem& i) {
                    return i.note == QString::fromUtf8(text);
                });
            }};
}

Change reversed() {
    const auto ids = [](const Playlist& p) {
        std::vector<qint64> out;
        for (const PlaylistItem& i : p.items)
            out.push_back(i.id);
        return out;
    };
    return {[=](PlaylistStore& s, const Playlist& p, QString* e) {
                std::vector<qint64> order = ids(p);
                std::reverse(order.begin(), order.end());
                return s.reorder(p.id, p.revision, order, e);
            },
            [=](const Playlist& now) { return ids(now).front() > ids(now).back(); }};
}

Change appended(const char* title) {
    return {
        [=](PlaylistStore& s, const Playlist& p, QString* e) {
            PlaylistItem i = p.items[0];
            i.title = QString::fromUtf8(title);
            return s.append(p.id, p.revision, {i}, e);
        },
        [=](const Playlist& now) { return now.items.back().title == QString::fromUtf8(title); }};
}

Change removed(size_t item) {
    auto gone = std::make_shared<qint64>();
    return {[=](PlaylistStore& s, const Playlist& p, QString* e) {
                *gone = p.items[item].id;
                return s.removeItems(p.id, p.revision, {*gone}, e);
            },
            [=](const Playlist& now) {
                return std::none_of(now.items.begin(), now.items.end(),
                                    [&](const PlaylistItem& i) { return i.id == *gone; });
            }};
}

Change renamed(const char* name) {
    return {[=](PlaylistStore& s, const Playlist& p, QString* e) {
                return s.rename(p.id, p.revision, QString::fromUtf8(name), e);
            },
            [=](const Playlist& now) { return now.name == QString::fromUtf8(name); }};
}

TEST_P(PlaylistTest, TwoAnalystsAtOnceLoseNothing) {
    const struct {
        const char* name;
        Change first, second;
        R expected;
    } cases[] = {
        {"notes of two items", note(0, "A"), note(1, "B"), R::Done},
        {"the same note", note(0, "A"), note(0, "B"), R::Conflict},
        {"a reorder after a note", note(0, "A"), reversed(), R::Conflict},
        {"a note after a reorder", reversed(), note(0, "B"), R::Done},
        {"two appends", appended("A"), appended("B"), R::Conflict},
        {"a note of a removed item", removed(0), note(0, "B"), R::Conflict},
        {"a removal after a note", note(0, "A"), removed(0), R::Conflict},
        {"two renames", renamed("A"), renamed("B"), R::Conflict},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto one = filled();
        auto other = openLibrary();
        ASSERT_TRUE(one && other);
        const Playlist seen = load(*other);
        QSignalSpy told(other.get(), &SeasonLibrary::changed);
        PlaylistStore a(*one), b(*other);
        QString error;
        ASSERT_EQ(c.first.make(a, seen, &error), R::Done) << error.toStdString();
        // The other analyst's library hears of it.
        EXPECT_TRUE(told.wait(3000));
        EXPECT_EQ(c.second.make(b, seen, &error), c.expected) << error.toStdString();
        const Playlist now = a.load(seen.id, &error).value_or(Playlist());
        EXPECT_TRUE(c.first.shows(now));
        EXPECT_EQ(c.second.shows(now), c.expected == R::Done);
        EXPECT_EQ(now.revision, seen.revision + (c.expected == R::Done ? 2 : 1));
        ASSERT_EQ(a.remove(now.id, now.revision, &error), R::Done) << error.toStdString();
    }
}

// The application's calls, on the library's thread, answered on this one.
TEST_P(PlaylistTest, TheClientsCallsAnswerOnTheAskingThread) {
    auto lib = filled();
    ASSERT_TRUE(lib);
    LibraryClient client;
    client.setDatabase(url);
    client.open();
    std::vector<Playlist> all;
    std::optional<Playlist> loaded;
    std::vector<std::pair<R, QString>> answers;
    const auto answer = [&](R result, const QString& error) {
        EXPECT_EQ(QThread::currentThread(), qApp->thread());
        answers.emplace_back(result, error);
    };
    client.playlists([&](const std::vector<Playlist>& found, const QString& error) {
        EXPECT_EQ(error, QString());
        all = found;
    });
    ASSERT_TRUE(client.waitIdle());
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].itemCount, 3);
    client.loadPlaylist(all[0].id,
                        [&](const std::optional<Playlist>& p, const QString&) { loaded = p; });
    ASSERT_TRUE(client.waitIdle());
    ASSERT_TRUE(loaded && loaded->items.size() == 3u);
    PlaylistItem item = loaded->items[1];
    item.note = QStringLiteral("低く");
    client.editPlaylistItem(loaded->id, item, answer);
    client.editPlaylistItem(loaded->id, item, answer); // made on the same revision
    client.createPlaylist(QStringLiteral("ラインアウト"), answer);
    ASSERT_TRUE(client.waitIdle());
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[0], std::pair(R::Done, QString()));
    EXPECT_EQ(answers[1], std::pair(R::Conflict, conflictText()));
    EXPECT_EQ(answers[2].first, R::Failed);
    EXPECT_EQ(load(*lib).items[1].note, QStringLiteral("低く"));
}

INSTANTIATE_TEST_SUITE_P(Engines, PlaylistTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL), engineName);

} // namespace

// What changed since a publish, item by item: known again by match and match
// time, so a tag added twice pairs in order.
TEST(PlaylistChanges, AreCountedAgainstThePublishedManifest) {
    using publish::PublishItem;
    const auto item = [](const char* time, const char* note, double to = 12) {
        return PublishItem{"v.mp4", 0, to, "t", "東京戦", time, note};
    };
    publish::Manifest published;
    for (const PublishItem& i : {item("前半 1:00", "a"), item("前半 2:00", "b"),
                                 item("前半 2:00", "c"), item("後半 41:00", "d")})
        published.items.push_back({i.title, i.match, i.matchTime, i.note, "k.mp4", i.to - i.from});
    const std::vector<PublishItem> same = {item("前半 1:00", "a"), item("前半 2:00", "b"),
                                           item("前半 2:00", "c"), item("後半 41:00", "d")};
    EXPECT_FALSE(publish::changesSince(published, same).any());
    EXPECT_EQ(publish::changesText(publish::changesSince(published, same)), "");

    const std::vector<PublishItem> changed = {item("後半 41:00", "d", 15), item("前半 2:00", "b"),
                                              item("前半 2:00", "x"), item("後半 50:00", "e")};
    const publish::Changes c = publish::changesSince(published, changed);
    EXPECT_EQ(c.added, 1);
    EXPECT_EQ(c.removed, 1);
    EXPECT_EQ(c.retold, 1);
    EXPECT_EQ(c.reframed, 1);
    EXPECT_TRUE(c.reordered);
    EXPECT_EQ(publish::changesText(c), "公開後: 追加 1・削除 1・題名/メモ 1・場面 1・順番");
}
