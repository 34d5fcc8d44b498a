#include <QCheckBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <gmock/gmock.h>

#include "codewindow/CodeWindowFile.h"
#include "coding/CodeWindowEditor.h"
#include "support/ScreenFixture.h"

using ::testing::HasSubstr;

// A window that differs reads as its file.
void PrintTo(const CodeWindow& w, std::ostream* out) {
    *out << codeWindowJson(w);
}

namespace {

class Editor : public Screens {
protected:
    void restartWithSevens() {
        restartWithWindows({{"7人制.json", kSevens}});
        chooseWindow("7人制");
    }
    // Opens the editor with its button as the analyst does, as `e`.
    bool openEditor() {
        QTest::mouseClick(edit->codePanel->codeWindowEditButton, Qt::LeftButton);
        e = edit->findChild<CodeWindowEditor*>();
        if (e && QTest::qWaitForWindowExposed(e)) {
            e->activateWindow();
            (void)QTest::qWaitForWindowActive(e);
        }
        return e;
    }
    CodeWindowEditor* e = nullptr;
    template <class W> W* in(const QString& name) {
        W* w = e->findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    void clickButton(const char* name) {
        auto* b = in<QAbstractButton>(name);
        ASSERT_NE(b, nullptr);
        ASSERT_TRUE(b->isVisible()) << name;
        QTest::mouseClick(b, Qt::LeftButton);
    }
    void clickRow(const char* list, int row) {
        auto* l = in<QListWidget>(list);
        ASSERT_NE(l, nullptr);
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {},
                          l->visualItemRect(l->item(row)).center());
        ASSERT_EQ(l->currentRow(), row);
    }
    static void typeAny(const char* text) {
        if (QString::fromUtf8(text).toLatin1() == text)
            typeText(text);
        else
            typeJapanese(text);
    }
    // Clicks a field and puts `text` in place of what it holds.
    void retype(const QString& field, const char* text) {
        auto* f = in<QLineEdit>(field);
        ASSERT_NE(f, nullptr);
        QTest::mouseClick(f, Qt::LeftButton);
        ASSERT_EQ(QApplication::focusWidget(), f);
        type(Qt::Key_A, Qt::ControlModifier);
        type(Qt::Key_Backspace);
        typeAny(text);
    }
    // Clicks a key field and presses a key in it.
    void pressKeyIn(const QString& field, Qt::Key key, Qt::KeyboardModifiers mods = {}) {
        auto* f = in<QLineEdit>(field);
        ASSERT_NE(f, nullptr);
        QTest::mouseClick(f, Qt::LeftButton);
        ASSERT_EQ(QApplication::focusWidget(), f);
        type(key, mods);
    }
    // Waits for the editor to close; the main window has the keys again.
    void waitClosed() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !edit->findChild<CodeWindowEditor*>(); }, 2000));
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    std::string lastMessage() const {
        return dialogs.shown.empty() ? std::string() : dialogs.shown.back().message;
    }
    std::vector<std::string> popUpItems() const {
        std::vector<std::string> out;
        for (int i = 0; i < edit->codePanel->codeWindowPopUp->count(); ++i)
            out.push_back(edit->codePanel->codeWindowPopUp->itemText(i).toStdString());
        return out;
    }
};

} // namespace

// A key pressed in a key field is refused, with the message naming who holds
// it, when another code, a label or the player has it; a free key is taken.
// An empty or repeated code name is shown at once and refused on saving.
TEST_F(Editor, TakenKeysAndNamesAreRefusedWithAMessage) {
    restartWithSevens();
    ASSERT_TRUE(openEditor());
    clickRow("codeList", 1);
    EXPECT_EQ(in<QLineEdit>("codeNameField")->text(), "ポゼッション");

    pressKeyIn("codeKeyAField", Qt::Key_Q);
    EXPECT_EQ(lastMessage(),
              "キー「Q」はすでにコード「スクラム」（チームA）に割り当てられています");
    const size_t said = dialogs.shown.size();
    type(Qt::Key_F, Qt::ShiftModifier);
    EXPECT_EQ(dialogs.shown.size(), said);
    EXPECT_EQ(e->window().codes[1].keyA, "Shift+F");
    // The key just given is taken for team B, even by the same code.
    pressKeyIn("codeKeyBField", Qt::Key_F, Qt::ShiftModifier);
    EXPECT_EQ(lastMessage(),
              "キー「Shift+F」はすでにコード「ポゼッション」（チームA）に割り当てられています");
    EXPECT_EQ(e->window().codes[1].keyB, "R");

    retype("codeNameField", "スクラム");
    auto* problem = in<QLabel>("codeWindowProblem");
    EXPECT_EQ(problem->text(), "コード名「スクラム」はほかのコードが使っています");
    clickButton("codeWindowSaveButton");
    EXPECT_EQ(lastMessage(),
              "保存できません。\n2 番目のコード：コード名「スクラム」が重複しています");
    EXPECT_TRUE(e->isVisible());
    EXPECT_EQ(slurp(windowFolder() / "7人制.json"), kSevens); // nothing written

    retype("codeNameField", "ボール");
    EXPECT_EQ(problem->text(), "");
    clickButton("codeWindowSaveButton");
    waitClosed();
    EXPECT_EQ(button("B1")->text(), "ボール");

    // The new key records for team A.
    openVideo("a.mp4");
    fake->clock = 12;
    QTest::mouseClick(edit->teamA_checkBox, Qt::LeftButton);
    QTest::mouseClick(edit->teamA_checkBox, Qt::LeftButton);
    type(Qt::Key_F, Qt::ShiftModifier);
    ASSERT_EQ(main->tagDataModel.data.size(), 1u);
    EXPECT_EQ(main->tagDataModel.data[0]->name, "ボール");
    EXPECT_TRUE(main->tagDataModel.data[0]->team);
}

