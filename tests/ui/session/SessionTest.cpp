#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <fstream>
#include <gmock/gmock.h>
#include <sys/stat.h>

#include "SubModuleClass/TagFileManager.h"
#include "support/Deadline.h"
#include "support/FileSizeLimit.h"
#include "support/ScreenFixture.h"

using ::testing::HasSubstr;

// The main view on the fake player, for the session file beside the video.
class SessionFiles : public Screens {};

TEST_F(SessionFiles, SaveWritesTheSessionBesideTheVideoAndAsksBeforeOverwriting) {
    openVideo("match.MTS");
    press("A0", 65.5);
    press("B12", 754.25);
    const auto session = dir / "match.csv";
    EXPECT_EQ(main->getCSVFileName(), session.string());

    click("window_save");
    EXPECT_EQ(dialogs.shown.back().message, "タグ情報が保存されました。");
    EXPECT_FALSE(main->m_fSave);
    EXPECT_EQ(slurp(session), "Team, INDEX, 再生時刻, タグ内容, コメント\n"
                              "A,1,0:01:05,ラック,\"\",65.5\n"
                              "B,2,0:12:34,トライ,\"\",754.25\n");

    // Saving again asks; "no" writes nothing and playback goes on.
    press("A1", 800);
    fake->currentRate = 1.0f;
    dialogs.answers = {0};
    click("window_save");
    EXPECT_EQ(dialogs.shown.back().message, "保存データがあります。上書きしますか？");
    EXPECT_TRUE(main->m_fSave);
    EXPECT_EQ(fake->currentRate, 1.0f);
    EXPECT_EQ(TagFileManager::loadCSVFile(session).size(), 2u);

    // "yes" replaces it.
    dialogs.answers = {1};
    click("window_save");
    EXPECT_EQ(TagFileManager::loadCSVFile(session).size(), 3u);
    EXPECT_FALSE(main->m_fSave);

    // With no video nothing is asked or written.
    fake->hasItem = false;
    const size_t shown = dialogs.shown.size();
    click("window_save");
    EXPECT_EQ(dialogs.shown.size(), shown);
}

TEST_F(SessionFiles, AFailedWriteKeepsTheOldSessionAndTheUnsavedFlag) {
    openVideo("match.mp4");
    press("A0", 1);
    click("window_save");
    const std::string before = slurp(dir / "match.csv");
    for (int i = 0; i < 200; ++i)
        press("B3", i);
    dialogs.answers = {1}; // overwrite: yes
    {
        FileSizeLimit limit(before.size() + 100);
        click("window_save");
    }
    EXPECT_EQ(dialogs.shown.back().title, "保存失敗");
    EXPECT_THAT(dialogs.shown.back().message, HasSubstr("File too large"));
    EXPECT_TRUE(main->m_fSave);
    EXPECT_EQ(slurp(dir / "match.csv"), before);
    EXPECT_EQ(filesIn(dir), 1);

    // Closing now: "yes" tries to save, fails, and the window stays.
    dialogs.answers = {1, 1};
    {
        FileSizeLimit limit(before.size() + 100);
        click("window_close");
    }
    EXPECT_FALSE(main->isTerminating());
    EXPECT_EQ(main->tagDataModel.data.size(), 201u);
}

TEST_F(SessionFiles, CloseAsksOnlyWithUnsavedTagsOfAnOpenVideoCancelKeepsNoQuits) {
    main->m_fSave = true; // no video: quits without a question
    click("window_close");
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_TRUE(main->isTerminating());

    makeWindow();
    openVideo("match.mp4");
    press("A0", 1);
    dialogs.answers = {2}; // cancel
    click("window_close");
    EXPECT_EQ(dialogs.shown.back().message, "タグデータが変更されています。保存しますか？");
    EXPECT_FALSE(main->isTerminating());
    dialogs.answers = {0}; // no
    click("window_close");
    EXPECT_TRUE(main->isTerminating());
    EXPECT_FALSE(std::filesystem::exists(dir / "match.csv"));
}

TEST_F(SessionFiles, OpeningAnotherVideoWithUnsavedTagsAsksFirst) {
    openVideo("a.mp4");
    press("A0", 1);
    edit->mediaClipStart();
    dialogs.answers = {2}; // cancel: stay on a.mp4
    openVideo("b.mp4");
    EXPECT_EQ(fake->currentPath(), (dir / "a.mp4").string());
    EXPECT_EQ(main->tagDataModel.data.size(), 1u);
    EXPECT_EQ(edit->clipTableData.size(), 1u);

    dialogs.answers = {1}; // yes: saved beside a.mp4, then b opens
    openVideo("b.mp4");
    EXPECT_EQ(fake->currentPath(), (dir / "b.mp4").string());
    EXPECT_EQ(TagFileManager::loadCSVFile(dir / "a.csv").size(), 1u);
    EXPECT_TRUE(main->tagDataModel.data.empty());
    EXPECT_TRUE(edit->clipTableData.empty());
    EXPECT_FALSE(main->m_fSave);

    press("A0", 1);
    dialogs.answers = {0}; // no: discarded
    openVideo("c.mp4");
    EXPECT_FALSE(std::filesystem::exists(dir / "b.csv"));
    EXPECT_FALSE(main->m_fSave);
}

