#include <QCheckBox>
#include <QComboBox>
#include <QHelpEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTableView>
#include <QToolTip>
#include <cmath>
#include <fstream>
#include <gmock/gmock.h>
#include <set>

#include "review/TagTally.h"
#include "session/TagEdit.h"
#include "support/ScreenFixture.h"
#include "tags/TallyTableModel.h"
#include "timeline/TagTimeline.h"
#include "workspace/Workspace.h"

using ::testing::HasSubstr;

// The main view on the fake player, for the tag strip and the tally.
class Timeline : public Screens {
protected:
    TagTimeline* denseMatchOnThePlayScreen();
    // The player's rate and the calls that would change it.
    std::tuple<float, size_t, int> playing() const {
        return {fake->currentRate, fake->rateCalls.size(), fake->pauseCalls};
    }
    // A click on the strip at `at`, and its seek once no double click can follow.
    bool clickSeeks(TagTimeline* strip, QPoint at) {
        const size_t seeks = fake->seeks.size();
        QTest::mouseClick(strip, Qt::LeftButton, {}, at);
        return QTest::qWaitFor([&] { return fake->seeks.size() > seeks; }, 2000);
    }
};
class Tally : public Screens {};

namespace {

QColor groupColour(int number) {
    return TagButton::colorsFor(static_cast<uint64_t>(number)).background;
}

// The colour painted at `p` of the strip as shown.
QColor pixel(TagTimeline* strip, QPoint p) {
    return strip->grab().toImage().pixelColor(p);
}

void wheel(QWidget* w, QPoint at, int notches, Qt::KeyboardModifiers mods) {
    QWheelEvent e(at, w->mapToGlobal(at), {}, QPoint(0, 120 * notches), Qt::NoButton, mods,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

QString hoverText(TagTimeline* strip, QPoint at) {
    QHelpEvent e(QEvent::ToolTip, at, strip->mapToGlobal(at));
    QApplication::sendEvent(strip, &e);
    // Off the marks the event is left for others and no tip is shown.
    return e.isAccepted() && QToolTip::isVisible() ? QToolTip::text() : QString();
}

// A double click as the window system sends it.
void doubleClick(QWidget* w, QPoint at) {
    QTest::mouseClick(w, Qt::LeftButton, {}, at);
    QTest::mouseDClick(w, Qt::LeftButton, {}, at);
    QTest::mouseRelease(w, Qt::LeftButton, {}, at);
}

// A press at `from`, moves every `step` pixels to `to`, and the release there.
void drag(QWidget* w, QPoint from, QPoint to, int step = 10) {
    QTest::mousePress(w, Qt::LeftButton, {}, from);
    const int dir = to.x() > from.x() ? step : -step;
    for (int x = from.x() + dir; dir > 0 ? x < to.x() : x > to.x(); x += dir)
        QTest::mouseMove(w, QPoint(x, to.y()));
    QTest::mouseMove(w, to);
    QTest::mouseRelease(w, Qt::LeftButton, {}, to);
}

int rowOf(const std::vector<std::shared_ptr<TagRowData>>& rows, int64_t index) {
    for (size_t r = 0; r < rows.size(); ++r)
        if (rows[r]->index == index)
            return static_cast<int>(r);
    return -1;
}

} // namespace

TEST_F(Timeline, TimelineDrawsEachListedTagAtItsTimeInItsButtonsColour) {
    TagTimeline* strip = edit->tagTimeline;
    // With no video the strip is empty: nothing to click or seek.
    EXPECT_EQ(strip->duration(), 0.0);
    QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(strip->width() / 2, 5));
    EXPECT_TRUE(fake->seeks.empty());

    openVideo("a.mp4", 600);
    press("A6", 150);  // スクラム, orange
    press("B12", 300); // トライ, purple
    press("A0", 450);  // ラック, green
    press("B17", 75);  // チェック, salmon
    EXPECT_EQ(strip->duration(), 600.0);
    const int w = strip->width();
    const QPoint scrum = strip->pointOf(150, true);
    EXPECT_EQ(scrum.x(), static_cast<int>(std::floor(150.0 * w / 600)));
    EXPECT_LT(scrum.y(), strip->height() / 2);
    EXPECT_GT(strip->pointOf(300, false).y(), strip->height() / 2);

    EXPECT_EQ(pixel(strip, scrum), groupColour(6));
    EXPECT_EQ(pixel(strip, strip->pointOf(300, false)), groupColour(12));
    // Each team in its own half: nothing of B's try in A's half.
    EXPECT_NE(pixel(strip, strip->pointOf(300, true)), groupColour(12));

    // The last press is the chosen tag: a white frame around its mark.
    EXPECT_EQ(strip->chosen(), main->tagDataModel.data.back()->index);
    const QPoint check = strip->pointOf(75, false);
    EXPECT_EQ(pixel(strip, check + QPoint(-2, 0)), QColor(Qt::white));
    EXPECT_NE(pixel(strip, scrum + QPoint(-2, 0)), QColor(Qt::white));
    // The position line, there too, leaves the mark to be seen.
    ASSERT_TRUE(QTest::qWaitFor([&] { return strip->shownPosition() == 75; }, 1000));
    EXPECT_EQ(pixel(strip, check), groupColour(17));
}

TEST_F(Timeline, TimelineZoomsAroundThePointerPansAndShowsTheWholeMatchAgain) {
    // The edges the wheel does not reach below: videos under 10 s, panning past the end.
    using V = TimelineView;
    EXPECT_EQ(TagTimeline::zoomedAround({0, 6}, 6, 3, 0.5), (V{0, 6}));
    EXPECT_EQ(TagTimeline::pannedBy({75, 300}, 600, 1000), (V{300, 300}));

    openVideo("a.mp4", 3600);
    TagTimeline* strip = edit->tagTimeline;
    const QPoint at(strip->width() / 4, strip->height() / 2);
    // The time under the pointer in the shown range, from the strip's width.
    auto under = [&] { return strip->view().start + strip->view().span * at.x() / strip->width(); };
    const double anchor = 3600.0 * at.x() / strip->width();
    wheel(strip, at, 3, Qt::ControlModifier);
    EXPECT_NEAR(strip->view().span, 3600 * std::pow(0.8, 3), 1e-6);
    EXPECT_NEAR(under(), anchor, 1e-6);
    for (int i = 0; i < 40; ++i)
        wheel(strip, at, 1, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(strip->view().span, TagTimeline::kMinSpan);
    EXPECT_NEAR(under(), anchor, 1e-6);
    const double start = strip->view().start;
    wheel(strip, at, -2, {}); // plain wheel pans later in the match
    EXPECT_NEAR(strip->view().start, start + 2 * 0.15 * TagTimeline::kMinSpan, 1e-9);
    EXPECT_DOUBLE_EQ(strip->view().span, TagTimeline::kMinSpan);
    // A click lands on the time under the pointer in the zoomed, panned view.
    ASSERT_TRUE(clickSeeks(strip, at));
    EXPECT_NEAR(fake->seeks.back(), anchor + 2 * 0.15 * TagTimeline::kMinSpan, 1e-6);
    // A double click shows the whole match; the video stays where it is,
    // paused or playing as it was.
    for (float rate : {0.0f, 1.0f}) {
        wheel(strip, at, 3, Qt::ControlModifier);
        ASSERT_LT(strip->view().span, 3600);
        fake->currentRate = rate;
        const auto seeks = fake->seeks;
        const auto before = playing();
        doubleClick(strip, QPoint(strip->width() / 2, 4));
        EXPECT_EQ(strip->view(), (V{0, 3600}));
        // A later click's seek comes after any the double click would have made.
        const QPoint other(strip->width() / 8, 4);
        const double otherTime = 3600.0 * other.x() / strip->width();
        QTest::mouseClick(strip, Qt::LeftButton, {}, other);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return fake->seeks.size() > seeks.size() &&
                       std::abs(fake->seeks.back() - otherTime) < 1e-6;
            },
            2000));
        EXPECT_EQ(fake->seeks.size(), seeks.size() + 1);
        EXPECT_EQ(playing(), before);
    }
    // Not zoomed, the plain wheel changes nothing.
    wheel(strip, at, -2, {});
    EXPECT_EQ(strip->view(), (V{0, 3600}));
}

