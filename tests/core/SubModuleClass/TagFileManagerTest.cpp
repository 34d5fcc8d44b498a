#include <cmath>
#include <cstring>
#include <fstream>
#include <gmock/gmock.h>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "SubModuleClass/TagFileManager.h"
#include "platform/SystemLog.h"
#include "support/Scratch.h"
#include "support/Tags.h"

using ::testing::HasSubstr;

namespace fs = std::filesystem;

namespace {

class TagFile : public ::testing::Test {
protected:
    void SetUp() override { dir = freshScratchDir("rucktag-csv-"); }
    void TearDown() override {
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir);
    }
    fs::path dir;
};

const std::string kHeader = "Team, INDEX, 再生時刻, タグ内容, コメント\n";

} // namespace

TEST_F(TagFile, WorkedExampleByteForByteInBothForms) {
    const std::vector rows{tag(true, 65.5f, "スクラム", ""),
                           tag(false, 754.25f, "トライ", "アンフォーストエラー")};
    ASSERT_EQ(TagFileManager::saveCSVFile(dir / "s.csv", rows, true), "");
    EXPECT_EQ(slurp(dir / "s.csv"), kHeader +
                                        "A,1,0:01:05,スクラム,\"\",65.5\n"
                                        "B,2,0:12:34,トライ,\"アンフォーストエラー\",754.25\n");
    ASSERT_EQ(TagFileManager::saveCSVFile(dir / "e.csv", rows, false), "");
    EXPECT_EQ(slurp(dir / "e.csv"), kHeader + "A,1,0:01:05,スクラム,\"\"\n"
                                              "B,2,0:12:34,トライ,\"アンフォーストエラー\"\n");
    ASSERT_EQ(TagFileManager::saveCSVFile(dir / "q.csv", {tag(true, 65, "DG", "x,\"y")}, true), "");
    EXPECT_EQ(slurp(dir / "q.csv"), kHeader + "A,1,0:01:05,DG,\"x,\"\"y\",65.0\n");
    ASSERT_EQ(TagFileManager::saveCSVFile(dir / "empty.csv", {}, true), "");
    EXPECT_EQ(slurp(dir / "empty.csv"), kHeader);
    EXPECT_TRUE(TagFileManager::loadCSVFile(dir / "empty.csv").empty());
}

// Ends and labels: two more fields on the tags that have them (session form)
// or on every line (export form, with their names in the header); the other
// lines are as they were.
TEST_F(TagFile, EndsAndLabelsByteForByteInBothForms) {
    std::vector rows{tag(true, 65.5f, "スクラム", ""), tag(false, 754.25f, "トライ", "x"),
                     tag(true, 800, "キック", "")};
    rows[0]->end = TagEnd::at(80.25f);
    rows[0]->labels = {{"結果", "成功"}};
    rows[2]->labels = {{"a,b", "say \"hi\""}, {"g=1;", "t\\x\nline"}};
    ASSERT_EQ(TagFileManager::saveCSVFile(dir / "s.csv", rows, true), "");
    EXPECT_EQ(slurp(dir / "s.csv"), kHeader + "A,1,0:01:05,スクラム,\"\",65.5,80.25,結果=成功\n"
                                              "B,2,0:12:34,トライ,\"x\",754.25\n"
                                              "A,3,0:13:20,キック,\"\",800.0,,"
                                              "\"a,b=say \"\"hi\"\";g\\=1\\;=t\\\\x\nline\"\n");
    ASSERT_EQ(TagFileManager::saveCSVFile(dir / "e.csv", rows, false), "");
    EXPECT_EQ(slurp(dir / "e.csv"),
              "Team, INDEX, 再生時刻, タグ内容, コメント, 終了時刻, ラベル\n"
              "A,1,0:01:05,スクラム,\"\",0:01:20,結果=成功\n"
              "B,2,0:12:34,トライ,\"x\",,\n"
              "A,3,0:13:20,キック,\"\",,\"a,b=say \"\"hi\"\";g\\=1\\;=t\\\\x\nline\"\n");
    for (const char* name : {"s.csv", "e.csv"}) {
        const auto back = TagFileManager::readCSVFile(dir / name);
        EXPECT_FALSE(back.damaged()) << name;
        ASSERT_EQ(back.rows.size(), 3u);
        EXPECT_EQ(back.rows[0]->end, TagEnd::at(name[0] == 's' ? 80.25f : 80.0f));
        EXPECT_EQ(back.rows[1]->end, TagEnd{});
        EXPECT_TRUE(back.rows[1]->labels.empty());
        EXPECT_EQ(back.rows[2]->end, TagEnd{});
        for (size_t i : {0, 2})
            EXPECT_EQ(back.rows[i]->labels, rows[i]->labels) << name;
    }
}

