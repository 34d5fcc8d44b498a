#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Model/DataModel.h"
#include "codewindow/CodeWindow.h"
#include "match/MatchInfo.h"

// The figures of a post-match report, worked out from the tags alone (their
// codes, teams, times, ends and labels) and the match file. Every count is
// the tally's (review/TagTally) for the same tags; a part the data cannot
// give (no periods, no labels, no players, no duration codes) is left empty
// rather than shown as zeros.

// Points a scoring code gives; 0 for any other code.
int codePoints(std::string_view code);
// The text in any label group that keeps a scoring tag from scoring.
inline constexpr std::string_view kMissText = "失敗";
inline constexpr std::string_view kMadeText = "成功";

// The match minute of video time `t`: the match clock where periods are set
// (a time outside every period takes the clock where the period before it
// ended, or the first period's start), else the video time.
double reportMinute(const MatchInfo& match, double t);

struct ScoreEvent {
    double minute = 0.0;
    bool teamA = true;
    int points = 0;
    std::string code;
    std::array<int, 2> score{}; // both teams' score after it
};

// Counts per team of one code: [column][team], then the whole.
struct CodeCounts {
    std::string code;
    std::vector<std::array<int64_t, 2>> columns;
    std::array<int64_t, 2> total{};
};

struct SuccessRate {
    std::string code, group;
    std::array<int64_t, 2> made{}, missed{};
};

// One player of one team (a text of the 選手 group).
struct PlayerCounts {
    std::string player;
    bool teamA = true;
    std::vector<int64_t> perCode; // by place of MatchReport::playerCodes
    int64_t total = 0;
};

struct TopPlayer {
    std::string player;
    bool teamA = true;
    int64_t count = 0;
};
struct CodeLeaders {
    std::string code;
    std::vector<TopPlayer> top; // most first, at most kTopPlayers
};
inline constexpr size_t kTopPlayers = 3;

struct EventBlock {
    int fromMinute = 0; // the block holds [from, from + 10)
    std::array<int64_t, 2> events{};
};

// The time held by each team in the duration codes of one exclusive group.
struct Possession {
    std::string group;
    std::array<double, 2> seconds{};
    double share(int team) const;
};

struct MatchReport {
    std::array<std::string, 2> teams; // the match file's names, else チームA / チームB
    std::array<int, 2> score{};
    std::vector<ScoreEvent> scoring; // by minute
    // Column names of the counts: the periods' (and 期間外 when a tag lies
    // outside them all), or one column 全体 when no period is set.
    std::vector<std::string> columns;
    std::vector<CodeCounts> counts; // codes with tags, in the tally's order
    std::vector<SuccessRate> rates;
    std::vector<std::string> playerCodes; // codes some player-labelled tag has
    std::vector<PlayerCounts> players;    // most tags first
    std::vector<CodeLeaders> leaders;     // by place of playerCodes
    bool matchTime = false;               // blocks by match clock (else video time)
    std::vector<EventBlock> blocks;
    int64_t outsideBlocks = 0; // tags outside every period (not in a block)
    std::vector<Possession> possession;
    int64_t tagCount = 0;
    // The matches the tags come from: over more than one the score is the
    // points of them all and has no course.
    int64_t matches = 1;
};

// `window` gives the order of the codes and the exclusive groups of
// duration codes; nullptr: the standard order, no possession.
MatchReport buildMatchReport(const std::vector<std::shared_ptr<TagRowData>>& tags,
                             const MatchInfo& match, const CodeWindow* window);