// A click on a mark does what a click on its row does, on both screens, and
// the row is selected where the list stands.
TEST_F(Timeline, ClickingAMarkChoosesItsTagAsClickingItsRowDoes) {
    openVideo("a.mp4", 1200);
    for (int i = 0; i < 60; ++i)
        press(i % 2 ? "B6" : "A0", 10.6 + i * 18);
    main->tagDataModel.data[5]->comment = "mark five";
    edit->reloadTagDataTable(true);
    const auto& five = *main->tagDataModel.data[5]; // team B, 100.6 s
    ASSERT_FALSE(five.team);

    struct Case {
        const char* name;
        TagTableScreen* screen;
        std::function<QString()> comment;
    };
    const Case cases[] = {
        {"edit", edit, [&] { return edit->commentTextField->toPlainText(); }},
        {"play", play, [&] { return play->commentTextView->toPlainText(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.screen == play)
            click("menu_play_mode_button");
        TagTimeline* strip = c.screen->tagTimeline;
        CustomTableView* table = c.screen->tagTableView;
        // The row click, for reference.
        const int row = rowOf(c.screen->tagTableData, five.index);
        ASSERT_GE(row, 0);
        table->scrollToBottom();
        table->scrollTo(table->model()->index(row, 1));
        clickCell(table, row, 1);
        const auto rowComment = c.comment();
        EXPECT_EQ(fake->seeks.back(), 101.0); // the nearest whole second
        EXPECT_EQ(rowComment, "mark five");

        // Away from it: another tag chosen, the list at its end.
        clickCell(table, row + 1, 1);
        EXPECT_NE(c.comment(), rowComment);
        table->scrollToBottom();
        const int place = table->verticalScrollBar()->value();
        fake->currentRate = 1.0f;
        const int pauses = fake->pauseCalls;

        QTest::mouseClick(strip, Qt::LeftButton, {}, strip->pointOf(five.time_val, five.team));
        // Once no double click can follow.
        ASSERT_TRUE(QTest::qWaitFor([&] { return strip->chosen() == five.index; }, 2000));
        EXPECT_EQ(c.screen->tagTableSelectedRowIndex, five.index);
        EXPECT_EQ(c.comment(), rowComment);
        EXPECT_EQ(fake->seeks.back(), 101.0);
        EXPECT_EQ(fake->pauseCalls, pauses + 1);
        EXPECT_EQ(fake->currentRate, 0.0f);
        // Plays on after the same 2-second delay.
        EXPECT_TRUE(main->MediaPlayer->timer.isActive());
        EXPECT_EQ(main->MediaPlayer->timer.interval(), 2000);
        EXPECT_EQ(table->selectedRow(), row);
        EXPECT_EQ(table->verticalScrollBar()->value(), place);
    }
}

namespace {

constexpr double kMatch = 5400.0;
double denseTime(int i) {
    return 13.5 + 27.0 * i;
}

} // namespace

// A 90-minute match with 200 tags, one every 27 s, teams in turn: on the
// strip a mark every four or five pixels.
TagTimeline* Timeline::denseMatchOnThePlayScreen() {
    openVideo("a.mp4", kMatch);
    for (int i = 0; i < 200; ++i)
        press(i % 2 ? "B6" : "A0", denseTime(i));
    click("menu_play_mode_button");
    return play->tagTimeline;
}

// A click chooses a mark only on its pixels; elsewhere it moves the video
// exactly there and leaves it paused or playing as it was.
TEST_F(Timeline, AClickBesideAMarkSeeksThereAndKeepsPlayingOrPaused) {
    TagTimeline* strip = denseMatchOnThePlayScreen();
    const int w = strip->width();
    auto timeOf = [&](int x) { return kMatch * x / w; };
    // Team A's mark at 45:13.5; the next of team A is 54 s (some 8 px) later.
    const double markTime = denseTime(100);
    const int markX = static_cast<int>(std::floor(markTime * w / kMatch));
    const int y = strip->pointOf(markTime, true).y();
    const int64_t chosen = play->tagTableSelectedRowIndex;

    for (float rate : {0.0f, 1.0f}) {
        SCOPED_TRACE(rate);
        fake->currentRate = rate;
        const auto before = playing();
        ASSERT_TRUE(clickSeeks(strip, QPoint(markX + 3, y)));
        EXPECT_NEAR(fake->seeks.back(), timeOf(markX + 3), 1e-6);
        EXPECT_EQ(play->tagTableSelectedRowIndex, chosen);
        EXPECT_EQ(playing(), before);
        EXPECT_FALSE(main->MediaPlayer->timer.isActive());
    }

    // A press on the mark that hardly moves is still a click on it; it plays
    // on 2 seconds later as a row click does, unless the strip is clicked again.
    fake->currentRate = 0.0f;
    QTest::mousePress(strip, Qt::LeftButton, {}, QPoint(markX, y));
    QTest::mouseMove(strip, QPoint(markX + TagTimeline::kDragPx, y));
    QTest::mouseRelease(strip, Qt::LeftButton, {}, QPoint(markX + TagTimeline::kDragPx, y));
    ASSERT_TRUE(QTest::qWaitFor([&] { return strip->chosen() != chosen; }, 2000));
    EXPECT_EQ(play->tagTableData[static_cast<size_t>(play->tagTableView->selectedRow())]->time_val,
              static_cast<float>(markTime));
    EXPECT_TRUE(main->MediaPlayer->timer.isActive());
    ASSERT_TRUE(clickSeeks(strip, QPoint(w / 3, 1)));
    EXPECT_NEAR(fake->seeks.back(), timeOf(w / 3), 1e-6);
    EXPECT_FALSE(main->MediaPlayer->timer.isActive());
    EXPECT_EQ(fake->currentRate, 0.0f);
}

// A drag scrubs wherever it starts: key frame seeks follow the pointer, one
// at a time, and an exact seek ends it.
TEST_F(Timeline, DraggingScrubsFromAnywhereWithOneSeekPending) {
    TagTimeline* strip = denseMatchOnThePlayScreen();
    const int w = strip->width();
    auto timeOf = [&](int x) { return kMatch * x / w; };
    const int64_t chosen = play->tagTableSelectedRowIndex;
    fake->currentRate = 0.0f;
    const auto rates = fake->rateCalls.size();

    // From a mark at 5:10.5, over marks, to 7:02.
    const QPoint mark = strip->pointOf(denseTime(11), false);
    ASSERT_FALSE(strip->marksAt(mark).empty());
    const int to = static_cast<int>(std::ceil(422.0 * w / kMatch));
    drag(strip, mark, QPoint(to, mark.y()), 3);
    ASSERT_GE(fake->fastSeeks.size(), 3u);
    for (double t : fake->fastSeeks) {
        const double x = t * w / kMatch; // each at a pixel passed over
        EXPECT_NEAR(x, std::round(x), 1e-6);
        EXPECT_GT(x, mark.x() + TagTimeline::kDragPx);
        EXPECT_LE(x, to);
    }
    ASSERT_FALSE(fake->seeks.empty());
    EXPECT_NEAR(fake->seeks.back(), timeOf(to), 1e-6);
    EXPECT_EQ(strip->chosen(), chosen);
    EXPECT_EQ(fake->currentRate, 0.0f);
    EXPECT_EQ(fake->rateCalls.size(), rates);
    EXPECT_FALSE(main->MediaPlayer->timer.isActive());
    EXPECT_EQ(pixel(strip, QPoint(to, 1)), QColor(Qt::white)); // the line where it ended

    // While the player has not shown a seek, moves queue nothing: only the
    // latest place goes next.
    fake->fastSeeks.clear();
    const int y = strip->height() / 4;
    QTest::mousePress(strip, Qt::LeftButton, {}, QPoint(w / 2, y));
    QTest::mouseMove(strip, QPoint(w / 2 + 10, y));
    ASSERT_EQ(fake->fastSeeks.size(), 1u);
    fake->seeking = true;
    for (int x = w / 2 + 20; x <= w / 2 + 200; x += 10)
        QTest::mouseMove(strip, QPoint(x, y));
    EXPECT_EQ(fake->fastSeeks.size(), 1u);
    fake->seeking = false;
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake->fastSeeks.size() == 2; }, 2000));
    EXPECT_NEAR(fake->fastSeeks.back(), timeOf(w / 2 + 200), 1e-6);
    QTest::mouseRelease(strip, Qt::LeftButton, {}, QPoint(w / 2 + 200, y));
    EXPECT_NEAR(fake->seeks.back(), timeOf(w / 2 + 200), 1e-6);

    // Dragged past the end it stops at the end, its line still on the strip.
    drag(strip, QPoint(w - 20, y), QPoint(w + 30, y));
    EXPECT_EQ(fake->seeks.back(), kMatch);
    EXPECT_EQ(pixel(strip, QPoint(w - 1, 1)), QColor(Qt::white));
}

