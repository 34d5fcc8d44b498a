#pragma once

#include <memory>
#include <string>

class TagDataModel;
class TagRowData;

// The store's tag that stood at `position` (from 0) of the session file, of
// `code` at `time` (a library hit names a tag so). The store keeps the file's
// order until a tag is recorded: the tag at that place when it still matches,
// else the tag of that code nearest `time` (the first of equals); null when
// the store has none of that code.
std::shared_ptr<TagRowData> sessionTag(const TagDataModel& store, int position, double time,
                                       const std::string& code);
