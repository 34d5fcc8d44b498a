// Coding a match while it is recorded: ffmpeg streams a bar-coded picture
// over UDP in real time, the recorder writes it, the edit screen follows the
// file on the real player. A tag pressed at the live edge lands on the frame
// shown; the analyst reviews 30 s back and returns to live by button and by
// key while the length grows; a source that drops shows at once, and its gap
// is hatched on the timelines.
#include <QLabel>
#include <QProcess>
#include <QPushButton>

#include "SubViewClass/EditableNSTextField.h"
#include "live/LiveSession.h"
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
        makeRealWindow();
        url = "udp://127.0.0.1:" + std::to_string(30000 + ::getpid() % 4000 * 2);
        recorder = std::make_unique<LiveRecorder>(LiveSource{url, "", {}}, dir / "match.ts");
        session = std::make_unique<LiveSession>(*recorder, main);
        recorder->start();
        startSource();
    }
    void TearDown() override {
        session.reset();
        source.kill();
        source.waitForFinished(5000);
    }
    // ffmpeg's test picture with its frame number as a bar code, sent as it
    // is made, as a camera would.
    void startSource() {
        source.start("ffmpeg",
                     {"-nostdin", "-v", "error", "-filter_complex",
                      "testsrc2=size=640x360:rate=25[bg];color=black:size=12x1:rate=25,"
                      "format=yuv444p,geq=lum='if(mod(floor(N/pow(2\\,X))\\,2)\\,235\\,16)':"
                      "cb=128:cr=128,scale=640:60:flags=neighbor[bar];[bg][bar]overlay=0:0:"
                      "shortest=1,format=yuv420p,realtime[v]",
                      "-map", "[v]", "-c:v", "libx264", "-preset", "ultrafast", "-tune",
                      "zerolatency", "-g", "25", "-f", "mpegts",
                      QString::fromStdString(url + "?pkt_size=1316")});
        ASSERT_TRUE(source.waitForStarted(5000));
    }
    // The frame number shown, read inside the letterbox; `settled`: once the
    // player has landed and the picture holds.
    int shownFrame(bool settled = true) const {
        const auto read = [&] {
            QImage image = main->MediaPlayer->findChild<SoftwareVideoSurface*>("VideoSurface")
                               ->renderer()
                               ->image();
            const int w = std::min(image.width(), image.height() * 16 / 9), h = w * 9 / 16;
            return frameNumberOf(image.copy((image.width() - w) / 2 + 2,
                                            (image.height() - h) / 2 + 2, w - 4, h - 4));
        };
        if (!settled)
            return read();
        int n = -2;
        (void)QTest::qWaitFor(
            [&] {
                const int before = n;
                QTest::qWait(100);
                n = main->MediaPlayer->player()->isSeeking() ? -2 : read();
                return n >= 0 && n == before;
            },
            10000);
        return n;
    }
    QString timeText() const { return edit->mediaTimeLabel->text(); }
    QString state() const { return session->stateLabel()->text(); }
    // The time and the state read whole at the window's laptop size.
    void expectWhole() const {
        for (const auto& [w, text] :
             {std::pair<QWidget*, QString>{edit->mediaTimeLabel, timeText()},
              {session->stateLabel(), state()}})
            EXPECT_LE(w->fontMetrics().horizontalAdvance(text) + 4, w->contentsRect().width())
                << text.toStdString();
    }
    // The recording reaches `seconds`, the view playing at the live edge.
    void recordUntil(double seconds) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return recorder->status().edge >= seconds; }, 120000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return timeText().endsWith("/ ライブ"); }, 10000))
            << timeText().toStdString();
    }
    // Pixels of the hatch in the timeline's column at `t`.
    static int hatched(TagTimeline* timeline, double t) {
        const QImage image = timeline->grab().toImage();
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            n += image.pixelColor(static_cast<int>(timeline->xOf(t)), y) == QColor(90, 90, 90);
        return n;
    }

    std::string url;
    QProcess source;
    std::unique_ptr<LiveRecorder> recorder;
    std::unique_ptr<LiveSession> session;
};

} // namespace