TEST_F(Timeline, TimelineShowsOnlyWhatTheFilterAndTeamBoxesList) {
    openVideo("a.mp4", 600);
    press("A6", 100);
    press("A0", 200);
    press("B6", 300);
    TagTimeline* strip = edit->tagTimeline;
    EXPECT_EQ(strip->marksAt(strip->pointOf(200, true)).size(), 1u);
    chooseFilter(edit->tagFilterCombo, "スクラム");
    EXPECT_TRUE(strip->marksAt(strip->pointOf(200, true)).empty());
    EXPECT_NE(pixel(strip, strip->pointOf(200, true)), groupColour(0));
    EXPECT_EQ(strip->marksAt(strip->pointOf(300, false)).size(), 1u);
    QTest::mouseClick(edit->teamB_checkBox, Qt::LeftButton);
    EXPECT_TRUE(strip->marksAt(strip->pointOf(300, false)).empty());
    EXPECT_EQ(strip->marksAt(strip->pointOf(100, true)).size(), 1u);
    // Play mode has its own filter: all three there.
    click("menu_play_mode_button");
    TagTimeline* playStrip = play->tagTimeline;
    for (auto [t, a] : {std::pair{100, true}, {200, true}, {300, false}})
        EXPECT_EQ(playStrip->marksAt(playStrip->pointOf(t, a)).size(), 1u) << t;
}

