// The match of the open video on the edit screen: periods marked, moved,
// removed and undone with the period controls or the keys [ and ], the team
// names, and the match file beside the session file.
#include <QComboBox>
#include <gmock/gmock.h>
#include <set>

#include "SubViewClass/EditableNSTextField.h"
#include "match/MatchPanel.h"
#include "support/ScreenFixture.h"

using ::testing::HasSubstr;

namespace {

struct Way {
    const char* name;
    bool keys; // [ and ] after a click left the focus on the tag table
};

class MatchMarking : public Screens, public ::testing::WithParamInterface<Way> {
protected:
    void mark(bool start, double at) {
        fake->clock = at;
        if (GetParam().keys)
            type(start ? Qt::Key_BracketLeft : Qt::Key_BracketRight);
        else
            click(start ? "periodStart" : "periodEnd");
    }
    const std::vector<MatchPeriod>& periods() const { return main->tagDataModel.match.periods; }
    std::string refusal(size_t before) const {
        return dialogs.shown.size() == before + 1 ? dialogs.shown.back().message : "(none)";
    }
};

MatchInfo matchFileOf(const std::filesystem::path& file) {
    MatchInfo read;
    std::string error;
    EXPECT_TRUE(readMatchJson(slurp(file), read, error)) << error;
    return read;
}

} // namespace