TEST_F(LiveCoding, TagAtTheEdgeReviewBackReturnToLiveAndADropOut) {
    Deadline deadline(200, "LiveCoding");
    ASSERT_TRUE(QTest::qWaitFor([&] { return session->isOpen(); }, 30000));
    Player* player = main->MediaPlayer->player();
    ASSERT_TRUE(player->isGrowing());
    recordUntil(6.0);
    EXPECT_TRUE(state().startsWith("収録中"));
    EXPECT_TRUE(state().contains("ディスク残り"));
    expectWhole();

    // A code's key on the video while it plays live: the tag's time shows
    // the frame that was up as the key went down.
    QTest::mouseClick(main->MediaPlayer, Qt::LeftButton);
    const int before = shownFrame(false);
    type(Qt::Key_Q);
    const int after = shownFrame(false);
    ASSERT_EQ(main->tagDataModel.data.size(), 1u);
    player->pause();
    player->seekExact(main->tagDataModel.data.back()->time_val);
    const int tagged = shownFrame();
    EXPECT_GE(tagged, before - 1);
    EXPECT_LE(tagged, after + 1);
    type(Qt::Key_End);

    // 30 s back by a click on the timeline or by ← fifteen times; back to
    // live by 「ライブへ」 or by End, the timeline grown meanwhile.
    TagTimeline* strip = edit->tagTimeline;
    for (const bool byMouse : {true, false}) {
        SCOPED_TRACE(byMouse ? "timeline, button" : "keys, End");
        recordUntil(byMouse ? 34.0 : 40.0);
        const double span = strip->view().span;
        const double target = player->currentTime() - 30.0;
        if (byMouse)
            QTest::mouseClick(strip, Qt::LeftButton, {},
                              QPoint(static_cast<int>(strip->xOf(target)), strip->height() / 4));
        else
            for (int i = 0; i < 15; ++i)
                type(Qt::Key_Left);
        ASSERT_TRUE(QTest::qWaitFor([&] { return timeText().contains("ライブ −0:3"); }, 5000))
            << timeText().toStdString();
        player->pause();
        expectWhole();
        const int back = shownFrame();
        EXPECT_NEAR(player->currentTime(), target, 2.5);
        if (byMouse)
            QTest::mouseClick(session->liveButton(), Qt::LeftButton);
        else
            type(Qt::Key_End);
        ASSERT_TRUE(QTest::qWaitFor([&] { return timeText().endsWith("/ ライブ"); }, 10000))
            << timeText().toStdString();
        EXPECT_TRUE(QTest::qWaitFor([&] { return shownFrame(false) > back + 27 * 25; }, 5000));
        EXPECT_TRUE(main->MediaPlayer->isPlaying());
        EXPECT_GT(strip->view().span, span);
        EXPECT_GE(strip->view().span, recorder->status().edge - 1.0);
    }

    // The source drops: said at once, in red. Back, its gap is hatched on
    // both timelines and live goes on.
    source.kill();
    source.waitForFinished(5000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return state().startsWith("信号なし"); }, 10000));
    EXPECT_TRUE(session->stateLabel()->styleSheet().contains("#d02020"));
    expectWhole();
    startSource();
    ASSERT_TRUE(QTest::qWaitFor([&] { return state().startsWith("収録中"); }, 30000));
    ASSERT_EQ(recorder->gaps().size(), 1u);
    const LiveGap gap = recorder->gaps().front();
    for (TagTimeline* timeline : {edit->tagTimeline, play->tagTimeline}) {
        EXPECT_GT(hatched(timeline, (gap.from + gap.to) / 2), 0);
        EXPECT_EQ(hatched(timeline, gap.from - 3.0), 0);
    }
    recordUntil(gap.to + 3.0);
}
