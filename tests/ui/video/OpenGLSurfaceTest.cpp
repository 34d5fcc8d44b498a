// The OpenGL picture surface, end to end under a real X server (xvfb-run).
#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "SubViewClass/MediaPlayerView.h"
#include "player/MpvPlayer.h"
#include "support/MediaFixtures.h"
#include "video/VideoSurfaces.h"

namespace {

int frameShownAfterSeek(MediaPlayerView& view, OpenGLVideoSurface& surface, float seconds) {
    QSignalSpy restarted(view.mpvPlayer(), &MpvPlayer::playbackRestarted);
    view.mpvPlayer()->pause();
    view.mpvPlayer()->seekExact(seconds);
    if (!restarted.wait(10000))
        return -2;
    QTest::qWait(200); // let the restarted frame be drawn
    return frameNumberOf(surface.grabFramebuffer());
}

} // namespace

TEST(OpenGLSurface, DrawsFramesAndSurvivesFullScreen) {
    if (!OpenGLVideoSurface::available())
        GTEST_SKIP() << "no OpenGL context can be made on this display";
    MediaPlayerView view;
    view.resize(320, 240);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    auto* surface = view.findChild<OpenGLVideoSurface*>("VideoSurface");
    ASSERT_NE(surface, nullptr);

    bool opened = false;
    view.callBack = [&](const std::string&) { opened = true; };
    view.openPath(fixturePath("clip.mts"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return opened; }, 10000)) << view.player()->error();
    EXPECT_TRUE(QTest::qWaitFor([&] { return surface->hasDrawn(); }, 5000));
    EXPECT_EQ(frameShownAfterSeek(view, *surface, 4.0f), 100);

    // Full screen moves the view to a window of its own and back, which
    // remakes the GL context each time; the picture must come back.
    view.setFullScreenMode(true);
    QTest::qWait(300);
    EXPECT_TRUE(view.isFullScreenMode());
    view.setFullScreenMode(false);
    view.resize(320, 240);
    QTest::qWait(300);
    EXPECT_EQ(frameShownAfterSeek(view, *surface, 6.0f), 150);
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
