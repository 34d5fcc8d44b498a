#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <unistd.h>

#include "JournalTestSupport.h"
#include "Model/DataModel.h"
#include "journal/TagJournal.h"
#include "support/Tags.h"

namespace {

namespace fs = std::filesystem;
using journaltest::Model;

// The plain model of the store, and whole states on the undo and redo stacks.
struct Ref {
    Model now;
    std::vector<Model> undo, redo;
    void step(const Model& next) {
        undo.push_back(now);
        redo.clear();
        now = next;
    }
    // The index of a tag chosen by `r`.
    int64_t pick(uint32_t r) const {
        return std::next(now.tags.begin(), r % now.tags.size())->first;
    }
};

class Journal : public journaltest::StateHome {};

// The label rule of the plain model: one text per group, the same text again
// removes it.
void toggleLabel(TagLabels& labels, const std::string& group, const std::string& text) {
    const auto it =
        std::find_if(labels.begin(), labels.end(), [&](const auto& l) { return l.first == group; });
    if (it == labels.end())
        labels.emplace_back(group, text);
    else if (it->second == text)
        labels.erase(it);
    else
        it->second = text;
}

// Random presses, deletes, comment, end, label and match edits, presses that
// end another tag as they start theirs, undos and redos against the plain model:
// the store equals it after every step, and the journal read back from disk
// rebuilds the same store, across snapshots that restart it.
TEST_F(Journal, RandomEditsMatchTheModelAndReplayFromDisk) {
    std::mt19937 rng(20261206);
    TagDataModel store;
    // Starts from a loaded session of five tags.
    std::vector<std::shared_ptr<TagRowData>> loaded;
    for (int i = 0; i < 5; ++i) {
        loaded.push_back(tag(i % 2 == 0, 10.0f * i, "スクラム"));
        loaded.back()->index = i;
    }
    store.replaceData(loaded);
    Ref ref;
    ref.now = Model::of(store);

    TagHistory history;
    TagJournal journal;
    journal.minimumRestartBytes = 4096; // several restarts in this run
    journal.open(video, SessionStamp{});

    const char* names[] = {"ラック", "モール", "トライ", "PG"};
    float clock = 0;
    for (int step = 0; step < 4000; ++step) {
        const int what = static_cast<int>(rng() % 14);
        Model next = ref.now;
        if (what < 4) { // press
            clock += static_cast<float>(rng() % 500) / 100.0f;
            auto row = tag(rng() % 2, clock, names[rng() % 4]);
            const TagEdit& e = history.perform(store, TagEdit::record(store, row));
            journal.changed(e, store);
            next.tags[next.counter++] = journaltest::Tag::of(*row);
            ref.step(next);
        } else if (what == 4 && !ref.now.tags.empty()) { // delete up to three
            std::vector<int64_t> doomed;
            for (int k = static_cast<int>(rng() % 3); k >= 0; --k)
                next.tags.erase(doomed.emplace_back(ref.pick(rng())));
            const TagEdit& e = history.perform(store, TagEdit::remove(store, doomed));
            journal.changed(e, store);
            ref.step(next);
        } else if (what == 5 && !ref.now.tags.empty()) { // comment set or cleared
            const int64_t at = ref.pick(rng());
            const std::string text = rng() % 3 ? "note \"" + std::to_string(step) + "\",\n" : "";
            next.tags[at].comment = text;
            const TagEdit& e = history.perform(store, TagEdit::comment(store, at, text));
            journal.changed(e, store);
            ref.step(next);
        } else if (what == 6 && !ref.now.tags.empty()) { // an end, and perhaps a tag started
            const int64_t at = ref.pick(rng());
            const TagEnd ends[] = {{}, {TagEnd::State::Open, 0}, TagEnd::at(clock + 1.5f)};
            const TagEnd end = ends[rng() % 3];
            next.tags[at].end = end;
            std::vector<TagEdit> parts{TagEdit::end(store, at, end)};
            if (rng() % 2) {
                auto row = tag(rng() % 2, clock, names[rng() % 4]);
                row->end.state = TagEnd::State::Open;
                parts.push_back(TagEdit::record(store, row));
                next.tags[next.counter++] = journaltest::Tag::of(*row);
            }
            journal.changed(history.perform(store, TagEdit::together(std::move(parts))), store);
            ref.step(next);
        } else if (what == 7 && !ref.now.tags.empty()) { // a label set, replaced or removed
            const int64_t at = ref.pick(rng());
            const std::string group = rng() % 2 ? "結果" : "反=則;";
            const std::string text = rng() % 2 ? "成功" : "a=b;c\\";
            toggleLabel(next.tags[at].labels, group, text);
            const TagEdit& e = history.perform(store, TagEdit::label(store, at, group, text));
            journal.changed(e, store);
            ref.step(next);
        } else if (what == 13) { // a period marked or taken off, a team renamed
            MatchInfo& m = next.match;
            if (rng() % 3 == 0 && !m.periods.empty())
                m.periods.pop_back();
            else if (m.periods.empty() || m.periods.back().end < clock)
                m.periods.push_back({periodDefault(m.periods.size()).name, clock, clock + 60, 0});
            m.teams[rng() % 2] = "チーム" + std::to_string(step);
            journal.changed(history.perform(store, TagEdit::match(store, m)), store);
            ref.step(next);
        } else { // undo, or redo
            const bool undo = what < 10;
            const TagEdit* e = undo ? history.undo(store) : history.redo(store);
            auto& from = undo ? ref.undo : ref.redo;
            ASSERT_EQ(e != nullptr, !from.empty()) << "step " << step << " undo " << undo;
            if (e) {
                journal.changed(*e, store);
                (undo ? ref.redo : ref.undo).push_back(ref.now);
                const int64_t counter = ref.now.counter; // never lowered
                ref.now = from.back();
                ref.now.counter = std::max(ref.now.counter, counter);
                from.pop_back();
            }
        }
        ASSERT_TRUE(ref.now.matches(store)) << "step " << step << " kind " << what;
        if (step % 97 == 96 || step == 3999) {
            ASSERT_TRUE(journal.flush());
            const JournalContents back = readJournal(journal.file(), video);
            ASSERT_TRUE(back.ours) << back.error;
            EXPECT_FALSE(back.damaged);
            ASSERT_TRUE(sameStore(back.store, store)) << "replay at step " << step;
        }
    }
    EXPECT_GT(journal.snapshots(), 2);
    EXPECT_TRUE(journal.takeError().empty());
}

// A journal as written before tags had ends and labels (made by that release,
// in tests/core/data): it replays to the same store, and the same edits today
// write the same bytes.
TEST_F(Journal, AnOlderJournalReplaysAndIsWrittenTheSameToday) {
    const std::string oldVideo = "/fixture/old/match.mp4";
    const std::string before = slurp(fs::path(RUCKTAG_TEST_DATA) / "v2-no-ends.journal");
    ASSERT_FALSE(before.empty());

    TagDataModel store;
    std::vector<std::shared_ptr<TagRowData>> loaded{tag(true, 12.5f, "スクラム", "from the file"),
                                                    tag(false, 40.0f, "ラインアウト")};
    loaded[1]->index = 1;
    store.replaceData(loaded);
    TagJournal journal;
    TagHistory history;
    journal.open(oldVideo, SessionStamp{true, 120, 1700000000000000000, 42});
    auto step = [&](TagEdit e) { journal.changed(history.perform(store, std::move(e)), store); };
    step(TagEdit::record(store, tag(true, 61.25f, "トライ")));
    step(TagEdit::record(store, tag(false, 75.0f, "PG")));
    step(TagEdit::comment(store, 2, "good, \"line\"\nbreak"));
    step(TagEdit::remove(store, {0, 3}));
    journal.changed(*history.undo(store), store);
    step(TagEdit::record(store, tag(true, 90.5f, "キック")));
    step(TagEdit::remove(store, {1}));
    ASSERT_TRUE(journal.flush());
    EXPECT_EQ(slurp(journal.file()), before);

    spit(journal.file(), before);
    const JournalContents back = readJournal(journal.file(), oldVideo);
    ASSERT_TRUE(back.ours) << back.error;
    EXPECT_FALSE(back.damaged);
    EXPECT_EQ(back.changes, 6u);
    EXPECT_EQ(back.session, (SessionStamp{true, 120, 1700000000000000000, 42}));
    EXPECT_TRUE(sameStore(back.store, store));
    EXPECT_EQ(store.data.size(), 4u);
}

// Unknown indexes are left out of a delete and a comment edit (undo of
// deletes: RandomEditsMatchTheModelAndReplayFromDisk).
TEST_F(Journal, EditsOfUnknownIndexesTouchNothing) {
    TagDataModel store;
    TagHistory history;
    for (int i = 0; i < 6; ++i)
        history.perform(store, TagEdit::record(store, tag(true, float(i), "ラック")));
    history.perform(store, TagEdit::remove(store, {1, 4, 99}));
    EXPECT_EQ(store.data.size(), 4u);
    EXPECT_EQ(TagEdit::comment(store, 42, "x").index, -1);
    EXPECT_TRUE(TagEdit::remove(store, {42}).rows.empty());
}

class JournalFile : public Journal {
protected:
    // A journal of three presses and a comment; returns the stores after
    // each change.
    std::vector<TagDataModel> write() {
        std::vector<TagDataModel> states;
        TagDataModel store;
        TagHistory history;
        TagJournal journal;
        journal.open(video, SessionStamp{});
        for (int i = 0; i < 3; ++i) {
            journal.changed(history.perform(store, TagEdit::record(store, tag(true, i, "DG"))),
                            store);
            states.push_back(journaltest::copyOf(store));
        }
        journal.changed(history.perform(store, TagEdit::comment(store, 2, "last")), store);
        states.push_back(journaltest::copyOf(store));
        EXPECT_TRUE(journal.flush());
        file = journal.file();
        return states;
    }
    std::string bytes() { return slurp(file); }
    void put(const std::string& b) { spit(file, b); }
    fs::path file;
};

TEST_F(JournalFile, ATornLastRecordIsIgnored) {
    const auto states = write();
    const std::string b = bytes();
    for (size_t cut : {size_t(1), size_t(5), size_t(9)}) {
        put(b.substr(0, b.size() - cut));
        const JournalContents back = readJournal(file, video);
        ASSERT_TRUE(back.ours);
        EXPECT_FALSE(back.damaged) << cut;
        EXPECT_TRUE(sameStore(back.store, states[2])) << cut;
    }
    // Zeros where the last record should be (space given, data never written).
    std::string zeroed = b;
    std::fill(zeroed.end() - 12, zeroed.end(), '\0');
    put(zeroed);
    EXPECT_FALSE(readJournal(file, video).damaged);
    EXPECT_TRUE(sameStore(readJournal(file, video).store, states[2]));
}

TEST_F(JournalFile, ItRemembersTheSessionFileItBeganFrom) {
    const fs::path session = home / "match.csv";
    std::ofstream(session) << "Team, INDEX, 再生時刻, タグ内容, コメント\n";
    const SessionStamp before = stampOfFile(session);
    EXPECT_TRUE(before.exists);
    EXPECT_EQ(stampOfFile(session), before);
    {
        TagDataModel store;
        TagJournal journal;
        journal.open(video, before);
        TagHistory history;
        journal.changed(history.perform(store, TagEdit::record(store, tag(true, 1, "PG"))), store);
        ASSERT_TRUE(journal.flush());
        file = journal.file();
    }
    std::ofstream(session, std::ios::app) << "A,1,0:00:01,PG,\"\",1.0\n";
    EXPECT_NE(stampOfFile(session), before);
    EXPECT_EQ(readJournal(file, video).session, before);
    EXPECT_FALSE(stampOfFile(home / "none.csv").exists);
}

} // namespace