// Where the keys then go on each screen is FocusedKeysTest's matter.
TEST_F(Timeline, AClickOnTheTimelineLeavesTheKeyboardWhereItWas) {
    openVideo("a.mp4", 600);
    press("A0", 30);
    for (TagTableScreen* screen : std::initializer_list<TagTableScreen*>{edit, play}) {
        if (screen == play)
            click("menu_play_mode_button");
        clickCell(screen->tagTableView, 0, 3);
        TagTimeline* strip = screen->tagTimeline;
        QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(strip->width() / 2, 4));
        EXPECT_EQ(QApplication::focusWidget(), screen->tagTableView);
    }
    fake->currentRate = 0.0f;
    type(Qt::Key_A);
    EXPECT_EQ(fake->currentRate, 1.0f);
}

namespace {

// The columns of the scale's ticks: what is drawn on the scale's first row,
// besides the white position line.
std::vector<int> tickColumns(TagTimeline* strip) {
    const QImage image = strip->grab().toImage();
    const int y = strip->height() - TagTimeline::kScalePx + 1;
    const QColor ground = image.pixelColor(image.width() - 1, 1);
    std::vector<int> out;
    for (int x = 0; x < image.width(); ++x)
        if (const QColor c = image.pixelColor(x, y); c != ground && c != QColor(Qt::white))
            out.push_back(x);
    return out;
}

// Whether anything is drawn right of a tick, where its label goes.
bool inked(TagTimeline* strip, int tick) {
    const QImage image = strip->grab().toImage();
    const QColor ground = image.pixelColor(image.width() - 1, 1);
    for (int y = strip->height() - TagTimeline::kScalePx + 2; y < strip->height(); ++y)
        for (int x = tick + 2; x < std::min(image.width(), tick + 25); ++x)
            if (image.pixelColor(x, y) != ground)
                return true;
    return false;
}

} // namespace

