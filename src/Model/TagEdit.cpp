#include "Model/TagEdit.h"

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
    }
}

bool sameStore(const TagDataModel& a, const TagDataModel& b) {
    if (a.index != b.index || a.data.size() != b.data.size())
        return false;
    for (size_t i = 0; i < a.data.size(); ++i) {
        const TagRowData& x = *a.data[i];
        const TagRowData& y = *b.data[i];
        if (x.index != y.index || x.team != y.team || x.time_string != y.time_string ||
            x.name != y.name || x.comment != y.comment ||
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
