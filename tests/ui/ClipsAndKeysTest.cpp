#include <QSignalSpy>

#include "Media/MpvPlayer.h"
#include "support/MediaFixtures.h"
#include "support/ScreenFixture.h"

namespace {

void key(QWidget* target, Qt::Key k, Qt::KeyboardModifiers mods = {}) {
    QTest::keyClick(target, k, mods);
}

} // namespace

TEST_F(Screens, ClipStartAndEndFollowTheirRules) {
    edit->mediaClipStart(); // no video: nothing
    EXPECT_TRUE(edit->clipTableData.empty());
    openVideo("a.mp4");
    edit->mediaClipEnd(); // empty list: nothing, silently
    EXPECT_TRUE(dialogs.shown.empty());

    fake->clock = 10.0;
    edit->mediaClipStart();
    fake->clock = 10.5;
    edit->mediaClipEnd();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].message, "開始位置より後ろを指定してください");
    EXPECT_EQ(dialogs.shown[0].title, "warning");
    EXPECT_EQ(dialogs.shown[0].style, "warning");
    EXPECT_TRUE(edit->clipTableData[0]->endTimeString.empty());
    fake->clock = 5.0;
    edit->mediaClipEnd();
    EXPECT_EQ(dialogs.shown.size(), 2u);
    fake->clock = 11.0;
    edit->mediaClipStart(); // still open
    EXPECT_EQ(dialogs.shown.back().message, "先に終了位置を決定してください");
    edit->mediaClipEnd();
    EXPECT_EQ(edit->clipTableData[0]->endTimeString, "0:00:11");
    fake->clock = 25.0;
    edit->mediaClipEnd(); // moves the end of the last clip
    EXPECT_EQ(edit->clipTableData[0]->endTimeVal, 25.0f);
    fake->clock = 30.0;
    edit->mediaClipStart();
    ASSERT_EQ(edit->clipTableData.size(), 2u);
    EXPECT_NE(edit->clipTableData[0]->index, edit->clipTableData[1]->index);
    EXPECT_EQ(edit->clipModel()->index(1, 1).data().toString(), "0:00:30");
    EXPECT_EQ(edit->clipModel()->index(1, 2).data().toString(), "");
}

TEST_F(Screens, ClipRowsSeekAtOnceKeepTheirSelectionAndDeleteAfterAQuestion) {
    openVideo("a.mp4");
    for (double start : {10.0, 20.0, 30.0}) {
        fake->clock = start;
        edit->mediaClipStart();
        fake->clock = start + 2;
        edit->mediaClipEnd();
    }
    fake->seeks.clear();
    fake->rateCalls.clear();
    clickCell(edit->clipTableView, 1, 2);
    EXPECT_EQ(fake->seeks, std::vector<double>{20.0});
    EXPECT_EQ(fake->rateCalls, std::vector<float>{1.0f}); // plays on at once
    clickCell(edit->clipTableView, 2, 0);                 // the check box: no seek
    EXPECT_EQ(fake->seeks.size(), 1u);
    EXPECT_TRUE(edit->clipModel()->isTicked(2));
    fake->clock = 40;
    edit->mediaClipStart(); // redraw: the second clip is selected again, ticks gone
    EXPECT_EQ(edit->clipTableView->selectedRow(), 1);
    EXPECT_FALSE(edit->clipModel()->isTicked(2));

    edit->onClipDelete();
    EXPECT_EQ(dialogs.shown.back().message, "削除する項目を選択してください。");
    edit->clipModel()->setTicked(0, true);
    edit->clipModel()->setTicked(3, true);
    dialogs.answers = {0};
    edit->onClipDelete();
    EXPECT_EQ(edit->clipTableData.size(), 4u);
    dialogs.answers = {1};
    edit->onClipDelete();
    ASSERT_EQ(edit->clipTableData.size(), 2u);
    EXPECT_EQ(edit->clipTableData[0]->startTimeVal, 20.0f);
    // Check-all from the header.
    clickHeader(edit->clipTableView, 0);
    EXPECT_TRUE(edit->clipModel()->isTicked(0) && edit->clipModel()->isTicked(1));
    EXPECT_EQ(edit->clipModel()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "✅");
}