TEST_F(TagFile, UnreadableEndsAndLabelsAreReportedByLine) {
    spit(dir / "x.csv", kHeader +                                        // 1
                            "A,1,0:00:01,PG,\"\",1.0,late,結果=成功\n"   // 2 end
                            "A,2,0:00:02,PG,\"\",2.0,3.5,結果\n"         // 3 no '='
                            "A,3,0:00:03,PG,\"\",3.0,,=x;g=a;g=b;h=\\\n" // 4 three faults
                            "A,4,0:00:04,PG,\"\",4.0,4.5\n"              // 5 seven: long
                            "A,5,0:00:05,PG,\"\",5.0,,,\n"               // 6 nine: long
                            "A,6,0:00:06,PG,\"\",6.0,,\n");              // 7 nothing to read
    const auto back = TagFileManager::readCSVFile(dir / "x.csv");
    EXPECT_EQ(back.unreadableExtras, (std::vector<size_t>{2, 3, 4}));
    EXPECT_EQ(back.longRows, (std::vector<size_t>{5, 6}));
    ASSERT_EQ(back.rows.size(), 6u);
    const std::pair<TagEnd, TagLabels> read[] = {
        {{}, {{"結果", "成功"}}}, {TagEnd::at(3.5f), {}}, {{}, {{"g", "a"}}}, {{}, {}}};
    for (size_t i = 0; i < std::size(read); ++i)
        EXPECT_EQ(std::pair(back.rows[i]->end, back.rows[i]->labels), read[i]) << i;
    EXPECT_EQ(back.rows[5]->time_val, 6.0f);
}

TEST_F(TagFile, FailedWritesLeaveTheOldFileAndNoLitter) {
    EXPECT_EQ(TagFileManager::saveCSVFile("", {}, true), "File name is empty");
    const fs::path file = dir / "s.csv";
    spit(file, "old contents");
    ::chmod(file.c_str(), 0640);
    const std::vector rows{tag(true, 1, "DG", "")};

    EXPECT_NE(TagFileManager::saveCSVFile(dir / "missing" / "s.csv", rows, true), "");
    if (::geteuid() != 0) { // root writes anywhere; the folder test needs a user
        fs::permissions(dir, fs::perms::owner_write, fs::perm_options::remove);
        const std::string err = TagFileManager::saveCSVFile(file, rows, true);
        EXPECT_THAT(err, HasSubstr("Permission denied"));
        fs::permissions(dir, fs::perms::owner_write, fs::perm_options::add);
        EXPECT_EQ(slurp(file), "old contents");
    }
    // A folder standing where the file should go fails at the rename, after
    // the temporary file was written: it must be cleaned up.
    fs::create_directories(dir / "taken.csv");
    EXPECT_NE(TagFileManager::saveCSVFile(dir / "taken.csv", rows, true), "");
    EXPECT_TRUE(fs::is_directory(dir / "taken.csv"));
    EXPECT_EQ(slurp(file), "old contents");
    EXPECT_EQ(filesIn(dir), 2) << "temporary files left behind";

    // Success replaces the file whole and keeps its permissions.
    ASSERT_EQ(TagFileManager::saveCSVFile(file, rows, true), "");
    EXPECT_EQ(slurp(file), kHeader + "A,1,0:00:01,DG,\"\",1.0\n");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(filesIn(dir), 2);
}