TEST_F(Timeline, AZoomedStripShowsATimeScaleAndPagesToThePlayingPosition) {
    openVideo("a.mp4", 5400);
    TagTimeline* strip = edit->tagTimeline;
    const int w = strip->width();
    fake->clock = 5000; // the line out of the zoomed views' way
    ASSERT_TRUE(QTest::qWaitFor([&] { return strip->shownPosition() == 5000; }, 1000));
    EXPECT_TRUE(tickColumns(strip).empty());
    double span = 5400;
    // Zoomed from the left edge: the view starts at 0, span from the zoom steps.
    const std::set<double> roundSteps{1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600};
    double lastStep = 0;
    for (int notches : {12, 8}) {
        wheel(strip, QPoint(0, 5), notches, Qt::ControlModifier);
        span *= std::pow(0.8, notches);
        const std::vector<int> ticks = tickColumns(strip);
        ASSERT_GE(ticks.size(), 3u) << notches;
        const double step = std::round((ticks[1] - ticks[0]) * span / w);
        EXPECT_TRUE(roundSteps.count(step)) << step;
        // Room for a label, and not so sparse that a screen holds few.
        EXPECT_GE(ticks[1] - ticks[0], 30);
        EXPECT_LE(ticks[1] - ticks[0], 200);
        for (size_t i = 0; i < ticks.size(); ++i) {
            EXPECT_NEAR(ticks[i], i * step * w / span, 1.0) << i;
            if (i + 1 < ticks.size()) { // the last may have no room for its label
                EXPECT_TRUE(inked(strip, ticks[i])) << i;
            }
        }
        EXPECT_NE(step, lastStep); // closer, finer
        lastStep = step;
    }

    // Playing off the end or jumping out of the view pages it to the position
    // (within a few refreshes: the fake player sends no secondly update).
    fake->currentRate = 1.0f;
    for (double t : {5.0, 70.0, 300.0, 200.0}) {
        fake->clock = t;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return strip->shownPosition() == t && strip->view().start <= t &&
                       t <= strip->view().start + span;
            },
            1000))
            << t;
        EXPECT_DOUBLE_EQ(strip->view().span, span);
    }
    // Paused, the view stays; playing on, it follows.
    fake->currentRate = 0.0f;
    fake->clock = 400;
    ASSERT_TRUE(QTest::qWaitFor([&] { return strip->shownPosition() == 400; }, 1000));
    EXPECT_LT(strip->view().start, 300);
    fake->currentRate = 1.0f;
    fake->clock = 400.1;
    ASSERT_TRUE(QTest::qWaitFor([&] { return strip->view().start > 390; }, 1000));
    // Moved away by the user, it stays where the user put it.
    wheel(strip, QPoint(w / 2, 5), -3, {});
    const TimelineView away = strip->view();
    ASSERT_GT(away.start, 400.2);
    fake->clock = 400.2;
    ASSERT_TRUE(QTest::qWaitFor([&] { return strip->shownPosition() == 400.2; }, 1000));
    EXPECT_EQ(strip->view(), away);
}

