#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSpinBox>

#include "SubViewClass/EditableNSTextField.h"
#include "support/ScreenFixture.h"

namespace {

// スクラム records with Q / W; Z puts 自陣 on the chosen tag and takes it off.
const char* const kKeyed = R"({"format": "rucktag-codewindow", "version": 1, "name": "キー",
 "codes": [{"name": "スクラム", "color": "#f08000", "keyA": "Q", "keyB": "W"}],
 "labels": [{"group": "位置", "texts": ["自陣"], "keys": ["Z"]}]})";

// What a key may change, as the user sees it.
struct Seen {
    size_t tags = 0;
    bool lastTeamA = false;
    float rate = 0;
    size_t rateCalls = 0;
    size_t clips = 0;
    size_t labels = 0;
    bool canRedo = false;
    bool operator==(const Seen&) const = default;
};

} // namespace

// Every kind of key from every kind of control a click can leave the focus
// on: the video takes the whole key table (the edit screen's keys while that
// screen is shown), the edit screen's controls only its codes, labels and
// clip marks, the play screen's the player's keys; undo and redo act
// everywhere but in text, which keeps its keys. A held key acts once.
TEST_F(Screens, EveryKeyActsAsItsPlaceSaysWhateverHasTheFocus) {
    restartWithWindows({{"keyed.json", kKeyed}});
    chooseWindow("キー");
    openVideo("a.mp4");
    const auto seen = [&] {
        const auto& tags = main->tagDataModel.data;
        Seen s{tags.size(),
               !tags.empty() && tags.back()->team,
               fake->currentRate,
               fake->rateCalls.size(),
               edit->clipTableData.size(),
               0,
               main->tagHistory.canRedo()};
        for (const auto& t : tags)
            s.labels += t->labels.size();
        return s;
    };
    const auto hold = [](Qt::Key key, const char* text) {
        QWidget* focus = QApplication::focusWidget();
        QTest::keyPress(focus, key);
        for (int i = 0; i < 3; ++i) {
            QKeyEvent again(QEvent::KeyPress, key, Qt::NoModifier, text, true);
            QApplication::sendEvent(focus, &again);
        }
        QTest::keyRelease(focus, key);
    };
    double clock = 10;
    using Check = std::function<bool(const Seen&, const Seen&)>;
    const auto recorded = [](bool teamA) -> Check {
        return [teamA](const Seen& b, const Seen& a) {
            return a.tags == b.tags + 1 && a.lastTeamA == teamA;
        };
    };
    struct Key {
        const char* name;
        std::function<void()> send;
        Check acted;
    };
    const Key keys[] = {
        {"S (pause)", [&] { type(Qt::Key_S); },
         [](const Seen& b, const Seen& a) { return b.rate == 1 && a.rate == 0; }},
        {"Q (team A's code)", [&] { type(Qt::Key_Q); }, recorded(true)},
        {"W (team B's code)", [&] { type(Qt::Key_W); }, recorded(false)},
        {"Q held", [&] { hold(Qt::Key_Q, "q"); }, recorded(true)},
        {"Z (label)", [&] { type(Qt::Key_Z); },
         [](const Seen& b, const Seen& a) { return a.labels != b.labels; }},
        {", and . (clip)",
         [&] {
             fake->clock = clock + 1;
             type(Qt::Key_Comma);
             fake->clock = clock + 3;
             type(Qt::Key_Period);
         },
         [](const Seen& b, const Seen& a) { return a.clips == b.clips + 1; }},
        {"Ctrl+Z (undo)", [&] { type(Qt::Key_Z, Qt::ControlModifier); },
         [](const Seen& b, const Seen& a) { return !b.canRedo && a.canRedo; }},
        {"Ctrl+Y (redo)", [&] { type(Qt::Key_Y, Qt::ControlModifier); },
         [](const Seen& b, const Seen& a) { return b.canRedo && !a.canRedo; }},
        {"F5 (given to nothing)", [&] { type(Qt::Key_F5); }, nullptr},
    };
    const auto clickTwice = [](QWidget* box) {
        QTest::mouseClick(box, Qt::LeftButton);
        QTest::mouseClick(box, Qt::LeftButton);
    };
    struct Focus {
        const char* name;
        bool playScreen;
        QWidget* target;
        const char* acts; // '1' for each key above that acts there
        std::function<void()> put;
    };
    const Focus places[] = {
        {"video", false, main->MediaPlayer, "111111110",
         [&] { QTest::mouseClick(main->MediaPlayer, Qt::LeftButton); }},
        {"tag table", false, edit->tagTableView, "011111110",
         [&] { clickCell(edit->tagTableView, 0, 3); }},
        {"team box", false, edit->teamB_checkBox, "011111110",
         [&] { clickTwice(edit->teamB_checkBox); }},
        {"filter pop-up", false, edit->tagFilterCombo, "011111110",
         [&] { chooseFilter(edit->tagFilterCombo, MainViewController::TOTAL_ITEM); }},
        {"comment editor", false, edit->commentTextField, "000000000",
         [&] { QTest::mouseClick(edit->commentTextField->viewport(), Qt::LeftButton); }},
        {"video, play screen", true, main->MediaPlayer, "100000110",
         [&] { QTest::mouseClick(main->MediaPlayer, Qt::LeftButton); }},
        {"play tag table", true, play->tagTableView, "100000110",
         [&] { clickCell(play->tagTableView, 0, 2); }},
        {"play team box", true, play->teamA_checkBox, "100000110",
         [&] { clickTwice(play->teamA_checkBox); }},
        {"play filter pop-up", true, play->tagFilterCombo, "100000110",
         [&] { chooseFilter(play->tagFilterCombo, MainViewController::TOTAL_ITEM); }},
        // Last: once it is left, the offscreen platform activates no window.
        {"full screen video", false, main->MediaPlayer, "111111110",
         [&] {
             QTest::mouseDClick(main->MediaPlayer, Qt::LeftButton);
             ASSERT_TRUE(main->MediaPlayer->isFullScreenMode());
             ASSERT_TRUE(QTest::qWaitForWindowActive(main->MediaPlayer));
         }},
    };
    for (const Focus& f : places) {
        SCOPED_TRACE(f.name);
        click("menu_edit_mode_button");
        press("A0", clock); // a step to undo
        if (f.playScreen)
            click("menu_play_mode_button");
        f.put();
        main->MediaPlayer->timer.stop(); // a row's jump plays on later
        QWidget* focus = QApplication::focusWidget();
        ASSERT_TRUE(focus && (focus == f.target || f.target->isAncestorOf(focus)));
        for (size_t k = 0; k < std::size(keys); ++k) {
            SCOPED_TRACE(keys[k].name);
            fake->currentRate = 1.0f;
            fake->clock = clock;
            const Seen before = seen();
            keys[k].send();
            const Seen after = seen();
            if (f.acts[k] == '1')
                EXPECT_TRUE(keys[k].acted(before, after));
            else
                EXPECT_EQ(after, before) << "acted";
        }
        if (main->MediaPlayer->isFullScreenMode()) {
            type(Qt::Key_Escape);
            EXPECT_FALSE(main->MediaPlayer->isFullScreenMode());
        }
        clock += 10;
    }
}

