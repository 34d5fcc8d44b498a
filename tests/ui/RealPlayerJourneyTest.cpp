#include <QAbstractButton>
#include <QApplication>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

#include "MainViewController.h"
#include "SubViewClass/CustomTableView.h"
#include "SubViewClass/MainWindow.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewController/EditViewController.h"
#include "SubViewController/PlayViewController.h"
#include "player/MpvPlayer.h"
#include "support/MediaProbe.h"
#include "support/RecordingDialogs.h"
#include "tags/TableModels.h"

namespace {

void clickCell(CustomTableView* table, int row, int column,
               Qt::MouseButton button = Qt::LeftButton) {
    const QRect r = table->visualRect(table->model()->index(row, column));
    QTest::mouseClick(table->viewport(), button, {}, r.center());
}

} // namespace

// The whole road with the real player on a fixture, through the widgets only:
// open in play mode, tag in edit mode, delete a ticked row, comment after a
// right click elsewhere, mark two clips with the buttons and export one.
TEST(RealPlayerJourney, OpenTagDeleteCommentMarkAndExport) {
    const fs::path dir =
        fs::temp_directory_path() / ("rucktag-journey-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::copy_file(fixturePath("clip.mp4"), dir / "match.mp4");

    RecordingDialogs dialogs;
    MainWindow window;
    window.resize(1400, 860);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    MainViewController* main = window.mainViewController();
    EditViewController* edit = main->editViewController;
    auto click = [&](const char* id) {
        auto* b = window.findChild<QAbstractButton*>(id);
        ASSERT_NE(b, nullptr) << id;
        QTest::mouseClick(b, Qt::LeftButton);
    };
    MpvPlayer* mpv = main->MediaPlayer->mpvPlayer();
    ASSERT_NE(mpv, nullptr);
    QSignalSpy restarted(mpv, &MpvPlayer::playbackRestarted);
    // Steps the video forward with the button and waits for the picture.
    auto forward = [&](const char* id) {
        restarted.clear();
        click(id);
        ASSERT_TRUE(restarted.wait(5000));
    };

    click("menu_play_mode_button");
    dialogs.paths = {(dir / "match.mp4").string()};
    click("mediaOpen_play");
    ASSERT_TRUE(QTest::qWaitFor([&] { return mpv->hasCurrentItem(); }, 10000));
    click("mediaStop_play");
    click("menu_edit_mode_button");

    for (const char* tag : {"A0", "B6", "A12"}) {
        forward("mediaForward_edit");
        QTest::mouseClick(edit->findChild<QAbstractButton*>(tag), Qt::LeftButton);
    }
    ASSERT_EQ(edit->tagTableData.size(), 3u);
    EXPECT_EQ(edit->tagTableData[0]->time_string, "0:00:02");

    // Tick the middle row and delete it.
    clickCell(edit->tagTableView, 1, 0);
    dialogs.answers = {1};
    click("onTagDelete");
    ASSERT_EQ(main->tagDataModel.data.size(), 2u);
    EXPECT_EQ(main->tagDataModel.data[1]->name, "トライ");

    // Choose the first tag, right-click the second, then comment.
    clickCell(edit->tagTableView, 0, 3);
    clickCell(edit->tagTableView, 1, 3, Qt::RightButton);
    QTest::mouseClick(edit->commentTextField->viewport(), Qt::LeftButton);
    QTest::keyClicks(QApplication::focusWidget(), "good ruck");
    click("onCommentAdd");
    EXPECT_EQ(main->tagDataModel.data[0]->comment, "good ruck");
    EXPECT_EQ(main->tagDataModel.data[1]->comment, "");

    // Two clips with the buttons, a step of the video apart each.
    click("mediaStop_edit");
    for (int clip = 0; clip < 2; ++clip) {
        click("mediaClipStart");
        forward("mediaForward_edit");
        click("mediaClipEnd");
    }
    ASSERT_EQ(edit->clipTableData.size(), 2u);
    EXPECT_EQ(edit->clipTableData[1]->endTimeVal - edit->clipTableData[1]->startTimeVal, 2.0f);

    clickCell(edit->clipTableView, 1, 0);
    const fs::path out = dir / "clip.mp4";
    dialogs.paths = {out.string()};
    click("onClipOutput");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !dialogs.shown.empty() &&
                   dialogs.shown.back().title.rfind("クリップ出力", 0) == 0;
        },
        20000));
    EXPECT_EQ(dialogs.shown.back().message,
              "クリップ出力が完了しました。\n書き出し先:\n" + out.string());
    // An independent reader: two seconds of H.264.
    EXPECT_EQ(probe(out, "stream=codec_name", "-select_streams v"), "h264");
    EXPECT_NEAR(std::stod(probe(out, "format=duration")), 2.0, 0.05);
    fs::remove_all(dir);
}
