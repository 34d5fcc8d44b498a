#include "review/TagTally.h"

#include <numeric>
#include <string_view>
#include <unordered_map>

#include "text/UnicodeText.h"

namespace {

// Position of `name` among the rows, or -1. The eighteen labels come first and
// most tags carry one, so a length test settles most comparisons.
int findRow(const std::vector<TallyRow>& tally, std::string_view name) {
    for (size_t i = 0; i < tally.size(); ++i) {
        const std::string& n = tally[i].name;
        if (n.size() == name.size() && n == name)
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace

std::vector<TallyRow> tallyTags(const std::vector<std::shared_ptr<TagRowData>>& rows, bool teamA,
                                bool teamB) {
    static const std::vector<std::string> kStandard(kTagLabels.begin(), kTagLabels.end());
    return tallyTags(rows, teamA, teamB, kStandard);
}

std::vector<TallyRow> tallyTags(const std::vector<std::shared_ptr<TagRowData>>& rows, bool teamA,
                                bool teamB, const std::vector<std::string>& order) {
    std::vector<TallyRow> tally;
    tally.reserve(order.size());
    std::string composedName;
    for (const std::string& name : order)
        tally.push_back({std::string(nfcView(name, composedName)), 0, 0});
    if (!teamA && !teamB)
        return tally;
    // Tags of one name often follow each other: the last row found is tried
    // first.
    int last = 0;
    std::string storage;
    for (const auto& tag : rows) {
        if (tag->team ? !teamA : !teamB)
            continue;
        const std::string& name = tag->name;
        int row = -1;
        if (!tally.empty() && tally[static_cast<size_t>(last)].name == name)
            row = last;
        else
            row = findRow(tally, name);
        if (row < 0) {
            const std::string_view composed = nfcView(name, storage);
            row = findRow(tally, composed);
            if (row < 0) {
                tally.push_back({std::string(composed), 0, 0});
                row = static_cast<int>(tally.size()) - 1;
            }
        }
        last = row;
        ++(tag->team ? tally[static_cast<size_t>(row)].teamA
                     : tally[static_cast<size_t>(row)].teamB);
    }
    return tally;
}

int64_t LabelTallyRow::total() const {
    return std::accumulate(counts.begin(), counts.end(), int64_t{0});
}

namespace {

// Two rows per row of tallyTags, each tag counted in the place `placeOf`
// gives it among `places`.
template <typename PlaceOf>
std::vector<LabelTallyRow>
tallyMatrix(const std::vector<std::shared_ptr<TagRowData>>& rows, bool teamA, bool teamB,
            const std::vector<std::string>& order, size_t places, PlaceOf placeOf) {
    const std::vector<TallyRow> names = tallyTags(rows, teamA, teamB, order);
    std::unordered_map<std::string, size_t> place; // composed name -> its place in names
    for (size_t i = 0; i < names.size(); ++i)
        place.emplace(names[i].name, i);
    // Per name, team A's counts then team B's.
    std::vector<std::vector<int64_t>> counts(names.size() * 2, std::vector<int64_t>(places, 0));
    std::string storage;
    for (const auto& tag : rows) {
        if (tag->team ? !teamA : !teamB)
            continue;
        auto it = place.find(tag->name);
        if (it == place.end())
            it = place.find(std::string(nfcView(tag->name, storage)));
        if (it == place.end())
            continue;
        ++counts[it->second * 2 + (tag->team ? 0 : 1)][placeOf(*tag)];
    }
    std::vector<LabelTallyRow> out;
    for (size_t i = 0; i < names.size(); ++i)
        for (int team = 0; team < 2; ++team)
            if (team == 0 ? teamA : teamB)
                out.push_back({names[i].name, team == 0, std::move(counts[i * 2 + team])});
    return out;
}

} // namespace

std::vector<LabelTallyRow> tallyLabels(const std::vector<std::shared_ptr<TagRowData>>& rows,
                                       bool teamA, bool teamB,
                                       const std::vector<std::string>& order,
                                       const std::string& group,
                                       const std::vector<std::string>& texts) {
    return tallyMatrix(rows, teamA, teamB, order, texts.size() + 1, [&](const TagRowData& tag) {
        size_t text = texts.size();
        for (const auto& [g, t] : tag.labels)
            if (g == group)
                for (size_t k = 0; k < texts.size(); ++k)
                    if (texts[k] == t)
                        text = k;
        return text;
    });
}

std::vector<LabelTallyRow> tallyPeriods(const std::vector<std::shared_ptr<TagRowData>>& rows,
                                        bool teamA, bool teamB,
                                        const std::vector<std::string>& order,
                                        const MatchInfo& match) {
    const size_t outside = match.periods.size();
    return tallyMatrix(rows, teamA, teamB, order, outside + 1, [&](const TagRowData& tag) {
        const int period = periodAt(match, tag.time_val);
        return period < 0 ? outside : static_cast<size_t>(period);
    });
}
