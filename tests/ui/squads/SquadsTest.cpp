#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>

#include "match/Squad.h"
#include "squads/SquadDialog.h"
#include "support/ScreenFixture.h"

namespace {

// Scrum on Q / W, and a code of its own on the digit 5 for team A.
const char* const kDigitWindow =
    R"({"format": "rucktag-codewindow", "version": 1, "name": "背番号",
 "codes": [{"name": "スクラム", "color": "#f08000", "keyA": "Q", "keyB": "W"},
           {"name": "ペナルティ", "color": "#c02020", "keyA": "5"}]}
)";

class Squads : public Screens {
protected:
    void SetUp() override {
        data = dir.string() + "-data";
        std::filesystem::remove_all(data);
        ::setenv("XDG_DATA_HOME", data.c_str(), 1);
        // 東京: 25 players, 12 山田 among them.
        Squad tokyo{"東京", {}};
        for (int n = 1; n <= 25; ++n)
            tokyo.players.push_back({n, n == 12 ? "山田" : "選手" + std::to_string(n), ""});
        std::filesystem::create_directories(squadFolder());
        std::ofstream(squadFolder() / "東京.json") << squadJson(tokyo);
        restartWithWindows({{"digits.json", kDigitWindow}});
        chooseWindow("背番号");
        openVideo("a.mp4");
    }
    void TearDown() override { std::filesystem::remove_all(data); }
    SquadDialog* openDialog() {
        click("matchPlayersButton");
        auto* dialog = window->findChild<SquadDialog*>();
        EXPECT_TRUE(dialog && dialog->isVisible());
        return dialog;
    }
    template <class T> T* in(SquadDialog* dialog, const char* id) {
        return dialog->findChild<T*>(id);
    }
    const MatchInfo& match() const { return main->tagDataModel.match; }
    const TagLabels& lastLabels() const { return main->tagDataModel.data.back()->labels; }
    // A real click leaves the focus on the edit screen (the team box).
    void focusEditScreen() {
        QTest::mouseClick(edit->teamB_checkBox, Qt::LeftButton);
        QTest::mouseClick(edit->teamB_checkBox, Qt::LeftButton);
    }
    void chooseTokyoForTeamA() {
        SquadDialog* dialog = openDialog();
        ASSERT_TRUE(dialog);
        chooseFilter(in<QComboBox>(dialog, "squadChooserA"), "東京");
        EXPECT_EQ(in<QLabel>(dialog, "playersCountA")->text(), "出場 23 人");
        QTest::mouseClick(in<QPushButton>(dialog, "squadsOk"), Qt::LeftButton);
        ASSERT_FALSE(dialog->isVisible());
    }
    std::string data;
};

} // namespace

