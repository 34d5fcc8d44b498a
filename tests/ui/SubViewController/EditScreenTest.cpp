#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>

#include "support/ScreenFixture.h"

using Strings = std::vector<std::string>;

// The main view on the fake player, for the edit screen.
class EditScreen : public Screens {};

TEST_F(EditScreen, NewTagShowsLastDespiteFilterUntilTheNextRebuild) {
    openVideo("match.mp4");
    press("A6", 1); // スクラム
    chooseFilter(edit->tagFilterCombo, "スクラム");
    press("A0", 2); // ラック: hidden by the filter, still listed last
    EXPECT_EQ(names(edit->tagTableData), (Strings{"スクラム", "ラック"}));
    EXPECT_EQ(edit->tagModel()->rowCount(), 2);
    // Choosing the item already shown rebuilds all the same.
    chooseFilter(edit->tagFilterCombo, "スクラム");
    EXPECT_EQ(names(edit->tagTableData), (Strings{"スクラム"}));
    EXPECT_EQ(main->tagDataModel.data.size(), 2u);
}

TEST_F(EditScreen, HeaderClicksCycleTheSortAndResetTheOthers) {
    openVideo("match.mp4");
    press("A0", 30);
    press("B6", 10);
    press("A12", 20);
    const int time = edit->tagModel()->columnOf("EditTagTimeCol");
    const int name = edit->tagModel()->columnOf("EditTagNameCol");
    clickHeader(edit->tagTableView, time);
    EXPECT_EQ(edit->filterSortData.sort_tag_time, 1);
    EXPECT_EQ(names(edit->tagTableData), (Strings{"スクラム", "トライ", "ラック"}));
    clickHeader(edit->tagTableView, time);
    EXPECT_EQ(edit->filterSortData.sort_tag_time, -1);
    EXPECT_EQ(names(edit->tagTableData), (Strings{"ラック", "トライ", "スクラム"}));
    clickHeader(edit->tagTableView, name);
    EXPECT_EQ(edit->filterSortData.sort_tag_name, 1);
    EXPECT_EQ(edit->filterSortData.sort_tag_time, 0);
    // The index column changes no sort but rebuilds.
    clickHeader(edit->tagTableView, edit->tagModel()->columnOf("EditTagIndexCol"));
    EXPECT_EQ(edit->filterSortData.sort_tag_name, 1);
    EXPECT_EQ(edit->tagModel()->data(edit->tagModel()->index(0, 2), Qt::DisplayRole).toInt(), 1);
}

TEST_F(EditScreen, CheckAllAndDeleteAskFirst) {
    openVideo("match.mp4");
    for (int i = 0; i < 6; ++i)
        press(i % 2 ? "B1" : "A0", i);
    main->m_fSave = false;

    click("onTagDelete"); // nothing ticked
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].message, "削除する項目を選択してください。");
    EXPECT_EQ(dialogs.shown[0].style, "warning");

    // Tick rows 2 and 5 by clicking their boxes; "no" keeps everything.
    for (int row : {1, 4})
        clickCell(edit->tagTableView, row, 0);
    EXPECT_TRUE(fake->seeks.empty()) << "a click on a check box must not seek";
    dialogs.answers = {0};
    click("onTagDelete");
    EXPECT_EQ(dialogs.shown.back().message, "選択された項目を削除しますか？");
    EXPECT_EQ(main->tagDataModel.data.size(), 6u);

    dialogs.answers = {1};
    click("onTagDelete");
    EXPECT_EQ(main->tagDataModel.data.size(), 4u);
    std::vector<int64_t> left;
    for (const auto& t : edit->tagTableData)
        left.push_back(t->index);
    EXPECT_EQ(left, (std::vector<int64_t>{0, 2, 3, 5}));
    EXPECT_TRUE(main->m_fSave);

    // Check-all ticks every row, even those out of sight, and the title flips.
    for (int i = 0; i < 80; ++i)
        press("A3", i);
    clickHeader(edit->tagTableView, 0);
    EXPECT_TRUE(edit->tagTableCheckAllStatus);
    EXPECT_EQ(edit->tagModel()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "✅");
    for (int r = 0; r < edit->tagModel()->rowCount(); ++r)
        ASSERT_TRUE(edit->tagModel()->isTicked(r)) << r;
    // Scrolling keeps the ticks; a rebuild clears them but not the title.
    edit->tagTableView->scrollToBottom();
    EXPECT_TRUE(edit->tagModel()->isTicked(0));
    chooseFilter(edit->tagFilterCombo, MainViewController::TOTAL_ITEM);
    EXPECT_FALSE(edit->tagModel()->isTicked(0));
    EXPECT_TRUE(edit->tagTableCheckAllStatus);
    clickHeader(edit->tagTableView, 0);
    EXPECT_EQ(edit->tagModel()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "❎");
}

