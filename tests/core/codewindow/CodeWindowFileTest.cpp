#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "codewindow/CodeWindowFile.h"
#include "support/Deadline.h"
#include "support/Scratch.h"

using ::testing::HasSubstr;

namespace fs = std::filesystem;

namespace {

class CodeWindowFiles : public ::testing::Test {
protected:
    void SetUp() override { dir = freshScratchDir("rucktag-codewindows-"); }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

// A window using every field, with names that need escaping in JSON and as
// labels in the session file.
CodeWindow fullWindow() {
    CodeWindow w;
    w.name = "7人制 \"本番\"";
    Code scrum;
    scrum.name = "スクラム";
    scrum.color = "#f08000";
    scrum.keyA = "1";
    scrum.keyB = "Shift+1";
    scrum.lead = 5;
    scrum.lag = 10.5;
    Code attack;
    attack.name = "攻撃\\前進\n二行";
    attack.color = "#00AA00";
    attack.mode = CodeMode::Duration;
    attack.group = "局面";
    attack.keyA = "Ctrl+Alt+F1";
    w.codes = {scrum, attack};
    w.labels = {{"結果", {"成功", "失敗"}, {"Q", "W"}}, {"a=b;c", {"x;y=z", "\t🏉\x1f"}, {}}};
    return w;
}

std::vector<std::string> problemsOf(const std::string& text) {
    return parseCodeWindow(text, "w.json").problems;
}

} // namespace

TEST_F(CodeWindowFiles, TheDocumentedFormReadsAndWindowsWriteAndReadBack) {
    const auto read = parseCodeWindow(
        R"({"format": "rucktag-codewindow", "version": 1, "name": "7人制",
            "codes": [{"name": "スクラム", "color": "#f08000", "keyA": "1", "keyB": "Shift+1",
                       "lead": 5, "lag": 10, "mode": "point", "group": ""},
                      {"name": "\u653b\u6483\ud83c\udc00", "mode": "duration", "lead": null, "future": [1]}],
            "labels": [{"group": "結果", "texts": ["成功", "失敗"], "keys": ["Q", "W"]}]})",
        "7.json");
    ASSERT_TRUE(read.ok()) << read.problems.front();
    ASSERT_EQ(read.window.codes.size(), 2u);
    const Code& scrum = read.window.codes[0];
    EXPECT_EQ(scrum.keyB, "Shift+1");
    EXPECT_EQ(scrum.lead, 5.0);
    EXPECT_EQ(scrum.lag, 10.0);
    const Code& attack = read.window.codes[1];
    EXPECT_EQ(attack.name, "攻撃🀀");
    EXPECT_EQ(attack.color, "#808080");
    EXPECT_EQ(attack.mode, CodeMode::Duration);
    EXPECT_FALSE(attack.lead);
    EXPECT_EQ(read.window.labels[0].keys, (std::vector<std::string>{"Q", "W"}));

    const CodeWindow w = fullWindow();
    const auto back = parseCodeWindow(codeWindowJson(w), "x.json");
    ASSERT_TRUE(back.ok()) << back.problems.front();
    EXPECT_EQ(back.window, w);

    const fs::path file = dir / codeWindowFileName(w.name);
    ASSERT_EQ(writeCodeWindowFile(file, w), "");
    EXPECT_EQ(readCodeWindowFile(file).window, w);
    EXPECT_NE(writeCodeWindowFile(dir / "s.json", CodeWindow::standard()), "");
    CodeWindow bad = w;
    bad.codes[1].name = "スクラム";
    EXPECT_NE(writeCodeWindowFile(dir / "bad.json", bad), "");
    EXPECT_FALSE(fs::exists(dir / "bad.json"));
    EXPECT_EQ(codeWindowFileName("../a/b"), "_.._a_b.json");
}

