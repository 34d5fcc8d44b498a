#include "support/ScreenFixture.h"

class Clips : public Screens {};

TEST_F(Clips, ClipStartAndEndFollowTheirRules) {
    click("mediaClipStart"); // no video: nothing
    EXPECT_TRUE(edit->clipTableData.empty());
    openVideo("a.mp4");
    click("mediaClipEnd"); // empty list: nothing, silently
    EXPECT_TRUE(dialogs.shown.empty());

    markClip(10.0, 10.5);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].message, "開始位置より後ろを指定してください");
    EXPECT_EQ(dialogs.shown[0].style, "warning");
    EXPECT_TRUE(edit->clipTableData[0]->endTimeString.empty());
    fake->clock = 5.0;
    click("mediaClipEnd");
    EXPECT_EQ(dialogs.shown.size(), 2u);
    fake->clock = 11.0;
    click("mediaClipStart"); // still open
    EXPECT_EQ(dialogs.shown.back().message, "先に終了位置を決定してください");
    click("mediaClipEnd");
    EXPECT_EQ(edit->clipTableData[0]->endTimeString, "0:00:11");
    fake->clock = 25.0;
    click("mediaClipEnd"); // moves the end of the last clip
    EXPECT_EQ(edit->clipTableData[0]->endTimeVal, 25.0f);
    fake->clock = 30.0;
    click("mediaClipStart");
    ASSERT_EQ(edit->clipTableData.size(), 2u);
    EXPECT_NE(edit->clipTableData[0]->index, edit->clipTableData[1]->index);
    EXPECT_EQ(edit->clipModel()->index(1, 1).data().toString(), "0:00:30");
}

TEST_F(Clips, ClipRowsSeekAtOnceKeepTheirSelectionAndDeleteAfterAQuestion) {
    openVideo("a.mp4");
    for (double start : {10.0, 20.0, 30.0})
        markClip(start, start + 2);
    fake->seeks.clear();
    fake->rateCalls.clear();
    clickCell(edit->clipTableView, 1, 2);
    EXPECT_EQ(fake->seeks, std::vector<double>{20.0});
    EXPECT_EQ(fake->rateCalls, std::vector<float>{1.0f}); // plays on at once
    clickCell(edit->clipTableView, 2, 0);                 // the check box: no seek
    EXPECT_EQ(fake->seeks.size(), 1u);
    EXPECT_TRUE(edit->clipModel()->isTicked(2));
    fake->clock = 40;
    click("mediaClipStart"); // redraw: the second clip is selected again, ticks gone
    EXPECT_EQ(edit->clipTableView->selectedRow(), 1);
    EXPECT_FALSE(edit->clipModel()->isTicked(2));

    click("onClipDelete");
    EXPECT_EQ(dialogs.shown.back().message, "削除する項目を選択してください。");
    clickCell(edit->clipTableView, 0, 0);
    clickCell(edit->clipTableView, 3, 0);
    dialogs.answers = {0};
    click("onClipDelete");
    EXPECT_EQ(edit->clipTableData.size(), 4u);
    dialogs.answers = {1};
    click("onClipDelete");
    ASSERT_EQ(edit->clipTableData.size(), 2u);
    EXPECT_EQ(edit->clipTableData[0]->startTimeVal, 20.0f);
    // Check-all from the header.
    clickHeader(edit->clipTableView, 0);
    EXPECT_TRUE(edit->clipModel()->isTicked(0) && edit->clipModel()->isTicked(1));
    EXPECT_EQ(edit->clipModel()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "✅");
}

TEST_F(Screens, MainKeyMapDrivesThePlayerFromTheVideo) {
    openVideo("a.mp4");
    QTest::mouseClick(main->MediaPlayer, Qt::LeftButton);
    ASSERT_EQ(QApplication::focusWidget(), main->MediaPlayer);
    fake->clock = 10.4;
    type(Qt::Key_Left);
    fake->clock = 1.5;
    type(Qt::Key_Left);
    fake->clock = 3.0;
    type(Qt::Key_Right);
    EXPECT_EQ(fake->seeks, (std::vector<double>{8.0, 0.0, 5.0}));

    type(Qt::Key_S);
    EXPECT_EQ(fake->currentRate, 0.0f);
    type(Qt::Key_D, Qt::ShiftModifier); // modifiers do not matter but for O
    EXPECT_EQ(fake->currentRate, 0.4f);
    EXPECT_TRUE(main->MediaPlayer->playSlowMode);
    type(Qt::Key_Space);
    EXPECT_EQ(fake->currentRate, 0.0f);
    type(Qt::Key_Space); // slow play survives a pause
    EXPECT_EQ(fake->currentRate, 0.4f);
    type(Qt::Key_A, Qt::ShiftModifier);
    EXPECT_EQ(fake->currentRate, 1.0f);
    EXPECT_FALSE(main->MediaPlayer->playSlowMode);

    fake->vol = 0.5f;
    type(Qt::Key_Up);
    EXPECT_FLOAT_EQ(fake->vol, 0.6f);
    type(Qt::Key_Down);
    type(Qt::Key_Down);
    EXPECT_FLOAT_EQ(fake->vol, 0.4f);

    // Ctrl+O (the command key here) opens the panel; nothing else with O does,
    // nor Ctrl+O with Caps Lock on (X11's Lock bit in the native state).
    dialogs.paths = {std::nullopt};
    type(Qt::Key_O);
    type(Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
    type(Qt::Key_O, Qt::AltModifier);
    QKeyEvent capsCtrlO(QEvent::KeyPress, Qt::Key_O, Qt::ControlModifier, 32, 0x4f, 0x6, "o");
    QApplication::sendEvent(QApplication::focusWidget(), &capsCtrlO);
    EXPECT_TRUE(dialogs.panels.empty());
    type(Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(dialogs.panels.size(), 1u);

    // Other keys do nothing.
    const auto seeks = fake->seeks.size();
    type(Qt::Key_X);
    EXPECT_EQ(fake->seeks.size(), seeks);
    EXPECT_EQ(fake->currentRate, 1.0f);
}

TEST_F(Screens, TransportButtonsDriveThePlayer) {
    for (const char* mode : {"edit", "play"}) {
        SCOPED_TRACE(mode);
        click(mode == std::string("edit") ? "menu_edit_mode_button" : "menu_play_mode_button");
        const auto id = [mode](const char* action) { return std::string(action) + "_" + mode; };
        dialogs.paths = {(dir / (id("v") + ".mp4")).string()};
        click(id("mediaOpen").c_str());
        ASSERT_EQ(fake->path, (dir / (id("v") + ".mp4")).string());
        fake->clock = 7;
        click(id("mediaSlow").c_str());
        EXPECT_EQ(fake->currentRate, 0.4f);
        click(id("mediaBackward").c_str());
        EXPECT_EQ(fake->seeks.back(), 5.0);
        click(id("mediaForward").c_str());
        EXPECT_EQ(fake->seeks.back(), 7.0);
        click(id("mediaStop").c_str());
        EXPECT_EQ(fake->currentRate, 0.0f);
        click(id("mediaPlay").c_str());
        EXPECT_EQ(fake->currentRate, 1.0f);
        EXPECT_FALSE(main->MediaPlayer->playSlowMode);
    }
}
