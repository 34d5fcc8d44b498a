// Coding a match while it is recorded: ffmpeg streams a bar-coded picture
// over UDP in real time, the recorder writes it, the edit screen follows the
// file on the real player. A tag pressed at the live edge lands on the frame
// shown; the analyst reviews 30 s back and returns to live by button and by
// key while the length grows; a source that drops shows at once and its gap
// is hatched on the timelines.
#include <QLabel>
#include <QProcess>
#include <QPushButton>

#include "SubViewClass/EditableNSTextField.h"
#include "live/LiveSession.h"
#include "player/MpvPlayer.h"
#include "player/MpvSoftwareRenderer.h"
#include "support/Deadline.h"
#include "support/MediaFixtures.h"
#include "support/ScreenFixture.h"
#include "timeline/TagTimeline.h"
#include "video/VideoSurfaces.h"

namespace {

class LiveCoding : public Screens {
protected:
    void SetUp() override {
        std::filesystem::create_directories(windowFolder());
        std::ofstream(windowFolder() / "sevens.json") << kSevens;
        window = std::make_unique<MainWindow>();
        fake = nullptr;
        main = window->mainViewController();
        window->resize(1366, 740);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        edit = main->editViewController;
        play = main->playViewController;
        chooseWindow("7人制");
        url = "udp://127.0.0.1:" + std::to_string(30000 + ::getpid() % 4000 * 2);
        recorder =
            std::make_unique<LiveRecorder>(LiveSource{url, "", {}}, (dir / "match.ts").string());
        session = std::make_unique<LiveSession>(*recorder, main);
        recorder->start();
        startSource();
    }
    void TearDown() override {
        session.reset();
        source.kill();
        source.waitForFinished(5000);
        recorder.reset();
    }
    // ffmpeg's test picture with its frame number as a bar code, sent as it
    // is made, as a camera would.
    void startSource() {
        const std::string graph =
            "testsrc2=size=640x360:rate=25[bg];color=black:size=12x1:rate=25,format=yuv444p,"
            "geq=lum='if(mod(floor(N/pow(2\\,X))\\,2)\\,235\\,16)':cb=128:cr=128,"
            "scale=640:60:flags=neighbor[bar];[bg][bar]overlay=0:0:shortest=1,"
            "format=yuv420p,realtime[v]";
        source.start("ffmpeg", {"-nostdin", "-loglevel", "error", "-filter_complex",
                                QString::fromStdString(graph), "-map", "[v]", "-c:v", "libx264",
                                "-preset", "ultrafast", "-tune", "zerolatency", "-g", "25", "-f",
                                "mpegts", QString::fromStdString(url + "?pkt_size=1316")});
        ASSERT_TRUE(source.waitForStarted(5000));
    }
    // The frame number of the picture shown, read inside its letterbox.
    int shownFrame() const {
        auto* surface = main->MediaPlayer->findChild<SoftwareVideoSurface*>("VideoSurface");
        const QImage image = surface->renderer()->image();
        QRect r = image.rect();
        if (r.width() * 9 > r.height() * 16)
            r = QRect((r.width() - r.height() * 16 / 9) / 2, 0, r.height() * 16 / 9, r.height());
        else
            r = QRect(0, (r.height() - r.width() * 9 / 16) / 2, r.width(), r.width() * 9 / 16);
        return frameNumberOf(image.copy(r.adjusted(2, 2, -2, -2)));
    }
    // The frame shown once the player has landed and the picture holds.
    int settledFrame() const {
        int n = -2;
        (void)QTest::qWaitFor(
            [&] {
                const int before = n;
                QTest::qWait(100);
                n = player()->isSeeking() ? -2 : shownFrame();
                return n >= 0 && n == before;
            },
            10000);
        return n;
    }
    Player* player() const { return main->MediaPlayer->player(); }
    double edge() const { return recorder->status().edge; }
    QString timeText() const { return edit->mediaTimeLabel->text(); }
    // The recording reaches `seconds`, the view playing at the live edge.
    void recordUntil(double seconds) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return edge() >= seconds; }, 120000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return timeText().endsWith("/ ライブ"); }, 10000))
            << timeText().toStdString();
    }
    // Pixels of the hatch in the timeline's column at `t`.
    static int hatched(TagTimeline* timeline, double t) {
        const QImage image = timeline->grab().toImage();
        const int x = static_cast<int>(timeline->xOf(t));
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            n += image.pixelColor(x, y) == QColor(90, 90, 90);
        return n;
    }

    std::string url;
    QProcess source;
    std::unique_ptr<LiveRecorder> recorder;
    std::unique_ptr<LiveSession> session;
};

} // namespace

