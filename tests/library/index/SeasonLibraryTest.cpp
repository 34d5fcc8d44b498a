// The season library on both engines: the same cases on SQLite and on a
// throwaway PostgreSQL server.
#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include "index/SeasonLibrary.h"
#include "library/EngineTest.h"
#include "library/LibraryTestSupport.h"
#include "match/MatchInfo.h"

using namespace library;
using namespace librarytest;
using ::testing::AllOf;
using ::testing::HasSubstr;

namespace {

class LibraryTest : public EngineTest {
protected:
    static std::vector<Hit> find(SeasonLibrary& lib, const Query& query) {
        QString error;
        std::vector<Hit> hits = lib.search(query, &error);
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        return hits;
    }
    static std::vector<Hit> findText(SeasonLibrary& lib, const std::string& text) {
        Query q;
        q.text = text;
        return find(lib, q);
    }
    static ScanReport scan(SeasonLibrary& lib) {
        ScanReport report;
        QString error;
        EXPECT_TRUE(lib.scan(report, &error)) << error.toStdString();
        return report;
    }
    static ScanReport add(SeasonLibrary& lib, const QStringList& folders) {
        ScanReport report;
        QString error;
        EXPECT_TRUE(lib.addFolders(folders, report, &error)) << error.toStdString();
        return report;
    }
    // A report's added, updated, removed and unchanged.
    static std::array<int, 4> counts(const ScanReport& r) {
        return {r.added, r.updated, r.removed, r.unchanged};
    }
    // Each match as "date title", in the library's order.
    static std::vector<std::string> datesAndTitles(SeasonLibrary& lib) {
        std::vector<std::string> out;
        for (const Match& m : lib.matches())
            out.push_back((m.date + QLatin1Char(' ') + m.title).toStdString());
        return out;
    }
    // Why each skipped file was skipped, by its path.
    static std::map<std::string, std::string> reasons(const ScanReport& r) {
        std::map<std::string, std::string> why;
        for (const auto& [path, reason] : r.skipped)
            why[path] += reason.toStdString() + "\n";
        return why;
    }