namespace {

struct TallyCounts {
    qlonglong a, b, total;
    bool operator==(const TallyCounts&) const = default;
};

int tallyRowOf(QTableView* view, const QString& name) {
    for (int r = 0; r < view->model()->rowCount(); ++r)
        if (view->model()->index(r, 0).data().toString() == name)
            return r;
    return -1;
}

TallyCounts countsIn(QTableView* view, const QString& name) {
    const int r = tallyRowOf(view, name);
    if (r < 0)
        return {-1, -1, -1};
    QAbstractItemModel* m = view->model();
    return {m->index(r, 1).data().toLongLong(), m->index(r, 2).data().toLongLong(),
            m->index(r, 3).data().toLongLong()};
}

} // namespace

TEST_F(Tally, TallyCountsTheTeamsTheBoxesLetThroughWhateverTheNameFilter) {
    openVideo("a.mp4", 600);
    for (const auto& [id, t] : std::vector<std::pair<const char*, double>>{
             {"A6", 10}, {"B6", 20}, {"A6", 30}, {"B15", 40}, {"A0", 50}, {"B0", 60}, {"B0", 70}})
        press(id, t);
    click("menu_play_mode_button");
    QTableView* tally = play->tallyTableView;
    ASSERT_EQ(tally->model()->rowCount(), 18);
    EXPECT_EQ(tally->model()->headerData(1, Qt::Horizontal).toString(), "チームA");
    EXPECT_EQ(countsIn(tally, "スクラム"), (TallyCounts{2, 1, 3}));
    // Rows without tags are greyed, the others not.
    auto ink = [&](const char* name) {
        return tally->model()->index(tallyRowOf(tally, name), 0).data(Qt::ForegroundRole);
    };
    EXPECT_NE(ink("トライ"), ink("ラック"));

    // The name filter narrows the list, not the tally.
    chooseFilter(play->tagFilterCombo, "ペナルティ");
    EXPECT_EQ(play->tagTableData.size(), 1u);
    EXPECT_EQ(countsIn(tally, "スクラム"), (TallyCounts{2, 1, 3}));
    // The team boxes narrow both.
    QTest::mouseClick(play->teamB_checkBox, Qt::LeftButton);
    EXPECT_EQ(countsIn(tally, "スクラム"), (TallyCounts{2, 0, 2}));

    // Tags recorded in edit mode are counted on coming back.
    click("menu_edit_mode_button");
    press("A6", 80);
    click("menu_play_mode_button");
    EXPECT_EQ(countsIn(tally, "スクラム"), (TallyCounts{3, 0, 3}));
}

