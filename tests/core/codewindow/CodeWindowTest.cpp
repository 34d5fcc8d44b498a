#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>

#include "Model/DataModel.h"
#include "codewindow/CodeRecorder.h"
#include "codewindow/CodeWindow.h"

namespace {

// The video time a test sets.
struct FakeClock {
    double now = 0.0;
    CodeRecorder::Clock clock() {
        return [this] { return now; };
    }
};

Code code(std::string name, CodeMode mode = CodeMode::Point, std::string group = {}) {
    Code c;
    c.name = std::move(name);
    c.color = "#336699";
    c.mode = mode;
    c.group = std::move(group);
    return c;
}

// 攻撃 and 守備 last and exclude each other; スクラム lasts alone; トライ is a
// point of their group; PG a point of none.
CodeWindow sevens() {
    CodeWindow w;
    w.name = "7人制";
    w.codes = {code("攻撃", CodeMode::Duration, "局面"), code("守備", CodeMode::Duration, "局面"),
               code("スクラム", CodeMode::Duration), code("トライ", CodeMode::Point, "局面"),
               code("PG")};
    return w;
}

struct Span {
    std::string name;
    bool team;
    float start;
    TagEnd end;
    bool operator==(const Span&) const = default;
};
std::vector<Span> spans(const TagDataModel& store) {
    std::vector<Span> out;
    for (const auto& t : store.data)
        out.push_back({t->name, t->team, t->time_val, t->end});
    return out;
}
const TagEnd kOpen{TagEnd::State::Open, 0};

// Presses on the seven-a-side window, each at its video time, undoable.
class Pressing : public ::testing::Test {
protected:
    void press(size_t code, bool teamA, double at) {
        t.now = at;
        history.perform(store, recorder.press(store, code, teamA));
    }
    FakeClock t;
    CodeRecorder recorder{sevens(), t.clock()};
    TagDataModel store;
    TagHistory history;
};

} // namespace

TEST(CodeWindow, TheStandardWindowIsTodaysPanel) {
    const CodeWindow& w = CodeWindow::standard();
    EXPECT_EQ(w.name, "標準");
    EXPECT_TRUE(w.builtIn);
    ASSERT_EQ(w.codes.size(), kTagLabels.size());
    for (const Code& c : w.codes) // no keys to take from the player, nothing lasts
        EXPECT_TRUE(c.keyA.empty() && c.keyB.empty() && c.group.empty() && !c.lead && !c.lag &&
                    c.mode == CodeMode::Point)
            << c.name;

    // A copy is no longer the built-in one, and is a window that can be saved.
    const CodeWindow copy = w.duplicate("私の標準");
    EXPECT_FALSE(copy.builtIn);
    EXPECT_EQ(copy.codes, w.codes);
    EXPECT_TRUE(checkCodeWindow(copy).empty());
    EXPECT_FALSE(checkCodeWindow(w.duplicate("標準")).empty());

    // A press records what the panel's buttons record: one new tag.
    FakeClock t{65.5};
    CodeRecorder recorder(w, t.clock());
    TagDataModel store;
    store.apply(recorder.press(store, 6, true));
    const TagEdit e = recorder.press(store, 17, false);
    ASSERT_EQ(e.kind, TagEdit::Kind::Insert);
    store.apply(e);
    EXPECT_EQ(spans(store),
              (std::vector<Span>{{"スクラム", true, 65.5f, {}}, {"チェック", false, 65.5f, {}}}));
    EXPECT_EQ(store.data[0]->time_string, "0:01:05");
    EXPECT_EQ(store.data[1]->index, 1);
}

TEST_F(Pressing, ADurationCodeStartsAndEndsItsTagPerTeamAsOneStepEach) {
    press(2, true, 10);  // スクラム A starts
    press(2, false, 12); // スクラム B starts
    EXPECT_EQ(recorder.openTag(store, 2, true), store.data[0]);
    press(2, true, 15);  // A ends
    press(4, true, 16);  // PG: a point, nothing ends
    press(2, false, 11); // B ends, the video taken back: at its start
    press(2, true, 20);  // A starts again
    EXPECT_EQ(spans(store), (std::vector<Span>{{"スクラム", true, 10, TagEnd::at(15)},
                                               {"スクラム", false, 12, TagEnd::at(12)},
                                               {"PG", true, 16, {}},
                                               {"スクラム", true, 20, kOpen}}));
    EXPECT_EQ(recorder.openTag(store, 2, false), nullptr);
    // Undone, the end goes and the tag is open again; redone, it ends again.
    history.undo(store);
    history.undo(store);
    EXPECT_EQ(store.data[1]->end, kOpen);
    EXPECT_EQ(recorder.openTag(store, 2, false), store.data[1]);
    history.redo(store);
    EXPECT_EQ(store.data[1]->end, TagEnd::at(12));
}

