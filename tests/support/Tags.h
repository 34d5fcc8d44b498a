#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Model/DataModel.h"

// A tag as a press records it.
inline std::shared_ptr<TagRowData> tag(bool teamA, float time, std::string name,
                                       std::string comment = {}) {
    auto row = std::make_shared<TagRowData>();
    row->team = teamA;
    row->time_val = time;
    row->time_string = createTimeString(time);
    row->name = std::move(name);
    row->comment = std::move(comment);
    return row;
}

// A tag on one line, to compare as text: its team, seconds to the bit (to
// its end), name, labels and comment.
inline std::string tagLine(const TagRowData& t) {
    std::string out = (t.team ? "A " : "B ") + floatText(t.time_val);
    if (t.end.state != TagEnd::State::None)
        out += "-" + (t.end.isSet() ? floatText(t.end.time) : std::string("open"));
    out += " " + t.name;
    for (const auto& [group, text] : t.labels)
        out += " [" + group + "=" + text + "]";
    return t.comment.empty() ? out : out + " \"" + t.comment + "\"";
}

inline std::vector<std::string> tagLines(const std::vector<std::shared_ptr<TagRowData>>& rows) {
    std::vector<std::string> out;
    for (const auto& r : rows)
        out.push_back(tagLine(*r));
    return out;
}