// The play screen's comment view is read-only text a person can select and
// copy, by mouse or with Ctrl+A and Ctrl+C; its other keys still go to the
// player.
TEST_F(Screens, ThePlayCommentCanBeSelectedAndCopied) {
    openVideo("a.mp4");
    press("A0", 30);
    press("B12", 40);
    main->tagDataModel.data[0]->comment = "ラインアウト後のモール";
    QString lines;
    for (int i = 1; i <= 12; ++i)
        lines += QString("%1行目\n").arg(i);
    main->tagDataModel.data[1]->comment = lines.toStdString();
    click("menu_play_mode_button");
    // A long comment shows from its first line, every line kept.
    clickCell(play->tagTableView, 1, 2);
    EXPECT_EQ(play->commentTextView->toPlainText(), lines);
    EXPECT_EQ(play->commentTextView->verticalScrollBar()->value(), 0);
    EXPECT_GT(play->commentTextView->verticalScrollBar()->maximum(), 0);
    clickCell(play->tagTableView, 0, 2);
    main->MediaPlayer->timer.stop();
    QPlainTextEdit* view = play->commentTextView;

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
        EXPECT_FLOAT_EQ(fake->vol, 0.5f); // not the volume key
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
    restartWithWindows({{"7人制.json", kSevens}});
    chooseWindow("7人制");
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

    QTest::mouseClick(edit->commentTextField->viewport(), Qt::LeftButton);
    typeText("q");
    EXPECT_EQ(tags(), 1u);
    EXPECT_EQ(edit->commentTextField->toPlainText(), "q");
    EXPECT_TRUE(hintShown());
    click("onCommentAdd");
    EXPECT_EQ(main->tagDataModel.data[0]->comment, "q");
    EXPECT_FALSE(hintShown());
    codesAgain(Qt::Key_Q, 20);

    clickCell(edit->tagTableView, 0, 3);
    QTest::mouseClick(edit->commentTextField->viewport(), Qt::LeftButton);
    dialogs.answers = {1}; // はい, delete it
    click("onCommentDelete");
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