TEST_F(CodeWindowFiles, ProblemsNameTheFileAndTheLine) {
    EXPECT_EQ(problemsOf(R"({"format": "rucktag-codewindow", "version": 1, "name": "7人制",
 "codes": [
  {"name": "攻撃", "mode": "duration", "group": "局面"},
  {"name": "攻撃", "color": "red"},
  {"name": "PG", "lead": "5", "keyA": "Q"},
  {"name": "DG", "mode": "long", "lag": 75},
  3
 ],
 "labels": [{"group": "結果", "texts": ["成功", 3], "keys": ["q"]}]})"),
              (std::vector<std::string>{
                  "w.json:4: コード名「攻撃」が重複しています",
                  "w.json:4: 色は #rrggbb の形で書いてください",
                  "w.json:5: 「lead」は秒数で書いてください",
                  "w.json:6: 「mode」は \"point\" か \"duration\" です",
                  "w.json:6: 後の秒数は 0 から 60 までです",
                  "w.json:7: コードは {…} で書いてください",
                  "w.json:9: 「texts」には文字列（\"…\"）だけを書いてください",
                  "w.json:9: キー「q」がほかにも割り当てられています",
              }));
    // Text that is not JSON, by the line where reading stopped.
    const std::pair<const char*, const char*> broken[] = {
        {"{\"a\": 1\n\n\"b\": 2}",
         "w.json:3: JSON として読めません（「,」か「}」があるべきところです）"},
        {"{\"a\": [1, 2,]}", "w.json:1: JSON として読めません（読めない値があります）"},
        {"{\"a\":\n\"x\ny\"}",
         "w.json:2: JSON として読めません（文字列の中に改行や制御文字があります（\\n "
         "と書いてください））"},
        {"{\"a\": \"\xff\"}", "w.json:1: JSON として読めません（UTF-8 ではない文字があります）"},
        {"{\"a\": \"\\ud800\\u0041\"}",
         "w.json:1: JSON として読めません（文字列の中に読めない「\\u」があります）"},
        {"{\"a\": 1, \"a\": 2}",
         "w.json:1: JSON として読めません（項目「a」が二度書かれています）"},
        {"{\"a\": 01}", "w.json:1: JSON として読めません（読めない値があります）"},
        {"\n{\"a\": ", "w.json:2: JSON として読めません（ファイルが途中で終わっています）"},
        {"[\"rucktag-codewindow\"]", "w.json:1: ファイル全体を {…} で書いてください"},
        {"{\"format\": \"rucktag-codewindow\",\n \"version\": 2}",
         "w.json:2: 新しい版（version 2）のファイルのため、この版では読めません"},
    };
    for (const auto& [text, problem] : broken)
        EXPECT_EQ(problemsOf(text), std::vector<std::string>{problem}) << text;
    EXPECT_EQ(problemsOf(std::string(100, '[') + std::string(100, ']')),
              std::vector<std::string>{"w.json:1: JSON として読めません（入れ子が深すぎます）"});
}

TEST_F(CodeWindowFiles, TheListOffersTheStandardWindowFirstAndReportsTheRest) {
    EXPECT_EQ(listCodeWindows(dir / "none").windows.size(), 1u);
    EXPECT_TRUE(listCodeWindows(dir / "none").problems.empty());

    CodeWindow b = fullWindow().duplicate("B窓"), a = b.duplicate("A窓");
    ASSERT_EQ(writeCodeWindowFile(dir / "1.json", b), "");
    ASSERT_EQ(writeCodeWindowFile(dir / "2.json", a), "");
    ASSERT_EQ(writeCodeWindowFile(dir / "3.json", a), "");
    spit(dir / "4.json", codeWindowJson(a.duplicate("標準")));
    spit(dir / "5.json", "{\n\"format\": \"rucktag-codewindow\", \"version\": 1,\n\"name\": 7}");
    spit(dir / ".6.json.ABCDEF", "half a write");
    spit(dir / "notes.txt", "not a window");
    fs::create_directories(dir / "7.json");

    const CodeWindowList list = listCodeWindows(dir);
    std::vector<std::string> names;
    for (const auto& w : list.windows)
        names.push_back(w.name);
    EXPECT_EQ(names, (std::vector<std::string>{"標準", "A窓", "B窓"}));
    EXPECT_TRUE(list.windows[0].builtIn);
    EXPECT_EQ(list.files, (std::vector<fs::path>{{}, dir / "2.json", dir / "1.json"}));
    EXPECT_EQ(
        list.problems,
        (std::vector<std::string>{
            "3.json: 「A窓」という名前のウィンドウは 2.json にもあるため、読み込みませんでした",
            "4.json:4: 「標準」は組み込みのウィンドウの名前です",
            "5.json:1: コードがひとつもありません",
            "5.json:3: 「name」は文字列（\"…\"）で書いてください",
            "7.json: 読めません（Is a directory）"}));
}