    std::unique_ptr<SeasonLibrary> lib;
};

std::vector<std::shared_ptr<TagRowData>> threeTags(const std::string& comment) {
    return {tag(true, 10.5f, "タックル", comment), tag(false, 20.0f, "スクラム"),
            tag(true, 30.25f, "トライ", "", {{"結果", "成功"}}, 35.5f)};
}

TEST_P(LibraryTest, AddingAndScanningTwiceChangeNothing) {
    writeMatch(folder("season/april"), "2026-04-12 早稲田 vs 明治", threeTags("a"), 1);
    writeMatch(folder("season/may"), "20260503_慶應", threeTags("b"), 2);
    ASSERT_TRUE(lib = openLibrary());
    ScanReport first = add(*lib, {folder("season")});
    EXPECT_EQ(first.added, 2);
    EXPECT_TRUE(first.skipped.empty());
    const std::array<int, 4> unchanged{0, 0, 0, 2};
    EXPECT_EQ(counts(add(*lib, {folder("season"), folder("season/april")})), unchanged);
    EXPECT_EQ(counts(scan(*lib)), unchanged);
    EXPECT_EQ(counts(scan(*lib)), unchanged);

    EXPECT_EQ(lib->folders().size(), 2);
    // Title and date from the file names, in date order.
    EXPECT_EQ(datesAndTitles(*lib),
              (std::vector<std::string>{"2026-04-12 早稲田 vs 明治", "2026-05-03 慶應"}));
    const std::vector<Match> matches = lib->matches();
    ASSERT_EQ(matches.size(), 2u);
    EXPECT_EQ(matches[0].tagCount, 3);
    EXPECT_EQ(find(*lib, {}).size(), 6u);

    // An edited title and date survive a re-read of the file.
    QString error;
    ASSERT_TRUE(lib->setMatchInfo(matches[1].id, QStringLiteral("慶應戦"),
                                  QStringLiteral("2026-05-04"), &error))
        << error.toStdString();
    EXPECT_FALSE(lib->setMatchInfo(matches[1].id, QStringLiteral("x"), QStringLiteral("2026-13-40"),
                                   &error));
    writeMatch(folder("season/may"), "20260503_慶應", threeTags("changed"), 2);
    EXPECT_EQ(scan(*lib).updated, 1);
    EXPECT_EQ(datesAndTitles(*lib).at(1), "2026-05-04 慶應戦");
}

TEST_P(LibraryTest, OnlyChangedSessionFilesAreReadAgain) {
    const QString season = folder("season");
    writeMatch(season, "match", threeTags("aaaa"), 1);
    ASSERT_TRUE(lib = openLibrary());
    add(*lib, {season});
    const std::string session = sessionOf(season, "match");
    struct stat before {};
    ASSERT_EQ(::stat(session.c_str(), &before), 0);

    // The session file's time `later` seconds after it was first written.
    const auto touch = [&](int later) {
        const struct timespec times[2] = {before.st_atim,
                                          {before.st_mtim.tv_sec + later, before.st_mtim.tv_nsec}};
        return ::utimensat(AT_FDCWD, session.c_str(), times, 0) == 0;
    };
    // Same size, same time: not read (the old comment stays).
    writeSession(season, "match", threeTags("bbbb"));
    ASSERT_TRUE(touch(0));
    EXPECT_EQ(counts(scan(*lib)), (std::array{0, 0, 0, 1}));
    EXPECT_EQ(findText(*lib, "aaaa").size(), 1u);

    // A new time: read, and the change is found.
    ASSERT_TRUE(touch(5));
    EXPECT_EQ(counts(scan(*lib)), (std::array{0, 1, 0, 0}));
    EXPECT_TRUE(findText(*lib, "aaaa").empty());
    EXPECT_EQ(findText(*lib, "bbbb").size(), 1u);

    // Touched with the same bytes: the hash says unchanged.
    ASSERT_TRUE(touch(9));
    EXPECT_EQ(counts(scan(*lib)), (std::array{0, 0, 0, 1}));

    // A session file gone is forgotten; the video alone is no match.
    std::filesystem::remove(session);
    EXPECT_EQ(scan(*lib).removed, 1);
    EXPECT_TRUE(lib->matches().empty());
    EXPECT_TRUE(find(*lib, {}).empty());
}

TEST_P(LibraryTest, AMovedVideoIsTheSameMatch) {
    const QString home = folder("home"), away = folder("away");
    writeMatch(home, "2026-04-12 first", threeTags("x"), 7);
    writeMatch(home, "2026-04-19 second", threeTags("y"), 8);
    QDir().mkpath(away);
    ASSERT_TRUE(lib = openLibrary());
    add(*lib, {home, away});
    const std::vector<Match> before = lib->matches();
    ASSERT_EQ(before.size(), 2u);

    // Moved into the other folder under a new name, by the file manager.
    QDir().mkpath(away + QStringLiteral("/sub"));
    std::filesystem::rename(videoOf(home, "2026-04-12 first"),
                            videoOf(away + "/sub", "2026-04-12 renamed"));
    std::filesystem::rename(sessionOf(home, "2026-04-12 first"),
                            sessionOf(away + "/sub", "2026-04-12 renamed"));
    EXPECT_EQ(counts(scan(*lib)), (std::array{0, 1, 0, 1}));
    std::vector<Match> after = lib->matches();
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0].id, before[0].id);
    EXPECT_EQ(after[0].video, videoOf(away + "/sub", "2026-04-12 renamed"));
    EXPECT_EQ(after[0].title, QStringLiteral("renamed"));
    EXPECT_EQ(find(*lib, {}).size(), 6u);

    // Moved again and saved from the application before any scan.
    std::filesystem::rename(videoOf(home, "2026-04-19 second"), videoOf(away, "moved"));
    std::filesystem::rename(sessionOf(home, "2026-04-19 second"), sessionOf(away, "moved"));
    QString error;
    ASSERT_TRUE(lib->indexSaved(videoOf(away, "moved"), sessionOf(away, "moved"),
                                threeTags("saved"), &error))
        << error.toStdString();
    after = lib->matches();
    ASSERT_EQ(after.size(), 2u);
    EXPECT_TRUE(after[0].id == before[1].id || after[1].id == before[1].id);
    EXPECT_EQ(findText(*lib, "saved").size(), 1u);
    EXPECT_EQ(scan(*lib).added, 0);
    EXPECT_EQ(lib->matches().size(), 2u);
}