TEST_F(SessionFiles, AVideoThatCannotBeOpenedIsReported) {
    openVideo("a.mp4");
    press("A0", 1);
    click("window_save");
    fake->failNextOpen = true;
    openVideo("broken.mp4");
    EXPECT_EQ(dialogs.shown.back().style, "error");
    EXPECT_EQ(dialogs.shown.back().message.rfind("動画を開けませんでした。", 0), 0u);
    EXPECT_TRUE(edit->tagTableData.empty());
    press("A0", 2); // no video: nothing recorded
    EXPECT_TRUE(main->tagDataModel.data.empty());
}

TEST_F(SessionFiles, CommentsAddDeleteAndAsk) {
    openVideo("a.mp4");
    for (int i = 0; i < 4; ++i)
        press("A0", static_cast<double>(10 - i));
    click("onCommentAdd"); // the new row is selected: it gets the empty text
    main->m_fSave = false;
    // Sort by time: row 3 is the first tag.
    clickHeader(edit->tagTableView, edit->tagModel()->columnOf("EditTagTimeCol"));
    clickCell(edit->tagTableView, 3, 4);
    edit->commentTextField->setPlainText("a,\"b\"\nc");
    click("onCommentAdd");
    EXPECT_EQ(main->tagDataModel.data[0]->comment, "a,\"b\"\nc");
    EXPECT_TRUE(main->m_fSave);
    EXPECT_EQ(edit->tagModel()->index(3, 5).data().toString(), "!");

    // Delete asks only for a stored comment; "no" keeps it.
    clickCell(edit->tagTableView, 0, 4);
    click("onCommentDelete");
    EXPECT_TRUE(dialogs.shown.empty());
    clickCell(edit->tagTableView, 3, 4);
    EXPECT_EQ(edit->commentTextField->toPlainText(), "a,\"b\"\nc");
    dialogs.answers = {0};
    click("onCommentDelete");
    EXPECT_EQ(dialogs.shown.back().message, "現在のコメントを削除しますか？");
    EXPECT_EQ(main->tagDataModel.data[0]->comment, "a,\"b\"\nc");
    dialogs.answers = {1};
    click("onCommentDelete");
    EXPECT_EQ(main->tagDataModel.data[0]->comment, "");
    EXPECT_EQ(edit->tagModel()->index(3, 5).data().toString(), "");

    // No selected row (the chosen tag filtered out): nothing at all.
    chooseFilter(edit->tagFilterCombo, "トライ");
    edit->commentTextField->setPlainText("lost");
    click("onCommentAdd");
    click("onCommentDelete");
    for (const auto& t : main->tagDataModel.data)
        EXPECT_NE(t->comment, "lost");
}

TEST_F(SessionFiles, CsvExportWritesTheListedRowsInOrder) {
    click("onTagCSVOutput");
    EXPECT_EQ(dialogs.shown.back().message, "出力するデータがありません。");
    EXPECT_TRUE(dialogs.panels.empty());

    openVideo("a.mp4");
    press("A12", 30);
    press("B12", 10);
    press("A12", 20);
    press("A0", 5);
    chooseFilter(edit->tagFilterCombo, "トライ");
    QTest::mouseClick(edit->teamB_checkBox, Qt::LeftButton);
    clickHeader(edit->tagTableView, edit->tagModel()->columnOf("EditTagTimeCol"));

    dialogs.paths = {std::nullopt};
    click("onTagCSVOutput"); // cancelled: nothing
    ASSERT_EQ(dialogs.panels.size(), 1u);
    EXPECT_EQ(dialogs.panels[0].panel.proposedName, "Brenholt");
    EXPECT_EQ(dialogs.panels[0].panel.extensions, QStringList{"csv"});

    const auto out = dir / "export.csv";
    dialogs.paths = {out.string()};
    click("onTagCSVOutput");
    EXPECT_EQ(dialogs.shown.back().message, "CSVファイルが作成されました。");
    EXPECT_EQ(slurp(out), "Team, INDEX, 再生時刻, タグ内容, コメント\n"
                          "A,1,0:00:20,トライ,\"\"\n"
                          "A,2,0:00:30,トライ,\"\"\n");
}

