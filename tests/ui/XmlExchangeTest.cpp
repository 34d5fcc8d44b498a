#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <fstream>

#include "SubModuleClass/AtomicFile.h"
#include "SubModuleClass/XmlEditList.h"
#include "support/ScreenFixture.h"

namespace {

constexpr int kNo = 0, kYes = 1; // ConfirmBox: いいえ, はい, キャンセル

// Answers the team question when it opens: B for the codes at `teamB`, then
// 読み込む (or キャンセル).
class TeamAnswer {
public:
    TeamAnswer(std::vector<int> teamB, bool accept) : teamB_(std::move(teamB)), accept_(accept) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { answer(); });
        timer_.start();
    }
    std::vector<std::string> codesSeen;
    int asked = 0;

private:
    void answer() {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog->objectName() != "teamMappingDialog" || !dialog->isVisible())
            return;
        ++asked;
        for (int row : teamB_) {
            auto* b = dialog->findChild<QRadioButton*>(QString("teamB_%1").arg(row));
            if (b)
                QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, b->height() / 2));
        }
        const char* button = accept_ ? "teamMappingOk" : "teamMappingCancel";
        QTest::mouseClick(dialog->findChild<QAbstractButton*>(button), Qt::LeftButton);
    }
    std::vector<int> teamB_;
    bool accept_;
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
                      "</ALL_INSTANCES><clock/></file>";

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