TEST_P(LibraryTest, DamagedAndStraySessionFilesAreListedAsSkipped) {
    const QString season = folder("season");
    writeMatch(season, "good", threeTags("ok"), 1);
    writeMatch(season, "damaged", threeTags("ok"), 2);
    writeFile(QString::fromStdString(sessionOf(season, "damaged")), "A,9,0:01:00\n",
              true); // too few fields
    // A session file whose video is gone, and an export that is no session.
    writeMatch(season, "novideo", threeTags("ok"), 3);
    std::filesystem::remove(videoOf(season, "novideo"));
    writeFile(season + QStringLiteral("/tally.csv"), "タグ,A,B\nタックル,3,4\n");
    ASSERT_TRUE(lib = openLibrary());
    ScanReport report = add(*lib, {season});
    EXPECT_EQ(report.added, 1);
    ASSERT_EQ(report.skipped.size(), 2u);
    auto why = reasons(report);
    EXPECT_THAT(why[sessionOf(season, "damaged")],
                AllOf(HasSubstr("項目の足りない行"), HasSubstr("行 5")));
    EXPECT_THAT(why[sessionOf(season, "novideo")], HasSubstr("動画"));
    EXPECT_EQ(lib->matches().size(), 1u);

    // An indexed file that becomes damaged leaves the index and is listed.
    writeFile(QString::fromStdString(sessionOf(season, "good")), "B,9,\"never closed\n", true);
    report = scan(*lib);
    EXPECT_EQ(report.removed, 1);
    EXPECT_EQ(report.skipped.size(), 3u);
    EXPECT_TRUE(lib->matches().empty());

    // A folder that is not there is refused as a whole.
    QString error;
    EXPECT_FALSE(lib->addFolders({folder("nowhere"), season}, report, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("フォルダーが見つかりません")));
}

// Older files may hold times the index cannot: that session is skipped with
// its name and reason, and the rest of the folder is indexed.
TEST_P(LibraryTest, TimesTheIndexCannotHoldSkipOneSessionOnly) {
    const QString season = folder("season");
    writeMatch(season, "good", threeTags("kept"), 1);
    writeMatch(season, "old", threeTags("never"), 2);
    writeFile(QString::fromStdString(sessionOf(season, "old")),
              "Team, INDEX, 再生時刻, タグ内容, コメント\n"
              "A,1,0:00:05,スクラム,\"never\",5.5\n"
              "A,2,0:00:00,スクラム,\"never\",nan\n"
              "B,3,0:00:00,トライ,\"never\",-4\n"
              "A,4,0:00:00,トライ,\"never\",1e308\n");
    ASSERT_TRUE(lib = openLibrary());
    ScanReport report = add(*lib, {season});
    EXPECT_EQ(report.added, 1);
    ASSERT_EQ(report.skipped.size(), 1u);
    EXPECT_THAT(reasons(report)[sessionOf(season, "old")], HasSubstr("時刻"));
    EXPECT_EQ(find(*lib, {}).size(), 3u);
    EXPECT_TRUE(findText(*lib, "never").empty());
    EXPECT_EQ(scan(*lib).skipped.size(), 1u);

    // A save holding such a time is refused for good, not as a library away.
    QString error;
    for (const float bad : {std::nanf(""), -1.0f, HUGE_VALF}) {
        auto tags = threeTags("saved");
        tags.push_back(tag(true, bad, "x"));
        EXPECT_FALSE(
            lib->indexSaved(videoOf(season, "good"), sessionOf(season, "good"), tags, &error));
        EXPECT_TRUE(error.contains(QStringLiteral("索引に入れられません"))) << error.toStdString();
        EXPECT_TRUE(lib->lastFailureIsPermanent());
    }
    EXPECT_EQ(find(*lib, {}).size(), 3u);
    EXPECT_TRUE(lib->indexSaved(videoOf(season, "good"), sessionOf(season, "good"),
                                threeTags("saved"), &error))
        << error.toStdString();
    EXPECT_EQ(findText(*lib, "saved").size(), 1u);
}

