#include "Model/DataModel.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <unordered_map>

#include "text/UnicodeText.h"

void TagRowData::set_time_str(std::string_view text) {
    double piece[3];
    int count = 0;
    forEachTimePiece(text, [&](std::string_view p) {
        piece[count++] = readDecimal(p);
        return count < 3;
    });
    if (count < 3)
        return;
    const float h = static_cast<float>(piece[0]);
    const float m = static_cast<float>(piece[1]);
    const float s = static_cast<float>(piece[2]);
    time_val = (m * 60.0f + h * 3600.0f) + s;
    time_string = std::string(text);
}

void TagDataModel::appent(std::shared_ptr<TagRowData> row) {
    row->index = index;
    ++index;
    data.push_back(std::move(row));
}

bool TagDataModel::remove(int64_t target) {
    const auto it = std::find_if(data.begin(), data.end(),
                                 [target](const auto& row) { return row->index == target; });
    if (it == data.end())
        return false;
    data.erase(it);
    return true;
}

void TagDataModel::replaceData(std::vector<std::shared_ptr<TagRowData>> rows) {
    for (const auto& row : rows)
        if (row->index >= index)
            index = row->index + 1;
    data = std::move(rows);
}

namespace {

struct Entry {
    TagRowData* row;
    size_t position;   // into `data`, so the result hands back the shared pointers
    uint32_t nameRank; // order of the name among the distinct names kept
};

// The distinct names of a store, each with its composed (NFC) form: names are
// compared in that form, and a match has few distinct names, so each is
// examined once however many tags carry it.
class NameTable {
public:
    // Slot of `name`, adding it on first sight.
    uint32_t slotOf(const std::string& name) {
        const auto [it, added] = slots_.try_emplace(name, static_cast<uint32_t>(keys_.size()));
        if (added)
            keys_.push_back(nfcView(name, composed_.emplace_back()));
        return it->second;
    }
    std::string_view key(uint32_t slot) const { return keys_[slot]; }
    size_t size() const { return keys_.size(); }

private:
    std::unordered_map<std::string_view, uint32_t> slots_;
    std::vector<std::string_view> keys_;
    std::deque<std::string> composed_; // deque: views into it stay valid
};

// The rows that pass the team and name filters, in store order. Names are
// put in `names` when they are filtered or sorted on.
std::vector<Entry> listedEntries(const std::vector<std::shared_ptr<TagRowData>>& data,
                                 const FilterSortData& filter, NameTable& names) {
    const bool anyName =
        filter.filter_tag_name.empty() || filter.filter_tag_name == kShowAllTagName;
    const bool sortByName = filter.sort_tag_name != 0;
    std::string wantedStorage;
    const std::string_view wanted = nfcView(filter.filter_tag_name, wantedStorage);
    std::vector<char> slotMatches; // per name slot: passes the name filter

    std::vector<Entry> kept;
    kept.reserve(data.size());
    for (size_t i = 0; i < data.size(); ++i) {
        TagRowData* row = data[i].get();
        if (row->team ? !filter.filter_team_A : !filter.filter_team_B)
            continue;
        uint32_t slot = 0;
        if (!anyName || sortByName) {
            slot = names.slotOf(row->name);
            if (slot == slotMatches.size())
                slotMatches.push_back(anyName || names.key(slot) == wanted);
            if (!slotMatches[slot])
                continue;
        }
        kept.push_back(Entry{row, i, slot});
    }
    return kept;
}

// Ranks the distinct names, then a stable counting sort by rank.
void sortByName(std::vector<Entry>& kept, const NameTable& names, int64_t direction) {
    std::vector<uint32_t> order(names.size());
    for (uint32_t k = 0; k < order.size(); ++k)
        order[k] = k;
    std::sort(order.begin(), order.end(),
              [&names](uint32_t a, uint32_t b) { return names.key(a) < names.key(b); });
    std::vector<uint32_t> rank(names.size());
    for (uint32_t r = 0; r < order.size(); ++r)
        rank[order[r]] = direction == 1 ? r : static_cast<uint32_t>(order.size()) - 1 - r;
    // Equal names under different spellings (composed or not) share a rank.
    for (uint32_t r = 1; r < order.size(); ++r)
        if (names.key(order[r]) == names.key(order[r - 1]))
            rank[order[r]] = rank[order[r - 1]];
    std::vector<size_t> start(names.size() + 1, 0);
    for (Entry& e : kept) {
        e.nameRank = rank[e.nameRank];
        ++start[e.nameRank + 1];
    }
    for (size_t r = 1; r < start.size(); ++r)
        start[r] += start[r - 1];
    std::vector<Entry> sorted(kept.size());
    for (const Entry& e : kept)
        sorted[start[e.nameRank]++] = e;
    kept.swap(sorted);
}

void sortByTime(std::vector<Entry>& kept, int64_t direction) {
    // A NaN time (only from a hand-edited file) goes last either way, which
    // keeps the ordering strict and weak.
    if (direction == 1)
        std::stable_sort(kept.begin(), kept.end(), [](const Entry& a, const Entry& b) {
            const float x = a.row->time_val, y = b.row->time_val;
            return x < y || (std::isnan(y) && !std::isnan(x));
        });
    else
        std::stable_sort(kept.begin(), kept.end(), [](const Entry& a, const Entry& b) {
            const float x = a.row->time_val, y = b.row->time_val;
            return x > y || (std::isnan(y) && !std::isnan(x));
        });
}

} // namespace

std::vector<std::shared_ptr<TagRowData>>
TagDataModel::getFilterData(const FilterSortData& filter) const {
    std::vector<std::shared_ptr<TagRowData>> result;
    if (data.empty())
        return result;
    NameTable names;
    std::vector<Entry> kept = listedEntries(data, filter, names);

    // One stable pass per active field; the last pass is the primary order.
    if (filter.sort_tag_name != 0)
        sortByName(kept, names, filter.sort_tag_name);
    if (filter.sort_tag_time != 0)
        sortByTime(kept, filter.sort_tag_time);
    if (filter.sort_tag_comment != 0) {
        // Two groups only: a stable partition is the same order as the sort.
        const bool emptyFirst = filter.sort_tag_comment == 1;
        std::stable_partition(kept.begin(), kept.end(), [emptyFirst](const Entry& e) {
            return e.row->comment.empty() == emptyFirst;
        });
    }
    if (filter.sort_team != 0) {
        const bool teamBFirst = filter.sort_team == 1;
        std::stable_partition(kept.begin(), kept.end(),
                              [teamBFirst](const Entry& e) { return e.row->team != teamBFirst; });
    }

    result.reserve(kept.size());
    for (const Entry& e : kept)
        result.push_back(data[e.position]);
    return result;
}
