#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

#include "SubViewClass/MediaPlayerView.h"
#include "player/MpvPlayer.h"
#include "player/MpvSoftwareRenderer.h"
#include "support/FakePlayer.h"
#include "support/MediaFixtures.h"
#include "support/RecordingDialogs.h"
#include "video/VideoSurfaces.h"

namespace {

class ViewWithFake : public ::testing::Test {
protected:
    ViewWithFake() {
        auto owned = std::make_unique<FakePlayer>();
        fake = owned.get();
        view = std::make_unique<MediaPlayerView>(nullptr, std::move(owned));
        fake->hasItem = true;
        fake->length = 10.0;
    }
    FakePlayer* fake;
    std::unique_ptr<MediaPlayerView> view;
};

} // namespace

TEST_F(ViewWithFake, ForwardStepsTwoSecondsInWholeSecondsAndStopsAtTheEnd) {
    fake->clock = 3.0;
    view->forward();
    fake->clock = 10.4;
    fake->length = NAN;
    view->forward(); // 12.4 -> 12
    fake->length = 9.0;
    fake->clock = 7.5;
    view->forward(); // past the end: the duration
    EXPECT_EQ(fake->seeks, (std::vector<double>{5.0, 12.0, 9.0}));
    EXPECT_TRUE(fake->rateCalls.empty()); // stepping leaves the rate alone
    // A seek without delay pauses, lands on the whole second and plays on at
    // once at normal speed.
    view->seek(75.8f, 0.0);
    EXPECT_EQ(fake->seeks.back(), 76.0);
    EXPECT_EQ(fake->pauseCalls, 1);
    EXPECT_EQ(fake->rateCalls, std::vector<float>{1.0f});
    view->playSlowMode = true; // slow play is kept
    view->seek(2.0f, 0.0);
    EXPECT_EQ(fake->rateCalls.back(), 0.4f);
}

TEST_F(ViewWithFake, PlayAndResumeRewindAtTheEndAndHonourSlowMode) {
    fake->clock = 10.0;
    view->playSlowMode = true;
    view->resume();
    EXPECT_EQ(fake->seeks, std::vector<double>{0.0});
    EXPECT_EQ(fake->rateCalls.back(), 0.4f);
    EXPECT_TRUE(view->playSlowMode);
    EXPECT_TRUE(view->isPlaying());

    fake->clock = 10.0;
    view->play();
    EXPECT_EQ(fake->seeks.size(), 2u);
    EXPECT_EQ(fake->rateCalls.back(), 1.0f);
    EXPECT_FALSE(view->playSlowMode);

    // Mid-file, no rewind; an unknown length never rewinds.
    fake->clock = 4.0;
    fake->length = NAN;
    view->play();
    EXPECT_EQ(fake->seeks.size(), 2u);
    fake->errorText = "broken";
    EXPECT_FALSE(view->isPlaying());

    // With no open file nothing happens.
    fake->hasItem = false;
    const size_t calls = fake->rateCalls.size();
    view->play();
    view->resume();
    view->forward();
    EXPECT_EQ(fake->rateCalls.size(), calls);
    EXPECT_FALSE(*view->isOpenStatus());
}

TEST_F(ViewWithFake, DelayedRestartWaitsForAnOpenQuestion) {
    QMessageBox question(QMessageBox::Question, "削除", "削除しますか？");
    question.setWindowModality(Qt::ApplicationModal);
    view->seek(5.0f, 0.1);
    question.show();
    ASSERT_EQ(QApplication::activeModalWidget(), &question);
    QTest::qWait(400);
    EXPECT_TRUE(fake->rateCalls.empty());
    question.close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !fake->rateCalls.empty(); }, 2000));
    EXPECT_EQ(fake->rateCalls, std::vector<float>{1.0f});
}

TEST_F(ViewWithFake, VolumeStepsClamp) {
    fake->vol = 0.95f;
    view->volumnUp();
    EXPECT_EQ(fake->vol, 1.0f);
    fake->vol = 0.05f;
    view->volumnDown();
    EXPECT_EQ(fake->vol, 0.0f);
}

TEST_F(ViewWithFake, TimeTextGoesToEveryLabel) {
    QLineEdit edit, play;
    for (QLineEdit* label : {&edit, &play})
        QObject::connect(view.get(), &MediaPlayerView::timeTextChanged, label, &QLineEdit::setText);
    view->setupPlayerOption();
    fake->length = 5400.0;
    fake->clock = 65.9;
    fake->tick();
    EXPECT_EQ(edit.text(), "0:01:05 / 1:30:00");
    EXPECT_EQ(play.text(), edit.text());
    // Past the end: rewind and pause.
    fake->currentRate = 1.0f;
    view->periodicTimeUpdate(5401.0);
    EXPECT_EQ(fake->seeks, std::vector<double>{0.0});
    EXPECT_EQ(fake->currentRate, 0.0f);
    EXPECT_EQ(edit.text(), "1:30:01 / 1:30:00");
    // No file: labels untouched.
    fake->hasItem = false;
    view->periodicTimeUpdate(3.0);
    EXPECT_EQ(edit.text(), "1:30:01 / 1:30:00");
}