// A drive not mounted below an added folder (its mount point gone or left
// empty), a session file that cannot be read now: their matches stay,
// marked, with the analyst's edits.
TEST_P(LibraryTest, WhatCannotBeReadNowKeepsItsMatchesAndEdits) {
    namespace fs = std::filesystem;
    const QString season = folder("season"), aside = folder("aside");
    const QString usb = season + "/usb", mount = season + "/mnt";
    writeMatch(usb, "2026-04-12 遠征", threeTags("away"), 1);
    writeMatch(season + "/home", "2026-04-19 ホーム", threeTags("home"), 2);
    // A real drive where this machine may mount one: a tmpfs bound below.
    QDir().mkpath(mount);
    const QString drive = folder("tmpfs");
    QDir().mkpath(drive);
    const auto run = [](const QStringList& args) {
        return QProcess::execute(args.first(), args.mid(1)) == 0;
    };
    const bool mounted = ::geteuid() == 0 && run({"mount", "-t", "tmpfs", "none", drive}) &&
                         run({"mount", "--bind", drive, mount});
    // Unmounted whatever happens below.
    const std::shared_ptr<void> unmount(nullptr, [&](void*) {
        if (mounted) {
            run({"umount", mount});
            run({"umount", drive});
        }
    });
    if (mounted)
        writeMatch(mount, "2026-04-26 ドライブ", threeTags("drive"), 3);
    const size_t count = mounted ? 3 : 2;
    ASSERT_TRUE(lib = openLibrary());
    EXPECT_EQ(add(*lib, {season}).added, static_cast<int>(count));
    std::vector<Match> matches = lib->matches();
    ASSERT_EQ(matches.size(), count);
    QString error;
    for (const Match& m : matches)
        ASSERT_TRUE(lib->setMatchInfo(m.id, m.title + QStringLiteral("戦"),
                                      QStringLiteral("2026-05-0%1").arg(m.id % 9 + 1), &error))
            << error.toStdString();
    matches = lib->matches();

    // The drives go away; the home session file becomes a link to nowhere.
    fs::rename(usb.toStdString(), folder("usb-away").toStdString());
    if (mounted) {
        EXPECT_TRUE(run({"umount", mount}));
    }
    QDir().mkpath(aside);
    const std::string home = sessionOf(season + "/home", "2026-04-19 ホーム");
    fs::rename(home, (aside + "/home.csv").toStdString());
    fs::create_symlink((aside + "/gone.csv").toStdString(), home);
    ScanReport report = scan(*lib);
    EXPECT_EQ(report.removed, 0);
    EXPECT_THAT(reasons(report)[home], HasSubstr("今は読めない"));
    const std::vector<Match> kept = lib->matches();
    ASSERT_EQ(kept.size(), count);
    for (size_t i = 0; i < kept.size(); ++i) {
        EXPECT_FALSE(kept[i].unreadable.isEmpty()) << kept[i].title.toStdString();
        EXPECT_EQ(kept[i].title, matches[i].title);
    }
    const std::vector<Hit> hits = find(*lib, {});
    ASSERT_EQ(hits.size(), 3 * count);
    EXPECT_FALSE(hits[0].unreadable.isEmpty());

    // Back again: unmarked, the edits still there.
    fs::rename(folder("usb-away").toStdString(), usb.toStdString());
    if (mounted) {
        EXPECT_TRUE(run({"mount", "--bind", drive, mount}));
    }
    fs::remove(home);
    fs::rename((aside + "/home.csv").toStdString(), home);
    report = scan(*lib);
    EXPECT_TRUE(report.skipped.empty()) << report.skipped[0].second.toStdString();
    EXPECT_EQ(report.removed + report.added, 0);
    const std::vector<Match> back = lib->matches();
    ASSERT_EQ(back.size(), count);
    for (size_t i = 0; i < back.size(); ++i) {
        EXPECT_TRUE(back[i].unreadable.isEmpty());
        EXPECT_EQ(back[i].title, matches[i].title);
        EXPECT_EQ(back[i].date, matches[i].date);
    }
}