TEST_F(Tally, ClickingACountListsThatTagOfThatTeam) {
    openVideo("a.mp4", 600);
    for (auto [id, t] : {std::pair{"A6", 10}, {"B6", 20}, {"A6", 30}, {"B0", 40}})
        press(id, t);
    click("menu_play_mode_button");
    QTableView* tally = play->tallyTableView;
    const int scrum = tallyRowOf(tally, "スクラム");

    clickCell(tally, scrum, TallyTableModel::TeamBCol);
    EXPECT_EQ(play->tagFilterCombo->currentText(), "スクラム");
    EXPECT_FALSE(play->teamA_checkBox->isChecked());
    EXPECT_TRUE(play->teamB_checkBox->isChecked());
    ASSERT_EQ(play->tagTableData.size(), 1u);
    EXPECT_FALSE(play->tagTableData[0]->team);
    EXPECT_EQ(countsIn(tally, "スクラム"), (TallyCounts{0, 1, 1}));

    clickCell(tally, scrum, TallyTableModel::TeamACol);
    EXPECT_TRUE(play->teamA_checkBox->isChecked());
    EXPECT_FALSE(play->teamB_checkBox->isChecked());
    EXPECT_EQ(names(play->tagTableData), (std::vector<std::string>{"スクラム", "スクラム"}));

    clickCell(tally, tallyRowOf(tally, "ラック"), TallyTableModel::TotalCol);
    EXPECT_EQ(play->tagFilterCombo->currentText(), "ラック");
    EXPECT_TRUE(play->teamA_checkBox->isChecked());
    EXPECT_TRUE(play->teamB_checkBox->isChecked());
    EXPECT_EQ(names(play->tagTableData), (std::vector<std::string>{"ラック"}));

    // A click on a name changes nothing.
    clickCell(tally, scrum, TallyTableModel::NameCol);
    EXPECT_EQ(play->tagFilterCombo->currentText(), "ラック");
}

TEST_F(Tally, TallyExportWritesTheShownCountsAsCsv) {
    openVideo("a.mp4", 600);
    click("menu_play_mode_button");
    click("onTallyCSVOutput");
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown.back().message, "出力するデータがありません。");
    EXPECT_TRUE(dialogs.panels.empty());

    click("menu_edit_mode_button");
    for (auto [id, t] : {std::pair{"A6", 10}, {"B6", 20}, {"A13", 30}})
        press(id, t);
    click("menu_play_mode_button");
    dialogs.paths = {(dir / "tally").string()};
    click("onTallyCSVOutput");
    ASSERT_FALSE(dialogs.panels.empty());
    EXPECT_EQ(dialogs.panels.back().panel.proposedName, "a_集計");
    EXPECT_EQ(dialogs.shown.back().message, "CSVファイルが作成されました。");
    EXPECT_THAT(slurp(dir / "tally.csv"), HasSubstr("\nスクラム,1,1,2\n"));

    // With team A's box off, the file says what the table shows.
    QTest::mouseClick(play->teamA_checkBox, Qt::LeftButton);
    dialogs.paths = {(dir / "b.csv").string()};
    click("onTallyCSVOutput");
    EXPECT_THAT(slurp(dir / "b.csv"), HasSubstr("\nスクラム,0,1,1\n"));
    EXPECT_THAT(slurp(dir / "b.csv"), HasSubstr("\nPG,0,0,0\n"));

    dialogs.paths = {(dir / "missing" / "x.csv").string()};
    click("onTallyCSVOutput");
    EXPECT_EQ(dialogs.shown.back().title, "失敗");
    EXPECT_EQ(dialogs.shown.back().style, "error");
}

