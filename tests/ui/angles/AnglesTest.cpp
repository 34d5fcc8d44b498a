// The angles of a match on the edit screen: added from a file, aligned by
// stepping each video to one moment seen in both (the pictures' frame
// numbers tell the test when they match, as the analyst's eye would),
// renamed, removed, saved in the match file; a file that is no video refused.
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QTableWidget>
#include <cmath>
#include <gmock/gmock.h>

#include "angles/AngleAlignDialog.h"
#include "angles/AngleView.h"
#include "angles/AnglesDialog.h"
#include "player/MpvPlayer.h"
#include "player/MpvSoftwareRenderer.h"
#include "support/Deadline.h"
#include "support/MediaFixtures.h"
#include "support/ScreenFixture.h"
#include "video/VideoSurfaces.h"

namespace {

// An angle of a main video: angle time offset + scale * main time. clip.mp4's
// angles show its frame numbers (the angle's frame k is the main's k + 80).
struct AngleCase {
    const char* name;
    const char* main;
    const char* file;
    double offset, scale;
    std::vector<int> events; // the main's frames where the moments are marked; none: by sound
};

class Angles : public Screens, public ::testing::WithParamInterface<AngleCase> {
protected:
    void SetUp() override {
        // The picture fills the view: its bar code is read across it.
        AngleView::playerOptions() = {{"ao", "null"}, {"keepaspect", "no"}};
    }
    void openMatch(const char* file) {
        std::filesystem::copy_file(fixturePath(file), dir / "match.mp4");
        openVideo("match.mp4", 10.0);
    }
    void TearDown() override { AngleView::playerOptions().clear(); }

    AnglesDialog* openDialog() {
        click("matchAnglesButton");
        // Not the one closed before, which goes later.
        for (AnglesDialog* d : window->findChildren<AnglesDialog*>())
            if (d->isVisible())
                return d;
        return nullptr;
    }
    template <class T = QPushButton> static T* in(QWidget* dialog, const char* id) {
        T* w = dialog->findChild<T*>(id);
        EXPECT_TRUE(w) << id;
        return w;
    }
    // The frame number the view's picture shows once it has settled.
    static int shown(AngleView* view) {
        auto* surface = qobject_cast<SoftwareVideoSurface*>(view->surface());
        const auto number = [&] { return frameNumberOf(surface->renderer()->image()); };
        int n = -2;
        // Settled: no seek under way and the same picture twice.
        (void)QTest::qWaitFor(
            [&] {
                const int before = n;
                n = view->player()->isSeeking() ? -2 : number();
                return n >= 0 && n == before;
            },
            5000);
        return n;
    }
    // Presses `id` of `view`'s dialog, or the key on what has the focus;
    // the picture then shows `expected`.
    static void stepAndSee(AngleView* view, const char* id, Qt::Key key, int expected) {
        if (id)
            QTest::mouseClick(in(view, id), Qt::LeftButton);
        else
            type(key);
        ASSERT_TRUE(QTest::qWaitFor([&] { return shown(view) == expected; }, 5000))
            << (id ? id : "key") << ": shows " << shown(view) << ", not " << expected;
    }
    // The main with its buttons to frame `target`.
    static void buttonsTo(AngleView* view, int target) {
        for (int n = shown(view); n != target && !::testing::Test::HasFatalFailure();
             n = shown(view)) {
            const int d = target - n;
            const char* id = std::abs(d) >= 25 ? (d > 0 ? "mainForwardSecond" : "mainBackSecond")
                                               : (d > 0 ? "mainForwardFrame" : "mainBackFrame");
            stepAndSee(view, id, Qt::Key_unknown,
                       n + (std::abs(d) >= 25 ? 25 : 1) * (d > 0 ? 1 : -1));
        }
    }
    // The angle with its slider's keys (after a click on its handle) until it
    // shows what the main shows.
    static void keysToSame(AngleView* angle, AngleView* main) {
        QSlider* slider = angle->slider;
        QStyleOptionSlider opt;
        opt.initFrom(slider);
        opt.orientation = slider->orientation();
        opt.minimum = slider->minimum();
        opt.maximum = slider->maximum();
        opt.sliderPosition = opt.sliderValue = slider->value();
        const QRect handle = slider->style()->subControlRect(QStyle::CC_Slider, &opt,
                                                             QStyle::SC_SliderHandle, slider);
        QTest::mouseClick(slider, Qt::LeftButton, {}, handle.center());
        ASSERT_EQ(QApplication::focusWidget(), slider);
        const int target = shown(main);
        for (int n = shown(angle); n != target && !::testing::Test::HasFatalFailure();
             n = shown(angle)) {
            const int d = target - n;
            const bool second = std::abs(d) >= 25;
            const Qt::Key key = second ? (d > 0 ? Qt::Key_PageUp : Qt::Key_PageDown)
                                       : (d > 0 ? Qt::Key_Right : Qt::Key_Left);
            stepAndSee(angle, nullptr, key, n + (second ? 25 : 1) * (d > 0 ? 1 : -1));
        }
    }
    AngleAlignDialog* addAngle(AnglesDialog* dialog, const std::string& file) {
        dialogs.paths = {file};
        QTest::mouseClick(in(dialog, "angleAdd"), Qt::LeftButton);
        return dialog->findChild<AngleAlignDialog*>();
    }
    MatchInfo matchFile() {
        MatchInfo read;
        std::string error;
        EXPECT_TRUE(readMatchJson(slurp(dir / "match.match.json"), read, error)) << error;
        return read;
    }
};

} // namespace