// Links to folders are followed once (a loop ends), and what is not read is
// said: a FIFO with a session's name is never opened. Our own export beside
// a video is no session and is not listed.
TEST_P(LibraryTest, LinksFifosAndExportsInTheFolders) {
    namespace fs = std::filesystem;
    const QString season = folder("season"), elsewhere = folder("elsewhere");
    writeMatch(elsewhere, "2026-04-12 linked", threeTags("linked"), 1);
    writeMatch(season, "2026-04-19 here", threeTags("here"), 2);
    fs::create_directory_symlink(elsewhere.toStdString(), (season + "/linked").toStdString());
    fs::create_directory_symlink(season.toStdString(), (season + "/loop").toStdString());
    const std::string fifo = (season + "/2026-04-26 pipe.csv").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    writeFile(season + QStringLiteral("/2026-04-19 here_tags.csv"),
              "Team, INDEX, 再生時刻, タグ内容, コメント\n"
              "A,1,0:00:10,タックル,\"here, \"\"there\"\"\"\n");
    writeFile(season + QStringLiteral("/2026-04-19 here_extras.csv"),
              "Team, INDEX, 再生時刻, タグ内容, コメント, 終了時刻, ラベル\n");
    ASSERT_TRUE(lib = openLibrary());
    const ScanReport report = add(*lib, {season});
    EXPECT_EQ(report.added, 2);
    EXPECT_EQ(lib->matches().size(), 2u);
    auto why = reasons(report);
    EXPECT_EQ(why.size(), 2u);
    EXPECT_THAT(why[fifo], HasSubstr("FIFO"));
    EXPECT_THAT(why[(season + "/loop").toStdString()], HasSubstr("リンク"));
}

// Comments and words compare the same on both engines (NFKC, case folded);
// what a search cannot hold is refused with a clear message.
TEST_P(LibraryTest, SearchTextIsNormalisedAndBounded) {
    const QString season = folder("season");
    writeMatch(season, "match",
               {tag(true, 1.0f, "a", "ａｂｃ の形"), tag(true, 2.0f, "a", "ABC"),
                tag(true, 3.0f, "a", "ｶﾀｶﾅ"), tag(true, 4.0f, "a", "abd")},
               1);
    ASSERT_TRUE(lib = openLibrary());
    add(*lib, {season});
    for (const char* word : {"ＡＢＣ", "abc", "Abc", "ａｂｃ"})
        EXPECT_EQ(findText(*lib, word).size(), 2u) << word;
    EXPECT_EQ(findText(*lib, "カタカナ").size(), 1u);
    EXPECT_EQ(findText(*lib, "ﾀｶ").size(), 1u);

    QString error;
    Query many;
    for (int i = 0; i < 20000; ++i)
        many.text += "w" + std::to_string(i) + " ";
    EXPECT_TRUE(lib->search(many, &error).empty());
    EXPECT_TRUE(error.contains(QStringLiteral("多すぎ"))) << error.toStdString();
    Query badDate;
    badDate.dateFrom = QStringLiteral("2026-13-45");
    error.clear();
    EXPECT_TRUE(lib->search(badDate, &error).empty());
    EXPECT_TRUE(error.contains(QStringLiteral("日付"))) << error.toStdString();
}