// A hand-edited file with keys the player keeps is still offered: those keys
// are taken off (a press would otherwise play or pause, never record) and the
// list says so.
TEST_F(CodeWindowFiles, KeysThePlayerKeepsAreTakenOffAndReported) {
    spit(dir / "k.json", R"({"format": "rucktag-codewindow", "version": 1, "name": "鍵",
 "codes": [{"name": "スクラム", "keyA": "a", "keyB": "Q"},
           {"name": "ラインアウト", "keyA": "E", "keyB": "W"}],
 "labels": [{"group": "結果", "texts": ["成功", "失敗"], "keys": ["R", "Space"]}]}
)");
    const CodeWindowList list = listCodeWindows(dir);
    ASSERT_EQ(list.windows.size(), 2u) << ::testing::PrintToString(list.problems);
    const CodeWindow& w = list.windows[1];
    EXPECT_EQ(w.codes[0].keyA, "");
    EXPECT_EQ(w.codes[0].keyB, "Q");
    EXPECT_EQ(w.codes[1].keyA, "E");
    EXPECT_EQ(w.labels[0].keys, (std::vector<std::string>{"R", ""}));
    EXPECT_EQ(
        list.problems,
        (std::vector<std::string>{
            "k.json: 1 番目のコード（チームA）：キー「a」はプレーヤーのキー（再生）のため使え"
            "ません。このキーを外しました",
            "k.json: 1 番目のラベルグループ：キー「Space」はプレーヤーのキー（再生／一時停止）"
            "のため使えません。このキーを外しました"}));
}

// Shift with a player's key is the player's key (its key map reads Shift
// alike): taken off and said, as the plain key is. A number-row symbol is
// the row's digit, whichever keyboard wrote it.
TEST_F(CodeWindowFiles, ShiftedKeysReadAsThePlayerAndTheNumberRowReadThem) {
    fs::copy_file(fs::path(RUCKTAG_TEST_DATA) / "codewindows" / "shifted-keys.json",
                  dir / "s.json");
    const CodeWindowList list = listCodeWindows(dir);
    ASSERT_EQ(list.windows.size(), 2u) << ::testing::PrintToString(list.problems);
    const CodeWindow& w = list.windows[1];
    EXPECT_EQ(w.codes[0].keyA, "");
    EXPECT_EQ(w.codes[0].keyB, "Shift+1");
    EXPECT_EQ(w.codes[1].keyA, "");
    EXPECT_EQ(w.codes[1].keyB, "Ctrl+Shift+5");
    EXPECT_EQ(w.labels[0].keys, (std::vector<std::string>{"Shift+2", ""}));
    EXPECT_EQ(list.problems,
              (std::vector<std::string>{
                  "s.json: 1 番目のコード（チームA）：キー「Shift+A」はプレーヤーのキー（再生）の"
                  "ため使えません。このキーを外しました",
                  "s.json: 2 番目のコード（チームA）：キー「Shift+<」はプレーヤーのキー（クリップ"
                  "の開始）のため使えません。このキーを外しました",
                  "s.json: 1 番目のラベルグループ：キー「Shift+Space」はプレーヤーのキー（再生／"
                  "一時停止）のため使えません。このキーを外しました"}));
    // Written on two keyboards, one key.
    EXPECT_EQ(problemsOf(R"({"format": "rucktag-codewindow", "version": 1, "name": "x",
 "codes": [{"name": "a", "keyA": "Shift+1"}, {"name": "b", "keyA": "shift+!"}]})"),
              std::vector<std::string>{"w.json:2: キー「shift+1」がほかにも割り当てられています"});
}

