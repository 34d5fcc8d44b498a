#include "session/SessionTag.h"

#include <cmath>

#include "Model/DataModel.h"

std::shared_ptr<TagRowData> sessionTag(const TagDataModel& store, int position, double time,
                                       const std::string& code) {
    const auto& rows = store.data;
    auto near = [&](const TagRowData& t) { return std::abs(t.time_val - time) < 0.5; };
    if (position >= 0 && position < static_cast<int>(rows.size()) &&
        rows[static_cast<size_t>(position)]->name == code &&
        near(*rows[static_cast<size_t>(position)]))
        return rows[static_cast<size_t>(position)];
    std::shared_ptr<TagRowData> best;
    for (const auto& t : rows)
        if (t->name == code &&
            (!best || std::abs(t->time_val - time) < std::abs(best->time_val - time)))
            best = t;
    return best;
}
