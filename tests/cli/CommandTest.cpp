// The xml, library and report commands run in this process as the command line
// runs them: the exit code, what each says, and the files left as they were.
// What needs the real executable (another process holding a library or
// recording a video, the export read by another XML reader) is in
// tests/tools/*_cli_test.py.
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "SubModuleClass/TagFileManager.h"
#include "commands/LibraryCommand.h"
#include "commands/PublishCommand.h"
#include "commands/RecordCommand.h"
#include "commands/ReportCommand.h"
#include "commands/XmlCommand.h"
#include "publish/PublishFolder.h"
#include "review/TagTally.h"

namespace {

const std::string kSession = "Team, INDEX, 再生時刻, タグ内容, コメント\n"
                             "A,1,0:00:05,スクラム,\"a & b <c>\",5.5\n";

enum class Command { Xml, Library, Report, Publish, Record };

struct Said {
    int code = -1;
    std::string out, err;
};

Said run(Command command, const std::vector<std::string>& args) {
    std::ostringstream out, err;
    Said r;
    r.code = command == Command::Xml       ? runXmlCommand(args, out, err)
             : command == Command::Library ? runLibraryCommand(args, out, err)
             : command == Command::Report  ? runReportCommand(args, out, err)
             : command == Command::Record  ? runRecordCommand(args, out, err)
                                           : runPublishCommand(args, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

// The row of `code` in the HTML page's count table ends with the tally's
// figures: team A, team B, both.
std::string countCells(const TallyRow& row) {
    auto cell = [](int64_t n) { return "<td class=\"n\">" + std::to_string(n) + "</td>"; };
    return cell(row.teamA) + cell(row.teamB) + cell(row.total()) + "</tr>";
}

class Commands : public ::testing::Test {
protected:
    std::string path(const char* name) const { return dir_.filePath(name).toStdString(); }
    void write(const char* name, const std::string& text) const {
        std::ofstream(path(name), std::ios::binary) << text;
    }
    std::string read(const char* name) const {
        std::ifstream in(path(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    bool exists(const char* name) const { return std::filesystem::exists(path(name)); }

private:
    QTemporaryDir dir_;
};

TEST_F(Commands, BadUsageExitsTwoWithTheUsageAndTouchesNothing) {
    write("match.csv", kSession);
    const std::string csv = path("match.csv"), out = path("o.xml"), db = path("lib.sqlite");
    const std::string pub = path("pub"), ts = path("rec.ts");
    const std::string manyWords = [] {
        std::string words;
        for (int i = 0; i < 20000; ++i)
            words += "w" + std::to_string(i) + " ";
        return words;
    }();
    const struct {
        Command command;
        std::vector<std::string> args;
        const char* said; // besides the usage
    } cases[] = {
        {Command::Xml, {}, ""},
        {Command::Xml, {"frobnicate"}, "unknown action: frobnicate"},
        {Command::Xml, {"export", csv}, "name two files"},
        {Command::Xml, {"export", csv, out, "--lead", "x"}, "takes seconds from 0 to 60: x"},
        {Command::Xml, {"export", csv, out, "--lag=61"}, "takes seconds from 0 to 60: 61"},
        {Command::Xml, {"export", csv, out, "--team", "A"}, "unknown option: --team"},
        {Command::Xml, {"import", RUCKTAG_GOLDEN_XML, csv, "--team", "C"}, "A or B: C"},
        {Command::Xml, {"import", RUCKTAG_GOLDEN_XML, csv, "--team"}, "--team needs a value"},
        {Command::Library, {}, ""},
        {Command::Library, {"frobnicate", "--database", db}, "unknown action: frobnicate"},
        {Command::Library, {"add", "--database", db}, "name a folder"},
        {Command::Library, {"scan", "extra", "--database", db}, "unexpected argument: extra"},
        {Command::Library,
         {"search", "--colour", "red", "--database", db},
         "オプションを読めません"},
        {Command::Library, {"search", "--team", "C", "--database", db}, "--team takes A or B: C"},
        {Command::Library, {"search", "--from", "2026-13-45", "--database", db}, "2026-13-45"},
        {Command::Library, {"search", "--to", "2026-02-30", "--database", db}, "2026-02-30"},
        {Command::Library, {"search", "--label", "=x", "--database", db}, "--label takes"},
        {Command::Library, {"search", "--text", manyWords, "--database", db}, "at most 32 words"},
        {Command::Report, {csv}, "name the session file and the PDF"},
        {Command::Report, {csv, out, "--html"}, "--html needs a value"},
        {Command::Report, {csv, out, "--code", "x"}, "search options go with --library"},
        {Command::Report, {"--library", csv, out}, "name one PDF"},
        {Command::Report, {csv, out, "--colour"}, "unknown option: --colour"},
        {Command::Report, {"--library", out, "--team", "C", "--database", db}, "A or B: C"},
        {Command::Publish, {"P", "--group", "FW"}, "name the folder with --folder"},
        {Command::Publish, {"P", "--folder", pub}, "name one playlist and --group"},
        {Command::Publish,
         {"P", "--group", "FW", "--folder", pub, "--max-height", "99"},
         "out of range"},
        {Command::Publish, {"--revoke", "FW", "P", "--folder", pub}, "takes a group alone"},
        {Command::Record, {}, "name one source and --out"},
        {Command::Record, {"udp://127.0.0.1:1234"}, "name one source and --out"},
        {Command::Record, {"a", "b", "--out", ts}, "name one source and --out"},
        {Command::Record, {"a", "--out", ts, "--format", "dshow"}, "lavfi or v4l2: dshow"},
        {Command::Record, {"a", "--out", ts, "--for", "0"}, "seconds above 0: 0"},
        {Command::Record, {"a", "--out", ts, "--for", "x"}, "seconds above 0: x"},
    };
    for (const auto& c : cases) {
        const Said r = run(c.command, c.args);
        const std::string shown = c.args.empty() ? "(none)" : c.args.front();
        EXPECT_EQ(r.code, 2) << shown;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << shown << ": " << r.err;
        EXPECT_NE(r.err.find("使い方 / Usage:"), std::string::npos) << shown;
        EXPECT_EQ(r.out, "") << shown;
    }
    EXPECT_FALSE(exists("o.xml"));
    EXPECT_FALSE(exists("lib.sqlite"));
    EXPECT_FALSE(exists("pub"));
    EXPECT_FALSE(exists("rec.ts"));
    EXPECT_EQ(read("match.csv"), kSession);
    for (const Command command :
         {Command::Xml, Command::Library, Command::Report, Command::Publish, Command::Record}) {
        const Said help = run(command, {"--help"});
        EXPECT_EQ(help.code, 0);
        EXPECT_EQ(help.out.rfind("使い方 / Usage:", 0), 0u) << help.out;
        EXPECT_EQ(help.err, "");
    }
}

TEST_F(Commands, FailuresExitOneSayingWhyAndChangeNothing) {
    write("match.csv", kSession);
    const std::string damaged = kSession + "short\n";
    write("damaged.csv", damaged);
    const std::string csv = path("match.csv"), db = path("lib.sqlite");
    const struct {
        Command command;
        std::vector<std::string> args;
        const char* said;
    } cases[] = {
        {Command::Xml, {"import", path("missing.xml"), csv}, "XML ファイルを読めません"},
        {Command::Xml, {"import", csv, path("other.csv")}, "XML 編集リストではありません"},
        {Command::Xml,
         {"export", path("missing.csv"), path("o.xml")},
         "セッションファイルがありません"},
        {Command::Xml, {"export", csv, csv}, "書き出し先がセッションファイルか動画と同じです"},
        // A session with lines it cannot read is never written over.
        {Command::Xml, {"import", RUCKTAG_GOLDEN_XML, path("damaged.csv")}, "書き換えませんでした"},
        {Command::Library,
         {"add", path("nowhere"), "--database", db},
         "フォルダーが見つかりません"},
        {Command::Library,
         {"search", "--database", "postgresql:///season?host=/nonexistent&user=x"},
         "サーバーにつながりません"},
        {Command::Report, {path("missing.csv"), path("o.pdf")}, "セッションファイルがありません"},
        {Command::Report, {csv, csv}, "書き出し先がセッションファイルと同じです"},
        {Command::Report, {csv, path("nowhere/o.pdf")}, "PDF を書き出せません"},
        {Command::Publish, {"--revoke", "FW", "--folder", path("pub")}, "no group named FW"},
        {Command::Publish,
         {"P", "--group", "FW", "--folder", path("pub"), "--database", db},
         "no such playlist: P"},
        {Command::Record, {"nosuch://x", "--out", path("rec.ts")}, "入力を開けません: nosuch://x"},
        {Command::Record,
         {"/nonexistent/video9", "--format", "v4l2", "--out", path("rec.ts")},
         "入力を開けません: /nonexistent/video9"},
        {Command::Record,
         {"testsrc2", "--format", "lavfi", "--out", path("nowhere/rec.ts")},
         "収録ファイルを書けません"},
        {Command::Record,
         {"udp://127.0.0.1:9", "--out", path("rec.ts"), "--for", "1.5"},
         "信号が一度も届きませんでした"},
    };
    for (const auto& c : cases) {
        const Said r = run(c.command, c.args);
        EXPECT_EQ(r.code, 1) << c.said;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Usage"), std::string::npos) << r.err;
    }
    EXPECT_EQ(read("match.csv"), kSession);
    EXPECT_EQ(read("damaged.csv"), damaged);
    EXPECT_FALSE(exists("other.csv"));
    EXPECT_FALSE(exists("o.xml"));
    EXPECT_FALSE(exists("o.pdf"));
    EXPECT_FALSE(exists("pub/groups.json"));
    EXPECT_FALSE(exists("pub/playlists"));
    EXPECT_FALSE(exists("rec.ts"));
    EXPECT_FALSE(exists("rec.live.json"));
    EXPECT_FALSE(exists("nowhere"));
}

TEST_F(Commands, RevokePrintsTheGroupsNewLink) {
    const QString pub = QString::fromStdString(path("pub"));
    const std::optional<publish::Group> old = publish::ensureGroup(pub, "FW", nullptr);
    ASSERT_TRUE(old);
    const Said r = run(Command::Publish, {"--revoke", "FW", "--folder", path("pub")});
    EXPECT_EQ(r.code, 0) << r.err;
    std::vector<publish::Group> groups;
    ASSERT_TRUE(publish::loadGroups(pub, groups, nullptr));
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_NE(groups[0].token, old->token);
    EXPECT_EQ(r.out, "/g/" + groups[0].token.toStdString() + "/\n");
}

TEST_F(Commands, ASearchThatFindsNothingPrintsNothing) {
    std::filesystem::create_directory(path("videos"));
    write("videos/2026-04-12 m.mp4", std::string(4096, 'v'));
    write("videos/2026-04-12 m.csv", kSession);
    const std::string db = path("lib.sqlite");
    const Said added = run(Command::Library, {"add", path("videos"), "--database", db});
    ASSERT_EQ(added.code, 0) << added.err;
    EXPECT_NE(added.out.find("added 1,"), std::string::npos) << added.out;
    for (const std::vector<std::string>& json : {std::vector<std::string>{}, {"--json"}}) {
        std::vector<std::string> args = {"search", "--code", "ない", "--database", db};
        args.insert(args.end(), json.begin(), json.end());
        const Said r = run(Command::Library, args);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
    }
    // The report of a search, over every match found.
    const Said report = run(Command::Report, {"--library", "--code", "スクラム", "--database", db,
                                              path("lib.pdf"), "--html", path("lib.html")});
    ASSERT_EQ(report.code, 0) << report.err;
    const std::string html = read("lib.html");
    EXPECT_NE(html.find("ライブラリ: 1 試合 --code スクラム"), std::string::npos);
    EXPECT_NE(html.find("<tr><td>スクラム</td>" + countCells({"スクラム", 1, 0})),
              std::string::npos);
}

TEST_F(Commands, AReportShowsTheTallysFiguresAndTheScore) {
    std::vector<std::shared_ptr<TagRowData>> tags;
    const std::vector<std::pair<std::string, int>> codes = {
        {"トライ", 5}, {"コンバージョン", 2}, {"PG", 3}, {"スクラム", 0}, {"タックル", 0}};
    std::array<int, 2> score{};
    for (int i = 0; i < 60; ++i) {
        auto tag = std::make_shared<TagRowData>();
        tag->index = i;
        tag->team = i % 3 != 0;
        tag->time_val = static_cast<float>(i * 97 % 5000);
        const auto& [code, points] = codes[static_cast<size_t>(i * 7 % 5)];
        tag->name = code;
        const bool missed = i % 4 == 0;
        if (i % 2 == 0)
            tag->labels = {{"結果", missed ? "失敗" : "成功"}};
        score[tag->team ? 0 : 1] += missed && i % 2 == 0 ? 0 : points;
        tags.push_back(tag);
    }
    // Attack held 60 s by A, 20 s by B: possession once a window groups it.
    for (const bool teamA : {true, false}) {
        auto tag = std::make_shared<TagRowData>();
        tag->index = static_cast<int64_t>(tags.size());
        tag->team = teamA;
        tag->time_val = teamA ? 100.0f : 300.0f;
        tag->name = "攻撃";
        tag->end = TagEnd::at(tag->time_val + (teamA ? 60.0f : 20.0f));
        tags.push_back(tag);
    }
    ASSERT_EQ(TagFileManager::saveCSVFile(path("m.csv"), tags, true), "");
    write("m.match.json",
          "{\"format\": \"rucktag-match\", \"version\": 1, \"teams\": {\"A\": "
          "\"赤\", \"B\": \"青\"}, \"periods\": [{\"name\": \"前半\", \"start\": 0, "
          "\"end\": 2400}, {\"name\": \"後半\", \"start\": 2600, \"clock\": 2400}]}");
    const Said r = run(Command::Report, {path("m.csv"), path("m.pdf"), "--png", path("png"),
                                         "--html=" + path("m.html")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(read("m.pdf").rfind("%PDF", 0), 0u);
    // A page image is A4 at 150 dpi, and nothing is drawn in its right margin.
    const QImage page(QString::fromStdString(path("png/m-1.png")));
    ASSERT_EQ(page.size(), QSize(1240, 1754));
    for (int y = 0; y < page.height(); ++y)
        for (int x = page.width() - 80; x < page.width(); ++x)
            ASSERT_EQ(page.pixel(x, y), qRgb(255, 255, 255)) << x << "," << y;
    const std::string html = read("m.html");
    EXPECT_NE(html.find("赤 " + std::to_string(score[0]) + "</span> - <span class=\"b\">" +
                        std::to_string(score[1]) + " 青"),
              std::string::npos);
    for (const TallyRow& row : tallyTags(tags, true, true)) {
        if (row.total() == 0)
            continue;
        const size_t at = html.find("<tr><td>" + row.name + "</td>");
        ASSERT_NE(at, std::string::npos) << row.name;
        const std::string line = html.substr(at, html.find('\n', at) - at);
        EXPECT_TRUE(line.ends_with(countCells(row))) << line;
    }
    EXPECT_NE(html.find("<th>後半 B</th>"), std::string::npos); // the match file's periods
    EXPECT_EQ(html.find("<h2>ポゼッション</h2>"), std::string::npos);

    // --window: a code window's file, as the application keeps them.
    write("w.json", "{\"format\": \"rucktag-codewindow\", \"version\": 1, \"name\": \"試合\", "
                    "\"codes\": [{\"name\": \"攻撃\", \"mode\": \"duration\", \"group\": "
                    "\"局面\"}]}");
    const Said w = run(Command::Report, {path("m.csv"), path("w.pdf"), "--window", path("w.json"),
                                         "--html", path("w.html")});
    ASSERT_EQ(w.code, 0) << w.err;
    EXPECT_NE(read("w.html").find("<tr><td>局面</td><td class=\"n\">75% ("), std::string::npos);
    const Said missing =
        run(Command::Report, {path("m.csv"), path("w.pdf"), "--window", path("none.json")});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("cannot read the code window: none.json"), std::string::npos)
        << missing.err;
}

} // namespace

int main(int argc, char** argv) {
    // The report paints text: fonts need a GUI application, no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
