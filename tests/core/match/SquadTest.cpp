#include <gtest/gtest.h>

#include "match/Squad.h"

namespace {

// "12 山田 CTB|15 佐藤 FB" for the players read.
std::string shown(const std::vector<MatchPlayer>& players) {
    std::string out;
    for (const MatchPlayer& p : players)
        out += (out.empty() ? "" : "|") + playerLabel(p) + " " + p.position;
    return out;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines)
        out += (out.empty() ? "" : "|") + l;
    return out;
}

} // namespace

TEST(TeamSheet, ReadsColumnsByTheirHeaderAndSaysBadRowsByLine) {
    struct Case {
        const char* text;
        const char* players;
        const char* problems; // or the sheet's error
    };
    const Case cases[] = {
        {"\xEF\xBB\xBF氏名,ポジション,背番号\r\n山田,CTB,12\r\n佐藤,FB,15\r\n",
         "12 山田 CTB|15 佐藤 FB", ""},
        {"\n No. ,Name\n1, 田中 \n\n２３,鈴木\n", "1 田中 |23 鈴木 ", ""},
        {"番号,名前,Position,メモ\n7,高橋,FL,主将\nx,伊藤,PR\n7,渡辺,LO\n1234,木村,WTB\n",
         "7 高橋 FL",
         "3 行目: 背番号「x」が読めません|4 行目: 背番号 7 が重複しています|5 行目: "
         "背番号「1234」が読めません"},
        {"No,氏名\n9,\"山本\nやまもと\"\n,\n10,中村\nz,x\n", "9 山本\nやまもと |10 中村 ",
         "6 行目: 背番号「z」が読めません"},
        {"背番号,ポジション\n12,CTB\n", "", "1 行目: 見出しの行に背番号と氏名の列がありません"},
        {"", "", "見出しの行がありません"},
        {"No,Name\n12,\x8E\x52\x93\x63\n", "", "UTF-8 の CSV ではありません"},
    };
    for (const Case& c : cases) {
        const TeamSheet sheet = readTeamSheet(c.text);
        EXPECT_EQ(shown(sheet.players), c.players) << c.text;
        const std::string said = sheet.error.empty() ? joined(sheet.problems) : sheet.error;
        EXPECT_EQ(said.substr(0, std::string(c.problems).size()), c.problems) << c.text;
        EXPECT_EQ(sheet.problemCount, sheet.problems.size()) << c.text;
    }
}

TEST(TeamSheet, KeepsTheFirstProblemsOfAHugeSheetAndCountsTheRest) {
    std::string text = "No,Name\n";
    for (int i = 0; i < 100000; ++i)
        text += "?,名無し\n";
    text += "99,最後\n";
    const TeamSheet sheet = readTeamSheet(text);
    EXPECT_EQ(sheet.problemCount, 100000u);
    ASSERT_EQ(sheet.problems.size(), kMaxSheetProblems);
    EXPECT_EQ(sheet.problems.back(), "21 行目: 背番号「?」が読めません");
    EXPECT_EQ(shown(sheet.players), "99 最後 ");
}

TEST(SquadFile, ReadsBackWhatItWritesAndRefusesWhatIsNoSquad) {
    const Squad squad{"東京\"B\"", {{12, "山田", "CTB"}, {0, "", ""}, {999, "佐藤", ""}}};
    Squad read;
    std::string error;
    ASSERT_TRUE(readSquadJson(squadJson(squad), read, error)) << error;
    EXPECT_EQ(read, squad);
    const std::pair<const char*, const char*> bad[] = {
        {R"({"format": "rucktag-match", "version": 1, "name": "x"})", "1 行目: 選手名簿の"},
        {R"({"format": "rucktag-squad", "version": 2, "name": "x"})", "1 行目: この版では"},
        {R"({"format": "rucktag-squad", "version": 1, "players": []})", "1 行目: 名簿の名前"},
        {"{\"format\": \"rucktag-squad\", \"version\": 1, \"name\": \"x\", \"players\": [\n"
         "{\"number\": 7},\n{\"number\": 7}]}",
         "3 行目: 背番号 7 が重複"},
        {"{\"format\": \"rucktag-squad\", \"version\": 1, \"name\": \"x\", \"players\": [\n"
         "{\"number\": 7.5}]}",
         "2 行目: 選手の背番号"},
    };
    for (const auto& [text, message] : bad) {
        error.clear();
        EXPECT_FALSE(readSquadJson(text, read, error)) << text;
        EXPECT_EQ(error.substr(0, std::string(message).size()), message) << text;
    }
}

TEST(MatchPlayers, BecomeTheLabelGroupOfTheWindowOnceEachAndNumbersAreFoundByTheirDigits) {
    MatchInfo match;
    CodeWindow window;
    window.labels = {{"結果", {"成功"}, {"Q"}}};
    EXPECT_EQ(withPlayers(window, match), window);
    match.players[0] = {{12, "山田", ""}, {3, "", "PR"}};
    match.players[1] = {{12, "山田", ""}, {21, "佐藤", ""}};
    CodeWindow with = withPlayers(window, match);
    ASSERT_EQ(with.labels.size(), 2u);
    EXPECT_EQ(with.labels[0], window.labels[0]);
    EXPECT_EQ(with.labels[1].group, kPlayerGroup);
    EXPECT_EQ(with.labels[1].texts, (std::vector<std::string>{"12 山田", "3", "21 佐藤"}));
    // A window's own group of the name keeps its texts and keys, the players after.
    window.labels.push_back({"選手", {"3", "控え"}, {"1"}});
    with = withPlayers(window, match);
    ASSERT_EQ(with.labels.size(), 2u);
    EXPECT_EQ(with.labels[1].texts, (std::vector<std::string>{"3", "控え", "12 山田", "21 佐藤"}));
    EXPECT_EQ(with.labels[1].keys, window.labels[1].keys);

    EXPECT_EQ(playerNumbered(match.players[1], 21)->name, "佐藤");
    EXPECT_EQ(playerNumbered(match.players[1], 2), nullptr);
    const std::pair<int, bool> starts[] = {{1, true}, {2, false}, {0, false}, {3, false}};
    for (const auto& [digit, starts2] : starts)
        EXPECT_EQ(startsTwoDigitNumber(match.players[0], digit), starts2) << digit;
}
