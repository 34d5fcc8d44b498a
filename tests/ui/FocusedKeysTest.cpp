#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSpinBox>

#include "SubViewClass/EditableNSTextField.h"
#include "support/ScreenFixture.h"

// Wherever a click leaves the focus on the edit screen, "," and "." mark
// clips and every other key is dropped: the filter, the team boxes and the
// player stay as they were.
TEST_F(Screens, EditScreenKeysMarkClipsWhateverControlHasTheFocus) {
    openVideo("a.mp4");
    press("A0", 1);
    press("B12", 2);
    markClip(10, 12);
    chooseFilter(edit->tagFilterCombo, "トライ");
    const int shownFilter = edit->tagFilterCombo->currentIndex();
    QTest::mouseClick(edit->teamA_checkBox, Qt::LeftButton);
    QTest::mouseClick(edit->teamA_checkBox, Qt::LeftButton); // ticked again
    fake->currentRate = 1.0f;

    struct Target {
        const char* name;
        std::function<void()> focus;
    };
    const Target targets[] = {
        {"tag row", [&] { clickCell(edit->tagTableView, 0, 3); }},
        {"clip row", [&] { clickCell(edit->clipTableView, 0, 1); }},
        {"filter pop-up", [&] { chooseFilter(edit->tagFilterCombo, "トライ"); }},
        {"team box",
         [&] {
             QTest::mouseClick(edit->teamB_checkBox, Qt::LeftButton);
             QTest::mouseClick(edit->teamB_checkBox, Qt::LeftButton);
         }},
    };
    double clock = 20;
    for (const Target& t : targets) {
        SCOPED_TRACE(t.name);
        t.focus();
        fake->currentRate = 1.0f;
        const auto seeks = fake->seeks.size();
        const auto clips = edit->clipTableData.size();
        for (Qt::Key k : {Qt::Key_D, Qt::Key_S, Qt::Key_Space, Qt::Key_Left, Qt::Key_Down,
                          Qt::Key_Up, Qt::Key_Right, Qt::Key_End, Qt::Key_P, Qt::Key_T})
            type(k);
        EXPECT_EQ(fake->currentRate, 1.0f);
        EXPECT_EQ(fake->seeks.size(), seeks);
        EXPECT_EQ(edit->tagFilterCombo->currentIndex(), shownFilter);
        EXPECT_TRUE(edit->teamA_checkBox->isChecked());
        EXPECT_TRUE(edit->teamB_checkBox->isChecked());
        EXPECT_EQ(edit->clipTableData.size(), clips);

        fake->clock = clock;
        type(Qt::Key_Comma);
        fake->clock = clock + 3;
        type(Qt::Key_Period);
        clock += 10;
        ASSERT_EQ(edit->clipTableData.size(), clips + 1);
        EXPECT_EQ(edit->clipTableData.back()->startTimeVal, static_cast<float>(clock - 10));
        EXPECT_EQ(edit->clipTableData.back()->endTimeVal, static_cast<float>(clock - 7));
    }
}

// Keys of the main key map travel from any control of the play screen to the
// player, whatever holds the focus.
TEST_F(Screens, PlayScreenKeysReachTheMainKeyMapWhateverHasTheFocus) {
    openVideo("a.mp4");
    press("A0", 30);
    press("B12", 40);
    QString lines;
    for (int i = 1; i <= 12; ++i)
        lines += QString("%1行目\n").arg(i);
    main->tagDataModel.data[0]->comment = lines.toStdString();
    click("menu_play_mode_button");

    struct Target {
        const char* name;
        std::function<void()> focus;
    };
    const Target targets[] = {
        {"tag row", [&] { clickCell(play->tagTableView, 0, 2); }},
        {"filter pop-up",
         [&] { chooseFilter(play->tagFilterCombo, MainViewController::TOTAL_ITEM); }},
        {"team box",
         [&] {
             QTest::mouseClick(play->teamA_checkBox, Qt::LeftButton);
             QTest::mouseClick(play->teamA_checkBox, Qt::LeftButton);
         }},
        {"comment view",
         [&] { QTest::mouseClick(play->commentTextView->viewport(), Qt::LeftButton); }},
    };
    for (const Target& t : targets) {
        SCOPED_TRACE(t.name);
        t.focus();
        main->MediaPlayer->timer.stop();
        fake->currentRate = 1.0f;
        type(Qt::Key_Space);
        EXPECT_EQ(fake->currentRate, 0.0f);
        type(Qt::Key_D);
        EXPECT_EQ(fake->currentRate, 0.4f);
        fake->clock = 20;
        type(Qt::Key_Left);
        EXPECT_EQ(fake->seeks.back(), 18.0);
        fake->vol = 0.5f;
        type(Qt::Key_Up);
        EXPECT_FLOAT_EQ(fake->vol, 0.6f);
        const auto panels = dialogs.panels.size();
        dialogs.paths = {std::nullopt};
        type(Qt::Key_O, Qt::ControlModifier);
        EXPECT_EQ(dialogs.panels.size(), panels + 1);
        EXPECT_TRUE(play->teamA_checkBox->isChecked());
        EXPECT_EQ(play->tagFilterCombo->currentIndex(), 0);
        EXPECT_EQ(play->tagTableView->selectedRow(), 0);
    }
    // A long comment shows from its first line, every line kept.
    clickCell(play->tagTableView, 1, 2);
    clickCell(play->tagTableView, 0, 2);
    EXPECT_EQ(play->commentTextView->toPlainText(), lines);
    EXPECT_EQ(play->commentTextView->verticalScrollBar()->value(), 0);
    EXPECT_GT(play->commentTextView->verticalScrollBar()->maximum(), 0);
}