// Editing 標準 edits a duplicate under a new name: the standard window and
// its buttons stay as they are, the copy is saved, listed and chosen.
TEST_F(Editor, TheStandardWindowIsDuplicatedNeverChanged) {
    ASSERT_EQ(edit->codeWindow().name, "標準");
    ASSERT_TRUE(openEditor());
    EXPECT_EQ(in<QLineEdit>("codeWindowNameField")->text(), "標準のコピー");
    clickRow("codeList", 6);
    pressKeyIn("codeKeyAField", Qt::Key_1);
    pressKeyIn("codeKeyBField", Qt::Key_1, Qt::AltModifier);
    retype("codeWindowNameField", "標準");
    clickButton("codeWindowSaveButton");
    EXPECT_THAT(lastMessage(), HasSubstr("「標準」は組み込みのウィンドウの名前です"));
    retype("codeWindowNameField", "15人制");
    const CodeWindow edited = e->window();
    clickButton("codeWindowSaveButton");
    waitClosed();

    EXPECT_EQ(popUpItems(), (std::vector<std::string>{"標準", "15人制"}));
    EXPECT_EQ(edit->codePanel->codeWindowPopUp->currentText(), "15人制");
    const CodeWindowRead back = readCodeWindowFile(windowFolder() / "15人制.json");
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.window, edited);
    EXPECT_EQ(back.window.codes[6].keyB, "Alt+1");
    EXPECT_EQ(CodeWindow::standard().codes[6].keyA, "");

    chooseFilter(edit->codePanel->codeWindowPopUp, "標準");
    EXPECT_TRUE(edit->codeWindow().builtIn);
    // Again from 標準: the next copy's name; nothing edited, nothing asked.
    ASSERT_TRUE(openEditor());
    EXPECT_EQ(in<QLineEdit>("codeWindowNameField")->text(), "標準のコピー");
    dialogs.shown.clear();
    clickButton("codeWindowCancelButton");
    waitClosed();
    EXPECT_TRUE(dialogs.shown.empty());
}

// Edits are never thrown away by a stray キャンセル or Escape: the editor asks,
// and 編集を続ける keeps it open with the edits.
TEST_F(Editor, CancellingEditsAsksFirst) {
    restartWithSevens();
    const std::string before = codeWindowJson(edit->codeWindow());
    ASSERT_TRUE(openEditor());
    clickRow("codeList", 0);
    retype("codeNameField", "ラインアウト");
    dialogs.answers = {0};
    clickButton("codeWindowCancelButton");
    ASSERT_EQ(lastMessage(), "変更を保存せずに閉じますか？");
    EXPECT_EQ(e->window().codes[0].name, "ラインアウト");

    dialogs.shown.clear();
    dialogs.answers = {1};
    QTest::mouseClick(in<QLineEdit>("codeNameField"), Qt::LeftButton);
    type(Qt::Key_Escape);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    waitClosed();
    const CodeWindowRead back = readCodeWindowFile(windowFolder() / "7人制.json");
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(codeWindowJson(back.window), before);
}

