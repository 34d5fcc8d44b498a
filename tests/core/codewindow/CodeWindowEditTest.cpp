#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "codewindow/CodeWindow.h"

using ::testing::HasSubstr;

namespace {

Code code(std::string name, std::string keyA = {}, std::string keyB = {}) {
    Code c;
    c.name = std::move(name);
    c.color = "#336699";
    c.keyA = std::move(keyA);
    c.keyB = std::move(keyB);
    return c;
}

// スクラム Q / Shift+Q, ラインアウト only B's key W, a label group with E, R.
CodeWindow keyed() {
    CodeWindow w;
    w.name = "7人制";
    w.codes = {code("スクラム", "Q", "Shift+Q"), code("ラインアウト", "", "W")};
    w.labels = {{"結果", {"成功", "失敗"}, {"E", "R"}}};
    return w;
}

using Kind = KeyPlace::Kind;

} // namespace

// The message names who holds a key: a code with its team, a label with its
// group, or the player with what the key does there.
TEST(CodeWindowKeys, ATakenKeyIsRefusedNamingItsHolder) {
    const CodeWindow w = keyed();
    const KeyPlace newA{Kind::CodeA, 1, 0};
    EXPECT_EQ(keyTakenMessage(w, "Q", newA),
              "キー「Q」はすでにコード「スクラム」（チームA）に割り当てられています");
    EXPECT_EQ(keyTakenMessage(w, "shift+q", newA),
              "キー「shift+q」はすでにコード「スクラム」（チームB）に割り当てられています");
    EXPECT_EQ(keyTakenMessage(w, "R", newA),
              "キー「R」はすでにラベル「結果：失敗」に割り当てられています");
    EXPECT_EQ(keyTakenMessage(w, "Space", newA),
              "キー「Space」はプレーヤーのキー（再生／一時停止）のため使えません");
    // Letters in either case are one key; a modifier makes another.
    EXPECT_NE(keyTakenMessage(w, "a", newA), "");
    EXPECT_NE(keyTakenMessage(w, "Ctrl+Shift+Z", newA), "");
    EXPECT_EQ(keyTakenMessage(w, "Ctrl+Q", newA), "");
    // The player reads its keys whatever Shift says (but Ctrl+O), and "<" and
    // ">" as "," and ".".
    EXPECT_EQ(keyTakenMessage(w, "Shift+A", newA),
              "キー「Shift+A」はプレーヤーのキー（再生）のため使えません");
    for (const char* key : {"shift+space", "Shift+PgDown", "Shift+,", "Shift+<", ">", "Shift+Left"})
        EXPECT_THAT(keyTakenMessage(w, key, newA), HasSubstr("プレーヤーのキー"));
    for (const char* key : {"Ctrl+Shift+O", "Ctrl+Shift+Y", "Shift+F"})
        EXPECT_EQ(keyTakenMessage(w, key, newA), "") << key;
    EXPECT_EQ(keyTakenMessage(w, "", newA), "");
}

// A key set again at its own place is free; every player's key is refused
// everywhere, for codes of both teams and for labels.
TEST(CodeWindowKeys, APlaceKeepsItsOwnKeyAndNoPlaceTakesThePlayers) {
    const CodeWindow w = keyed();
    EXPECT_EQ(keyTakenMessage(w, "Q", {Kind::CodeA, 0, 0}), "");
    EXPECT_NE(keyTakenMessage(w, "Q", {Kind::CodeB, 0, 0}), "");
    EXPECT_EQ(keyTakenMessage(w, "R", {Kind::Label, 0, 1}), "");
    EXPECT_NE(keyTakenMessage(w, "R", {Kind::Label, 0, 0}), "");
    EXPECT_NE(keyTakenMessage(w, "W", {Kind::Label, 0, 0}), "");
    const char* const player[] = {"A",      "S",      "D",      "Space",       "Left", "Right",
                                  "Up",     "Down",   ",",      ".",           "PgUp", "PgDown",
                                  "Ctrl+O", "Ctrl+Z", "Ctrl+Y", "Ctrl+Shift+Z"};
    ASSERT_EQ(playerKeys().size(), std::size(player));
    for (const char* key : player)
        for (const KeyPlace place : {KeyPlace{Kind::CodeA, 0, 0}, KeyPlace{Kind::CodeB, 1, 0},
                                     KeyPlace{Kind::Label, 0, 1}})
            EXPECT_THAT(keyTakenMessage(w, key, place), HasSubstr("プレーヤーのキー"));
}

// Names: empty refused; another code's name (composed or not) refused; the
// code's own name is fine.
TEST(CodeWindowKeys, CodeNamesMustBeThereAndUnique) {
    CodeWindow w = keyed();
    w.codes.push_back(code("ﾄﾗｲ"));
    w.codes.push_back(code("が"));
    EXPECT_EQ(codeNameProblem(w, 0, ""), "コードの名前がありません");
    EXPECT_EQ(codeNameProblem(w, 0, "ラインアウト"),
              "コード名「ラインアウト」はほかのコードが使っています");
    EXPECT_EQ(codeNameProblem(w, 1, "ラインアウト"), "");
    EXPECT_NE(codeNameProblem(w, 0, "か\u3099"), ""); // が decomposed
    EXPECT_EQ(codeNameProblem(w, 0, "トライ"), "");   // half-width kana is another name
    // A new code past the end is checked against all.
    EXPECT_NE(codeNameProblem(w, w.codes.size(), "スクラム"), "");
}
