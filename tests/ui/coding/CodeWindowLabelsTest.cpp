#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QToolTip>
#include <gmock/gmock.h>

#include "support/ScreenFixture.h"
#include "tags/TallyTableModel.h"
#include "timeline/TagTimeline.h"

using ::testing::HasSubstr;

namespace {

constexpr int kRestore = 0; // the recovery question's answers

// A point code (Q / W), a code that lasts (E / R) and two label groups with
// keys 1, 2 and Z, X.
const char* const kLabelled =
    R"({"format": "rucktag-codewindow", "version": 1, "name": "ラベル付き",
 "codes": [{"name": "スクラム", "color": "#f08000", "keyA": "Q", "keyB": "W"},
           {"name": "ポゼッション", "color": "#2060c0", "mode": "duration",
            "keyA": "E", "keyB": "R"}],
 "labels": [{"group": "結果", "texts": ["成功", "失敗"], "keys": ["1", "2"]},
            {"group": "位置", "texts": ["自陣", "敵陣"], "keys": ["Z", "X"]}]}
)";

using Labels = TagLabels;

class WindowLabels : public Screens {
protected:
    void SetUp() override { restartWithWindows({{"labelled.json", kLabelled}}); }
    void chooseLabelled() { chooseWindow("ラベル付き"); }
    const TagRowData& tag(size_t place) const { return *main->tagDataModel.data.at(place); }
    static QString cell(CustomTableView* table, int row, const char* column) {
        const auto* m = static_cast<const TagTableModel*>(table->model());
        return m->data(m->index(row, m->columnOf(column))).toString();
    }
    static bool columnShown(CustomTableView* table, const char* column) {
        const auto* m = static_cast<const TagTableModel*>(table->model());
        return !table->isColumnHidden(m->columnOf(column));
    }
    QAbstractButton* labelButton(const char* id) {
        return edit->codePanel->labelPanel->findChild<QAbstractButton*>(id);
    }
};

} // namespace

// A label's key acts on the chosen tag (from which controls is the key
// table's matter): set, replaced by the other text of its group, taken off by
// the same text again; the table, the buttons and the strip's tip show it.
TEST_F(WindowLabels, LabelKeysActOnTheChosenTag) {
    chooseLabelled();
    openVideo("a.mp4");
    press("A0", 1);
    press("B0", 5);
    ASSERT_TRUE(edit->codePanel->labelPanel->isVisible());
    EXPECT_TRUE(columnShown(edit->tagTableView, "EditTagLabelsCol"));

    clickCell(edit->tagTableView, 0, 4); // the first tag, by its row
    type(Qt::Key_1);
    EXPECT_EQ(tag(0).labels, (Labels{{"結果", "成功"}}));
    EXPECT_TRUE(tag(1).labels.empty());
    EXPECT_EQ(cell(edit->tagTableView, 0, "EditTagLabelsCol"), "成功");
    EXPECT_TRUE(labelButton("label_0_0")->isChecked());
    type(Qt::Key_2);
    EXPECT_EQ(tag(0).labels, (Labels{{"結果", "失敗"}}));
    EXPECT_FALSE(labelButton("label_0_0")->isChecked());
    EXPECT_TRUE(labelButton("label_0_1")->isChecked());
    type(Qt::Key_Z);
    EXPECT_EQ(cell(edit->tagTableView, 0, "EditTagLabelsCol"), "失敗・自陣");
    type(Qt::Key_2);
    EXPECT_EQ(tag(0).labels, (Labels{{"位置", "自陣"}}));

    // A tag just recorded by its key is the chosen one.
    fake->clock = 20;
    type(Qt::Key_W);
    ASSERT_EQ(main->tagDataModel.data.size(), 3u);
    type(Qt::Key_X);
    EXPECT_EQ(tag(2).labels, (Labels{{"位置", "敵陣"}}));
    EXPECT_EQ(tag(0).labels, (Labels{{"位置", "自陣"}}));

    // The button does as the key; the tip of the strip names the labels.
    QTest::mouseClick(labelButton("label_0_0"), Qt::LeftButton);
    EXPECT_EQ(tag(2).labels, (Labels{{"位置", "敵陣"}, {"結果", "成功"}}));
    const QString tip = edit->tagTimeline->toolTipAt(edit->tagTimeline->pointOf(20, false));
    EXPECT_TRUE(tip.contains("位置: 敵陣")) << tip.toStdString();
    EXPECT_TRUE(tip.contains("結果: 成功")) << tip.toStdString();

    click("menu_play_mode_button");
    EXPECT_TRUE(columnShown(play->tagTableView, "PlayTagLabelsCol"));
}