TEST_F(SessionFiles, PlayModeHasItsOwnOrderFilterAndSelection) {
    openVideo("a.mp4");
    press("A0", 30);
    press("B6", 10);
    press("A12", 20);
    main->tagDataModel.data[1]->comment = "良いスクラム";
    clickHeader(play->tagTableView, play->tagModel()->columnOf("PlayTagTimeCol"));
    click("menu_play_mode_button");
    EXPECT_EQ(main->menu_playMode_btn->imageName(), "menu_playMode_mo1"); // the lit one
    EXPECT_EQ(main->menu_editMode_btn->imageName(), "menu_editMode");
    EXPECT_EQ(names(play->tagTableData),
              (std::vector<std::string>{"スクラム", "トライ", "ラック"}));
    EXPECT_EQ(edit->filterSortData.sort_tag_time, 0);

    fake->seeks.clear();
    clickCell(play->tagTableView, 0, play->tagModel()->columnOf("PlayTagNameCol"));
    EXPECT_EQ(play->commentTextView->toPlainText(), "良いスクラム");
    EXPECT_EQ(fake->seeks, std::vector<double>{10.0});
    EXPECT_TRUE(main->MediaPlayer->timer.isActive());
    clickCell(play->tagTableView, 1, 0); // column 0 never seeks
    EXPECT_EQ(fake->seeks.size(), 1u);

    // Filtered out and back in, the chosen tag is selected again.
    QTest::mouseClick(play->teamB_checkBox, Qt::LeftButton);
    EXPECT_EQ(play->tagTableView->selectedRow(), -1);
    QTest::mouseClick(play->teamB_checkBox, Qt::LeftButton);
    EXPECT_EQ(play->tagTableView->selectedRow(), 0);

    // New tags appear on the next switch; a video opened here clears the choice.
    click("menu_edit_mode_button");
    press("B1", 5);
    click("menu_play_mode_button");
    EXPECT_EQ(play->tagTableData.front()->name, "モール");
    openVideo("b.mp4");
    EXPECT_EQ(play->tagTableSelectedRowIndex, -1);
    EXPECT_TRUE(play->tagTableData.empty());
}

TEST_F(SessionFiles, OpeningAVideoInPlayModeShowsItsTagsOnBothScreens) {
    std::ofstream(dir / "b.csv") << "Team, INDEX, 再生時刻, タグ内容, コメント\n"
                                    "A,1,0:00:05,モール,\"\",5\n"
                                    "B,2,0:00:06,キック,\"\",6\n";
    openVideo("a.mp4");
    press("A0", 1);
    press("A2", 2);
    press("A3", 3);
    clickCell(edit->tagTableView, 1, 3);
    click("menu_play_mode_button");
    clickCell(play->tagTableView, 2, 2);
    dialogs.answers = {0}; // unsaved tags of a.mp4: no
    dialogs.paths = {(dir / "b.mp4").string()};
    click("mediaOpen_play");
    EXPECT_EQ(names(play->tagTableData), (std::vector<std::string>{"モール", "キック"}));
    EXPECT_EQ(play->tagTableSelectedRowIndex, -1);
    click("menu_edit_mode_button");
    EXPECT_EQ(names(edit->tagTableData), (std::vector<std::string>{"モール", "キック"}));
    EXPECT_EQ(edit->tagTableView->selectedRow(), -1);

    // Delete, comment and export act on b.mp4's own tags.
    clickCell(edit->tagTableView, 0, 0);
    dialogs.answers = {1};
    click("onTagDelete");
    EXPECT_EQ(names(main->tagDataModel.data), (std::vector<std::string>{"キック"}));
    clickCell(edit->tagTableView, 0, 3);
    QTest::mouseClick(edit->commentTextField->viewport(), Qt::LeftButton);
    typeText("b");
    click("onCommentAdd");
    EXPECT_EQ(main->tagDataModel.data[0]->comment, "b");
    dialogs.paths = {(dir / "out.csv").string()};
    click("onTagCSVOutput");
    EXPECT_EQ(slurp(dir / "out.csv"),
              "Team, INDEX, 再生時刻, タグ内容, コメント\nB,1,0:00:06,キック,\"b\"\n");
}