TEST_F(Pressing, ACodeOfAGroupEndsTheOpenOneOfItsGroupForThatTeam) {
    press(0, true, 10);  // 攻撃 A
    press(1, false, 10); // 守備 B
    press(2, true, 12);  // スクラム A: no group, 攻撃 A stays open
    press(1, true, 20);  // 守備 A ends 攻撃 A
    press(3, true, 25);  // トライ A ends 守備 A
    EXPECT_EQ(spans(store), (std::vector<Span>{{"攻撃", true, 10, TagEnd::at(20)},
                                               {"守備", false, 10, kOpen},
                                               {"スクラム", true, 12, kOpen},
                                               {"守備", true, 20, TagEnd::at(25)},
                                               {"トライ", true, 25, {}}}));
    // The press that ended one and started another is undone as one.
    history.undo(store);
    history.undo(store);
    EXPECT_EQ(spans(store), (std::vector<Span>{{"攻撃", true, 10, kOpen},
                                               {"守備", false, 10, kOpen},
                                               {"スクラム", true, 12, kOpen}}));
    // A code the window does not have changes nothing.
    EXPECT_EQ(recorder.press(store, 99, true).steps.size(), 0u);
}

// Random presses of both teams, a clock that runs on and sometimes back, and
// undos and redos: no tag ends before it starts, and each team has at most
// one open tag per code and per group, and only of codes that last.
TEST(CodeWindow, RandomPressesKeepEndsAfterStartsAndOneOpenTagPerGroup) {
    const CodeWindow window = sevens();
    std::mt19937 rng(20260101);
    for (int round = 0; round < 30; ++round) {
        FakeClock t;
        CodeRecorder recorder(window, t.clock());
        TagDataModel store;
        TagHistory history;
        for (int step = 0; step < 300; ++step) {
            const unsigned what = rng() % 10;
            if (what < 7) {
                t.now = std::max(0.0, t.now + static_cast<double>(rng() % 400) / 10.0 - 8.0);
                history.perform(store,
                                recorder.press(store, rng() % window.codes.size(), rng() % 2 == 0));
            } else if (what < 9) {
                history.undo(store);
            } else {
                history.redo(store);
            }
            std::set<std::pair<std::string, bool>> open;
            for (const auto& tag : store.data) {
                if (tag->end.isSet()) {
                    ASSERT_LE(tag->time_val, tag->end.time) << round << " " << step;
                }
                if (tag->end.state != TagEnd::State::Open)
                    continue;
                const Code* c = window.find(tag->name);
                ASSERT_TRUE(c && c->mode == CodeMode::Duration);
                const std::string key = c->group.empty() ? "code " + c->name : c->group;
                ASSERT_TRUE(open.emplace(key, tag->team).second)
                    << "two open tags of " << key << ", round " << round << " step " << step;
            }
        }
    }
}

TEST(CodeWindow, ProblemsNameWhereTheyAre) {
    CodeWindow w = sevens();
    EXPECT_TRUE(checkCodeWindow(w).empty());
    w.name.clear();
    w.codes[1].name = "攻撃";
    w.codes[2].color = "orange";
    w.codes[0].keyA = "Shift+1";
    w.codes[3].keyB = "shift + 1";
    w.codes[4].lag = 61;
    w.labels = {{"結果", {"成功", "成功"}, {"Q", "W", "E"}}, {"", {}, {}}};
    std::vector<std::string> where;
    for (const WindowProblem& p : checkCodeWindow(w))
        where.push_back(std::to_string(static_cast<int>(p.part)) + "/" + std::to_string(p.item) +
                        "/" + p.field);
    EXPECT_EQ(where,
              (std::vector<std::string>{"0/0/name", "1/1/name", "1/2/color", "1/3/keyB", "1/4/lag",
                                        "2/0/texts", "2/0/keys", "2/1/group", "2/1/texts"}));
}