// Editable text keeps its keys: a comma is typed, not a clip mark.
TEST_F(Screens, TextFieldsKeepTheirKeys) {
    openVideo("a.mp4");
    press("A0", 1);
    QTest::mouseClick(edit->commentTextField->viewport(), Qt::LeftButton);
    type(Qt::Key_Comma);
    type(Qt::Key_Space);
    type(Qt::Key_A);
    type(Qt::Key_Period);
    EXPECT_EQ(edit->commentTextField->toPlainText(), ", a.");
    EXPECT_TRUE(edit->clipTableData.empty());
    EXPECT_EQ(fake->currentRate, 1.0f);

    QTest::mouseClick(edit->teamA_header, Qt::LeftButton);
    type(Qt::Key_End);
    type(Qt::Key_Comma);
    EXPECT_EQ(edit->teamA_header->text(), "チームA,");
    EXPECT_TRUE(edit->clipTableData.empty());
}

// The play screen's comment view is read-only text a person can select and
// copy, by mouse or with Ctrl+A and Ctrl+C; its other keys still go to the
// player.
TEST_F(Screens, ThePlayCommentCanBeSelectedAndCopied) {
    openVideo("a.mp4");
    press("A0", 30);
    main->tagDataModel.data[0]->comment = "ラインアウト後のモール";
    click("menu_play_mode_button");
    clickCell(play->tagTableView, 0, 2);
    main->MediaPlayer->timer.stop();
    QPlainTextEdit* view = play->commentTextView;
    ASSERT_EQ(view->toPlainText(), "ラインアウト後のモール");

    QWidget* port = view->viewport();
    const int y = view->cursorRect(QTextCursor(view->document())).center().y();
    QTest::mousePress(port, Qt::LeftButton, {}, QPoint(1, y));
    QTest::mouseMove(port, QPoint(port->width() - 2, y));
    QTest::mouseRelease(port, Qt::LeftButton, {}, QPoint(port->width() - 2, y));
    EXPECT_EQ(view->textCursor().selectedText(), "ラインアウト後のモール");
    QApplication::clipboard()->clear();
    fake->currentRate = 0.0f;
    type(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "ラインアウト後のモール");

    QTest::mouseClick(port, Qt::LeftButton, {}, QPoint(1, y));
    ASSERT_FALSE(view->textCursor().hasSelection());
    QApplication::clipboard()->clear();
    type(Qt::Key_A, Qt::ControlModifier);
    type(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "ラインアウト後のモール");
    EXPECT_EQ(fake->currentRate, 0.0f); // Ctrl+A did not start the video
    type(Qt::Key_A);
    EXPECT_EQ(fake->currentRate, 1.0f); // a plain A still does
}