// A session with lines it cannot read: what could be read is shown, and the
// file is kept under another name before the first save replaces it.
TEST_F(SessionFiles, APartlyReadableSessionIsReportedAndKeptBeforeTheFirstSave) {
    const std::string header = "Team, INDEX, 再生時刻, タグ内容, コメント\n";
    struct Case {
        const char* video;
        std::string text, report;
        std::vector<std::string> names;
    } cases[] = {
        {"short",
         header + "A,1,0:00:01,ラック,\"\",1.0\nA,2,0:00:02,ラック\n"
                  "B,3,0:00:03,DG,\"\",three\nB,4,0:00:04,PG,\"ok\",4.0\n",
         "3行目: 項目が足りないため、読み込みませんでした。\n"
         "4行目: 時刻を読み取れないため、0:00:00 としました。\n読み込めたタグ3件",
         {"ラック", "DG", "PG"}},
        // The second tag's comment lost its closing quote in an editor.
        {"quote",
         header + "A,1,0:00:01,ラック,\"\",1.0\nB,2,0:00:05,DG,\"good pass,5.25\n"
                  "A,3,0:00:10,PG,\"\",10.5\nB,4,0:00:15,UE,\"nice\",15.75\n",
         "3行目: 引用符（\"）が閉じられていないため、引用符も文字として読み込みました。\n"
         "読み込めたタグ4件",
         {"ラック", "DG", "PG", "UE"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.video);
        const auto session = dir / (std::string(c.video) + ".csv");
        { std::ofstream(session, std::ios::binary) << c.text; }
        dialogs.shown.clear();
        openVideo(std::string(c.video) + ".mp4");
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].message,
                  "セッションファイルの一部を読み込めませんでした。\n" + session.string() + "\n" +
                      c.report +
                      "を表示しています。上書き保存のときは、元のファイルを別の名前で残してから"
                      "保存します。");
        EXPECT_EQ(names(edit->tagTableData), c.names);
        const long before = filesIn(dir);

        // Declining the overwrite keeps nothing and writes nothing.
        press("A12", 10);
        dialogs.answers = {0};
        click("window_save");
        EXPECT_EQ(filesIn(dir), before);
        EXPECT_EQ(slurp(session), c.text);

        dialogs.answers = {1};
        click("window_save");
        std::vector<std::filesystem::path> kept;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            if (e.path().filename().string().starts_with(std::string(c.video) + ".csv.damaged-"))
                kept.push_back(e.path());
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_EQ(slurp(kept[0]), c.text);
        EXPECT_EQ(dialogs.shown.back().message,
                  "タグ情報が保存されました。\n読み込めなかった元のファイルは次の名前で残して"
                  "います。\n" +
                      kept[0].string());
        EXPECT_EQ(TagFileManager::loadCSVFile(session).size(), c.names.size() + 1);

        // The saved file is whole: the next save replaces it without another copy.
        press("B0", 20);
        dialogs.answers = {1};
        click("window_save");
        EXPECT_EQ(dialogs.shown.back().message, "タグ情報が保存されました。");
        EXPECT_EQ(filesIn(dir), before + 1);

        // Reopened, it reads without a word.
        const size_t shown = dialogs.shown.size();
        openVideo(std::string(c.video) + ".mp4");
        EXPECT_EQ(dialogs.shown.size(), shown);
        EXPECT_EQ(main->tagDataModel.data.size(), c.names.size() + 2);
    }
}

// What stands where the session file goes is told on opening and never
// replaced by a save, on either screen.
TEST_F(SessionFiles, AFolderOrFifoInPlaceOfTheSessionIsReportedAndLeftAlone) {
    // Reading a FIFO waits for a writer that never comes.
    const Deadline deadline(30, "a FIFO in place of the session file");
    struct Case {
        const char *name, *screen;
        std::string opened, saved;
    };
    const Case cases[] = {
        {"folder", "play",
         "\n同じ名前のフォルダーがあります。保存するには、このフォルダーの名前を変えてください。",
         ""},
        {"fifo", "edit",
         "\n通常のファイルではありません（名前付きパイプやデバイスなど）。保存するには、これの名"
         "前を変えるか取り除いてください。",
         "セッションファイルの場所に通常のファイルではないもの（名前付きパイプやデバイスなど）が"
         "あるため、保存しませんでした。\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto session = dir / (std::string(c.name) + ".csv");
        const bool fifo = c.name == std::string("fifo");
        ASSERT_TRUE(fifo ? ::mkfifo(session.c_str(), 0644) == 0
                         : std::filesystem::create_directories(session));
        crashAndRestart();
        click(("menu_" + std::string(c.screen) + "_mode_button").c_str());
        dialogs.shown.clear();
        dialogs.paths = {(dir / (std::string(c.name) + ".mp4")).string()};
        click(("mediaOpen_" + std::string(c.screen)).c_str());
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].message,
                  "セッションファイルを読み込めませんでした。\n" + session.string() + c.opened);
        EXPECT_TRUE(play->tagTableData.empty() && edit->tagTableData.empty());

        click("menu_edit_mode_button");
        press("A0", 1);
        dialogs.answers = {1};
        click("window_save");
        EXPECT_EQ(dialogs.shown.back().title, "保存失敗");
        if (fifo) {
            EXPECT_EQ(dialogs.shown.back().message, c.saved + session.string());
        }
        EXPECT_TRUE(main->m_fSave);
        EXPECT_EQ(std::filesystem::symlink_status(session).type(),
                  fifo ? std::filesystem::file_type::fifo : std::filesystem::file_type::directory);
        EXPECT_EQ(filesIn(dir), fifo ? 2 : 1); // nothing written beside it
    }
}