TEST_F(ViewWithFake, OpenAsksThroughThePanelAndReportsFailures) {
    RecordingDialogs dialogs;
    QWidget window;
    view->setParent(&window);
    std::vector<std::string> opened, failed;
    QObject::connect(view.get(), &MediaPlayerView::openFailed,
                     [&](const QString& path, const QString& reason) {
                         failed.push_back(path.toStdString());
                         EXPECT_EQ(reason, "cannot open");
                     });

    dialogs.paths = {std::nullopt, std::string("/v/match.MTS"), std::string("/v/bad.mp4")};
    view->open([&](const std::string& p) { opened.push_back(p); }); // cancelled
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(fake->path, "");
    ASSERT_EQ(dialogs.panels.size(), 1u); // its title and videos are QtLookTest's matter
    EXPECT_EQ(dialogs.panels[0].window, &window);

    view->playSlowMode = true;
    view->open([&](const std::string& p) { opened.push_back(p); });
    EXPECT_EQ(opened, std::vector<std::string>{"/v/match.MTS"});
    EXPECT_EQ(fake->currentRate, 1.0f);
    EXPECT_TRUE(view->playSlowMode); // opening leaves slow mode alone

    fake->failNextOpen = true;
    view->open([&](const std::string& p) { opened.push_back(p); });
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_EQ(failed, std::vector<std::string>{"/v/bad.mp4"});
    EXPECT_FALSE(*view->isOpenStatus());

    // A veto keeps the current video.
    fake->failNextOpen = false;
    view->beforeOpen = [](const std::string&) { return false; };
    view->openPath("/v/other.mp4");
    EXPECT_TRUE(fake->path.empty()); // never asked to open

    // No window: no panel, but the callback is kept.
    view->setParent(nullptr);
    view->open([](const std::string&) {});
    EXPECT_EQ(dialogs.panels.size(), 3u);
}

TEST_F(ViewWithFake, ClosingTheFullScreenWindowLeavesFullScreen) {
    QWidget window;
    window.resize(640, 480);
    view->setParent(&window);
    view->setGeometry(20, 30, 320, 240);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QRect home = view->geometry();

    // Once by close(), once as the window manager does, to the window.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        QTest::mouseDClick(view.get(), Qt::LeftButton, {}, QPoint(50, 50));
        ASSERT_TRUE(view->isFullScreenMode());
        ASSERT_TRUE(view->isWindow());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        if (round == 0) {
            EXPECT_FALSE(view->close());
        } else {
            QCloseEvent close;
            QCoreApplication::sendEvent(view->windowHandle(), &close);
            EXPECT_FALSE(close.isAccepted());
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return !view->isFullScreenMode(); }, 2000));
        EXPECT_EQ(view->parentWidget(), &window);
        EXPECT_FALSE(view->isWindow());
        EXPECT_FALSE(view->windowState() & Qt::WindowFullScreen);
        EXPECT_TRUE(view->isVisible());
        EXPECT_EQ(view->geometry(), home);
    }
    // Embedded, a close is an ordinary one.
    EXPECT_TRUE(view->close());
    EXPECT_FALSE(view->isVisible());
    view->setParent(nullptr); // the fixture owns it
}

TEST(MediaPlayerViewReal, ShowsTheVideoOnTheSoftwareSurface) {
    MediaPlayerView view;
    view.resize(320, 240);
    view.show();
    ASSERT_NE(view.mpvPlayer(), nullptr);
    auto* surface = view.findChild<SoftwareVideoSurface*>("VideoSurface");
    ASSERT_NE(surface, nullptr) << "offscreen must use the software surface";
    QLineEdit label;
    QObject::connect(&view, &MediaPlayerView::timeTextChanged, &label, &QLineEdit::setText);
    view.setupPlayerOption();
    std::string opened;
    view.callBack = [&](const std::string& p) { opened = p; };
    view.openPath(fixturePath("clip.mp4"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !opened.empty(); }, 10000));
    EXPECT_TRUE(view.isPlaying());
    EXPECT_TRUE(QTest::qWaitFor([&] { return label.text().endsWith(" / 0:00:10"); }, 3000))
        << label.text().toStdString();
    view.seek(4.0f, 0.0); // plays on from there
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return frameNumberOf(surface->renderer()->image()) >= 100; }, 5000));
    view.mpvPlayer()->pause();
    int shown = -1;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const int before = frameNumberOf(surface->renderer()->image());
            QTest::qWait(200);
            shown = frameNumberOf(surface->renderer()->image());
            return !view.mpvPlayer()->isSeeking() && shown == before;
        },
        5000));

    // A larger window draws that frame again at its new size: the player
    // sends no new frame for it.
    view.resize(480, 360);
    const QSize wanted = surface->size() * surface->devicePixelRatio();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return surface->renderer()->image().size() == wanted; }, 3000))
        << surface->renderer()->image().width();
    EXPECT_EQ(frameNumberOf(surface->renderer()->image()), shown);
}
