// Code windows of any size on a laptop's screen (screen_tests: the screens of
// support/laptop-screens.json): the main window, the start-up notice and the
// editor stay on a 1366x768 screen.
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

#include "codewindow/CodeWindowFile.h"
#include "coding/CodeWindowEditor.h"
#include "support/ScreenFixture.h"

namespace {

class CodeWindowFit : public Screens {
protected:
    static QScreen* laptop() {
        for (QScreen* s : QGuiApplication::screens())
            if (s->name() == "1366x768")
                return s;
        return nullptr;
    }
    // A window of `codes` codes, each with keys, and a label group.
    void writeWindow(const std::string& name, size_t codes) {
        CodeWindow w;
        w.name = name;
        for (size_t i = 0; i < codes; ++i)
            w.codes.push_back({"コード" + std::to_string(i),
                               "#3f8a3f",
                               i < 9 ? "F" + std::to_string(i + 1) : "",
                               "",
                               {},
                               {},
                               CodeMode::Point,
                               ""});
        w.labels = {{"結果", {"成功", "失敗"}, {}}};
        std::filesystem::create_directories(windowFolder());
        ASSERT_EQ(writeCodeWindowFile(windowFolder() / codeWindowFileName(name), w), "");
    }
    void expectOnScreen(const QRect& r, const char* what) {
        const QRect free = laptop()->availableGeometry();
        EXPECT_TRUE(free.contains(r))
            << what << " at " << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
    }
};

} // namespace

// A window of as many codes as a window holds scrolls inside the code panel: the main window
// keeps its place on the screen, and the last button is scrolled to and
// pressed.
TEST_F(CodeWindowFit, AWindowOfManyCodesScrollsInsideTheScreen) {
    writeWindow("千", kMaxCodes);
    ASSERT_NE(laptop(), nullptr);
    makeWindow(laptop());
    const QRect placed = window->frameGeometry();
    expectOnScreen(placed, "main window");
    chooseFilter(edit->codePanel->codeWindowPopUp, "千");
    ASSERT_EQ(edit->codePanel->tagButtons.size(), 2 * kMaxCodes);
    QApplication::processEvents();
    expectOnScreen(window->frameGeometry(), "main window with the most codes");
    EXPECT_EQ(window->frameGeometry(), placed);

    QScrollArea* scroll = edit->codePanel->codeScroll;
    ASSERT_NE(scroll, nullptr);
    EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0);
    openVideo("a.mp4");
    TagButton* last = button("B" + std::to_string(kMaxCodes - 1));
    ASSERT_NE(last, nullptr);
    scroll->ensureWidgetVisible(last);
    const QRect seen(last->mapTo(scroll->viewport(), QPoint(0, 0)), last->size());
    EXPECT_TRUE(scroll->viewport()->rect().contains(seen));
    press("B" + std::to_string(kMaxCodes - 1), 42);
    ASSERT_EQ(main->tagDataModel.data.size(), 1u);
    EXPECT_EQ(main->tagDataModel.data[0]->name, "コード" + std::to_string(kMaxCodes - 1));
}

// Twenty bad window files make a notice of their first few lines and the
// count of the rest, whose button stays on the screen.
TEST_F(CodeWindowFit, TheNoticeOfManyBadFilesIsBounded) {
    std::filesystem::create_directories(windowFolder());
    // Each with one problem of a 2,000-character key.
    const std::string key = "\"" + std::string(2000, 'x') + "\"";
    for (int i = 0; i < 20; ++i)
        std::ofstream(windowFolder() / ("壊れ" + std::to_string(i + 10) + ".json"))
            << R"({"format": "rucktag-codewindow", "version": 1, "name": "w)" + std::to_string(i) +
                   R"(", "codes": [{"name": "a", "keyA": )" + key + R"(}, {"name": "b", "keyA": )" +
                   key + "}]}";
    dialogs.shown.clear();
    makeWindow(laptop());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.shown.empty(); }, 2000));
    const std::string& note = dialogs.shown.back().message;
    EXPECT_EQ(std::count(note.begin(), note.end(), '\n'), 9) << note;
    EXPECT_EQ(note.rfind("コードウィンドウのファイルに問題があります。\n壊れ10.json:1: ", 0), 0u);
    EXPECT_TRUE(note.ends_with("\nほか 12 件")) << note;
    EXPECT_LT(note.size(), 8 * 320 + 200u);
}

// A label group of fifteen players: the rows scroll, and 保存 stays on a
// 1366x768 screen, clicked with the mouse.
TEST_F(CodeWindowFit, TheEditorOfALongLabelGroupIsSavedWithTheMouse) {
    writeWindow("7人制", 2);
    makeWindow(laptop());
    chooseFilter(edit->codePanel->codeWindowPopUp, "7人制");
    QTest::mouseClick(edit->codePanel->codeWindowEditButton, Qt::LeftButton);
    auto* e = edit->findChild<CodeWindowEditor*>();
    ASSERT_NE(e, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(e));
    auto* add = e->findChild<QPushButton*>("labelTextAddButton");
    ASSERT_NE(add, nullptr);
    for (int i = 2; i < 15; ++i)
        QTest::mouseClick(add, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return e->findChild<QLineEdit*>("labelText14"); }, 2000));
    QApplication::processEvents();
    expectOnScreen(e->frameGeometry(), "editor");
    auto* save = e->findChild<QPushButton*>("codeWindowSaveButton");
    ASSERT_NE(save, nullptr);
    expectOnScreen(QRect(save->mapToGlobal(QPoint(0, 0)), save->size()), "保存");
    QTest::mouseClick(save, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !edit->findChild<CodeWindowEditor*>(); }, 2000));
    const CodeWindowRead back = readCodeWindowFile(windowFolder() / "7人制.json");
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.window.labels[0].texts.size(), 15u);
}
