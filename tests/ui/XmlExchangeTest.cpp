#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QListWidget>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>
#include <fstream>

#include "SubModuleClass/AtomicFile.h"
#include "SubModuleClass/CodeWindowFile.h"
#include "SubModuleClass/TagFileManager.h"
#include "SubModuleClass/XmlEditList.h"
#include "support/ScreenFixture.h"

namespace {

constexpr int kNo = 0, kYes = 1; // ConfirmBox: いいえ, はい, キャンセル

// Answers the import question when it opens: B for the codes at `teamB`,
// the copy of the window ticked when `copy`, then 読み込む (or キャンセル).
class TeamAnswer {
public:
    TeamAnswer(std::vector<int> teamB, bool accept, bool copy = false)
        : teamB_(std::move(teamB)), accept_(accept), copy_(copy) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { answer(); });
        timer_.start();
    }
    std::vector<std::string> outsideSeen;
    int asked = 0;

private:
    void answer() {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog->objectName() != "importDialog" || !dialog->isVisible())
            return;
        ++asked;
        for (int row : teamB_) {
            auto* b = dialog->findChild<QRadioButton*>(QString("teamB_%1").arg(row));
            if (b)
                QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, b->height() / 2));
        }
        if (auto* list = dialog->findChild<QListWidget*>("outsideCodes"))
            for (int i = 0; i < list->count(); ++i)
                outsideSeen.push_back(list->item(i)->text().toStdString());
        if (copy_) {
            auto* box = dialog->findChild<QCheckBox*>("addToWindowCopy");
            if (box)
                QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        }
        const char* button = accept_ ? "importOk" : "importCancel";
        QTest::mouseClick(dialog->findChild<QAbstractButton*>(button), Qt::LeftButton);
    }
    std::vector<int> teamB_;
    bool accept_, copy_;
    QTimer timer_;
};

const char* kTheirs = "\xEF\xBB\xBF<?xml version=\"1.0\"?><file><ALL_INSTANCES>"
                      "<instance><ID>1</ID><start>40</start><end>41</end><code>Carry</code>"
                      "<free_text>a & b</free_text></instance>"
                      "<instance><ID>2</ID><start>20</start><end>30</end><code>B スクラム</code>"
                      "</instance>"
                      "<instance><ID>3</ID><start>10</start><end>10</end><code>Carry</code>"
                      "<label><text>good</text></label></instance>"
                      "<instance><ID>4</ID><start>30</start><end>30</end><code>トライ</code>"
                      "<label><group>チーム</group><text>A</text></label></instance>"
                      "<instance><ID>5</ID><start>50</start><code>Kick</code></instance>"
                      "</ALL_INSTANCES><clock/>"
                      "<ROWS><row><code>Carry</code><R>65535</R><G>0</G><B>0</B></row></ROWS>"
                      "</file>";

} // namespace

TEST_F(Screens, XmlExportOnBothScreensWritesTheListedTags) {
    click("onTagXMLOutput");
    EXPECT_EQ(dialogs.shown.back().message, "出力するデータがありません。");
    EXPECT_TRUE(dialogs.panels.empty());

    openVideo("a.mp4", 100.0);
    play->momentLeadSpinBox->setValue(8);
    play->momentLagSpinBox->setValue(4);
    press("A12", 30);
    press("B12", 10);
    press("A12", 98);
    press("A0", 5);
    chooseFilter(edit->tagFilterCombo, "トライ");
    QTest::mouseClick(edit->teamB_checkBox, Qt::LeftButton);

    const auto out = dir / "edit.xml";
    dialogs.paths = {(dir / "edit").string()}; // typed without the extension
    click("onTagXMLOutput");
    ASSERT_EQ(dialogs.panels.size(), 1u);
    EXPECT_TRUE(dialogs.panels[0].save);
    EXPECT_EQ(dialogs.panels[0].panel.extensions, QStringList{"xml"});
    EXPECT_EQ(dialogs.shown.back().message, "XMLファイルが作成されました。");
    std::string text, error;
    ASSERT_TRUE(readWholeFile(out, text, error)) << error;
    EditList list = readEditList(text);
    ASSERT_EQ(list.instances.size(), 2u);
    EXPECT_EQ(list.instances[0].start, "22.0"); // play screen's 前 8 and 後 4
    EXPECT_EQ(list.instances[1].end, "100.0");  // clamped to the video
    EditListTags read = tagsFromEditList(list);
    ASSERT_EQ(read.tags.size(), 2u);
    EXPECT_EQ(read.tags[1].tag->time_val, 98.0f);

    // The play screen lists every tag, by its own filter.
    click("menu_play_mode_button");
    dialogs.paths = {(dir / "play.xml").string()};
    click("onPlayTagXMLOutput");
    ASSERT_TRUE(readWholeFile(dir / "play.xml", text, error)) << error;
    list = readEditList(text);
    ASSERT_EQ(list.instances.size(), 4u);
    EXPECT_EQ(list.instances[3].code, "ラック");
    EXPECT_EQ(list.instances[3].start, "0.0");
}