TEST_F(TagFile, RandomContentsReadBackExactly) {
    std::mt19937 rng(20261206);
    const std::string alphabet[] = {"a", ",", "\"", "\n", "\r", " ", "日", "🏉", "\r\n", "x\"\"y"};
    std::mt19937 extras(7);
    const char* labelSigns[] = {"=", ";", "\\", ""};
    const char* names[] = {"a,b",    "say \"x\"", "two\nlines", "cr\rx", "\"",
                           "ラック", " spaced ",  "",           "it's",  "a;b"};
    for (int round = 0; round < 40; ++round) {
        std::vector<std::shared_ptr<TagRowData>> rows;
        const int count = static_cast<int>(rng() % 50);
        for (int i = 0; i < count; ++i) {
            std::string comment;
            for (unsigned k = rng() % 12; k > 0; --k)
                comment += alphabet[rng() % std::size(alphabet)];
            uint32_t bits = rng() % 0x4C000000u; // finite, non-negative, below ~3e7
            float t;
            std::memcpy(&t, &bits, sizeof t);
            rows.push_back(tag(rng() % 2 == 0, t, names[rng() % std::size(names)], comment));
            // Ends and labels on some tags, of the same alphabet and the
            // label separators.
            if (extras() % 3 == 0)
                rows.back()->end = TagEnd::at(t + static_cast<float>(extras() % 1000) / 8);
            for (const char* group : {"結果", "g=;\\", ",\""})
                if (extras() % 3 == 0)
                    rows.back()->labels.emplace_back(group, comment + labelSigns[extras() % 4]);
        }
        const bool session = round % 2 == 0;
        const fs::path file = dir / "r.csv";
        ASSERT_EQ(TagFileManager::saveCSVFile(file, rows, session), "");
        const auto loaded = TagFileManager::loadCSVFile(file);
        ASSERT_EQ(loaded.size(), rows.size()) << "round " << round;
        // Only the session form keeps fractions.
        auto fields = [](const TagRowData& r, bool cut) {
            const auto time = [cut](float t) { return cut ? std::trunc(t) : t; };
            return std::tuple(r.comment, r.name, r.team, r.time_string, time(r.time_val), r.labels,
                              r.end.state, time(r.end.time));
        };
        for (size_t i = 0; i < rows.size(); ++i) {
            ASSERT_EQ(loaded[i]->index, static_cast<int64_t>(i));
            ASSERT_EQ(fields(*loaded[i], false), fields(*rows[i], !session)) << "row " << i;
        }
    }
}

TEST(SessionFilePath, ReplacesOnlyTheFileNamesExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"/Volumes/Cam/day.two final.m2ts", "/Volumes/Cam/day.two final.csv"},
        {"/Users/coach/set.b/game.MTS", "/Users/coach/set.b/game.csv"},
        {"/home/v/day..two.mp4", "/home/v/day.two.csv"},
        {"/home/v/.hidden.mp4", "/home/v/.hidden.csv"},
        {"/home/v/noext", "/home/v/noext.csv"},
        {"/home/v/tags.csv", "/home/v/tags.csv.csv"},
        {"/home/v/", ""},
    };
    for (const auto& [video, session] : cases)
        EXPECT_EQ(TagFileManager::sessionFilePath(video), session) << video;
}

