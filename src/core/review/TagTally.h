#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Model/DataModel.h"
#include "match/MatchInfo.h"

// How many tags each tag name has, per team.
struct TallyRow {
    std::string name;
    int64_t teamA = 0;
    int64_t teamB = 0;
    int64_t total() const { return teamA + teamB; }
};

// One row per tag name in the order of the tag buttons (rows without tags
// included), then any other name found (a hand-edited file), in the order
// met. Only the teams whose flag is set are counted. Names that are
// canonically equivalent count as one.
std::vector<TallyRow> tallyTags(const std::vector<std::shared_ptr<TagRowData>>& rows, bool teamA,
                                bool teamB);
// The same with one row per name of `order` first (a code window's codes).
std::vector<TallyRow> tallyTags(const std::vector<std::shared_ptr<TagRowData>>& rows, bool teamA,
                                bool teamB, const std::vector<std::string>& order);

// Per name and team, how many tags carry each text of a label group.
struct LabelTallyRow {
    std::string name;
    bool teamA = true;
    // By place of the group's texts, then the tags without a text of it.
    std::vector<int64_t> counts;
    int64_t total() const;
};
// Two rows per row of tallyTags (team A, then B; a team whose flag is off
// left out), counted for the label group `group` with `texts`.
std::vector<LabelTallyRow> tallyLabels(const std::vector<std::shared_ptr<TagRowData>>& rows,
                                       bool teamA, bool teamB,
                                       const std::vector<std::string>& order,
                                       const std::string& group,
                                       const std::vector<std::string>& texts);
// The same rows counted per period of `match`: one count per period, then
// the tags outside every period.
std::vector<LabelTallyRow> tallyPeriods(const std::vector<std::shared_ptr<TagRowData>>& rows,
                                        bool teamA, bool teamB,
                                        const std::vector<std::string>& order,
                                        const MatchInfo& match);

// The tally as CSV: the header "タグ,チームA,チームB,計" and one line per row.