// The squad chosen in the dialog gives the match its first 23 players: buttons
// under team A, the 選手 group for the tally, one undoable step.
TEST_F(Squads, ASquadChosenInTheDialogGivesTheMatchItsPlayersAsOneStep) {
    chooseTokyoForTeamA();
    ASSERT_EQ(match().players[0].size(), kMatchDaySquad);
    EXPECT_EQ(match().squads[0], "東京");
    EXPECT_EQ(playerLabel(match().players[0][11]), "12 山田");
    EXPECT_TRUE(match().players[1].empty());
    ASSERT_EQ(edit->codePanel->playerButtons.size(), kMatchDaySquad);
    EXPECT_TRUE(edit->codePanel->playerPanel->isVisible());
    EXPECT_GE(play->tallyLabelPopUp->findText("選手"), 1);

    focusEditScreen();
    type(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(match().players[0].empty());
    EXPECT_FALSE(edit->codePanel->playerPanel->isVisible());
    type(Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(match().players[0].size(), kMatchDaySquad);
}

// Digits right after a code name the player of the tag's team; a digit the
// window gives a code records it; the number pad types numbers too; a number
// of no player labels nothing; a button of the player labels as any label.
TEST_F(Squads, DigitsTypedAfterACodeLabelTheTagWithThePlayerOfThatNumber) {
    chooseTokyoForTeamA();
    const TagLabels yamada{{"選手", "12 山田"}};
    focusEditScreen();
    type(Qt::Key_Q);
    type(Qt::Key_1);
    type(Qt::Key_2);
    EXPECT_EQ(main->tagDataModel.data.size(), 1u);
    EXPECT_EQ(lastLabels(), yamada);

    type(Qt::Key_5);
    ASSERT_EQ(main->tagDataModel.data.size(), 2u);
    EXPECT_EQ(main->tagDataModel.data.back()->name, "ペナルティ");
    EXPECT_TRUE(lastLabels().empty());
    type(Qt::Key_1, Qt::KeypadModifier);
    type(Qt::Key_2, Qt::KeypadModifier);
    EXPECT_EQ(lastLabels(), yamada);
    // One number a tag: more digits do nothing.
    type(Qt::Key_3);
    EXPECT_EQ(lastLabels(), yamada);

    type(Qt::Key_Q);
    type(Qt::Key_2);
    type(Qt::Key_6);
    EXPECT_TRUE(lastLabels().empty());
    // A digit closed by another key is a number of one digit.
    type(Qt::Key_Q);
    type(Qt::Key_1);
    type(Qt::Key_Q);
    EXPECT_EQ(main->tagDataModel.data.at(3)->labels, (TagLabels{{"選手", "1 選手1"}}));
    EXPECT_TRUE(lastLabels().empty());
    // So is one closed by a click on a tag button.
    type(Qt::Key_2);
    QTest::mouseClick(edit->codePanel->tagButtons.front(), Qt::LeftButton);
    EXPECT_EQ(main->tagDataModel.data.at(4)->labels, (TagLabels{{"選手", "2 選手2"}}));
    focusEditScreen();
    // Team B has no players: its tags take none.
    type(Qt::Key_W);
    type(Qt::Key_7);
    EXPECT_TRUE(lastLabels().empty());

    clickCell(edit->tagTableView, 0, 4);
    EXPECT_TRUE(edit->codePanel->findChild<QAbstractButton*>("player_A_12")->isChecked());
    QTest::mouseClick(edit->codePanel->findChild<QAbstractButton*>("player_A_7"), Qt::LeftButton);
    EXPECT_EQ(main->tagDataModel.data.at(0)->labels, (TagLabels{{"選手", "7 選手7"}}));
}

// A squad made in the dialog from a team sheet is written to the squads
// folder and gives the match its players.
TEST_F(Squads, ASquadMadeFromATeamSheetIsSavedAndPlays) {
    const auto sheet = dir / "sheet.csv";
    std::ofstream(sheet) << "氏名,背番号\n鈴木,9\n田中,x\n高橋,10\n";
    SquadDialog* dialog = openDialog();
    ASSERT_TRUE(dialog);
    QTest::mouseClick(in<QPushButton>(dialog, "squadNewB"), Qt::LeftButton);
    QLineEdit* name = in<QLineEdit>(dialog, "squadNameB");
    QTest::mouseClick(name, Qt::LeftButton);
    QTest::keyClick(name, Qt::Key_A, Qt::ControlModifier);
    // Japanese comes through the input method.
    QInputMethodEvent commit;
    commit.setCommitString("大阪");
    QApplication::sendEvent(name, &commit);
    dialogs.paths.push_back(sheet.string());
    QTest::mouseClick(in<QPushButton>(dialog, "squadImportB"), Qt::LeftButton);
    EXPECT_TRUE(dialogs.saw("読み込めなかった行があります。\n3 行目: 背番号「x」"));
    EXPECT_EQ(in<QTableWidget>(dialog, "squadTableB")->rowCount(), 2);
    QTest::mouseClick(in<QPushButton>(dialog, "squadsOk"), Qt::LeftButton);
    ASSERT_FALSE(dialog->isVisible());
    ASSERT_EQ(match().players[1], (std::vector<MatchPlayer>{{9, "鈴木", ""}, {10, "高橋", ""}}));
    EXPECT_EQ(match().squads[1], "大阪");
    std::vector<std::string> problems;
    const std::vector<Squad> saved = listSquads(squadFolder(), problems);
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0], (Squad{"大阪", match().players[1]}));
}