TEST_F(Screens, XmlImportAsksTeamsOnceIsOneUndoStepAndAsksBeforeDuplicates) {
    openVideo("a.mp4");
    press("A0", 1);
    const auto theirs = dir / "theirs.xml";
    std::ofstream(theirs) << kTheirs;

    // Cancelling the team question adds nothing.
    {
        TeamAnswer answer({}, false);
        dialogs.paths = {theirs.string()};
        click("onTagXMLInput");
        EXPECT_EQ(answer.asked, 1);
    }
    EXPECT_EQ(main->tagDataModel.data.size(), 1u);
    ASSERT_FALSE(dialogs.panels.empty());
    EXPECT_EQ(dialogs.panels.back().panel.extensions, QStringList{"xml"});

    // Carry and Kick have no team: asked once each, Kick (the second) set B.
    {
        TeamAnswer answer({1}, true);
        dialogs.paths = {theirs.string()};
        click("onTagXMLInput");
        EXPECT_EQ(answer.asked, 1);
    }
    const auto& data = main->tagDataModel.data;
    ASSERT_EQ(data.size(), 6u);
    // By time: Carry 10, スクラム 20, トライ 30, Carry 40, Kick 50.
    EXPECT_EQ(data[1]->name, "Carry");
    EXPECT_TRUE(data[1]->team);
    EXPECT_EQ(data[1]->labels, (TagLabels{{std::string(kNoGroupLabelGroup), "good"}}));
    EXPECT_EQ(data[2]->name, "スクラム");
    EXPECT_FALSE(data[2]->team);
    EXPECT_EQ(data[2]->end, TagEnd::at(30.0f));
    EXPECT_EQ(data[3]->name, "トライ");
    EXPECT_TRUE(data[3]->team);
    EXPECT_EQ(data[4]->comment, "a & b");
    EXPECT_EQ(data[5]->name, "Kick");
    EXPECT_FALSE(data[5]->team);
    EXPECT_EQ(edit->tagTableData.size(), 6u);
    EXPECT_TRUE(main->m_fSave);
    const std::string& report = dialogs.shown.back().message;
    EXPECT_EQ(report.rfind("5 件のタグを読み込みました。", 0), 0u) << report;
    EXPECT_NE(report.find("コードウィンドウにないコード: Carry Kick"), std::string::npos) << report;
    EXPECT_NE(report.find("<clock>"), std::string::npos) << report;
    EXPECT_NE(report.find("「&」"), std::string::npos) << report;

    // One undo step takes the whole import back; redo brings it again.
    // The question was the active window; the main window is again.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    clickCell(edit->tagTableView, 0, 4);
    type(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(main->tagDataModel.data.size(), 1u);
    EXPECT_EQ(edit->tagTableData.size(), 1u);
    type(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(main->tagDataModel.data.size(), 6u);

    // The same file again: asked first; いいえ adds only what is new (none).
    {
        TeamAnswer answer({1}, true);
        dialogs.answers = {kNo};
        dialogs.paths = {theirs.string()};
        click("onTagXMLInput");
    }
    EXPECT_EQ(main->tagDataModel.data.size(), 6u);
    EXPECT_NE(dialogs.shown[dialogs.shown.size() - 2].message.find("同じタグが 5 件"),
              std::string::npos);
    EXPECT_NE(dialogs.shown.back().message.find("すでにある 5 件は加えませんでした"),
              std::string::npos);
    // はい adds them again.
    {
        TeamAnswer answer({1}, true);
        dialogs.answers = {kYes};
        dialogs.paths = {theirs.string()};
        click("onTagXMLInput");
    }
    EXPECT_EQ(main->tagDataModel.data.size(), 11u);

    // The import is journaled: a crash keeps it.
    crashAndRestart();
    dialogs.answers = {0}; // restore
    openVideo("a.mp4");
    EXPECT_EQ(main->tagDataModel.data.size(), 11u);
}

TEST_F(Screens, XmlImportOfSomethingElseIsToldAndChangesNothing) {
    openVideo("a.mp4");
    press("A0", 1);
    std::ofstream(dir / "x.xml") << "Team, INDEX\nA,1";
    dialogs.paths = {(dir / "x.xml").string()};
    click("onTagXMLInput");
    EXPECT_EQ(dialogs.shown.back().message, "XML編集リストではありません。");
    dialogs.paths = {(dir / "missing.xml").string()};
    click("onTagXMLInput");
    EXPECT_EQ(dialogs.shown.back().style, "error");
    EXPECT_EQ(main->tagDataModel.data.size(), 1u);
}

namespace {

std::vector<std::string> windowFiles(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// Codes the chosen window lacks are listed; ticked, they go into a copy of
// the window beside it, which is chosen; the original file stays as it was.
TEST_F(Screens, ImportOffersACopyOfTheWindowWithTheCodesItLacks) {
    const auto folder = config / "rucktag" / "codewindows";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "7人制.json") << kSevens;
    window.reset();
    makeWindow();
    chooseFilter(edit->codeWindowPopUp, "7人制");
    ASSERT_EQ(edit->codeWindow().name, "7人制");
    openVideo("a.mp4");
    const auto theirs = dir / "theirs.xml";
    std::ofstream(theirs) << kTheirs;

    // Not ticked: the tags come, no window is written.
    {
        TeamAnswer answer({}, true);
        dialogs.paths = {theirs.string()};
        click("onTagXMLInput");
        EXPECT_EQ(answer.asked, 1);
        EXPECT_EQ(answer.outsideSeen, (std::vector<std::string>{"Carry", "トライ", "Kick"}));
    }
    EXPECT_EQ(main->tagDataModel.data.size(), 5u);
    EXPECT_EQ(windowFiles(folder), std::vector<std::string>{"7人制.json"});
    EXPECT_EQ(edit->codeWindow().name, "7人制");
    EXPECT_NE(dialogs.shown.back().message.find("コードウィンドウにないコード: Carry トライ Kick"),
              std::string::npos)
        << dialogs.shown.back().message;

    // Ticked: a copy named after the window, the codes added after its own.
    {
        TeamAnswer answer({}, true, true);
        dialogs.answers = {kYes};
        dialogs.paths = {theirs.string()};
        click("onTagXMLInput");
        EXPECT_EQ(answer.asked, 1);
    }
    EXPECT_EQ(main->tagDataModel.data.size(), 10u);
    EXPECT_EQ(windowFiles(folder), (std::vector<std::string>{"7人制 (読込).json", "7人制.json"}));
    EXPECT_EQ(slurp(folder / "7人制.json"), kSevens);
    const CodeWindowRead copy = readCodeWindowFile(folder / "7人制 (読込).json");
    ASSERT_TRUE(copy.ok()) << copy.problems[0];
    EXPECT_EQ(copy.window.name, "7人制 (読込)");
    std::vector<std::string> names;
    for (const Code& code : copy.window.codes)
        names.push_back(code.name);
    EXPECT_EQ(names,
              (std::vector<std::string>{"スクラム", "ポゼッション", "Carry", "トライ", "Kick"}));
    EXPECT_EQ(copy.window.codes[1].mode, CodeMode::Duration); // the original's codes as they were
    EXPECT_EQ(copy.window.codes[2].color, "#ff0000");         // the file's colour
    EXPECT_EQ(copy.window.codes[4].color, "#808080");         // none given: grey
    // The copy is the chosen window: its buttons, the pop-up.
    EXPECT_EQ(edit->codeWindow().name, "7人制 (読込)");
    EXPECT_EQ(edit->codeWindowPopUp->currentText(), "7人制 (読込)");
    EXPECT_EQ(edit->tagButtons.size(), 10u);
    EXPECT_NE(dialogs.shown.back().message.find("「7人制 (読込)」を作り、3 個のコードを加えました"),
              std::string::npos)
        << dialogs.shown.back().message;

    // Again from the copy: nothing lacks, nothing asked but the duplicates;
    // a copy of a copy would be named anew rather than written over.
    {
        TeamAnswer answer({}, true, true);
        dialogs.answers = {kNo};
        dialogs.paths = {theirs.string()};
        click("onTagXMLInput");
        EXPECT_EQ(answer.asked, 1); // Carry and Kick still have no team
        EXPECT_TRUE(answer.outsideSeen.empty());
    }
    EXPECT_EQ(windowFiles(folder).size(), 2u);
}

namespace {

// An export of CSV出力 with ends and labels, written as that form writes it:
// whole seconds as H:MM:SS.
const char* const kExported = "Team, INDEX, 再生時刻, タグ内容, コメント, 終了時刻, ラベル\n"
                              "B,1,0:01:05,スクラム,\"押し, 勝ち\",0:01:10,結果=成功\n"
                              "A,2,1:00:01,トライ,,,\n"
                              "A,3,0:00:30,Carry,,,Player=10;結果=失敗\n";

} // namespace

// Another analyst's CSV出力 and the session file of another video merge into
// the open video's tags, each as one undo step, journaled; the same file
// again asks before adding what is there.
TEST_F(Screens, CsvImportMergesAnExportAndAnotherSessionAsOneStepEach) {
    openVideo("a.mp4", 4000.0);
    press("A0", 1);
    std::ofstream(dir / "theirs.csv") << kExported;
    auto session = [](bool team, float time, const char* name, std::string comment, TagEnd end,
                      TagLabels labels) {
        auto tag = std::make_shared<TagRowData>();
        tag->team = team;
        tag->time_val = time;
        tag->time_string = createTimeString(time);
        tag->name = name;
        tag->comment = std::move(comment);
        tag->end = end;
        tag->labels = std::move(labels);
        return tag;
    };
    ASSERT_EQ(TagFileManager::saveCSVFile(
                  dir / "other.csv",
                  {session(true, 12.34f, "ラック", "速い", {}, {}),
                   session(false, 7.5f, "モール", "", TagEnd::at(9.25f), {{"結果", "成功"}})},
                  true),
              "");

    // The export: Carry is outside the standard window, so the question
    // comes (no team to ask); by time, after the tag already there.
    {
        TeamAnswer answer({}, true);
        dialogs.paths = {(dir / "theirs.csv").string()};
        click("onTagCSVInput");
        EXPECT_EQ(answer.asked, 1);
        EXPECT_EQ(answer.outsideSeen, std::vector<std::string>{"Carry"});
    }
    ASSERT_FALSE(dialogs.panels.empty());
    EXPECT_EQ(dialogs.panels.back().panel.extensions, QStringList{"csv"});
    EXPECT_FALSE(dialogs.panels.back().save);
    const auto& data = main->tagDataModel.data;
    ASSERT_EQ(data.size(), 4u);
    EXPECT_EQ(data[1]->name, "Carry");
    EXPECT_TRUE(data[1]->team);
    EXPECT_EQ(data[1]->time_val, 30.0f);
    EXPECT_EQ(data[1]->labels, (TagLabels{{"Player", "10"}, {"結果", "失敗"}}));
    EXPECT_EQ(data[2]->name, "スクラム");
    EXPECT_FALSE(data[2]->team);
    EXPECT_EQ(data[2]->time_val, 65.0f);
    EXPECT_EQ(data[2]->time_string, "0:01:05");
    EXPECT_EQ(data[2]->end, TagEnd::at(70.0f));
    EXPECT_EQ(data[2]->comment, "押し, 勝ち");
    EXPECT_EQ(data[2]->labels, (TagLabels{{"結果", "成功"}}));
    EXPECT_EQ(data[3]->name, "トライ");
    EXPECT_EQ(data[3]->time_val, 3601.0f);
    EXPECT_FALSE(data[3]->end.isSet());
    EXPECT_EQ(edit->tagTableData.size(), 4u);
    EXPECT_EQ(dialogs.shown.back().message.rfind("3 件のタグを読み込みました。", 0), 0u)
        << dialogs.shown.back().message;

    // The session of another video: its exact seconds, no question (its
    // codes are the window's).
    const size_t shownBefore = dialogs.shown.size();
    dialogs.paths = {(dir / "other.csv").string()};
    click("onTagCSVInput");
    ASSERT_EQ(dialogs.shown.size(), shownBefore + 1);
    ASSERT_EQ(data.size(), 6u);
    EXPECT_EQ(data[4]->name, "モール");
    EXPECT_EQ(data[4]->time_val, 7.5f);
    EXPECT_EQ(data[4]->end, TagEnd::at(9.25f));
    EXPECT_EQ(data[4]->labels, (TagLabels{{"結果", "成功"}}));
    EXPECT_EQ(data[5]->time_val, 12.34f);
    EXPECT_EQ(data[5]->comment, "速い");
    EXPECT_TRUE(data[5]->team);
    EXPECT_TRUE(main->m_fSave);

    // One undo takes the session's two away, the next the export's three.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    clickCell(edit->tagTableView, 0, 4);
    type(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(main->tagDataModel.data.size(), 4u);
    type(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(main->tagDataModel.data.size(), 1u);
    EXPECT_EQ(edit->tagTableData.size(), 1u);
    type(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    type(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(main->tagDataModel.data.size(), 6u);

    // The session again: asked; いいえ adds nothing.
    dialogs.answers = {kNo};
    dialogs.paths = {(dir / "other.csv").string()};
    click("onTagCSVInput");
    EXPECT_EQ(main->tagDataModel.data.size(), 6u);
    EXPECT_NE(dialogs.shown[dialogs.shown.size() - 2].message.find("同じタグが 2 件"),
              std::string::npos);
    EXPECT_EQ(dialogs.shown[dialogs.shown.size() - 2].title, "CSV読込");

    crashAndRestart();
    dialogs.answers = {0}; // restore
    openVideo("a.mp4", 4000.0);
    EXPECT_EQ(main->tagDataModel.data.size(), 6u);
}

// A damaged CSV is told line by line and what could be read is offered; a
// file that is no tag CSV adds nothing. The file itself is never touched.
TEST_F(Screens, CsvImportOfADamagedFileOffersWhatCouldBeRead) {
    openVideo("a.mp4");
    press("A0", 1);
    const std::string damaged =
        std::string(TagFileManager::kHeader) +
        "\nA,1,0:00:05,キック,\"\",5.5\nshort,line\nB,2,0:00:07,PG,\"\",7.25\n";
    std::ofstream(dir / "damaged.csv") << damaged;

    dialogs.answers = {kNo};
    dialogs.paths = {(dir / "damaged.csv").string()};
    click("onTagCSVInput");
    EXPECT_EQ(main->tagDataModel.data.size(), 1u);
    const std::string question = dialogs.shown.back().message;
    EXPECT_EQ(question.rfind("CSVファイルの一部を読み込めませんでした。", 0), 0u) << question;
    EXPECT_NE(question.find("3行目: 項目が足りないため"), std::string::npos) << question;
    EXPECT_NE(question.find("読み込めたタグ 2 件を読み込みますか？"), std::string::npos);

    dialogs.answers = {kYes};
    dialogs.paths = {(dir / "damaged.csv").string()};
    click("onTagCSVInput");
    ASSERT_EQ(main->tagDataModel.data.size(), 3u);
    EXPECT_EQ(main->tagDataModel.data[2]->time_val, 7.25f);
    EXPECT_NE(dialogs.shown.back().message.find("3行目"), std::string::npos);
    EXPECT_EQ(slurp(dir / "damaged.csv"), damaged);

    std::ofstream(dir / "notes.csv") << "買い物\n牛乳\n";
    dialogs.paths = {(dir / "notes.csv").string()};
    click("onTagCSVInput");
    EXPECT_EQ(dialogs.shown.back().message.rfind("タグのCSVファイルではありません", 0), 0u);
    dialogs.paths = {(dir / "missing.csv").string()};
    click("onTagCSVInput");
    EXPECT_EQ(dialogs.shown.back().style, "error");
    EXPECT_EQ(main->tagDataModel.data.size(), 3u);
}