TEST_F(EditScreen, OnlyTheRowActionMovesTheSelectionSoCommentsLandOnTheShownTag) {
    openVideo("match.mp4");
    press("A0", 1);
    press("A13", 2); // PG: a letter for type-ahead
    press("A2", 3);
    CustomTableView* table = edit->tagTableView;
    clickCell(table, 0, 3);
    QTest::mouseClick(edit->commentTextField->viewport(), Qt::LeftButton);
    typeText("first");
    click("onCommentAdd");
    clickCell(table, 0, 3);
    ASSERT_EQ(edit->tagTableSelectedRowIndex, main->tagDataModel.data[0]->index);

    // Right click, a drag, arrows and a letter: the selection stays on row 0.
    const QRect row2 = table->visualRect(table->model()->index(2, 3));
    QTest::mouseClick(table->viewport(), Qt::RightButton, {}, row2.center());
    EXPECT_EQ(table->selectedRow(), 0);
    const QRect row0 = table->visualRect(table->model()->index(0, 3));
    QTest::mousePress(table->viewport(), Qt::LeftButton, {}, row0.center());
    QMouseEvent drag(QEvent::MouseMove, row2.center(),
                     table->viewport()->mapToGlobal(row2.center()), Qt::NoButton, Qt::LeftButton,
                     {});
    QApplication::sendEvent(table->viewport(), &drag);
    QTest::mouseRelease(table->viewport(), Qt::LeftButton, {}, row2.center());
    EXPECT_EQ(table->selectedRow(), 0);
    ASSERT_EQ(QApplication::focusWidget(), table);
    type(Qt::Key_Down);
    type(Qt::Key_Down);
    type(Qt::Key_P);
    EXPECT_EQ(table->selectedRow(), 0);
    EXPECT_EQ(edit->commentTextField->toPlainText(), "first");

    // The comment goes to the tag shown, and only there.
    QTest::mouseClick(edit->commentTextField->viewport(), Qt::LeftButton);
    typeText("!");
    click("onCommentAdd");
    EXPECT_EQ(main->tagDataModel.data[0]->comment, "first!");
    EXPECT_EQ(main->tagDataModel.data[2]->comment, "");
    // A tick in the check column leaves the chosen row selected.
    clickCell(table, 2, 0);
    EXPECT_TRUE(edit->tagModel()->isTicked(2));
    EXPECT_EQ(table->selectedRow(), 0);
    // A press empties the comment editor for the new tag.
    press("A0", 4);
    EXPECT_TRUE(edit->commentTextField->toPlainText().isEmpty());
}

TEST_F(EditScreen, TheTagTableKeepsItsPlaceOnPressesAndRebuilds) {
    openVideo("match.mp4");
    for (int i = 0; i < 120; ++i)
        press(i % 3 ? "A0" : "B6", i);
    CustomTableView* table = edit->tagTableView;
    QScrollBar* bar = table->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 20);
    bar->setValue(5);
    clickCell(table, table->rowAt(table->viewport()->height() / 2), 3);
    const int place = bar->value();
    press("A1", 500); // listed last, selected, not scrolled to
    EXPECT_EQ(bar->value(), place);
    EXPECT_EQ(table->selectedRow(), 120);
    chooseFilter(edit->tagFilterCombo, MainViewController::TOTAL_ITEM);
    EXPECT_EQ(bar->value(), place);
    clickHeader(table, edit->tagModel()->columnOf("EditTagNameCol"));
    EXPECT_EQ(bar->value(), place);
    // The new tag is selected wherever the sort put it.
    EXPECT_EQ(edit->tagTableData[static_cast<size_t>(table->selectedRow())]->time_val, 500.0f);
}

// The open match is named in the title and in the proposed file names; the
// list keeps the newest tag in sight while coding, unless the analyst reads
// higher up.
TEST_F(EditScreen, TheOpenMatchIsNamedAndTheListFollowsTheCoding) {
    EXPECT_EQ(window->windowTitle(), "Rucktag");
    openVideo("2026-09-06_東京戦.mp4");
    EXPECT_EQ(window->windowTitle(), "2026-09-06_東京戦 — Rucktag");
    EXPECT_EQ(window->findChild<QLabel*>("windowTitle")->text(), "2026-09-06_東京戦 — Rucktag");

    CustomTableView* table = edit->tagTableView;
    const auto lastRowInSight = [&] {
        const int last = table->model()->rowCount() - 1;
        return table->viewport()->rect().contains(
            table->visualRect(table->model()->index(last, 3)));
    };
    for (int i = 0; i < 40; ++i) {
        press("A0", i * 5);
        ASSERT_TRUE(lastRowInSight()) << i;
    }
    ASSERT_GT(table->verticalScrollBar()->maximum(), 0);
    table->scrollToTop();
    press("B0", 300);
    EXPECT_EQ(table->verticalScrollBar()->value(), 0);
    EXPECT_FALSE(lastRowInSight());

    click("menu_play_mode_button");
    dialogs.paths = {std::nullopt, std::nullopt};
    click("onHighlightOutput");
    click("onTallyCSVOutput");
    ASSERT_EQ(dialogs.panels.size(), 2u);
    EXPECT_EQ(dialogs.panels[0].panel.proposedName, "2026-09-06_東京戦_ハイライト");
    EXPECT_EQ(dialogs.panels[1].panel.proposedName, "2026-09-06_東京戦_集計");
}