TEST_P(LibraryTest, SearchFilters) {
    const QString season = folder("season");
    writeMatch(season, "2026-04-12 明治",
               {tag(true, 10.5f, "タックル", "右サイドで良いタックル"),
                tag(false, 20.0f, "タックル", "左"),
                tag(true, 30.0f, "スクラム", "100%_ですね", {{"結果", "成功"}}),
                tag(true, 40.0f, "タックル", "ab_cd", {{"結果", "失敗"}, {"選手", "10"}}),
                tag(false, 50.0f, "トライ", "右", {}, 55.25f)},
               1);
    writeMatch(season, "2026-05-01 慶應", {tag(true, 5.0f, "タックル", "右サイド")}, 2);
    ASSERT_TRUE(lib = openLibrary());
    add(*lib, {season});
    const std::vector<Match> matches = lib->matches();
    ASSERT_EQ(matches.size(), 2u);

    Query q;
    q.code = "タックル";
    std::vector<Hit> hits = find(*lib, q);
    ASSERT_EQ(hits.size(), 4u);
    // By match date, then time.
    EXPECT_EQ(hits[0].time, 10.5);
    EXPECT_EQ(hits[3].title, QStringLiteral("慶應"));
    q.teamA = true;
    EXPECT_EQ(find(*lib, q).size(), 3u);
    q.teamA = false;
    hits = find(*lib, q);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].comment, "左");
    EXPECT_FALSE(hits[0].teamA);

    Query labels;
    labels.labels = {{"結果", "失敗"}, {"選手", "10"}};
    hits = find(*lib, labels);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].position, 3);
    EXPECT_EQ(hits[0].labels, (TagLabels{{"結果", "失敗"}, {"選手", "10"}}));
    labels.labels = {{"結果", "成功"}, {"選手", "10"}};
    EXPECT_TRUE(find(*lib, labels).empty());

    Query ends;
    ends.code = "トライ";
    hits = find(*lib, ends);
    ASSERT_EQ(hits.size(), 1u);
    ASSERT_TRUE(hits[0].end.has_value());
    EXPECT_EQ(*hits[0].end, 55.25);
    EXPECT_EQ(hits[0].video, videoOf(season, "2026-04-12 明治"));
    EXPECT_EQ(hits[0].session, sessionOf(season, "2026-04-12 明治"));

    Query byMatch;
    byMatch.match = matches[1].id;
    EXPECT_EQ(find(*lib, byMatch).size(), 1u);
    Query byDate;
    byDate.dateFrom = QStringLiteral("2026-04-13");
    EXPECT_EQ(find(*lib, byDate).size(), 1u);
    byDate.dateFrom = QString();
    byDate.dateTo = QStringLiteral("2026-04-30");
    EXPECT_EQ(find(*lib, byDate).size(), 5u);

    // Japanese words of one, two and three characters; every word must hold.
    // % and _ are themselves, never wildcards; ASCII case is ignored.
    const std::pair<const char*, size_t> words[] = {
        {"右", 3},       {"右サ", 2},    {"サイド", 2},
        {"サイドで", 1}, {"右 良い", 1}, {"右\u3000タックル", 1},
        {"左 右", 0},    {"%", 1},       {"0%_", 1},
        {"_", 2},        {"a_", 0},      {"b%d", 0},
        {"AB_CD", 1},    {"!", 0}};
    for (const auto& [word, count] : words)
        EXPECT_EQ(findText(*lib, word).size(), count) << word;
    Query codeAndText;
    codeAndText.code = "タックル";
    codeAndText.teamA = true;
    codeAndText.text = "サイド";
    EXPECT_EQ(find(*lib, codeAndText).size(), 2u);
}

TEST_P(LibraryTest, ASaveIsIndexedAtOnceInsideTheFolders) {
    const QString season = folder("season"), elsewhere = folder("elsewhere");
    writeMatch(season, "match", threeTags("first"), 1);
    writeMatch(elsewhere, "other", threeTags("outside"), 2);
    ASSERT_TRUE(lib = openLibrary());
    add(*lib, {season});
    QSignalSpy changed(lib.get(), &SeasonLibrary::changed);

    auto tags = threeTags("saved now");
    tags.push_back(tag(false, 99.0f, "PG", "late"));
    writeMatch(season, "match", tags, 1);
    QString error;
    ASSERT_TRUE(lib->indexSaved(videoOf(season, "match"), sessionOf(season, "match"), tags, &error))
        << error.toStdString();
    EXPECT_EQ(findText(*lib, "saved now").size(), 1u);
    EXPECT_EQ(lib->matches().at(0).tagCount, 4);
    EXPECT_TRUE(changed.wait(2000));
    // The scan after it finds nothing new to read.
    EXPECT_EQ(counts(scan(*lib)), (std::array{0, 0, 0, 1}));

    // A save outside the library's folders is none of its business.
    ASSERT_TRUE(lib->indexSaved(videoOf(elsewhere, "other"), sessionOf(elsewhere, "other"),
                                threeTags("outside"), &error));
    EXPECT_TRUE(findText(*lib, "outside").empty());
    EXPECT_EQ(lib->matches().size(), 1u);
}

