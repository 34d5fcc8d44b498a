#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "match/MatchInfo.h"
#include "session/TagEdit.h"
#include "text/TimeText.h"

// One recorded tag. Records are shared between the store, its views and the
// screens' row lists, so a comment set through one is seen by all.
class TagRowData {
public:
    int64_t index = 0;
    bool team = false; // true = team A
    std::string time_string;
    float time_val = 0.0f;
    std::string name;
    std::string comment;
    TagEnd end;
    TagLabels labels;

    // Write-only time_str: parses H:M:S (pieces split at ':', empty ones
    // dropped, first three read like atof). Fewer than three pieces leave the
    // time untouched; the text is kept exactly as given.
    void set_time_str(std::string_view text);
};

class ClipRowData {
public:
    int64_t index = 0;
    float startTimeVal = 0.0f;
    std::string startTimeString;
    float endTimeVal = 0.0f;
    std::string endTimeString; // empty while the end is not marked
};

class FilterSortData {
public:
    std::string filter_tag_name;
    bool filter_team_A = true;
    bool filter_team_B = true;
    // 0 off, 1 ascending, anything else descending.
    int64_t sort_tag_name = 0;
    int64_t sort_team = 0;
    int64_t sort_tag_time = 0;
    int64_t sort_tag_comment = 0;
};

// The tag-name filter entry that keeps every name.
inline constexpr std::string_view kShowAllTagName = "すべてを見る";

// The eighteen tag names, in the order of the buttons and the filter list.
inline constexpr std::array<const char*, 18> kTagLabels = {"ラック",
                                                           "モール",
                                                           "タックル",
                                                           "キック",
                                                           "UE",
                                                           "キックオフ",
                                                           "スクラム",
                                                           "ラインアウト",
                                                           "ドロップアウト",
                                                           "キックリターン",
                                                           "ターンオーバー",
                                                           "クイックスタート",
                                                           "トライ",
                                                           "PG",
                                                           "DG",
                                                           "ペナルティ",
                                                           "選手交代",
                                                           "チェック"};

class TagDataModel {
public:
    std::vector<std::shared_ptr<TagRowData>> data;
    int64_t index = 0; // next index to hand out; only ever grows
    MatchInfo match;   // the match file's: teams, periods, players

    void appent(std::shared_ptr<TagRowData> row);
    bool remove(int64_t index);
    std::vector<std::shared_ptr<TagRowData>> getFilterData(const FilterSortData& filter) const;

    // Replaces the contents with restored tags (a session file's). The counter
    // is raised past every loaded index so later tags never share one with a
    // loaded tag; it is never lowered.
    void replaceData(std::vector<std::shared_ptr<TagRowData>> rows);

    // Applies a change (TagEdit.h). Inserted tags raise the counter past
    // their indexes, so an index that comes back is never handed out again.
    void apply(const TagEdit& edit);
};

// Same tags (every field), same order, same counter.
bool sameStore(const TagDataModel& a, const TagDataModel& b);