TEST_F(TagFile, RowsThatLoseSomethingAreReportedByLine) {
    ASSERT_EQ(TagFileManager::saveCSVFile(dir / "clean.csv", {tag(true, 1, "DG", "a\nb")}, true),
              "");
    EXPECT_FALSE(TagFileManager::readCSVFile(dir / "clean.csv").damaged());
    spit(dir / "empty.csv", "");
    EXPECT_FALSE(TagFileManager::readCSVFile(dir / "empty.csv").damaged());
    // A spreadsheet may drop the spaces of the header; an export has no sixth column.
    spit(dir / "export.csv", "Team,INDEX,再生時刻,タグ内容,コメント\nB,1,0:01:05,PG,\"\"\n\n");
    const auto exported = TagFileManager::readCSVFile(dir / "export.csv");
    EXPECT_FALSE(exported.damaged());
    ASSERT_EQ(exported.rows.size(), 1u);
    EXPECT_EQ(exported.rows[0]->time_val, 65.0f);

    spit(dir / "bad.csv", kHeader +                                 // 1
                              "A,1,0:00:01,ラック,\"\",1.0\n"       // 2
                              "A,2,0:00:02,ラック\n"                // 3 short
                              "B,3,0:00:03,DG,\"two\nlines\",3.5\n" // 4-5
                              "A,4,0:00:04,a,b,\"c\",4.0\n"         // 6 long: an unquoted name
                              "A,5,0:00:05,PG,\"\",five\n"          // 7 time
                              "A,6,1:2,PG,\"\"\n"                   // 8 time
                              "A,7,0:x:09,PG,\"\"\n"                // 9 time
                              "\n"                                  // 10 blank: nothing lost
                              "B,8,0:00:10,UE,\"\", 10.5 \r\n"      // 11
                              "x\r\n"                               // 12 short
                              "A,9,0:00:12,UE,\"\",+1e999\n"        // 13 inf: not read
                              "A,10,0:00:13,UE,\"\"");              // 14, no line end
    const auto bad = TagFileManager::readCSVFile(dir / "bad.csv");
    EXPECT_TRUE(bad.damaged());
    EXPECT_TRUE(bad.error.empty());
    EXPECT_FALSE(bad.headerMissing);
    EXPECT_EQ(bad.shortRows, (std::vector<size_t>{3, 12}));
    EXPECT_EQ(bad.longRows, (std::vector<size_t>{6}));
    EXPECT_EQ(bad.unreadableTimes, (std::vector<size_t>{7, 8, 9}));
    EXPECT_EQ(bad.badTimes, (std::vector<size_t>{13}));
    // Every other row with five fields or more is still loaded, by the usual rules.
    ASSERT_EQ(bad.rows.size(), 8u);
    EXPECT_EQ(bad.rows[1]->comment, "two\nlines");
    EXPECT_EQ(bad.rows[2]->name, "a");
    EXPECT_EQ(bad.rows[3]->time_val, 0.0f);
    EXPECT_EQ(bad.rows[6]->time_val, 10.5f);
    EXPECT_EQ(bad.rows[7]->time_val, 13.0f);
    EXPECT_EQ(bad.rows[7]->index, 7);
    EXPECT_EQ(TagFileManager::loadCSVFile(dir / "bad.csv").size(), 8u);

    spit(dir / "noheader.csv", "B,1,0:00:09,DG,\"\",9.0\nA,2,0:00:10,PG,\"\",10.0\n");
    const auto noHeader = TagFileManager::readCSVFile(dir / "noheader.csv");
    EXPECT_TRUE(noHeader.headerMissing);
    EXPECT_TRUE(noHeader.damaged());
    EXPECT_EQ(noHeader.rows.size(), 1u);
}