TEST_F(LiveCoding, TagsAtTheEdgeReviewBackReturnToLiveAndADropOut) {
    Deadline deadline(200, "LiveCoding");
    ASSERT_TRUE(QTest::qWaitFor([&] { return session->isOpen(); }, 30000));
    ASSERT_TRUE(player()->isGrowing());
    recordUntil(6.0);
    EXPECT_EQ(session->stateLabel()->text().left(3), "収録中");

    // A code's key on the video while it plays live.
    QTest::mouseClick(main->MediaPlayer, Qt::LeftButton);
    const int before = shownFrame();
    type(Qt::Key_Q);
    const int after = shownFrame();
    ASSERT_EQ(main->tagDataModel.data.size(), 1u);
    const double tagged = main->tagDataModel.data.back()->time_val;

    // The tag's time shows the frame that was up as its key went down.
    player()->pause();
    player()->seekExact(tagged);
    const int shown = settledFrame();
    EXPECT_GE(shown, before - 1);
    EXPECT_LE(shown, after + 1);
    type(Qt::Key_End);

    // 30 s back, by a click on the timeline or by ← fifteen times; back to
    // live by 「ライブへ」 or by End.
    struct Way {
        const char* name;
        bool byTimeline;
        bool byButton;
    };
    TagTimeline* strip = edit->tagTimeline;
    for (const Way& way : {Way{"timeline, button", true, true}, Way{"keys, End", false, false}}) {
        SCOPED_TRACE(way.name);
        recordUntil(way.byTimeline ? 34.0 : 40.0);
        const double span = strip->view().span;
        const double target = player()->currentTime() - 30.0;
        if (way.byTimeline)
            QTest::mouseClick(strip, Qt::LeftButton, {},
                              QPoint(static_cast<int>(strip->xOf(target)), strip->height() / 4));
        else
            for (int i = 0; i < 15; ++i)
                type(Qt::Key_Left);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !player()->isSeeking(); }, 10000));
        player()->pause();
        ASSERT_TRUE(QTest::qWaitFor([&] { return timeText().contains("ライブ −0:3"); }, 5000))
            << timeText().toStdString();
        EXPECT_NEAR(player()->currentTime(), target, 2.5);
        const int back = settledFrame();

        if (way.byButton)
            QTest::mouseClick(session->liveButton(), Qt::LeftButton);
        else
            type(Qt::Key_End);
        ASSERT_TRUE(QTest::qWaitFor([&] { return timeText().endsWith("/ ライブ"); }, 10000))
            << timeText().toStdString();
        EXPECT_TRUE(QTest::qWaitFor([&] { return shownFrame() > back + 27 * 25; }, 5000))
            << shownFrame() << " after " << back;
        EXPECT_TRUE(main->MediaPlayer->isPlaying());
        EXPECT_GT(strip->view().span, span);
        EXPECT_GE(strip->view().span, edge() - 1.0);
    }

    // The source drops: said at once, in red; back, its gap is hatched on
    // both timelines and live goes on.
    source.kill();
    source.waitForFinished(5000);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return session->stateLabel()->text().startsWith("信号なし"); }, 10000));
    EXPECT_TRUE(session->stateLabel()->styleSheet().contains("#d02020"));
    startSource();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return session->stateLabel()->text().startsWith("収録中"); }, 30000));
    ASSERT_EQ(recorder->gaps().size(), 1u);
    const LiveGap gap = recorder->gaps().front();
    for (TagTimeline* timeline : {edit->tagTimeline, play->tagTimeline}) {
        EXPECT_GT(hatched(timeline, (gap.from + gap.to) / 2), 0);
        EXPECT_EQ(hatched(timeline, gap.from - 3.0), 0);
    }
    recordUntil(gap.to + 3.0);
}
