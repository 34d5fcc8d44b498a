#include "session/TagEdit.h"

#include <algorithm>
#include <unordered_set>

#include "Model/DataModel.h"

TagEdit TagEdit::inverse() const {
    TagEdit back = *this;
    switch (kind) {
    case Kind::Insert:
        back.kind = Kind::Remove;
        break;
    case Kind::Remove:
        back.kind = Kind::Insert;
        break;
    case Kind::Comment:
        std::swap(back.before, back.after);
        break;
    case Kind::End:
        std::swap(back.endBefore, back.endAfter);
        break;
    case Kind::Labels:
        std::swap(back.labelsBefore, back.labelsAfter);
        break;
    case Kind::Match:
        std::swap(back.matchBefore, back.matchAfter);
        break;
    case Kind::Steps:
        back.steps.clear();
        for (auto it = steps.rbegin(); it != steps.rend(); ++it)
            back.steps.push_back(it->inverse());
        break;
    }
    return back;
}

TagEdit TagEdit::record(const TagDataModel& store, std::shared_ptr<TagRowData> row) {
    TagEdit edit;
    edit.kind = Kind::Insert;
    row->index = store.index;
    edit.rows.emplace_back(store.data.size(), std::move(row));
    return edit;
}

TagEdit TagEdit::remove(const TagDataModel& store, const std::vector<int64_t>& indexes) {
    TagEdit edit;
    edit.kind = Kind::Remove;
    std::unordered_set<int64_t> wanted(indexes.begin(), indexes.end());
    for (size_t i = 0; i < store.data.size() && !wanted.empty(); ++i)
        if (wanted.erase(store.data[i]->index)) // the first tag of an index, like remove()
            edit.rows.emplace_back(i, store.data[i]);
    return edit;
}

TagEdit TagEdit::comment(const TagDataModel& store, int64_t index, std::string text) {
    TagEdit edit;
    edit.kind = Kind::Comment;
    const auto it = std::find_if(store.data.begin(), store.data.end(),
                                 [index](const auto& t) { return t->index == index; });
    if (it == store.data.end())
        return edit;
    edit.index = index;
    edit.before = (*it)->comment;
    edit.after = std::move(text);
    return edit;
}

namespace {

// The tag with `index`, looked for from the end: the tags edited most are the
// latest.
TagRowData* latestWithIndex(const std::vector<std::shared_ptr<TagRowData>>& data, int64_t index) {
    for (auto it = data.rbegin(); it != data.rend(); ++it)
        if ((*it)->index == index)
            return it->get();
    return nullptr;
}

} // namespace

TagEdit TagEdit::end(const TagDataModel& store, int64_t index, TagEnd end) {
    TagEdit edit;
    edit.kind = Kind::End;
    if (const TagRowData* row = latestWithIndex(store.data, index)) {
        edit.index = index;
        edit.endBefore = row->end;
        edit.endAfter = end;
    }
    return edit;
}

TagEdit TagEdit::label(const TagDataModel& store, int64_t index, const std::string& group,
                       const std::string& text) {
    TagEdit edit;
    edit.kind = Kind::Labels;
    const TagRowData* row = latestWithIndex(store.data, index);
    if (!row)
        return edit;
    edit.index = index;
    edit.labelsBefore = row->labels;
    edit.labelsAfter = row->labels;
    TagLabels& after = edit.labelsAfter;
    const auto it = std::find_if(after.begin(), after.end(),
                                 [&group](const auto& label) { return label.first == group; });
    if (it == after.end())
        after.emplace_back(group, text);
    else if (it->second == text)
        after.erase(it);
    else
        it->second = text;
    return edit;
}

TagEdit TagEdit::match(const TagDataModel& store, MatchInfo after) {
    TagEdit edit;
    edit.kind = Kind::Match;
    edit.matchBefore = store.match;
    edit.matchAfter = std::move(after);
    return edit;
}

TagEdit TagEdit::together(std::vector<TagEdit> parts) {
    if (parts.size() == 1)
        return std::move(parts.front());
    TagEdit edit;
    edit.kind = Kind::Steps;
    edit.steps = std::move(parts);
    return edit;
}