TEST_F(Screens, MainKeyMapDrivesThePlayer) {
    openVideo("a.mp4");
    QWidget* view = main->MediaPlayer;
    fake->clock = 10.4;
    key(view, Qt::Key_Left);
    fake->clock = 1.5;
    key(view, Qt::Key_Left);
    fake->clock = 3.0;
    key(view, Qt::Key_Right);
    EXPECT_EQ(fake->seeks, (std::vector<double>{8.0, 0.0, 5.0}));

    key(view, Qt::Key_S);
    EXPECT_EQ(fake->currentRate, 0.0f);
    key(view, Qt::Key_D, Qt::ShiftModifier); // modifiers do not matter but for O
    EXPECT_EQ(fake->currentRate, 0.4f);
    EXPECT_TRUE(main->MediaPlayer->playSlowMode);
    key(view, Qt::Key_Space);
    EXPECT_EQ(fake->currentRate, 0.0f);
    key(view, Qt::Key_Space); // slow play survives a pause
    EXPECT_EQ(fake->currentRate, 0.4f);
    key(view, Qt::Key_A, Qt::ShiftModifier);
    EXPECT_EQ(fake->currentRate, 1.0f);
    EXPECT_FALSE(main->MediaPlayer->playSlowMode);

    fake->vol = 0.5f;
    key(view, Qt::Key_Up);
    EXPECT_FLOAT_EQ(fake->vol, 0.6f);
    key(view, Qt::Key_Down);
    key(view, Qt::Key_Down);
    EXPECT_FLOAT_EQ(fake->vol, 0.4f);

    // Ctrl+O (the command key here) opens the panel; nothing else with O does.
    QWidget window;
    main->setParent(&window);
    dialogs.paths = {std::nullopt};
    key(view, Qt::Key_O);
    key(view, Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
    key(view, Qt::Key_O, Qt::AltModifier);
    EXPECT_TRUE(dialogs.panels.empty());
    key(view, Qt::Key_O, Qt::ControlModifier);
    ASSERT_EQ(dialogs.panels.size(), 1u);
    EXPECT_EQ(dialogs.panels[0].panel.title, "Choose video file");
    main->setParent(nullptr);

    // Other keys reaching the main view do nothing.
    const auto seeks = fake->seeks.size();
    key(main.get(), Qt::Key_X);
    key(main.get(), Qt::Key_Left); // the main view applies the map too
    EXPECT_EQ(fake->seeks.size(), seeks + 1);
}

TEST_F(Screens, CommaAndFullStopMarkClipsOnlyInEditMode) {
    openVideo("a.mp4");
    QWidget* view = main->MediaPlayer;
    fake->clock = 3;
    key(view, Qt::Key_Comma);
    fake->clock = 6;
    key(view, Qt::Key_Greater, Qt::ShiftModifier);
    ASSERT_EQ(edit->clipTableData.size(), 1u);
    EXPECT_EQ(edit->clipTableData[0]->endTimeVal, 6.0f);
    // The edit screen takes them too, and drops other keys.
    fake->clock = 8;
    key(edit, Qt::Key_Less, Qt::ShiftModifier);
    EXPECT_EQ(edit->clipTableData.size(), 2u);
    const auto seeks = fake->seeks.size();
    key(edit, Qt::Key_Left);
    EXPECT_EQ(fake->seeks.size(), seeks);

    main->onMenuSelectPlayMode();
    fake->clock = 20;
    key(view, Qt::Key_Period);
    key(view, Qt::Key_Comma);
    EXPECT_EQ(edit->clipTableData.size(), 2u);
    EXPECT_TRUE(edit->clipTableData[1]->endTimeString.empty());
    // Keys from the play screen go on to the main key map.
    key(play, Qt::Key_Left);
    EXPECT_EQ(fake->seeks.size(), seeks + 1);
}

TEST_F(Screens, TransportButtonsTellTheirKeys) {
    const std::pair<const char*, const char*> tips[] = {
        {"mediaOpen_edit", "ファイルを開く(cmd + O)"},
        {"mediaPlay_play", "再生(A)"},
        {"mediaStop_edit", "一時停止(S)"},
        {"mediaBackward_play", "クイック巻き戻し(<-)"},
        {"mediaForward_edit", "クイック先送り(->)"},
        {"mediaSlow_play", "スロー再生(D)"},
        {"mediaClipStart", "クリップ開始(<)"},
        {"mediaClipEnd", "クリップ終了(>)"}};
    for (const auto& [id, tip] : tips) {
        auto* b = main->findChild<MediaToolButtonView*>(id);
        ASSERT_NE(b, nullptr) << id;
        EXPECT_EQ(b->toolTip(), tip);
    }
    EXPECT_EQ(MediaToolButtonView::toolTipFor("mediaPlay"), "");
    EXPECT_EQ(MediaToolButtonView::toolTipFor("mediaPlay_x"), "");

    openVideo("a.mp4");
    fake->clock = 7;
    main->findChild<MediaToolButtonView*>("mediaSlow_play")->click();
    EXPECT_EQ(fake->currentRate, 0.4f);
    main->findChild<MediaToolButtonView*>("mediaBackward_edit")->click();
    EXPECT_EQ(fake->seeks.back(), 5.0);
    main->findChild<MediaToolButtonView*>("mediaStop_play")->click();
    EXPECT_EQ(fake->currentRate, 0.0f);
    main->findChild<MediaToolButtonView*>("mediaPlay_edit")->click();
    EXPECT_EQ(fake->currentRate, 1.0f);
}

TEST(RealPlayerKeys, SlowPauseResumeAndWholeSecondArrows) {
    MainViewController main;
    main.resize(1200, 700);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    MediaPlayerView* view = main.MediaPlayer;
    bool opened = false;
    view->callBack = [&](const std::string& url) {
        main.afterOpenMedia(url);
        opened = true;
    };
    view->openPath(fixturePath("clip.mts"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return opened; }, 10000));
    MpvPlayer* mpv = view->mpvPlayer();
    QTest::keyClick(view, Qt::Key_D);
    QTest::keyClick(view, Qt::Key_Space);
    EXPECT_EQ(mpv->rate(), 0.0f);
    QTest::keyClick(view, Qt::Key_Space);
    EXPECT_FLOAT_EQ(mpv->rate(), 0.4f);
    QTest::keyClick(view, Qt::Key_S);

    QSignalSpy restarted(mpv, &MpvPlayer::playbackRestarted);
    mpv->seekExact(5.4);
    ASSERT_TRUE(restarted.wait(5000));
    QTest::keyClick(view, Qt::Key_Left); // 3.4 -> 3
    ASSERT_TRUE(restarted.wait(5000));
    // MPEG-TS shows its audio's earlier start as 0: frames sit 0.02 s later.
    EXPECT_NEAR(mpv->currentTime(), 3.0, 1.0 / 25);
    QTest::keyClick(view, Qt::Key_Right); // 5
    ASSERT_TRUE(restarted.wait(5000));
    EXPECT_NEAR(mpv->currentTime(), 5.0, 1.0 / 25);
}
