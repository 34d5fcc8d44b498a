#include "codewindow/CodeRecorder.h"

#include <algorithm>

CodeRecorder::CodeRecorder(CodeWindow window, Clock clock)
    : window_(std::move(window)), clock_(std::move(clock)) {
    const auto& codes = window_.codes;
    ends_.resize(codes.size());
    for (size_t i = 0; i < codes.size(); ++i)
        for (size_t j = 0; j < codes.size(); ++j) {
            const bool same = i == j && codes[i].mode == CodeMode::Duration;
            const bool grouped = i != j && !codes[i].group.empty() &&
                                 codes[i].group == codes[j].group &&
                                 codes[j].mode == CodeMode::Duration;
            if (same || grouped)
                ends_[i].push_back(j);
        }
}

namespace {

// The open tags of `team` named as one of `codes`, latest first, at most one
// per name: open tags are only ever made by the rules, which keep one per
// code and team, and the latest is the one a press would end.
std::vector<std::shared_ptr<TagRowData>> openTags(const TagDataModel& store, bool team,
                                                  const std::vector<const std::string*>& names) {
    std::vector<std::shared_ptr<TagRowData>> found;
    std::vector<char> seen(names.size(), 0);
    size_t left = names.size();
    for (auto it = store.data.rbegin(); it != store.data.rend() && left > 0; ++it) {
        const TagRowData& row = **it;
        if (row.end.state != TagEnd::State::Open || row.team != team)
            continue;
        for (size_t k = 0; k < names.size(); ++k)
            if (!seen[k] && row.name == *names[k]) {
                seen[k] = 1;
                --left;
                found.push_back(*it);
                break;
            }
    }
    return found;
}

} // namespace

std::shared_ptr<TagRowData> CodeRecorder::openTag(const TagDataModel& store, size_t code,
                                                  bool teamA) const {
    if (code >= window_.codes.size() || window_.codes[code].mode != CodeMode::Duration)
        return nullptr;
    const auto found = openTags(store, teamA, {&window_.codes[code].name});
    return found.empty() ? nullptr : found.front();
}

TagEdit CodeRecorder::press(const TagDataModel& store, size_t code, bool teamA) const {
    if (code >= window_.codes.size())
        return TagEdit::together({});
    const Code& pressed = window_.codes[code];
    const double now = clock_();
    const auto at = static_cast<float>(now);

    std::vector<const std::string*> names;
    for (size_t j : ends_[code])
        names.push_back(&window_.codes[j].name);
    std::vector<TagEdit> parts;
    bool endedItself = false;
    // No names (a point code of no group, every code of the standard
    // window): no scan of the store.
    for (const auto& open : openTags(store, teamA, names)) {
        endedItself = endedItself || open->name == pressed.name;
        parts.push_back(TagEdit::end(store, open->index, TagEnd::at(std::max(at, open->time_val))));
    }
    if (!endedItself) {
        auto row = std::make_shared<TagRowData>();
        row->team = teamA;
        row->name = pressed.name;
        row->time_val = at;
        row->time_string = createTimeString(at);
        if (pressed.mode == CodeMode::Duration)
            row->end.state = TagEnd::State::Open;
        parts.push_back(TagEdit::record(store, std::move(row)));
    }
    return TagEdit::together(std::move(parts));
}
