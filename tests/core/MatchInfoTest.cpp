#include <gtest/gtest.h>

#include "match/MatchInfo.h"

namespace {

MatchInfo twoHalves() {
    MatchInfo m;
    m.periods = {{"前半", 312.4, 2790.0, 0}, {"後半", 3600.0, 6105.5, 2400}};
    return m;
}

} // namespace

TEST(MatchTime, ReadsAsTheAnalystCountsInsideBetweenAndOutsidePeriods) {
    const MatchInfo m = twoHalves();
    const std::pair<double, const char*> cases[] = {
        {0.0, "試合前"},
        {312.3, "試合前"},
        {312.4, "前半 0:00"},
        {312.4 + 754.9, "前半 12:34"},
        {2789.9, "前半 41:17"},
        {2790.0, "ハーフタイム"},
        {3599.0, "ハーフタイム"},
        {3600.0, "後半 40:00"},
        {3600.0 + 730.0, "後半 52:10"},
        {6105.5, "試合後"},
        {90000.0, "試合後"},
    };
    for (const auto& [t, text] : cases)
        EXPECT_EQ(matchTimeText(m, t), text) << t;
    EXPECT_EQ(matchClock(m, 3600.0 + 730.0), 2400.0 + 730.0);
    EXPECT_EQ(matchClock(m, 3000.0), -1.0);
    // With no periods the video time shows as it always has.
    EXPECT_EQ(matchTimeText(MatchInfo{}, 754.25), "0:12:34");
}

TEST(MatchTime, AnOpenPeriodHoldsEverythingAfterItsStartAndOtherGapsNameThePeriodBefore) {
    MatchInfo m;
    m.periods = {{"後半", 100.0, 200.0, 2400}, {"延長前半", 300.0, MatchPeriod::kOpenEnd, 4800}};
    EXPECT_EQ(matchTimeText(m, 250.0), "後半後");
    EXPECT_EQ(matchTimeText(m, 1e6), "延長前半 16741:40");
    // Moving a period moves every time in it with it.
    m.periods[0].start = 101.0;
    EXPECT_EQ(matchTimeText(m, 100.5), "試合前");
    EXPECT_EQ(matchTimeText(m, 161.0), "後半 41:00");
}

TEST(MatchFile, KeepsEverythingThroughARoundTripIncludingMembersOfOtherTools) {
    const std::string text = R"({"format": "rucktag-match", "version": 1,
      "teams": {"A": "東京", "B": "大\"阪"},
      "periods": [{"name": "前半", "start": 312.4, "end": 2790.0, "clock": 0},
                  {"name": "後半", "start": 3600.0, "end": null, "clock": 2400}],
      "players": {"A": [{"number": 12, "name": "山田", "position": "CTB"}]},
      "venue": {"name": "秩父宮", "seats": [1, 2.5, true, null]}})";
    MatchInfo m;
    std::string error;
    ASSERT_TRUE(readMatchJson(text, m, error)) << error;
    EXPECT_EQ(m.teams[1], "大\"阪");
    ASSERT_EQ(m.periods.size(), 2u);
    EXPECT_TRUE(m.periods[1].open());
    EXPECT_EQ(playerLabel(m.players[0].at(0)), "12 山田");
    MatchInfo again;
    ASSERT_TRUE(readMatchJson(matchJson(m), again, error)) << error;
    EXPECT_EQ(again, m);
    EXPECT_NE(matchJson(m).find(R"("venue": {"name": "秩父宮", "seats": [1, 2.5, true, null]})"),
              std::string::npos);
    EXPECT_EQ(matchFilePathFor("/m/2026-09-06_東京戦.csv"), "/m/2026-09-06_東京戦.match.json");
}

TEST(MatchFile, RefusesWhatItCannotReadWithTheLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"{\"format\": \"rucktag-match\", \"version\": 1,", "1 行目"},
        {"{\"format\": \"other\", \"version\": 1}", "format"},
        {"{\"format\": \"rucktag-match\", \"version\": 2}", "新しい"},
        {"{\"format\": \"rucktag-match\", \"version\": 1,\n\"periods\": [{\"name\": \"前半\"}]}",
         "2 行目: 期間の開始"},
        {"{\"format\": \"rucktag-match\", \"version\": 1, \"periods\": [\n"
         "{\"start\": 10, \"end\": 50}, \n{\"start\": 40, \"end\": 90}]}",
         "3 行目: 期間が重なって"},
        {"{\"format\": \"rucktag-match\", \"version\": 1, \"periods\": [{\"start\": 10, \"end\": "
         "5}]}",
         "終了"},
        {"{\"format\": \"rucktag-match\", \"version\": 1, \"players\": {\"A\": [{\"number\": "
         "1.5}]}}",
         "背番号"},
    };
    for (const auto& [text, expected] : cases) {
        MatchInfo m = twoHalves();
        std::string error;
        EXPECT_FALSE(readMatchJson(text, m, error)) << text;
        EXPECT_NE(error.find(expected), std::string::npos) << error;
        EXPECT_EQ(m, twoHalves()) << "a refused file leaves the match as it was";
    }
}
