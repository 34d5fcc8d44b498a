// How a screen's list, strip and tally follow the changes of the session's
// store: one signal for every change, a hidden screen listing again once it
// is shown.

#include <QScrollBar>
#include <algorithm>
#include <unordered_set>

#include "MainViewController.h"
#include "SubViewClass/CustomTableView.h"
#include "tags/TagTableScreen.h"

void TagTableScreen::onStoreChanged(const StoreChange& change) {
    // Times read as the match now is (its periods marked, undone, another
    // video's) before any row is listed again.
    followMatch();
    switch (change.kind) {
    case StoreChange::Kind::Replaced:
        listStale_ = false;
        onStoreReplaced();
        return;
    case StoreChange::Kind::Stepped:
        listStale_ = false;
        onStoreStepped();
        return;
    default:
        break;
    }
    // A hidden screen lists the store again as it is shown: a press costs
    // the one list in sight.
    if (!isVisible()) {
        listStale_ = true;
        return;
    }
    followEdit(*change.edit, change.kind == StoreChange::Kind::Recorded);
}

void TagTableScreen::followEdit(const TagEdit& edit, bool recorded) {
    if (recorded) {
        showComment({});
        // Listed at the end whatever the filter, until the list is built
        // again, the newest chosen; an end set shows on its row (the store's).
        const auto add = [this](const TagEdit& e) {
            if (e.kind == TagEdit::Kind::Insert)
                for (const auto& [place, row] : e.rows) {
                    tagTableData.push_back(row);
                    tagTableSelectedRowIndex = row->index;
                }
        };
        add(edit);
        for (const TagEdit& step : edit.steps)
            add(step);
        reloadFollowingTheEnd();
        return;
    }
    if (edit.kind == TagEdit::Kind::Insert) {
        // Tags read from a file: listed by the filter and the sort.
        reloadTagDataTable(true);
        return;
    }
    if (edit.kind == TagEdit::Kind::Remove) {
        std::unordered_set<const TagRowData*> gone;
        for (const auto& [place, row] : edit.rows)
            gone.insert(row.get());
        std::erase_if(tagTableData, [&gone](const auto& t) { return gone.contains(t.get()); });
    }
    // A comment, an end or labels: the rows are the store's own.
    reloadKeepingScroll();
}

void TagTableScreen::reloadFollowingTheEnd() {
    // The list follows the coding while its end is in sight; an analyst
    // reading higher up keeps the place.
    const QScrollBar* bar = tagTableView->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    reloadKeepingScroll();
    if (atEnd)
        tagTableView->scrollToEnd();
}

void TagTableScreen::onStoreReplaced() {
    forgetChosenTag();
    refreshFilterItems();
    reloadTagDataTable(true);
}

void TagTableScreen::onStoreStepped() {
    refreshFilterItems();
    reloadTagDataTable(true);
    // The chosen tag as the step left it: its comment, or gone.
    const auto& data = myParent->tagDataModel.data;
    const int64_t chosen = tagTableSelectedRowIndex;
    const auto it = std::find_if(data.begin(), data.end(),
                                 [chosen](const auto& t) { return t->index == chosen; });
    if (it == data.end()) {
        // Only the choice goes: a playing sequence goes on.
        TagTableScreen::forgetChosenTag();
        showComment({});
    } else {
        showComment((*it)->comment);
    }
}