TEST_F(TagFile, AnUnclosedQuoteIsReportedAndSwallowsNoTag) {
    // A comment's closing quote deleted by hand once took the next tags into
    // the comment and the first tag's time from the last of them.
    spit(dir / "edited.csv", kHeader +                                   // 1
                                 "A,1,0:00:05,ラック,\"good pass,5.25\n" // 2
                                 "B,2,0:00:10,DG,\"\",10.5\n"            // 3
                                 "A,3,0:00:15,PG,\"nice\",15.75\n"       // 4
                                 "\"A,4,0:00:20,UE,\"\",20.0,x\n"        // 5: team "A
                                 "B,5,0:00:25,UE,\"\",25.0\n");          // 6
    const auto read = TagFileManager::readCSVFile(dir / "edited.csv");
    EXPECT_TRUE(read.damaged());
    EXPECT_EQ(read.unclosedQuotes, (std::vector<size_t>{2, 5}));
    EXPECT_EQ(read.longRows, (std::vector<size_t>{5}));
    ASSERT_EQ(read.rows.size(), 5u);
    std::vector<float> times;
    for (const auto& r : read.rows)
        times.push_back(r->time_val);
    EXPECT_EQ(times, (std::vector<float>{5.25f, 10.5f, 15.75f, 20.0f, 25.0f}));
    EXPECT_EQ(read.rows[0]->comment, "\"good pass");
    EXPECT_EQ(read.rows[1]->name, "DG");
    EXPECT_EQ(read.rows[2]->comment, "nice");
    // The format's rules hold for such rows too: a team other than exactly
    // "A" is team B, fields after the sixth are dropped.
    EXPECT_FALSE(read.rows[3]->team);
    EXPECT_EQ(read.rows[3]->name, "UE");
}

TEST_F(TagFile, FilesThatCannotBeReadSayWhy) {
    const auto missing = TagFileManager::readCSVFile(dir / "none.csv");
    EXPECT_FALSE(missing.damaged());
    EXPECT_FALSE(TagFileManager::readCSVFile(dir / "none" / "x.csv").damaged());

    fs::create_directories(dir / "folder.csv");
    const auto folder = TagFileManager::readCSVFile(dir / "folder.csv");
    EXPECT_TRUE(folder.damaged());
    EXPECT_EQ(folder.errorCode, EISDIR);
    EXPECT_THAT(folder.error, HasSubstr("folder.csv: Is a directory"));
    EXPECT_TRUE(folder.rows.empty());

    // The plain load gives an empty list, and the system log hears of a
    // file that is there but cannot be read, once.
    std::vector<std::string> logged;
    const auto previous =
        setSystemLogSink([&](std::string_view line) { logged.emplace_back(line); });
    EXPECT_TRUE(TagFileManager::loadCSVFile("").empty());
    EXPECT_TRUE(TagFileManager::loadCSVFile(dir / "none.csv").empty());
    EXPECT_TRUE(TagFileManager::loadCSVFile(dir / "folder.csv").empty());
    setSystemLogSink(previous);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_THAT(logged[0], HasSubstr("Is a directory"));

    if (::geteuid() != 0) { // root reads anything
        spit(dir / "locked.csv", kHeader);
        ::chmod((dir / "locked.csv").c_str(), 0);
        const auto locked = TagFileManager::readCSVFile(dir / "locked.csv");
        EXPECT_EQ(locked.errorCode, EACCES);
        EXPECT_TRUE(locked.damaged());
    }
}