// Codes and label groups added, renamed, coloured, ordered, removed; a
// code's lead, lag, mode and group; label texts and their keys. The saved
// window reads back as the editor holds it, and the buttons follow.
TEST_F(Editor, CodesAndLabelGroupsAreBuiltAndOrderedAndSaved) {
    restartWithSevens();
    ASSERT_TRUE(openEditor());
    clickButton("codeAddButton");
    EXPECT_EQ(in<QListWidget>("codeList")->currentRow(), 2);
    // The new name is typed straight away.
    ASSERT_EQ(QApplication::focusWidget(), in<QLineEdit>("codeNameField"));
    typeJapanese("ラック");
    clickButton("codeSwatch5");
    retype("codeLeadField", "3.5");
    retype("codeLagField", "80");
    clickButton("codeWindowSaveButton");
    EXPECT_EQ(lastMessage(), "保存できません。\n3 番目のコード：後の秒数は 0 から 60 までです");
    retype("codeLagField", "8");
    chooseFilter(in<QComboBox>("codeModePopUp"), "時間");
    retype("codeGroupField", "局面");
    clickButton("codeUpButton");
    clickButton("codeUpButton");
    clickButton("codeUpButton"); // at the top already
    EXPECT_EQ(in<QListWidget>("codeList")->currentRow(), 0);
    clickRow("codeList", 1);
    clickButton("codeRemoveButton"); // スクラム
    clickRow("codeList", 0);
    EXPECT_EQ(in<QLineEdit>("codeLeadField")->text(), "3.5");

    clickButton("labelAddButton");
    typeJapanese("結果");
    retype("labelText0", "成功");
    clickButton("labelTextAddButton");
    retype("labelText1", "失敗");
    pressKeyIn("labelKey1", Qt::Key_E); // ポゼッション's
    EXPECT_EQ(lastMessage(),
              "キー「E」はすでにコード「ポゼッション」（チームA）に割り当てられています");
    pressKeyIn("labelKey1", Qt::Key_K);
    pressKeyIn("labelKey0", Qt::Key_K);
    EXPECT_EQ(lastMessage(), "キー「K」はすでにラベル「結果：失敗」に割り当てられています");
    pressKeyIn("labelKey0", Qt::Key_J);
    clickButton("labelTextAddButton");
    clickButton("labelTextRemove0"); // 成功 and its key go, the others move up
    ASSERT_TRUE(QTest::qWaitFor([&] { return !e->findChild<QLineEdit*>("labelText2"); }, 2000));
    EXPECT_EQ(in<QLineEdit>("labelText0")->text(), "失敗");
    EXPECT_EQ(in<QLineEdit>("labelKey0")->text(), "K");
    retype("labelText1", "成功");
    pressKeyIn("labelKey1", Qt::Key_J);
    clickButton("labelUpButton"); // a lone group stays
    clickButton("labelAddButton");
    typeJapanese("ゾーン");
    clickButton("labelUpButton");
    clickButton("labelRemoveButton"); // ゾーン
    clickButton("codeWindowSaveButton");
    waitClosed();

    CodeWindow expected;
    expected.name = "7人制";
    expected.codes = {{"ラック", "#c03030", "", "", 3.5, 8, CodeMode::Duration, "局面"},
                      {"ポゼッション", "#2060c0", "E", "R", {}, {}, CodeMode::Duration, ""}};
    expected.labels = {{"結果", {"失敗", "成功"}, {"K", "J"}}};
    const CodeWindowRead back = readCodeWindowFile(windowFolder() / "7人制.json");
    ASSERT_TRUE(back.ok()) << back.problems.front();
    EXPECT_EQ(back.window, expected);
    EXPECT_EQ(edit->codeWindow(), expected);
    EXPECT_EQ(button("A0")->background_color, QColor("#c03030"));
}

// 書き出し… writes the window where the analyst says; 読込… reports a bad
// file by name and line and copies a good one into the folder, where the
// pop-up lists it.
TEST_F(Editor, WindowsAreExportedAndImportedAsFiles) {
    restartWithSevens();
    ASSERT_TRUE(openEditor());
    const auto out = dir / "書き出し.json";
    dialogs.paths.push_back(out.string());
    clickButton("codeWindowExportButton");
    EXPECT_EQ(lastMessage(), "「7人制」を書き出しました");
    const CodeWindowRead exported = readCodeWindowFile(out);
    ASSERT_TRUE(exported.ok());
    EXPECT_EQ(exported.window, e->window());

    const auto bad = dir / "壊れ.json";
    std::ofstream(bad) << R"({"format": "rucktag-codewindow", "version": 1, "name": "壊れ",
 "codes": [{"name": "攻撃", "keyA": "Q"},
           {"name": "守備", "keyA": "q"}]}
)";
    dialogs.paths.push_back(bad.string());
    clickButton("codeWindowImportButton");
    EXPECT_EQ(lastMessage(),
              "読み込めません。\n壊れ.json:3: キー「q」がほかにも割り当てられています");
    // One of the name of a window already there.
    dialogs.paths.push_back(out.string());
    clickButton("codeWindowImportButton");
    EXPECT_EQ(lastMessage(), "読み込めません。\n「7人制」という名前のウィンドウはすでにあります");

    const auto good = dir / "15人制.json";
    std::string text = slurp(out);
    text.replace(text.find("7人制"), std::string("7人制").size(), "15人制");
    std::ofstream(good) << text;
    dialogs.paths.push_back(good.string());
    clickButton("codeWindowImportButton");
    EXPECT_EQ(lastMessage(), "「15人制」を読み込みました");
    EXPECT_EQ(slurp(windowFolder() / "15人制.json"), text); // a copy, byte for byte
    clickButton("codeWindowCancelButton");
    waitClosed();
    EXPECT_EQ(popUpItems(), (std::vector<std::string>{"標準", "15人制", "7人制"}));
    EXPECT_EQ(edit->codePanel->codeWindowPopUp->currentText(), "15人制");
}