TEST_P(LibraryTest, TwoConnectionsSeeEachOthersChanges) {
    const QString season = folder("season");
    writeMatch(season, "match", threeTags("from the other analyst"), 1);
    auto writer = openLibrary();
    auto reader = openLibrary();
    ASSERT_TRUE(writer && reader);
    EXPECT_TRUE(reader->matches().empty());
    QSignalSpy changed(reader.get(), &SeasonLibrary::changed);
    add(*writer, {season});
    ASSERT_TRUE(changed.wait(2000));
    EXPECT_EQ(findText(*reader, "other analyst").size(), 1u);

    // And the other way.
    QSignalSpy back(writer.get(), &SeasonLibrary::changed);
    QTest::qWait(100);
    back.clear();
    QString error;
    ASSERT_TRUE(reader->setMatchInfo(reader->matches().at(0).id, QStringLiteral("名前"), QString(),
                                     &error));
    ASSERT_TRUE(back.wait(2000));
    EXPECT_EQ(writer->matches().at(0).title, QStringLiteral("名前"));
}

TEST_P(LibraryTest, TwoProcessesIndexingAtOnceMakeNoDuplicates) {
    const QString season = folder("season");
    constexpr int kMatches = 12, kTags = 400;
    for (int m = 0; m < kMatches; ++m) {
        std::vector<std::shared_ptr<TagRowData>> tags;
        for (int t = 0; t < kTags; ++t)
            tags.push_back(tag(t % 2 == 0, static_cast<float>(t), "ラック", "c",
                               {{"結果", t % 3 ? "成功" : "失敗"}}));
        writeMatch(season, QStringLiteral("match %1").arg(m), tags, m);
    }
    QProcess first, second;
    for (QProcess* p : {&first, &second}) {
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(QStringLiteral(RUCKTAG_BINARY), {QStringLiteral("library"), QStringLiteral("add"),
                                                  season, QStringLiteral("--database"), url});
    }
    for (QProcess* p : {&first, &second}) {
        ASSERT_TRUE(p->waitForFinished(120000));
        EXPECT_EQ(p->exitCode(), 0) << p->readAll().toStdString();
    }
    ASSERT_TRUE(lib = openLibrary());
    const std::vector<Match> matches = lib->matches();
    EXPECT_EQ(matches.size(), static_cast<size_t>(kMatches));
    EXPECT_EQ(find(*lib, {}).size(), static_cast<size_t>(kMatches * kTags));
    Query failed;
    failed.labels = {{"結果", "失敗"}};
    EXPECT_EQ(find(*lib, failed).size(), static_cast<size_t>(kMatches * (kTags / 3 + 1)));
    EXPECT_EQ(lib->folders().size(), 1);
}