void TagDataModel::apply(const TagEdit& edit) {
    switch (edit.kind) {
    case TagEdit::Kind::Insert:
        for (const auto& [place, row] : edit.rows)
            if (row->index >= index)
                index = row->index + 1;
        if (edit.rows.size() == 1) {
            const size_t place = std::min(edit.rows[0].first, data.size());
            data.insert(data.begin() + static_cast<ptrdiff_t>(place), edit.rows[0].second);
        } else if (!edit.rows.empty()) {
            // One merge pass, not one shift of the whole store per tag.
            std::vector<std::shared_ptr<TagRowData>> merged;
            merged.reserve(data.size() + edit.rows.size());
            size_t from = 0;
            for (const auto& [place, row] : edit.rows) {
                while (merged.size() < place && from < data.size())
                    merged.push_back(std::move(data[from++]));
                merged.push_back(row);
            }
            while (from < data.size())
                merged.push_back(std::move(data[from++]));
            data = std::move(merged);
        }
        break;
    case TagEdit::Kind::Remove: {
        // By place; a tag no longer at its place (a store changed behind the
        // history's back) is looked up by its index instead.
        std::vector<char> doomed(data.size(), 0);
        for (const auto& [place, row] : edit.rows) {
            if (place < data.size() && data[place]->index == row->index) {
                doomed[place] = 1;
                continue;
            }
            for (size_t i = 0; i < data.size(); ++i)
                if (!doomed[i] && data[i]->index == row->index) {
                    doomed[i] = 1;
                    break;
                }
        }
        size_t out = 0;
        for (size_t i = 0; i < data.size(); ++i)
            if (!doomed[i])
                data[out++] = std::move(data[i]);
        data.resize(out);
        break;
    }
    case TagEdit::Kind::Comment:
        for (const auto& row : data)
            if (row->index == edit.index) {
                row->comment = edit.after;
                break;
            }
        break;
    case TagEdit::Kind::End:
        if (TagRowData* row = latestWithIndex(data, edit.index))
            row->end = edit.endAfter;
        break;
    case TagEdit::Kind::Labels:
        if (TagRowData* row = latestWithIndex(data, edit.index))
            row->labels = edit.labelsAfter;
        break;
    case TagEdit::Kind::Match:
        match = edit.matchAfter;
        break;
    case TagEdit::Kind::Steps:
        for (const TagEdit& step : edit.steps)
            apply(step);
        break;
    }
}

bool sameStore(const TagDataModel& a, const TagDataModel& b) {
    if (a.index != b.index || a.data.size() != b.data.size() || !(a.match == b.match))
        return false;
    for (size_t i = 0; i < a.data.size(); ++i) {
        const TagRowData& x = *a.data[i];
        const TagRowData& y = *b.data[i];
        if (x.index != y.index || x.team != y.team || x.time_string != y.time_string ||
            x.name != y.name || x.comment != y.comment || !(x.end == y.end) ||
            x.labels != y.labels ||
            !(x.time_val == y.time_val || (x.time_val != x.time_val && y.time_val != y.time_val)))
            return false;
    }
    return true;
}

const TagEdit& TagHistory::perform(TagDataModel& store, TagEdit edit) {
    store.apply(edit);
    undone_.clear();
    done_.push_back(std::move(edit));
    return done_.back();
}

const TagEdit* TagHistory::undo(TagDataModel& store) {
    if (done_.empty())
        return nullptr;
    applied_ = done_.back().inverse();
    store.apply(applied_);
    undone_.push_back(std::move(done_.back()));
    done_.pop_back();
    return &applied_;
}

const TagEdit* TagHistory::redo(TagDataModel& store) {
    if (undone_.empty())
        return nullptr;
    store.apply(undone_.back());
    done_.push_back(std::move(undone_.back()));
    undone_.pop_back();
    return &done_.back();
}

void TagHistory::clear() {
    done_.clear();
    undone_.clear();
    applied_ = TagEdit{};
}
