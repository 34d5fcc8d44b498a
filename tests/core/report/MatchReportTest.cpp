// The report's figures against a count done here tag by tag, on sessions
// generated from a seed: with and without periods, labels and players.
#include <gtest/gtest.h>
#include <map>
#include <random>

#include "report/MatchReport.h"
#include "review/TagTally.h"

namespace {

const std::vector<std::string> kCodes = {"トライ",   "コンバージョン",   "PG",       "DG",
                                         "スクラム", "ペナルティトライ", "タックル", "攻撃"};
const std::map<std::string, int> kPoints = {
    {"トライ", 5}, {"コンバージョン", 2}, {"PG", 3}, {"DG", 3}, {"ペナルティトライ", 7}};

struct Session {
    std::vector<std::shared_ptr<TagRowData>> tags;
    MatchInfo match;
    CodeWindow window;
};

Session generate(unsigned seed, bool periods, bool labels) {
    Session s;
    std::mt19937 random(seed);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    for (const std::string& name : kCodes) {
        Code code;
        code.name = name;
        s.window.codes.push_back(code);
    }
    s.window.codes.back().mode = CodeMode::Duration;
    s.window.codes.back().group = "攻守";
    if (periods)
        s.match.periods = {{"前半", 300, 2700, 0}, {"後半", 3300, 5700, 2400}};
    for (int i = 0; i < 500; ++i) {
        auto tag = std::make_shared<TagRowData>();
        tag->team = pick(2) == 0;
        tag->name = kCodes[static_cast<size_t>(pick(static_cast<int>(kCodes.size())))];
        tag->time_val = static_cast<float>(pick(6000));
        if (tag->name == "攻撃")
            tag->end = TagEnd::at(tag->time_val + static_cast<float>(pick(90)));
        if (labels && pick(3) > 0)
            tag->labels.push_back({"結果", pick(2) ? "成功" : "失敗"});
        if (labels && pick(2) > 0)
            tag->labels.push_back({"選手", std::to_string(pick(15) + 1) + " 選手"});
        s.tags.push_back(tag);
    }
    return s;
}

std::string labelOf(const TagRowData& tag, const std::string& group) {
    for (const auto& [g, t] : tag.labels)
        if (g == group)
            return t;
    return "";
}

TEST(MatchReport, FiguresMatchACountTagByTag) {
    for (const auto& [seed, periods, labels] :
         {std::tuple{1u, true, true}, {2u, false, true}, {3u, true, false}}) {
        const Session s = generate(seed, periods, labels);
        const MatchReport r = buildMatchReport(s.tags, s.match, &s.window);
        SCOPED_TRACE(seed);
        std::array<int, 2> score{};
        std::map<std::string, std::array<int64_t, 2>> total, made, missed;
        std::map<std::tuple<std::string, bool, std::string>, int64_t> player; // code, team, who
        std::map<std::pair<std::string, size_t>, std::array<int64_t, 2>> column;
        std::map<int, std::array<int64_t, 2>> block;
        std::array<double, 2> held{};
        for (const auto& t : s.tags) {
            const size_t team = t->team ? 0 : 1;
            const std::string result = labelOf(*t, "結果"), who = labelOf(*t, "選手");
            if (kPoints.count(t->name) && result != "失敗")
                score[team] += kPoints.at(t->name);
            ++total[t->name][team];
            made[t->name][team] += result == "成功";
            missed[t->name][team] += result == "失敗";
            if (!who.empty())
                ++player[{t->name, t->team, who}];
            double clock = t->time_val;
            size_t col = 0;
            if (periods) {
                const bool first = t->time_val >= 300 && t->time_val < 2700;
                const bool second = t->time_val >= 3300 && t->time_val < 5700;
                col = first ? 0 : second ? 1 : 2;
                clock = first ? t->time_val - 300 : second ? t->time_val - 3300 + 2400 : -1;
            }
            ++column[{t->name, col}][team];
            if (clock >= 0)
                ++block[static_cast<int>(clock) / 600 * 10][team];
            if (t->end.isSet())
                held[team] += t->end.time - t->time_val;
        }
        EXPECT_EQ(r.score, score);
        ASSERT_FALSE(r.scoring.empty());
        EXPECT_EQ(r.scoring.back().score, score);
        const auto tally = tallyTags(s.tags, true, true, kCodes);
        ASSERT_EQ(r.counts.size(), tally.size());
        ASSERT_EQ(r.columns.size(), periods ? 3u : 1u);
        for (size_t i = 0; i < tally.size(); ++i) {
            EXPECT_EQ(r.counts[i].code, tally[i].name);
            EXPECT_EQ(r.counts[i].total, total[tally[i].name]);
            EXPECT_EQ(r.counts[i].total, (std::array{tally[i].teamA, tally[i].teamB}));
            for (size_t c = 0; c < r.columns.size(); ++c)
                EXPECT_EQ(r.counts[i].columns[c], (column[{tally[i].name, c}])) << c;
        }
        EXPECT_EQ(r.rates.size(), labels ? kCodes.size() : 0u);
        for (const SuccessRate& rate : r.rates) {
            EXPECT_EQ(rate.made, made[rate.code]) << rate.code;
            EXPECT_EQ(rate.missed, missed[rate.code]) << rate.code;
        }
        EXPECT_EQ(r.players.empty(), !labels);
        for (const PlayerCounts& p : r.players)
            for (size_t c = 0; c < r.playerCodes.size(); ++c)
                EXPECT_EQ(p.perCode[c], (player[{r.playerCodes[c], p.teamA, p.player}]));
        for (const CodeLeaders& l : r.leaders)
            for (const auto& [key, count] : player)
                if (std::get<0>(key) == l.code) {
                    EXPECT_GE(l.top.front().count, count) << l.code;
                }
        int64_t inBlocks = 0;
        for (const EventBlock& b : r.blocks) {
            EXPECT_EQ(b.events, block[b.fromMinute]) << b.fromMinute;
            inBlocks += b.events[0] + b.events[1];
        }
        EXPECT_EQ(inBlocks + r.outsideBlocks, static_cast<int64_t>(s.tags.size()));
        ASSERT_EQ(r.possession.size(), 1u);
        EXPECT_NEAR(r.possession[0].share(0), held[0] / (held[0] + held[1]), 1e-9);
        // Without a window, no possession and the standard order.
        EXPECT_TRUE(buildMatchReport(s.tags, s.match, nullptr).possession.empty());
    }
}

TEST(MatchReport, AScoreMissedOrOutsideThePeriodsTakesItsMinute) {
    MatchInfo match;
    match.periods = {{"前半", 100, 2500, 0}, {"後半", 3000, MatchPeriod::kOpenEnd, 2400}};
    const struct {
        float time;
        const char* code;
        const char* result;
        int points;
        double minute;
    } cases[] = {{160, "トライ", "", 5, 1},   {200, "ゴール", "失敗", 0, 0},
                 {2800, "PG", "成功", 3, 40}, {3060, "ペナルティトライ", "", 7, 41},
                 {3120, "DG", "", 3, 42},     {50, "コンバージョン", "", 2, 0},
                 {4000, "スクラム", "", 0, 0}};
    for (const auto& c : cases) {
        auto tag = std::make_shared<TagRowData>();
        tag->team = true;
        tag->name = c.code;
        tag->time_val = c.time;
        if (*c.result)
            tag->labels = {{"キック", c.result}};
        const MatchReport r = buildMatchReport({tag}, match, nullptr);
        EXPECT_EQ(r.score[0], c.points) << c.code;
        EXPECT_EQ(r.score[1], 0);
        if (c.points > 0) {
            EXPECT_DOUBLE_EQ(r.scoring.at(0).minute, c.minute) << c.code;
        }
    }
}

} // namespace