TEST_P(Angles, MarkedMomentsAlignTheAngleAndAreSavedInTheMatchFile) {
    const AngleCase& c = GetParam();
    const Deadline guard(120, "aligning an angle");
    openMatch(c.main);
    QSignalSpy told(main->session, &SessionController::anglesChanged);
    AnglesDialog* dialog = openDialog();
    ASSERT_TRUE(dialog);
    AngleAlignDialog* align = addAngle(dialog, fixturePath(c.file));
    ASSERT_TRUE(align && align->isVisible());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return align->mainView->isOpen() && align->angleView->isOpen(); }, 10000));
    for (int frame : c.events) {
        buttonsTo(align->mainView, frame);
        keysToSame(align->angleView, align->mainView);
        QTest::mouseClick(in(align, "angleMarkEvent"), Qt::LeftButton);
    }
    if (c.events.empty()) { // by the sound, and the views show the instant matched
        QTest::mouseClick(in(align, "angleBySound"), Qt::LeftButton);
        QPushButton* use = in(align, "angleUseProposal");
        ASSERT_TRUE(QTest::qWaitFor([&] { return use->isEnabled(); }, 90000));
        EXPECT_THAT(in<QLabel>(align, "angleSoundText")->text().toStdString(),
                    ::testing::HasSubstr("確度 高"));
        QTest::mouseClick(use, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return !align->mainView->player()->isSeeking() &&
                       !align->angleView->player()->isSeeking();
            },
            5000));
        EXPECT_NEAR(align->angleView->time(), c.offset + align->mainView->time(), 0.2);
    }
    QTest::mouseClick(in(align, "alignOk"), Qt::LeftButton);
    QTest::mouseClick(in(dialog, "anglesOk"), Qt::LeftButton);
    EXPECT_EQ(told.count(), 1);
    click("window_save");

    const MatchInfo saved = matchFile();
    ASSERT_EQ(saved.angles.size(), 1u);
    const MatchAngle& angle = saved.angles[0];
    EXPECT_EQ(angle.name, std::filesystem::path(c.file).stem().string());
    EXPECT_EQ(angle.file, fixturePath(c.file));
    // Every instant of the main falls within a frame of the angle's own.
    for (double t = 0; t < 10; t += 0.7)
        EXPECT_NEAR(angleTime(angle, t), c.offset + c.scale * t, 1 / 25.0) << "main time " << t;
    EXPECT_NEAR(angle.offset, c.offset, 1 / 25.0);
    EXPECT_NEAR((angle.scale - 1) * 1e6, (c.scale - 1) * 1e6, 300) << "ppm";
}

INSTANTIATE_TEST_SUITE_P(
    Files, Angles,
    ::testing::Values(
        AngleCase{"Late", "clip.mp4", "angle-late.mp4", -3.2, 1.0, {103}},
        AngleCase{"Drifting", "clip.mp4", "angle-drift.mp4", -3.2 * 1.002, 1.002, {103, 228}},
        AngleCase{"BySound", "sound-main.mp4", "sound-late.mp4", -37.4, 1.0, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// A file that is no video is refused and changes nothing; an angle is
// renamed in its list and removed.
TEST_F(Angles, ANonVideoIsRefusedAndAnAngleIsRenamedAndRemoved) {
    openMatch("clip.mp4");
    spit(dir / "notes.mp4", "not a video\n");
    click("window_save");
    const std::string before = slurp(dir / "match.match.json");
    AnglesDialog* dialog = openDialog();
    ASSERT_TRUE(dialog);
    EXPECT_FALSE(addAngle(dialog, (dir / "notes.mp4").string()));
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown.back().message,
              "「notes.mp4」は動画として開けません。別のファイルを選んでください。");
    EXPECT_EQ(dialog->list->rowCount(), 0);
    QTest::mouseClick(in(dialog, "anglesOk"), Qt::LeftButton);
    click("window_save");
    EXPECT_EQ(slurp(dir / "match.match.json"), before);
    EXPECT_TRUE(main->tagDataModel.match.angles.empty());

    dialog = openDialog();
    AngleAlignDialog* align = addAngle(dialog, fixturePath("angle-late.mp4"));
    ASSERT_TRUE(align);
    QTest::mouseClick(in(align, "alignCancel"), Qt::LeftButton);
    ASSERT_EQ(dialog->list->rowCount(), 1);
    // A window manager gives the list its activation back; the offscreen
    // platform does not.
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == dialog; }, 2000));
    QTest::mouseClick(in(dialog, "angleRename"), Qt::LeftButton);
    ASSERT_TRUE(qobject_cast<QLineEdit*>(QApplication::focusWidget()));
    type(Qt::Key_A, Qt::ControlModifier);
    typeJapanese("エンド");
    type(Qt::Key_Return);
    QTest::mouseClick(in(dialog, "anglesOk"), Qt::LeftButton);
    ASSERT_EQ(main->tagDataModel.match.angles.size(), 1u);
    EXPECT_EQ(main->tagDataModel.match.angles[0].name, "エンド");

    dialog = openDialog();
    EXPECT_EQ(dialog->list->item(0, 0)->text(), "エンド");
    QTest::mouseClick(in(dialog, "angleRemove"), Qt::LeftButton);
    EXPECT_EQ(dialog->list->rowCount(), 0);
    QTest::mouseClick(in(dialog, "anglesOk"), Qt::LeftButton);
    EXPECT_TRUE(main->tagDataModel.match.angles.empty());
}
