#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <random>

#include "exchange/TallyCsv.h"
#include "review/TagTally.h"

using ::testing::HasSubstr;

namespace {

std::shared_ptr<TagRowData> tag(bool teamA, std::string name) {
    auto row = std::make_shared<TagRowData>();
    row->team = teamA;
    row->name = std::move(name);
    return row;
}

struct Counts {
    int64_t a, b;
    bool operator==(const Counts&) const = default;
};

Counts countsOf(const std::vector<TallyRow>& tally, const std::string& name) {
    for (const TallyRow& r : tally)
        if (r.name == name)
            return {r.teamA, r.teamB};
    return {-1, -1};
}

} // namespace

TEST(TagTally, CountsPerTeamInButtonOrderKeepingEmptyRows) {
    const std::vector<std::shared_ptr<TagRowData>> rows = {
        tag(true, "スクラム"),    tag(false, "スクラム"), tag(true, "スクラム"),
        tag(false, "ペナルティ"), tag(true, "ラック"),    tag(false, "チェック"),
        tag(false, "ラック")};
    const auto tally = tallyTags(rows, true, true);
    ASSERT_EQ(tally.size(), 18u);
    EXPECT_EQ(tally[6].name, "スクラム"); // in button order
    EXPECT_EQ(countsOf(tally, "スクラム"), (Counts{2, 1}));
    EXPECT_EQ(countsOf(tally, "ペナルティ"), (Counts{0, 1}));
    EXPECT_EQ(countsOf(tally, "ラック"), (Counts{1, 1}));
    EXPECT_EQ(countsOf(tally, "チェック"), (Counts{0, 1}));
    EXPECT_EQ(countsOf(tally, "トライ"), (Counts{0, 0}));
    EXPECT_EQ(tally[6].total(), 3);

    // A team whose box is off counts nothing; its column is all zeros.
    const auto onlyB = tallyTags(rows, false, true);
    EXPECT_EQ(countsOf(onlyB, "スクラム"), (Counts{0, 1}));
    EXPECT_EQ(countsOf(tallyTags(rows, true, false), "チェック"), (Counts{0, 0}));
    EXPECT_EQ(tallyTags({}, true, true).size(), 18u);
}

TEST(TagTally, DecomposedNamesCountWithTheirLabelAndOtherNamesFollow) {
    // ドロップアウト with ド written as ト + U+3099, as some editors store it.
    const std::string decomposed = "\xE3\x83\x88\xE3\x82\x99ロップアウト";
    const std::vector<std::shared_ptr<TagRowData>> rows = {
        tag(true, decomposed), tag(false, "ドロップアウト"), tag(true, "ラインブレイク"),
        tag(false, "ラインブレイク"), tag(true, "ゴール, 成功")};
    const auto tally = tallyTags(rows, true, true);
    ASSERT_EQ(tally.size(), 20u);
    EXPECT_EQ(countsOf(tally, "ドロップアウト"), (Counts{1, 1}));
    EXPECT_EQ(tally[18].name, "ラインブレイク");
    EXPECT_EQ(countsOf(tally, "ラインブレイク"), (Counts{1, 1}));
    EXPECT_EQ(tally[19].name, "ゴール, 成功");

    // The CSV quotes only the name that needs it.
    const std::string csv = tallyCsvText(tally);
    EXPECT_EQ(csv.substr(0, csv.find('\n') + 1), "タグ,チームA,チームB,計\n");
    EXPECT_THAT(csv, HasSubstr("\nドロップアウト,1,1,2\n"));
    EXPECT_THAT(csv, HasSubstr("\nラック,0,0,0\n"));
    EXPECT_THAT(csv, HasSubstr("\n\"ゴール, 成功\",1,0,1\n"));
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 21);
}

// Per period and team, against a count by each period's own bounds; the tags
// of no period count last, and every tag counted is counted once.
TEST(TagTally, PeriodsSplitEachNamesCountsPerTeam) {
    MatchInfo match;
    match.periods = {{"前半", 100, 2500, 0},
                     {"後半", 3000, 5400, 2400},
                     {"延長前半", 5400, MatchPeriod::kOpenEnd, 4800}};
    std::mt19937 rng(7);
    std::vector<std::shared_ptr<TagRowData>> rows;
    const char* names[] = {"スクラム", "ラック", "独自"};
    for (int i = 0; i < 400; ++i) {
        rows.push_back(tag(rng() % 2, names[rng() % 3]));
        // Whole seconds land on the bounds too.
        rows.back()->time_val = static_cast<float>(rng() % 6000);
    }
    for (const auto& [teamA, teamB] : {std::pair{true, true}, {true, false}, {false, true}}) {
        const auto split = tallyPeriods(rows, teamA, teamB, {"スクラム", "ラック"}, match);
        ASSERT_EQ(split.size(), (teamA + teamB) * 3u);
        int64_t counted = 0;
        for (const LabelTallyRow& row : split) {
            std::vector<int64_t> want(4, 0);
            for (const auto& t : rows) {
                if (t->name != row.name || t->team != row.teamA)
                    continue;
                const float s = t->time_val;
                ++want[s >= 100 && s < 2500 ? 0 : s >= 3000 && s < 5400 ? 1 : s >= 5400 ? 2 : 3];
            }
            EXPECT_EQ(row.counts, want) << row.name << row.teamA;
            counted += row.total();
        }
        int64_t all = 0;
        for (const TallyRow& r : tallyTags(rows, teamA, teamB, {"スクラム", "ラック"}))
            all += r.total();
        EXPECT_EQ(counted, all);
    }
}
