#pragma once

#include <memory>
#include <string>

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
