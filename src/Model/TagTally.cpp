#include "Model/TagTally.h"

#include <string_view>

#include "Model/UnicodeText.h"

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