// The match file beside a session: read when the match is indexed, read
// again when it changes on disk, a damaged one noted while the tags stay.
TEST_P(LibraryTest, MatchFilesGiveTeamsAndMatchTimes) {
    const QString season = folder("season");
    writeMatch(season, "match", threeTags("x"), 1); // tags at 10.5, 20 and 30.25
    const std::string file = matchFilePathFor(sessionOf(season, "match")).string();
    MatchInfo first, second;
    first.teams = {"早稲田", "明治"};
    first.periods = {{"前半", 5, 25, 0}, {"後半", 28, MatchPeriod::kOpenEnd, 2400}};
    first.angles = {{"エンド", "cams/end.mp4", 37.4, 1.0}, {"ワイド", "/v/wide.mp4", -2, 1.00003}};
    second.teams = {"", "慶應"};
    second.periods = {{"前半", 15, MatchPeriod::kOpenEnd, 0}};
    const struct {
        std::string text; // empty: no file
        std::array<QString, 2> teams;
        std::array<QString, 3> times;
        bool problem;
    } steps[] = {
        {matchJson(first), {"早稲田", "明治"}, {"前半 0:05", "前半 0:15", "後半 40:02"}, false},
        {matchJson(second), {"", "慶應"}, {"試合前", "前半 0:05", "前半 0:15"}, false},
        {"{\"format\": ", {"", ""}, {"0:00:10", "0:00:20", "0:00:30"}, true},
        {"", {"", ""}, {"0:00:10", "0:00:20", "0:00:30"}, false},
    };
    ASSERT_TRUE(lib = openLibrary());
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        std::filesystem::remove(file);
        if (!steps[i].text.empty())
            writeFile(QString::fromStdString(file), steps[i].text.c_str());
        const ScanReport report = i == 0 ? add(*lib, {season}) : scan(*lib);
        EXPECT_EQ(report.added + report.updated, 1);
        EXPECT_EQ(report.skipped.size(), steps[i].problem ? 1u : 0u);
        const std::vector<Hit> hits = find(*lib, {});
        ASSERT_EQ(hits.size(), 3u);
        for (size_t t = 0; t < 3; ++t)
            EXPECT_EQ(hits[t].matchTime, steps[i].times[t]);
        EXPECT_EQ(hits[0].teams, steps[i].teams);
        // An angle's file is found from the session's folder.
        const std::vector<MatchAngle> angles = lib->matches().at(0).angles;
        EXPECT_EQ(hits[2].angles, angles);
        ASSERT_EQ(angles.size(), i == 0 ? 2u : 0u);
        if (i == 0) {
            EXPECT_EQ(QString::fromStdString(angles[0].file), season + "/cams/end.mp4");
        }
        EXPECT_EQ(lib->matches().at(0).matchProblem.isEmpty(), !steps[i].problem);
        EXPECT_EQ(scan(*lib).unchanged, 1);
    }
}

// A library made before match files were kept, or before their angles were:
// upgraded in place, its tags kept, and its matches' match files read at the
// next scan.
TEST_P(LibraryTest, ALibraryOfAPreviousSchemaIsUpgraded) {
    const QString season = folder("season");
    writeMatch(season, "match", threeTags("kept"), 1);
    MatchInfo match;
    match.teams = {"早稲田", "明治"};
    match.angles = {{"エンド", "/v/end.mp4", 37.4, 1.0}};
    writeFile(QString::fromStdString(matchFilePathFor(sessionOf(season, "match")).string()),
              matchJson(match).c_str());
    const struct {
        std::vector<const char*> columns;
        bool playlists;
        int version;
        int updated; // an unchanged match file is read again all the same
    } previous[] = {{{"team_a", "team_b", "periods", "match_problem", "match_hash", "match_size",
                      "match_mtime", "angles"},
                     true,
                     3,
                     1},
                    {{"angles"}, false, 5, 0}};
    for (const auto& [columns, playlists, version, updated] : previous) {
        SCOPED_TRACE(version);
        ASSERT_TRUE(lib = openLibrary());
        add(*lib, {season});
        lib.reset();
        QStringList back;
        for (const char* column : columns)
            back << QStringLiteral("ALTER TABLE matches DROP COLUMN ") + column;
        if (playlists)
            back << QStringLiteral("DROP TABLE playlist_items")
                 << QStringLiteral("DROP TABLE playlists");
        back << QStringLiteral("DELETE FROM schema_version WHERE version >= %1").arg(version);
        ASSERT_EQ(execOn(url, back), QString());

        lib = openLibrary();
        ASSERT_TRUE(lib);
        EXPECT_EQ(findText(*lib, "kept").size(), 1u);
        EXPECT_TRUE(find(*lib, {}).at(0).angles.empty());
        EXPECT_EQ(scan(*lib).updated, updated);
        EXPECT_EQ(find(*lib, {}).at(0).teams[0], QStringLiteral("早稲田"));
        EXPECT_EQ(find(*lib, {}).at(0).angles, match.angles);
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, LibraryTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL), engineName);

} // namespace
