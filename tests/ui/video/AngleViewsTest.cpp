// A match with a second camera on the real player: the layouts, the picture
// missing where the angle's file lacks the instant, coding by keyboard on the
// angle's view, and a tag click moving both pictures.
#include <QComboBox>
#include <QLabel>

#include "angles/AngleSync.h"
#include "player/MpvPlayer.h"
#include "session/TagEdit.h"
#include "support/MediaFixtures.h"
#include "support/ScreenFixture.h"
#include "video/AngleViews.h"

namespace {

class AngleScreens : public Screens {
protected:
    // The window again on the real player, with the two-code window chosen and
    // the match's main video open, its angle (started 37.4 s later) added.
    void openMatchWithAngle() {
        makeRealWindow();
        std::filesystem::create_symlink(fixturePath("angle-main.mp4"), dir / "match.mp4");
        std::filesystem::create_symlink(fixturePath("angle-late50.mp4"), dir / "end.mp4");
        mpv = main->MediaPlayer->mpvPlayer();
        main->openVideo((dir / "match.mp4").string());
        ASSERT_TRUE(QTest::qWaitFor([&] { return mpv->hasCurrentItem(); }, 20000));
        mpv->pause();
        MatchInfo match = main->tagDataModel.match;
        match.angles = {{"エンド", "end.mp4", -37.4, 1.0}};
        main->performTagEdit(TagEdit::match(main->tagDataModel, match));
        views = main->MediaPlayer->angleViews();
        ASSERT_NE(views, nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return views->sync().isOpen(0); }, 20000));
    }
    // Paused at main time `t` once both players have landed.
    void pauseAt(double t) {
        main->MediaPlayer->scrub(t, true);
        landed();
    }
    void landed() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !mpv->isSeeking(); }, 10000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return views->sync().settled(0); }, 10000));
    }

    MpvPlayer* mpv = nullptr;
    AngleViews* views = nullptr;
};

} // namespace

TEST_F(AngleScreens, LayoutsNoPictureAndCodingOnAnAngle) {
    openMatchWithAngle();
    QWidget* angle = views->view(0);
    QWidget* picture = main->MediaPlayer->findChild<QWidget*>("VideoSurface");
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(angle->findChild<QLabel*>("angleName")->text(), "エンド");
    // Each layout as chosen in its pop-up: where the angle is beside the main
    // picture (its size as a share of the video view's).
    struct Case {
        const char* layout;
        bool shown;
        double width, height;
    };
    const QSize whole = main->MediaPlayer->size();
    for (const Case& c : {Case{"メイン", false, 0, 0}, Case{"2×2", true, 0.5, 0.5},
                          Case{"1画面大", true, 0.75, 1.0}, Case{"左右", true, 0.5, 1.0}}) {
        SCOPED_TRACE(c.layout);
        if (std::string(c.layout) == "1画面大")
            chooseFilter(views->chosenBox(), "エンド");
        chooseFilter(views->layoutBox(), c.layout);
        ASSERT_EQ(angle->isVisible(), c.shown);
        if (!c.shown)
            continue;
        EXPECT_NEAR(angle->width(), c.width * whole.width(), 8);
        EXPECT_NEAR(angle->height(), c.height * whole.height(), 8);
        EXPECT_FALSE(angle->geometry().intersects(picture->geometry()));
    }

    // Before the angle's camera started, and after: its picture comes back.
    QLabel* none = views->noPictureLabel(0);
    pauseAt(20.0);
    EXPECT_TRUE(none->isVisible());
    EXPECT_EQ(none->text(), "この時刻の映像なし");
    pauseAt(600.0);
    EXPECT_FALSE(none->isVisible());

    // A click on the angle's view, a code's key: the tag is at the main's time.
    QTest::mouseClick(angle, Qt::LeftButton);
    type(Qt::Key_Q);
    ASSERT_EQ(main->tagDataModel.data.size(), 1u);
    EXPECT_NEAR(main->tagDataModel.data.back()->time_val, 600.0, 0.05);

    // A click on the tag's row takes both pictures there.
    pauseAt(1500.0);
    CustomTableView* table = edit->tagTableView;
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      table->visualRect(table->model()->index(0, 1)).center());
    landed();
    EXPECT_NEAR(mpv->currentTime(), 600.0, 0.05);
    EXPECT_NEAR(views->sync().shownTime(0), 600.0 - 37.4, 1.0 / 50);
}
