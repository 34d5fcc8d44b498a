#include <QPlainTextEdit>
#include <fstream>
#include <gmock/gmock.h>

#include "journal/TagJournal.h"
#include "support/ScreenFixture.h"

using ::testing::HasSubstr;

namespace {

struct Tag {
    int64_t index;
    std::string name, comment;
    bool operator==(const Tag&) const = default;
};

std::vector<Tag> tags(const std::vector<std::shared_ptr<TagRowData>>& rows) {
    std::vector<Tag> out;
    for (const auto& r : rows)
        out.push_back({r->index, r->name, r->comment});
    return out;
}

constexpr int kYes = 1;     // "はい" of a yes/no question
constexpr int kRestore = 0; // the recovery question's answer

class Journaled : public Screens {
protected:
    // Ticks rows and deletes them through the button, answering yes.
    void deleteRows(std::initializer_list<int> rows) {
        for (int r : rows)
            clickCell(edit->tagTableView, r, 0);
        dialogs.answers.push_back(kYes);
        click("onTagDelete");
    }
    std::filesystem::path journalFile(const std::string& video) {
        return journalPathFor((dir / video).string());
    }
};

} // namespace

// Ctrl+Z and Ctrl+Shift+Z / Ctrl+Y sent to the tag table after a click on a
// row, and to the video: a press, a delete of several ticked tags and a
// comment are one step each; an undone delete puts the tags back at their
// places with their indexes and comments, and the chosen tag stays chosen.
TEST_F(Journaled, UndoAndRedoKeysStepThroughTagEdits) {
    openVideo("a.mp4");
    press("A0", 1);
    press("B12", 2);
    press("A3", 3);
    press("B6", 4);
    clickCell(edit->tagTableView, 1, 3); // chooses B12, puts the focus in the table
    edit->commentTextField->setPlainText("good");
    click("onCommentAdd");
    deleteRows({0, 2});
    ASSERT_EQ(tags(main->tagDataModel.data),
              (std::vector<Tag>{{1, "トライ", "good"}, {3, "スクラム", ""}}));
    main->m_fSave = false;

    clickCell(edit->tagTableView, 0, 4);
    ASSERT_TRUE(edit->tagTableView->hasFocus() || edit->tagTableView->viewport()->hasFocus());
    type(Qt::Key_Z, Qt::ControlModifier);
    const std::vector<Tag> all = {
        {0, "ラック", ""}, {1, "トライ", "good"}, {2, "キック", ""}, {3, "スクラム", ""}};
    EXPECT_EQ(tags(edit->tagTableData), all);
    EXPECT_TRUE(main->m_fSave);
    EXPECT_EQ(edit->tagTableSelectedRowIndex, 1);
    EXPECT_EQ(edit->tagTableView->selectedRow(), 1); // the same tag, in its new row
    EXPECT_EQ(tags(play->tagTableData), all);

    type(Qt::Key_Z, Qt::ControlModifier); // the comment
    EXPECT_EQ(main->tagDataModel.data[1]->comment, "");
    EXPECT_EQ(edit->commentTextField->toPlainText(), "");
    type(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier); // comment again
    EXPECT_EQ(main->tagDataModel.data[1]->comment, "good");
    EXPECT_EQ(edit->commentTextField->toPlainText(), "good");
    type(Qt::Key_Y, Qt::ControlModifier); // the delete again
    EXPECT_EQ(tags(main->tagDataModel.data),
              (std::vector<Tag>{{1, "トライ", "good"}, {3, "スクラム", ""}}));
    type(Qt::Key_Y, Qt::ControlModifier); // nothing left to redo
    EXPECT_EQ(main->tagDataModel.data.size(), 2u);

    // Keys reaching the video view undo too: the delete, the comment, the
    // last press.
    for (int i = 0; i < 2; ++i)
        QTest::keyClick(main->MediaPlayer, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(tags(main->tagDataModel.data),
              (std::vector<Tag>{
                  {0, "ラック", ""}, {1, "トライ", ""}, {2, "キック", ""}, {3, "スクラム", ""}}));
    QTest::keyClick(main->MediaPlayer, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(main->tagDataModel.data.size(), 3u);
    // A new press drops what was undone and never reuses an index.
    press("A4", 5);
    EXPECT_EQ(main->tagDataModel.data.back()->index, 4);
    clickCell(edit->tagTableView, 0, 3);
    type(Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(main->tagDataModel.data.size(), 4u);
    EXPECT_EQ(main->tagDataModel.data.back()->name, "UE");
    // Opening another video starts a new history.
    dialogs.answers.push_back(0); // do not save
    openVideo("b.mp4");
    press("A0", 1);
    clickCell(edit->tagTableView, 0, 3);
    type(Qt::Key_Z, Qt::ControlModifier);
    type(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(main->tagDataModel.data.empty());
}

// An undo leaves a comment being typed as typed; the play screen's comment
// view and choice follow the store. A コメント追加 that changes nothing is no
// step and marks nothing unsaved: the next undo takes back the edit before it.
TEST_F(Journaled, UndoLeavesATypedCommentAndThePlayViewFollows) {
    openVideo("a.mp4");
    press("A0", 1);
    press("B12", 2);
    clickCell(edit->tagTableView, 0, 3);
    QTest::mouseClick(edit->commentTextField->viewport(), Qt::LeftButton);
    typeText("first");
    click("onCommentAdd");
    click("menu_play_mode_button");
    clickCell(play->tagTableView, 0, 2);
    ASSERT_EQ(play->commentTextView->toPlainText(), "first");
    click("menu_edit_mode_button");

    clickCell(edit->tagTableView, 0, 3);
    QTest::mouseClick(edit->commentTextField->viewport(), Qt::LeftButton);
    type(Qt::Key_End, Qt::ControlModifier);
    typeText(" half-typed");
    QTest::mouseClick(main->MediaPlayer, Qt::LeftButton);
    type(Qt::Key_Z, Qt::ControlModifier); // takes back "first"
    ASSERT_EQ(main->tagDataModel.data[0]->comment, "");
    EXPECT_EQ(edit->commentTextField->toPlainText(), "first half-typed");
    EXPECT_EQ(play->commentTextView->toPlainText(), "");
    type(Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(play->commentTextView->toPlainText(), "first");
    EXPECT_EQ(edit->commentTextField->toPlainText(), "first half-typed");

    click("menu_play_mode_button");
    clickCell(play->tagTableView, 1, 2); // B12
    QTest::mouseClick(main->MediaPlayer, Qt::LeftButton);
    type(Qt::Key_Z, Qt::ControlModifier);
    type(Qt::Key_Z, Qt::ControlModifier); // the B12 press
    ASSERT_EQ(main->tagDataModel.data.size(), 1u);
    EXPECT_EQ(play->tagTableSelectedRowIndex, -1);
    type(Qt::Key_Y, Qt::ControlModifier);
    type(Qt::Key_Y, Qt::ControlModifier);
    ASSERT_EQ(main->tagDataModel.data[0]->comment, "first");

    click("menu_edit_mode_button");
    clickCell(edit->tagTableView, 0, 3);
    ASSERT_EQ(edit->commentTextField->toPlainText(), "first");
    main->m_fSave = false;
    click("onCommentAdd");
    EXPECT_FALSE(main->m_fSave);
    QTest::mouseClick(main->MediaPlayer, Qt::LeftButton);
    type(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(main->tagDataModel.data[0]->comment, "");
    EXPECT_EQ(main->tagDataModel.data.size(), 2u);
}

// After a crash the journal brings back exactly the store of the last change:
// tags, order, indexes and comments; both screens show it and it counts as
// unsaved.
TEST_F(Journaled, AfterACrashTheQuestionRestoresEveryChange) {
    openVideo("m.mp4");
    press("A0", 1);
    press("B12", 2);
    press("A3", 3);
    clickCell(edit->tagTableView, 2, 3);
    edit->commentTextField->setPlainText("kick, \"long\"");
    click("onCommentAdd");
    deleteRows({0});
    const std::vector<Tag> before = tags(main->tagDataModel.data);
    ASSERT_EQ(before.size(), 2u);
    ASSERT_TRUE(main->tagJournal.flush());
    ASSERT_TRUE(std::filesystem::exists(journalFile("m.mp4")));

    crashAndRestart();
    dialogs.shown.clear();
    dialogs.answers.push_back(kRestore);
    openVideo("m.mp4");
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(
        dialogs.shown[0].message.rfind("前回保存されていない変更が残っています。復元しますか？", 0),
        0u);
    EXPECT_EQ(tags(edit->tagTableData), before);
    EXPECT_EQ(tags(play->tagTableData), before);
    EXPECT_TRUE(main->m_fSave);
    press("B0", 9); // the counter is past every restored index
    EXPECT_EQ(main->tagDataModel.data.back()->index, 3);
    clickCell(edit->tagTableView, 0, 3);
    type(Qt::Key_Z, Qt::ControlModifier); // this run's press only
    EXPECT_EQ(tags(main->tagDataModel.data), before);
}

// A session file written since the journal began is named in the question;
// the journal's own store is restored, not replayed onto the new file.
TEST_F(Journaled, ASessionFileChangedSinceIsToldAndTheJournalsStoreRestored) {
    openVideo("m.mp4");
    press("A0", 1);
    press("B12", 2);
    const std::vector<Tag> before = tags(main->tagDataModel.data);
    crashAndRestart();
    std::ofstream(dir / "m.csv") << "Team, INDEX, 再生時刻, タグ内容, コメント\n"
                                    "A,1,0:00:05,PG,\"\",5.0\n";
    dialogs.answers.push_back(kRestore);
    openVideo("m.mp4");
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_THAT(dialogs.shown[0].message, HasSubstr("セッションファイルは"));
    EXPECT_EQ(tags(main->tagDataModel.data), before);
}

// Saving, and declining to save when another video is opened, retire the
// journal; nothing is asked next time.
TEST_F(Journaled, SavingOrGivingUpRetiresTheJournal) {
    openVideo("m.mp4");
    press("A0", 1);
    ASSERT_TRUE(main->tagJournal.flush());
    ASSERT_TRUE(std::filesystem::exists(journalFile("m.mp4")));
    click("window_save");
    ASSERT_TRUE(main->tagJournal.flush());
    EXPECT_FALSE(std::filesystem::exists(journalFile("m.mp4")));
    press("B0", 2); // a new journal from the saved file
    ASSERT_TRUE(main->tagJournal.flush());
    EXPECT_TRUE(std::filesystem::exists(journalFile("m.mp4")));
    dialogs.answers.push_back(0); // "no" to saving before the next video
    openVideo("n.mp4");
    ASSERT_TRUE(main->tagJournal.flush());
    EXPECT_FALSE(std::filesystem::exists(journalFile("m.mp4")));
    crashAndRestart();
    dialogs.shown.clear();
    openVideo("m.mp4");
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(main->tagDataModel.data.size(), 1u); // the saved tag
}

// A journal that cannot be written is reported once per video, as a
// warning, and tagging goes on.
TEST_F(Journaled, AnUnwritableJournalIsReportedOnceAndTaggingGoesOn) {
    std::ofstream(state) << "not a folder";
    openVideo("m.mp4");
    press("A0", 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.shown.empty(); }, 3000));
    EXPECT_EQ(dialogs.shown[0].style, "warning");
    EXPECT_EQ(dialogs.shown[0].kind, DialogProvider::Kind::Alert);
    press("B0", 2);
    press("B1", 3);
    QTest::qWait(600);
    EXPECT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(main->tagDataModel.data.size(), 3u);
}