// Shift with the number row is kept by the key's place, as "Shift+1", on a US
// and on a Japanese keyboard alike (and by the symbol without a place); Shift
// with a player's key is the player's. The button tells its key (what then
// records is CodeWindowScreenTest's matter).
TEST_F(Editor, ShiftedKeysAreTakenByTheirPlaceAndThePlayersAreRefused) {
    restartWithSevens();
    ASSERT_TRUE(openEditor());
    pressKeyIn("codeKeyAField", Qt::Key_A, Qt::ShiftModifier);
    EXPECT_EQ(lastMessage(), "キー「Shift+A」はプレーヤーのキー（再生）のため使えません");
    EXPECT_EQ(e->window().codes[0].keyA, "Q");

    struct Press {
        Qt::Key key;
        quint32 place; // X keycode; 0: none
        const char* text;
        const char* kept;
    };
    const Press presses[] = {
        {Qt::Key_Exclam, 10, "!", "Shift+1"},    {Qt::Key_Percent, 14, "%", "Shift+5"},
        {Qt::Key_QuoteDbl, 11, "\"", "Shift+2"}, // Japanese
        {Qt::Key_Ampersand, 16, "&", "Shift+7"}, // US
        {Qt::Key_Ampersand, 15, "&", "Shift+6"}, // Japanese
        {Qt::Key_ParenLeft, 18, "(", "Shift+9"}, // US
        {Qt::Key_At, 0, "@", "Shift+2"},         // no place: US's symbol
    };
    for (const Press& p : presses) {
        pressKeyIn("codeKeyBField", Qt::Key_Backspace);
        QKeyEvent press(QEvent::KeyPress, p.key, Qt::ShiftModifier, p.place, 0, 0, p.text);
        QApplication::sendEvent(QApplication::focusWidget(), &press);
        EXPECT_EQ(e->window().codes[0].keyB, p.kept) << p.text << " at " << p.place;
    }
    clickButton("codeWindowSaveButton");
    waitClosed();
    EXPECT_THAT(slurp(windowFolder() / "7人制.json"), HasSubstr("\"keyB\": \"Shift+2\""));
    EXPECT_EQ(button("A0")->toolTip(), "スクラム (Q)");
    EXPECT_EQ(button("B0")->toolTip(), "スクラム (Shift+2)");
}

// A window's file is deleted from the editor after a question (the copies an
// import makes, say); キャンセル keeps it. 標準 is chosen in its place.
TEST_F(Editor, AWindowIsDeletedAfterAQuestion) {
    std::filesystem::create_directories(windowFolder());
    std::string copy = kSevens;
    copy.replace(copy.find("7人制"), std::string("7人制").size(), "7人制 (読込)");
    std::ofstream(windowFolder() / "7人制 (読込).json") << copy;
    restartWithSevens();
    chooseFilter(edit->codePanel->codeWindowPopUp, "7人制 (読込)");
    ASSERT_TRUE(openEditor());
    dialogs.answers = {0};
    clickButton("codeWindowDeleteButton");
    EXPECT_EQ(lastMessage(),
              "コードウィンドウ「7人制 (読込)」を削除しますか？\n記録したタグはそのまま残ります。");
    EXPECT_TRUE(std::filesystem::exists(windowFolder() / "7人制 (読込).json"));
    dialogs.answers = {1};
    clickButton("codeWindowDeleteButton");
    waitClosed();
    EXPECT_FALSE(std::filesystem::exists(windowFolder() / "7人制 (読込).json"));
    EXPECT_EQ(popUpItems(), (std::vector<std::string>{"標準", "7人制"}));
    EXPECT_EQ(edit->codePanel->codeWindowPopUp->currentText(), "標準");
    // 標準 has no file to delete.
    ASSERT_TRUE(openEditor());
    EXPECT_FALSE(in<QPushButton>("codeWindowDeleteButton")->isEnabled());
}