// Hostile files are read at once, whatever their shape: an object of tens of
// thousands of members, a window of thousands of codes each with its own key,
// and the crafted files kept with the tests.
TEST_F(CodeWindowFiles, HostileFilesAreReadInTimeLinearInTheirSize) {
    std::string members = R"({"format": "rucktag-codewindow", "version": 1, "name": "m",
 "codes": [{"name": "a"}])";
    for (int i = 0; members.size() < kMaxCodeWindowFileBytes - 40; ++i)
        members += ",\n \"x" + std::to_string(i) + "\": " + std::to_string(i);
    members += "}\n";
    std::ofstream(dir / "members.json") << members;
    // As many keyed codes as a window holds, their names long enough to make
    // the file nearly as large as is read.
    CodeWindow keyed;
    keyed.name = "k";
    for (size_t i = 0; i < kMaxCodes; ++i) {
        const std::string n = std::to_string(i);
        keyed.codes.push_back({"c" + n + std::string(3900, 'x'),
                               "#112233",
                               "F" + n,
                               "G" + n,
                               {},
                               {},
                               CodeMode::Point,
                               ""});
    }
    ASSERT_GT(codeWindowJson(keyed).size(), kMaxCodeWindowFileBytes * 9 / 10);
    ASSERT_EQ(writeCodeWindowFile(dir / "keys.json", keyed), "");
    // Thousands of codes are refused by their count, without a look at each.
    std::string many =
        R"({"format": "rucktag-codewindow", "version": 1, "name": "many", "codes": [)";
    for (int i = 0; i < 9000; ++i)
        many += std::string(i ? "," : "") + "\n {\"name\": \"c" + std::to_string(i) +
                "\", \"keyA\": \"F" + std::to_string(i) + "\"}";
    std::ofstream(dir / "many.json") << many << "]}\n";
    for (const auto& entry : fs::directory_iterator(fs::path(RUCKTAG_TEST_DATA) / "codewindows"))
        fs::copy_file(entry.path(), dir / entry.path().filename());

    // A guard against the quadratic paths, not a speed target:
    // bench_codewindow measures these files.
    const CodeWindowList list = [&] {
        Deadline deadline(20, "reading hostile code window files");
        return listCodeWindows(dir);
    }();
    std::vector<std::string> names;
    for (const CodeWindow& w : list.windows)
        names.push_back(w.name);
    EXPECT_EQ(names, (std::vector<std::string>{"標準", "k", "m", "シフト"}));
    EXPECT_EQ(list.windows[1], keyed);
    // The rest say why, by file and line.
    for (const char* said :
         {"deep.json:1: JSON として読めません（入れ子が深すぎます）",
          "many.json:1: コードが多すぎます（9000 個。250 個まで）",
          "late-duplicate.json:2003: JSON として読めません（項目「k7」が二度書かれています）",
          "lone-surrogate.json:2: JSON として読めません（文字列の中に読めない「\\u」があります）",
          "overlong-utf8.json:1: JSON として読めません（UTF-8 ではない文字があります）"})
        EXPECT_NE(std::find(list.problems.begin(), list.problems.end(), said), list.problems.end())
            << said << "\n"
            << ::testing::PrintToString(list.problems);
}

// A window the folder could not read back (an import adding thousands of
// codes) is refused before anything is written, saying why.
TEST_F(CodeWindowFiles, AWindowTooLargeToReadBackIsNeverWritten) {
    CodeWindow big = CodeWindow::standard().duplicate("標準 (読込)");
    for (int i = 0; i < 12000; ++i)
        big.codes.push_back(
            {"読込コード" + std::to_string(i), "#808080", "", "", {}, {}, CodeMode::Point, ""});
    EXPECT_EQ(writeCodeWindowFile(dir / "big.json", big),
              "コードが多すぎます（12018 個。250 個まで）");
    EXPECT_FALSE(fs::exists(dir / "big.json"));
    big.codes.resize(kMaxCodes);
    for (Code& code : big.codes)
        code.name += std::string(4500, 'x');
    const std::string failed = writeCodeWindowFile(dir / "big.json", big);
    EXPECT_EQ(failed.rfind("ファイルが大きすぎます（", 0), 0u) << failed;
    EXPECT_THAT(failed, HasSubstr("1024 KB まで"));
    EXPECT_FALSE(fs::exists(dir / "big.json"));
    // One that fits is written and read back whole.
    for (Code& code : big.codes)
        code.name.resize(code.name.size() - 1000);
    ASSERT_EQ(writeCodeWindowFile(dir / "big.json", big), "");
    EXPECT_EQ(readCodeWindowFile(dir / "big.json").window, big);
}