// Exact seconds as the writer writes them, random digit strings and odd
// spellings of a hand-edited file all read as the general number reader
// reads them, to the bit.
TEST(TagFileManagerSeconds, ReadLikeTheGeneralNumberReader) {
    std::mt19937 rng(5);
    std::vector<std::string> texts = {"-0.0", "1.",   ".5",    "007.250",
                                      "1e3",  "+2.5", "12.5 ", "1234567890123456"};
    for (int i = 0; i < 3000; ++i) {
        uint32_t bits = rng();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        if (std::isfinite(f))
            texts.push_back(floatText(std::fabs(f)));
        std::string digits = std::to_string(rng() % 100000000);
        digits.insert(digits.size() - std::min<size_t>(digits.size() - 1, rng() % 9), ".");
        texts.push_back(digits);
    }
    std::string file = std::string(TagFileManager::kHeader) + "\n";
    for (const auto& t : texts)
        file += "A,1,0:00:00,PG,\"\"," + t + "\n";
    const auto path = std::filesystem::temp_directory_path() /
                      ("rucktag-seconds-" + std::to_string(::getpid()) + ".csv");
    std::ofstream(path, std::ios::binary) << file;
    const auto rows = TagFileManager::loadCSVFile(path);
    std::filesystem::remove(path);
    ASSERT_EQ(rows.size(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        const float want = static_cast<float>(readDecimal(texts[i]));
        EXPECT_EQ(std::memcmp(&rows[i]->time_val, &want, sizeof want), 0) << texts[i];
    }
}

// Times no video has are not read, by line: a session never brings back NaN.
TEST_F(TagFile, TimesNoVideoHasAreLeftOutByLine) {
    const auto read =
        TagFileManager::readCSVFile(fs::path(RUCKTAG_TEST_DATA) / "hostile/bad-times.csv");
    EXPECT_TRUE(read.damaged());
    EXPECT_EQ(read.badTimes, (std::vector<size_t>{3, 4, 5, 6, 7, 8}));
    EXPECT_TRUE(read.unreadableTimes.empty());
    ASSERT_EQ(read.rows.size(), 2u);
    EXPECT_EQ(read.rows[0]->time_val, 1.0f);
    EXPECT_EQ(read.rows[1]->end, TagEnd::at(8.0f));
    EXPECT_EQ(read.rows[1]->index, 1);
}

// A line of 100,000 labels: the first kMaxLabelsPerTag are kept (a tag that
// an edit list can carry whole), and the line is said. bench_xml times it.
TEST_F(TagFile, ALineOfManyLabelsIsReadInOnePassAndCut) {
    std::string labels;
    for (int i = 0; i < 100000; ++i)
        labels += (i ? ";g" : "g") + std::to_string(i) + "=t";
    spit(dir / "x.csv", kHeader + "A,1,0:00:01,PG,\"\",1.0,," + labels + "\n");
    const auto back = TagFileManager::readCSVFile(dir / "x.csv");
    ASSERT_EQ(back.rows.size(), 1u);
    EXPECT_EQ(back.rows[0]->labels.size(), kMaxLabelsPerTag);
    EXPECT_EQ(back.rows[0]->labels.back(), (std::pair<std::string, std::string>{
                                               "g" + std::to_string(kMaxLabelsPerTag - 1), "t"}));
    EXPECT_EQ(back.unreadableExtras, (std::vector<size_t>{2}));
}

// With periods the export ends every line with the tag's match time, the
// columns before it as they were; reading it back gives the tags it gives
// without. No periods, or the session form: byte for byte as without a match.
TEST_F(TagFile, ExportAddsMatchTimeLastOnlyWithPeriods) {
    MatchInfo match;
    match.periods = {{"前半", 100, 2500, 0}, {"後半", 3000, MatchPeriod::kOpenEnd, 2400}};
    for (const bool extras : {false, true}) {
        SCOPED_TRACE(extras);
        std::vector rows{tag(true, 50, "スクラム"), tag(false, 854, "トライ", "x,y"),
                         tag(true, 2700, "キック"), tag(false, 3061, "PG")};
        if (extras)
            rows[1]->end = TagEnd::at(900);
        const std::string plain = TagFileManager::csvText(rows, false);
        const MatchInfo none;
        EXPECT_EQ(TagFileManager::csvText(rows, false, &none), plain);
        EXPECT_EQ(TagFileManager::csvText(rows, true, &match), TagFileManager::csvText(rows, true));
        const std::string timed = TagFileManager::csvText(rows, false, &match);
        std::istringstream plainLines(plain), timedLines(timed);
        const std::vector<std::string> times = {"試合時間", "試合前", "前半 12:34", "ハーフタイム",
                                                "後半 41:01"};
        std::string p, t;
        for (const std::string& time : times) {
            ASSERT_TRUE(std::getline(plainLines, p) && std::getline(timedLines, t));
            EXPECT_EQ(t, p + (time == "試合時間" ? ", " : ",") + time);
        }
        EXPECT_FALSE(std::getline(timedLines, t));
        spit(dir / "timed.csv", timed);
        const auto back = TagFileManager::readCSVFile(dir / "timed.csv");
        EXPECT_FALSE(back.damaged());
        EXPECT_EQ(TagFileManager::csvText(back.rows, false), plain);
    }
}