TEST_P(MatchMarking, PeriodsAreMarkedMovedRemovedAndUndone) {
    openVideo("match.mp4", 6000);
    QTest::mouseClick(edit->tagTableView->viewport(), Qt::LeftButton);
    ASSERT_TRUE(edit->isAncestorOf(QApplication::focusWidget()));
    mark(true, 12);
    mark(false, 2450);
    mark(true, 3000);
    // A second start while 後半 is open, an end before its start: refused.
    for (const auto& [start, at, why] :
         {std::tuple{true, 3100.0, "「後半」が終了していません"},
          std::tuple{false, 2900.0, "終了は「後半」の開始より後にしてください"}}) {
        const size_t before = dialogs.shown.size();
        mark(start, at);
        EXPECT_THAT(refusal(before), HasSubstr(why));
    }
    mark(false, 5500);
    const std::vector<MatchPeriod> marked{{"前半", 12, 2450, 0}, {"後半", 3000, 5500, 2400}};
    EXPECT_EQ(periods(), marked);
    // A start inside the periods marked is refused as well.
    size_t before = dialogs.shown.size();
    mark(true, 4000);
    EXPECT_THAT(refusal(before), HasSubstr("終了より後に始めてください"));

    // 前半's end a second on, a frame back; the video shows where it is now.
    QComboBox* list = edit->matchPanel->periodList;
    ASSERT_EQ(list->count(), 2);
    chooseFilter(list, list->itemText(0));
    QTest::mouseClick(edit->matchPanel->periodEdge, Qt::LeftButton);
    ASSERT_EQ(edit->matchPanel->periodEdge->text(), "終了");
    click("periodForwardSecond");
    click("periodBackFrame");
    EXPECT_DOUBLE_EQ(periods()[0].end, 2451 - MatchPanel::frameSeconds());
    EXPECT_DOUBLE_EQ(fake->clock, periods()[0].end);
    EXPECT_EQ(list->currentText().toStdString(), "前半 0:00:12.00 – 0:40:50.96");
    // 後半's start a frame back.
    chooseFilter(list, list->itemText(1));
    QTest::mouseClick(edit->matchPanel->periodEdge, Qt::LeftButton);
    ASSERT_EQ(edit->matchPanel->periodEdge->text(), "開始");
    click("periodBackFrame");
    EXPECT_DOUBLE_EQ(periods()[1].start, 3000 - MatchPanel::frameSeconds());
    click("periodRemove");
    ASSERT_EQ(periods().size(), 1u);

    // Each was one step: undone one by one, back to the periods as marked.
    for (int i = 0; i < 4; ++i)
        type(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(periods(), marked);
    EXPECT_EQ(list->count(), 2);
    type(Qt::Key_Y, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(periods()[0].end, 2451);
}

INSTANTIATE_TEST_SUITE_P(Ways, MatchMarking,
                         ::testing::Values(Way{"controls", false}, Way{"keys", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A team named in its header is the match's: undone and redone, saved in the
// match file beside the session file, and shown again when the video opens
// after a restart. A video without a match writes no match file.
TEST_F(Screens, TeamNamesAndPeriodsLiveInTheMatchFile) {
    openVideo("match.mp4");
    QTest::mouseClick(edit->teamA_header, Qt::LeftButton);
    type(Qt::Key_A, Qt::ControlModifier);
    typeJapanese("東京ガス");
    type(Qt::Key_Return);
    EXPECT_EQ(main->tagDataModel.match.teams[0], "東京ガス");
    type(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(edit->teamA_header->text(), "チームA");
    type(Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(edit->teamA_header->text(), "東京ガス");
    fake->clock = 30;
    click("periodStart");
    click("window_save");
    EXPECT_EQ(dialogs.shown.back().message, "タグ情報が保存されました。");
    EXPECT_EQ(matchFileOf(dir / "match.match.json"), main->tagDataModel.match);

    window.reset();
    makeWindow();
    openVideo("match.mp4");
    EXPECT_EQ(edit->teamA_header->text(), "東京ガス");
    EXPECT_EQ(edit->teamB_header->text(), "チームB");
    EXPECT_EQ(edit->matchPanel->periodList->currentText().toStdString(), "前半 0:00:30.00 – ");

    openVideo("other.mp4");
    EXPECT_EQ(edit->teamA_header->text(), "チームA");
    EXPECT_EQ(edit->matchPanel->periodList->count(), 0);
    press("A0", 5);
    click("window_save");
    EXPECT_FALSE(std::filesystem::exists(dir / "other.match.json"));
}

// A match file that cannot be read is reported with its reason, and stays as
// it was: the first save keeps a copy of it first; one that cannot be written
// makes the save fail.
TEST_F(Screens, AMatchFileThatCannotBeReadIsReportedAndKept) {
    struct Case {
        const char* video;
        const char* text; // null: a folder in its place
        const char* note;
        bool saves;
    };
    for (const Case& c :
         {Case{"broken.mp4", "{\"format\": \"rucktag-match\",\n  oops", "2 行目", true},
          Case{"other.mp4", "{\"format\": \"other\"}", "format が違います", true},
          Case{"folder.mp4", nullptr, "同じ名前のフォルダー", false}}) {
        const auto file = dir / (std::filesystem::path(c.video).stem().string() + ".match.json");
        if (c.text)
            spit(file, c.text);
        else
            std::filesystem::create_directory(file);
        dialogs.shown.clear();
        openVideo(c.video);
        ASSERT_FALSE(dialogs.shown.empty()) << c.video;
        EXPECT_THAT(dialogs.shown.back().message, HasSubstr("試合ファイルを読み込めませんでした"));
        EXPECT_THAT(dialogs.shown.back().message, HasSubstr(c.note)) << c.video;
        fake->clock = 3;
        click("periodStart");
        click("window_save");
        EXPECT_EQ(!main->m_fSave, c.saves) << c.video;
        if (!c.saves) {
            EXPECT_EQ(dialogs.shown.back().title, "保存失敗");
            EXPECT_TRUE(std::filesystem::is_directory(file));
            continue;
        }
        EXPECT_THAT(dialogs.shown.back().message, HasSubstr("元の試合ファイルは次の名前で"));
        std::set<std::string> kept;
        for (const auto& name : namesIn(dir))
            if (name.starts_with(file.filename().string() + ".damaged-"))
                kept.insert(name);
        ASSERT_EQ(kept.size(), 1u) << c.video;
        EXPECT_EQ(slurp(dir / *kept.begin()), c.text);
        EXPECT_EQ(matchFileOf(file).periods.size(), 1u);
    }
}
