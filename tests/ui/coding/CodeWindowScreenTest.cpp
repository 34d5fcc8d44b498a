#include <QCheckBox>
#include <QComboBox>
#include <gmock/gmock.h>

#include "support/ScreenFixture.h"

using ::testing::HasSubstr;

namespace {

// The second code's name is taken: line 3.
const char* const kBroken = R"({"format": "rucktag-codewindow", "version": 1, "name": "壊れ",
 "codes": [{"name": "攻撃"},
           {"name": "攻撃"}]}
)";

class CodeWindows : public Screens {
protected:
    void restartWithWindows() {
        Screens::restartWithWindows({{"7人制.json", kSevens}, {"壊れ.json", kBroken}});
    }
    std::string timeCell(int row) const {
        const QAbstractItemModel* m = edit->tagModel();
        return m->data(m->index(row, 3)).toString().toStdString();
    }
    std::vector<std::string> ids() const {
        std::vector<std::string> out;
        for (TagButton* b : edit->codePanel->tagButtons)
            out.push_back(b->objectName().toStdString());
        return out;
    }
};

} // namespace

// The pop-up offers 標準 and the valid files, reports the others by file and
// line once; a choice rebuilds the buttons and is there again next run.
TEST_F(CodeWindows, ChoosingAWindowRebuildsTheButtonsAndIsRemembered) {
    restartWithWindows();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.shown.empty(); }, 5000));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_THAT(dialogs.shown[0].message, HasSubstr("壊れ.json:3:"));
    ASSERT_EQ(edit->codePanel->codeWindowPopUp->count(), 2);

    chooseWindow("7人制");
    EXPECT_EQ(ids(), (std::vector<std::string>{"A0", "A1", "B0", "B1"}));
    EXPECT_EQ(button("B1")->text(), "ポゼッション");
    EXPECT_EQ(button("A0")->background_color, QColor("#f08000"));

    window.reset();
    makeWindow();
    EXPECT_EQ(edit->codePanel->codeWindowPopUp->currentText(), "7人制");
    EXPECT_EQ(ids(), (std::vector<std::string>{"A0", "A1", "B0", "B1"}));

    chooseFilter(edit->codePanel->codeWindowPopUp, "標準");
    ASSERT_EQ(edit->codePanel->tagButtons.size(), 36u);
    EXPECT_EQ(button("B17")->text(), "チェック");
}

// The first press of a code that lasts starts its tag, the second ends it;
// undo takes back the end, then the start.
TEST_F(CodeWindows, ADurationCodeStartsAndEndsOneTag) {
    restartWithWindows();
    chooseWindow("7人制");
    openVideo("a.mp4");
    QHeaderView* header = edit->tagTableView->horizontalHeader();
    const int narrow = header->sectionSize(3);
    press("A1", 62);
    ASSERT_EQ(main->tagDataModel.data.size(), 1u);
    EXPECT_EQ(timeCell(0), "0:01:02–");
    EXPECT_GT(header->sectionSize(3), narrow); // room for the end
    press("B1", 70);                           // the other team's is its own
    press("A1", 90);
    ASSERT_EQ(main->tagDataModel.data.size(), 2u);
    EXPECT_EQ(timeCell(0), "0:01:02–0:01:30");
    EXPECT_EQ(main->tagDataModel.data[1]->end.state, TagEnd::State::Open);

    clickCell(edit->tagTableView, 1, 4);
    type(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(timeCell(0), "0:01:02–");
    type(Qt::Key_Z, Qt::ControlModifier); // B's start
    type(Qt::Key_Z, Qt::ControlModifier); // A's start
    EXPECT_TRUE(main->tagDataModel.data.empty());
    EXPECT_EQ(header->sectionSize(3), narrow);
}

// A keyboard types Shift+1 as "!" (and Shift+2 as "@" or '"', by layout): the
// keys a window file writes as "Shift+1" record all the same.
TEST_F(CodeWindows, ShiftedDigitsRecordAsARealKeyboardTypesThem) {
    Screens::restartWithWindows({{"数字.json", R"({"format": "rucktag-codewindow", "version": 1,
 "name": "数字", "codes": [{"name": "タックル", "keyA": "1", "keyB": "Shift+1"}],
 "labels": [{"group": "結果", "texts": ["成功"], "keys": ["Shift+2"]}]})"}});
    chooseWindow("数字");
    openVideo("a.mp4");
    press("A0", 1);
    clickCell(edit->tagTableView, 0, 2);
    // As the X server hands them over: the number row's key codes 10 and 11.
    auto typeAsKeyboard = [](Qt::Key key, Qt::KeyboardModifiers mods, quint32 place,
                             const QString& text) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        QKeyEvent down(QEvent::KeyPress, key, mods, place, 0, 0, text);
        QKeyEvent up(QEvent::KeyRelease, key, mods, place, 0, 0, text);
        QApplication::sendEvent(focus, &down);
        QApplication::sendEvent(focus, &up);
    };
    fake->clock = 20;
    typeAsKeyboard(Qt::Key_1, {}, 10, "1");
    EXPECT_TRUE(button("A0")->isDown()); // the button shows the press
    typeAsKeyboard(Qt::Key_Exclam, Qt::ShiftModifier, 10, "!");
    ASSERT_EQ(main->tagDataModel.data.size(), 3u);
    EXPECT_TRUE(main->tagDataModel.data[1]->team);
    EXPECT_FALSE(main->tagDataModel.data[2]->team);
    typeAsKeyboard(Qt::Key_QuoteDbl, Qt::ShiftModifier, 11, "\"");
    EXPECT_EQ(main->tagDataModel.data[2]->labels, (TagLabels{{"結果", "成功"}}));
    // "!" off the number row (another layout's key) is no digit.
    typeAsKeyboard(Qt::Key_Exclam, Qt::ShiftModifier, 61, "!");
    EXPECT_EQ(main->tagDataModel.data.size(), 3u);
}