// Periods on the match: both lists and the strip's tool tip read match time,
// sorted still by video time, and the tally splits by period; the 試合時間
// switch (one for both screens) and an undo of the periods bring video time
// back.
TEST_F(Tally, MatchTimeReadsInBothListsTheStripAndTheTally) {
    openVideo("a.mp4", 6000);
    struct Case {
        const char* button;
        double at;
        QString video, match;
    };
    const Case cases[] = {{"A6", 50, "0:00:50", "試合前"},
                          {"B6", 854, "0:14:14", "前半 12:34"},
                          {"A0", 2700, "0:45:00", "ハーフタイム"},
                          {"B0", 3061, "0:51:01", "後半 41:01"}};
    for (const Case& c : cases)
        press(c.button, c.at);
    const auto shown = [&cases](TagTableScreen* screen, bool match) {
        QStringList got, want;
        const TagTableModel* model = screen->tagModel();
        const int column = model->columnOf(
            screen == screen->myParent->editViewController ? "EditTagTimeCol" : "PlayTagTimeCol");
        for (int r = 0; r < model->rowCount(); ++r)
            got << model->index(r, column).data().toString();
        for (const Case& c : cases)
            want << (match ? c.match : c.video);
        return got == want ? QString() : got.join(" | ");
    };
    ASSERT_FALSE(edit->matchTimeCheckBox->isVisible());
    MatchInfo match;
    match.periods = {{"前半", 100, 2500, 0}, {"後半", 3000, MatchPeriod::kOpenEnd, 2400}};
    main->session->perform(TagEdit::match(main->tagDataModel, match));
    EXPECT_EQ(shown(edit, true), "");
    click("menu_play_mode_button");
    EXPECT_EQ(shown(play, true), "");
    EXPECT_EQ(hoverText(play->tagTimeline, play->tagTimeline->pointOf(854, false)),
              "チームB  前半 12:34  スクラム");
    // A second click on 時間 lists the latest video time first.
    clickHeader(play->tagTableView, play->tagModel()->columnOf("PlayTagTimeCol"));
    clickHeader(play->tagTableView, play->tagModel()->columnOf("PlayTagTimeCol"));
    EXPECT_EQ(names(play->tagTableData),
              (std::vector<std::string>{"ラック", "ラック", "スクラム", "スクラム"}));
    EXPECT_EQ(play->tagTableData.front()->time_val, 3061.0f);
    clickHeader(play->tagTableView, play->tagModel()->columnOf("PlayTagTimeCol"));

    // The tally by period (its counts: TagTally.PeriodsSplitEachNamesCountsPerTeam).
    chooseFilter(play->tallyLabelPopUp, "期間別");
    EXPECT_EQ(play->tallyModel()->headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(),
              "期間外");

    QTest::mouseClick(play->matchTimeCheckBox, Qt::LeftButton);
    EXPECT_EQ(shown(play, false), "");
    EXPECT_EQ(shown(edit, false), "");
    EXPECT_FALSE(edit->matchTimeCheckBox->isChecked());
    EXPECT_FALSE(Workspace().showMatchTime()); // the next run's choice too
    EXPECT_EQ(hoverText(play->tagTimeline, play->tagTimeline->pointOf(854, false)),
              "チームB  0:14:14  スクラム");
    QTest::mouseClick(play->matchTimeCheckBox, Qt::LeftButton);
    EXPECT_EQ(shown(edit, true), "");

    ASSERT_TRUE(main->undoTagEdit());
    EXPECT_EQ(shown(play, false), "");
    EXPECT_FALSE(play->matchTimeCheckBox->isVisible());
    EXPECT_EQ(play->tallyLabelPopUp->findText("期間別"), -1);
}