// Each label change is one step: undone and redone by the keys, and
// journaled, so a crash loses none of it.
TEST_F(WindowLabels, LabelChangesAreUndoneOneByOneAndSurviveACrash) {
    chooseLabelled();
    openVideo("m.mp4");
    press("A0", 1);
    clickCell(edit->tagTableView, 0, 4);
    type(Qt::Key_1);
    type(Qt::Key_Z);
    type(Qt::Key_2);
    ASSERT_EQ(tag(0).labels, (Labels{{"結果", "失敗"}, {"位置", "自陣"}}));
    type(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(cell(edit->tagTableView, 0, "EditTagLabelsCol"), "成功・自陣");
    EXPECT_TRUE(labelButton("label_0_0")->isChecked());
    type(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(tag(0).labels, (Labels{{"結果", "成功"}}));
    type(Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(tag(0).labels, (Labels{{"結果", "成功"}, {"位置", "自陣"}}));
    ASSERT_EQ(main->tagDataModel.data.size(), 1u);

    crashAndRestart();
    dialogs.answers.push_back(kRestore);
    openVideo("m.mp4");
    ASSERT_EQ(main->tagDataModel.data.size(), 1u);
    EXPECT_EQ(tag(0).labels, (Labels{{"結果", "成功"}, {"位置", "自陣"}}));
}

// With no tag chosen a label is refused with a word that does not stop the
// video or take the keys; the standard window has no label panel and its
// tables no ラベル column.
TEST_F(WindowLabels, NoChosenTagIsToldAndTheStandardWindowShowsNoLabels) {
    chooseLabelled();
    openVideo("a.mp4");
    dialogs.shown.clear();
    QTest::mouseClick(labelButton("label_1_1"), Qt::LeftButton);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(QToolTip::text(), "ラベルを付けるタグを選択してください。");
    EXPECT_FALSE(labelButton("label_1_1")->isChecked());
    press("A0", 1);
    EXPECT_EQ(main->tagDataModel.data.size(), 1u);

    chooseFilter(edit->codePanel->codeWindowPopUp, "標準");
    press("A0", 1);
    EXPECT_FALSE(edit->codePanel->labelPanel->isVisible());
    EXPECT_TRUE(edit->codePanel->labelButtons.empty());
    EXPECT_FALSE(columnShown(edit->tagTableView, "EditTagLabelsCol"));
    EXPECT_FALSE(columnShown(play->tagTableView, "PlayTagLabelsCol"));
}

// A custom window leads the filter pop-up and the tally with its codes, in its
// order; names of no code follow, still listed, tallied and chosen, in grey.
TEST_F(WindowLabels, FilterAndTallyFollowTheWindowOtherNamesAfter) {
    openVideo("a.mp4");
    press("A0", 1);  // ラック of the standard window
    press("B12", 2); // トライ
    chooseLabelled();
    press("A1", 3);
    press("A1", 6); // ポゼッション 3–6
    press("B0", 4);

    QStringList items;
    for (int i = 0; i < edit->tagFilterCombo->count(); ++i)
        items << edit->tagFilterCombo->itemText(i);
    EXPECT_EQ(items, (QStringList{"すべてを見る", "スクラム", "ポゼッション", "ラック", "トライ"}));

    chooseFilter(edit->tagFilterCombo, "ポゼッション");
    EXPECT_EQ(names(edit->tagTableData), (std::vector<std::string>{"ポゼッション"}));

    click("menu_play_mode_button");
    EXPECT_EQ(play->tagFilterCombo->count(), items.size());
    std::vector<std::string> rows;
    for (const TallyRow& r : play->tallyModel()->tally())
        rows.push_back(r.name + " " + std::to_string(r.teamA) + "/" + std::to_string(r.teamB));
    EXPECT_EQ(rows, (std::vector<std::string>{"スクラム 0/1", "ポゼッション 1/0", "ラック 1/0",
                                              "トライ 0/1"}));
    EXPECT_EQ(play->tagTimeline->colorOf("スクラム"), QColor("#f08000"));
    EXPECT_EQ(play->tagTimeline->colorOf("ラック"), QColor(128, 128, 128));

    // Back on the standard window, the pop-up is today's and ポゼッション follows.
    click("menu_edit_mode_button");
    chooseFilter(edit->codePanel->codeWindowPopUp, "標準");
    ASSERT_EQ(edit->tagFilterCombo->count(), 1 + 18 + 1);
    EXPECT_EQ(edit->tagFilterCombo->itemText(19), "ポゼッション");
    EXPECT_EQ(edit->tagTimeline->colorOf("ラック"), TagButton::colorsFor(0).background);
}

// A tag that lasts is a bar from its start to its end in its code's colour;
// while open, to the playing position.
TEST_F(WindowLabels, ADurationTagIsABarOnTheStrip) {
    chooseLabelled();
    openVideo("a.mp4", 600);
    press("A1", 120);
    const TagRowData& open = tag(0);
    press("A1", 300);
    TagTimeline* strip = edit->tagTimeline;
    const QRect bar = strip->barOf(open);
    ASSERT_FALSE(bar.isEmpty());
    EXPECT_NEAR(bar.left(), strip->xOf(120), 1.0);
    EXPECT_NEAR(bar.right(), strip->xOf(300), 2.0);
    fake->clock = 500; // the position line stays clear of the bar
    QTest::qWait(TagTimeline::kTickMs * 3);
    const QImage shot = strip->grab().toImage();
    const QPoint middle(static_cast<int>(strip->xOf(210)), bar.center().y());
    EXPECT_EQ(shot.pixelColor(middle), QColor("#2060c0"));
    // Past the end, the lane is empty.
    EXPECT_NE(shot.pixelColor(QPoint(static_cast<int>(strip->xOf(400)), bar.center().y())),
              QColor("#2060c0"));
    // A point tag has no bar.
    press("B0", 200);
    EXPECT_TRUE(strip->barOf(tag(1)).isEmpty());
}

// With a label group chosen, the tally counts each text (and none) per tag
// and team; back on タグ別 it is the tally again.
TEST_F(WindowLabels, TheTallyBecomesAMatrixOfALabelGroup) {
    chooseLabelled();
    openVideo("a.mp4");
    for (double at : {1.0, 2.0, 3.0})
        press("A0", at);
    press("B0", 4);
    clickCell(edit->tagTableView, 0, 4);
    type(Qt::Key_1); // 成功
    clickCell(edit->tagTableView, 1, 4);
    type(Qt::Key_2); // 失敗
    clickCell(edit->tagTableView, 3, 4);
    type(Qt::Key_1);

    click("menu_play_mode_button");
    ASSERT_TRUE(play->tallyLabelPopUp->isVisible());
    chooseFilter(play->tallyLabelPopUp, "結果");
    const TallyTableModel* m = play->tallyModel();
    ASSERT_EQ(m->columnCount(), 5);
    EXPECT_EQ(m->headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(), "なし");
    auto row = [&](int r) {
        QStringList cells;
        for (int c = 0; c < m->columnCount(); ++c)
            cells << m->data(m->index(r, c), Qt::DisplayRole).toString();
        return cells.join(' ');
    };
    EXPECT_EQ(row(0), "スクラム A 1 1 1");
    EXPECT_EQ(row(1), "スクラム B 1 0 0");
    EXPECT_EQ(row(2), "ポゼッション A 0 0 0");
    QTest::mouseClick(play->teamB_checkBox, Qt::LeftButton); // team A alone
    EXPECT_EQ(row(1), "ポゼッション A 0 0 0");
    // 集計CSV出力 writes the matrix shown.
    dialogs.paths = {(dir / "matrix.csv").string()};
    click("onTallyCSVOutput");
    const std::string csv = slurp(dir / "matrix.csv");
    EXPECT_THAT(csv, HasSubstr("タグ,チーム,成功,失敗,なし\n"));
    EXPECT_THAT(csv, HasSubstr("\nスクラム,A,1,1,1\nポゼッション,A,0,0,0\n"));

    chooseFilter(play->tallyLabelPopUp, "タグ別");
    EXPECT_EQ(m->columnCount(), 4);
    EXPECT_EQ(m->tally().front().teamA, 3);
}