// The 前/後 boxes keep digits, their editing keys and ↑/↓; Space, letters and
// every other key reach the player; Return or Escape hands the focus back to
// the video.
TEST_F(Screens, SpinBoxesKeepOnlyTheirNumberKeys) {
    openVideo("a.mp4");
    press("A0", 30);
    click("menu_play_mode_button");
    QSpinBox* lead = play->momentLeadSpinBox;
    for (Qt::Key leave : {Qt::Key_Return, Qt::Key_Escape}) {
        SCOPED_TRACE(leave == Qt::Key_Return ? "Return" : "Escape");
        lead->setValue(8);
        QTest::mouseClick(lead, Qt::LeftButton, {}, QPoint(5, lead->height() / 2));
        ASSERT_TRUE(QApplication::focusWidget() == lead ||
                    lead->isAncestorOf(QApplication::focusWidget()));
        main->MediaPlayer->timer.stop();
        fake->currentRate = 1.0f;
        fake->vol = 0.5f;
        type(Qt::Key_Space);
        EXPECT_EQ(fake->currentRate, 0.0f);
        type(Qt::Key_D);
        EXPECT_EQ(fake->currentRate, 0.4f);
        type(Qt::Key_Up);
        EXPECT_EQ(lead->value(), 9);
        EXPECT_FLOAT_EQ(fake->vol, 0.5f);
        type(Qt::Key_A, Qt::ControlModifier);
        type(Qt::Key_1);
        type(Qt::Key_2);
        type(Qt::Key_Left);
        type(Qt::Key_Backspace);
        EXPECT_EQ(lead->cleanText(), "2");
        type(leave);
        EXPECT_EQ(QApplication::focusWidget(), main->MediaPlayer);
        EXPECT_EQ(lead->value(), 2);
    }
}

// A text field gives the keys back to coding when its work is done: after
// コメント追加 or コメント削除, Escape in the comment, Return or Escape in a
// team's name. While it holds them, a code's key is typed and a note says so.
TEST_F(Screens, TextFieldsGiveTheKeysBackToCodingWhenDone) {
    const auto folder = config / "rucktag" / "codewindows";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "7人制.json") << kSevens;
    window.reset();
    makeWindow();
    chooseFilter(edit->codePanel->codeWindowPopUp, "7人制");
    openVideo("a.mp4");
    press("A0", 10);
    const auto hintShown = [&] {
        const auto* hint = main->findChild<QLabel*>("typingHint");
        return hint && hint->isVisible() &&
               hint->text() == "文字入力中：コードは記録されません（Escで戻る）";
    };
    const auto tags = [&] { return main->tagDataModel.data.size(); };
    // Q codes スクラム for team A; W for team B.
    const auto codesAgain = [&](Qt::Key key, double at) {
        const size_t before = tags();
        fake->clock = at;
        type(key);
        ASSERT_EQ(tags(), before + 1);
        EXPECT_EQ(main->tagDataModel.data.back()->time_val, static_cast<float>(at));
        EXPECT_EQ(main->tagDataModel.data.back()->team, key == Qt::Key_Q);
    };
    const auto clickButton = [&](const char* id) {
        auto* b = edit->findChild<QAbstractButton*>(id);
        ASSERT_NE(b, nullptr) << id;
        QTest::mouseClick(b, Qt::LeftButton);
    };

    QTest::mouseClick(edit->commentTextField->viewport(), Qt::LeftButton);
    typeText("q");
    EXPECT_EQ(tags(), 1u);
    EXPECT_EQ(edit->commentTextField->toPlainText(), "q");
    EXPECT_TRUE(hintShown());
    clickButton("onCommentAdd");
    EXPECT_EQ(main->tagDataModel.data[0]->comment, "q");
    EXPECT_FALSE(hintShown());
    codesAgain(Qt::Key_Q, 20);

    clickCell(edit->tagTableView, 0, 3);
    QTest::mouseClick(edit->commentTextField->viewport(), Qt::LeftButton);
    dialogs.answers = {1}; // はい, delete it
    clickButton("onCommentDelete");
    EXPECT_EQ(main->tagDataModel.data[0]->comment, "");
    codesAgain(Qt::Key_W, 30);

    QTest::mouseClick(edit->commentTextField->viewport(), Qt::LeftButton);
    typeText("w");
    type(Qt::Key_Escape);
    codesAgain(Qt::Key_W, 40);

    for (Qt::Key done : {Qt::Key_Return, Qt::Key_Escape}) {
        QTest::mouseClick(edit->teamA_header, Qt::LeftButton);
        type(Qt::Key_End);
        typeText("q");
        EXPECT_TRUE(hintShown());
        type(done);
        codesAgain(Qt::Key_Q, done == Qt::Key_Return ? 50 : 60);
    }
    EXPECT_EQ(edit->teamA_header->text(), "チームAqq");
    // The note goes by itself.
    QTest::mouseClick(edit->commentTextField->viewport(), Qt::LeftButton);
    typeText("w");
    ASSERT_TRUE(hintShown());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !hintShown(); }, 4000));
}
