// Clip export judged by FFmpeg's own command-line tools.
#include <QSignalSpy>
#include <fcntl.h>
#include <fstream>
#include <gmock/gmock.h>
#include <sys/file.h>

#include "platform/AtomicFile.h"
#include "player/MpvPlayer.h"
#include "player/MpvSoftwareRenderer.h"
#include "support/ExportFixture.h"

using ::testing::HasSubstr;

namespace {

class ClipExport : public ExportFixture {
protected:
    ClipExportSession::Status exportClip(const std::string& input, const fs::path& output,
                                         int64_t startMs, int64_t endMs) {
        ClipExportSession session(fixturePath(input));
        session.outputURL = output.string();
        session.setTimeRange(startMs, endMs);
        return finish(session);
    }
};

} // namespace

TEST_F(ClipExport, CutsFrameExactlyFromEveryContainer) {
    struct Case {
        const char* input;
        int64_t startMs, endMs;
        int first, last;
    };
    // 25 frames a second: the first frame at or after the start, the last
    // before the end, in the player's times. MPEG-TS counts from its audio,
    // which starts 0.021 s (m2ts: 0.005 s) before the first frame; the cases
    // start mid-GOP.
    const Case cases[] = {{"clip.mp4", 2000, 5000, 50, 124},
                          {"clip.mts", 3300, 6000, 82, 149},
                          {"clip.m2ts", 5020, 7500, 126, 187},
                          {"clip.avi", 1000, 3000, 25, 74},
                          {"clip-pcm.avi", 4000, 6040, 100, 150}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const fs::path out = dir / (std::string(c.input) + ".mp4");
        ASSERT_EQ(exportClip(c.input, out, c.startMs, c.endMs), ClipExportSession::Completed)
            << error;
        EXPECT_EQ(probe(out, "stream=codec_name", "-select_streams v"), "h264");
        EXPECT_EQ(probe(out, "stream=codec_name", "-select_streams a"), "aac");
        EXPECT_EQ(probe(out, "stream=profile", "-select_streams v"), "High");
        const double duration = std::stod(probe(out, "format=duration"));
        EXPECT_NEAR(duration, (c.last - c.first + 1) / 25.0, 0.041);
        EXPECT_NEAR(std::stod(probe(out, "stream=start_time", "-select_streams v")), 0.0, 0.001);
        // FFmpeg dates this AVI's frames (MP3 audio) one frame early after a
        // seek, as the player does: the clip shows what the player showed.
        const int slack = std::string(c.input) == "clip.avi" ? 1 : 0;
        const int first = frameAt(out, 0, dir / "first.png");
        const int last = frameAt(out, -1, dir / "last.png");
        EXPECT_GE(first, c.first - slack);
        EXPECT_LE(first, c.first);
        EXPECT_EQ(last - first, c.last - c.first);
        // The index comes before the media data (fast start).
        std::ifstream f(out, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(f), {}};
        EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
    }
    EXPECT_EQ(filesIn(dir), 5 + 2) << "temporary files left behind";
    // Readable like any new file, not private as a temporary file is.
    EXPECT_NE(fs::status(dir / "clip.mp4.mp4").permissions() & fs::perms::others_read,
              fs::perms::none);
}

TEST_F(ClipExport, NoEndMeansTheEndOfTheStreamsAndProgressRises) {
    const fs::path out = dir / "tail.mp4";
    ASSERT_EQ(exportClip("clip.mp4", out, 6000, 0), ClipExportSession::Completed) << error;
    EXPECT_NEAR(std::stod(probe(out, "format=duration")), 4.0, 0.05);
    EXPECT_EQ(frameAt(out, 0, dir / "first.png"), 150);
    EXPECT_EQ(frameAt(out, -1, dir / "last.png"), 249);
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 1.0f);
}

TEST_F(ClipExport, FailuresLeaveNothingBehindAndExistingFilesAlone) {
    const fs::path target = dir / "ClipVideo.mp4";
    { std::ofstream(target) << "old"; }
    EXPECT_EQ(exportClip("random.mp4", target, 0, 2000), ClipExportSession::Failed);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(run("cat '" + target.string() + "'"), "old");
    EXPECT_EQ(filesIn(dir), 1);

    EXPECT_EQ(exportClip("clip.mp4", dir / "no-such-folder" / "x.mp4", 0, 2000),
              ClipExportSession::Failed);
    EXPECT_THAT(error, HasSubstr("No such file"));

    // A range beyond the end holds no picture.
    EXPECT_EQ(exportClip("clip.mp4", dir / "late.mp4", 30000, 40000), ClipExportSession::Failed);
    EXPECT_FALSE(fs::exists(dir / "late.mp4"));

    ASSERT_EQ(exportClip("clip.mp4", target, 0, 1000), ClipExportSession::Completed) << error;
    EXPECT_EQ(probe(target, "stream=codec_name", "-select_streams v"), "h264");
    EXPECT_EQ(filesIn(dir), 1);
}

TEST_F(ClipExport, LeftoversOfKilledExportsGoLiveOnesStay) {
    const fs::path target = dir / "ClipVideo.mp4";
    // What exports killed before their rename leave, another export's live
    // file (locked), and names that are not leftovers of this target.
    for (const char* name :
         {".ClipVideo.mp4.Ab12Zz", ".ClipVideo.mp4.000000", ".ClipVideo.mp4.LiVe00",
          ".Other.mp4.Ab12Zz", ".ClipVideo.mp4.Ab12Zz.x"})
        std::ofstream(dir / name) << "left";
    const int held = ::open((dir / ".ClipVideo.mp4.LiVe00").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    ASSERT_EQ(exportClip("clip.mp4", target, 0, 1000), ClipExportSession::Completed) << error;
    EXPECT_EQ(namesIn(dir),
              (std::set<std::string>{".ClipVideo.mp4.Ab12Zz.x", ".ClipVideo.mp4.LiVe00",
                                     ".Other.mp4.Ab12Zz", "ClipVideo.mp4"}));
    ::close(held);

    // A running export's own file is locked until its rename: a clean-up
    // meanwhile (another export's, or a save's) leaves it.
    ClipExportSession session(fixturePath("clip.mp4"));
    session.outputURL = target.string();
    session.setTimeRange(0, 8000);
    std::atomic<bool> finished{false};
    session.exportAsynchronously([&] { finished.store(true); });
    int taken = 0;
    while (!finished.load()) {
        taken += removeStaleTemporaries(target);
        QTest::qWait(2);
    }
    // The one left unlocked above; more only when a clean-up caught a new
    // file in the instant before its lock, which its writer then replaces.
    EXPECT_GE(taken, 1);
    EXPECT_EQ(session.status(), ClipExportSession::Completed) << session.errorText();
    EXPECT_NEAR(std::stod(probe(target, "format=duration")), 8.0, 0.05);
}

TEST_F(ClipExport, DestroyingARunningExportCancelsItCleanly) {
    {
        ClipExportSession session(fixturePath("clip.mp4"));
        session.outputURL = (dir / "gone.mp4").string();
        session.exportAsynchronously([] {});
    }
    EXPECT_EQ(filesIn(dir), 0);
}

TEST_F(ClipExport, FirstFrameIsTheOneThePlayerShowsOnEveryContainer) {
    struct Case {
        const char* input;
        double length;
    };
    // clip-start5.mp4 starts at 5 s of its clock, clip-cut.mp4 keeps the
    // half second before its cut (frames 50 to 62) before its start.
    const Case cases[] = {{"clip.mp4", 10.0},   {"clip.mts", 10.0},     {"clip.m2ts", 10.0},
                          {"clip.avi", 10.0},   {"clip-pcm.avi", 10.0}, {"clip-start5.mp4", 10.0},
                          {"clip-cut.mp4", 8.0}};
    MpvPlayer player(std::map<std::string, std::string>{{"ao", "null"}});
    MpvSoftwareRenderer renderer(player);
    ASSERT_TRUE(renderer.isValid());
    renderer.setSize(QSize(320, 240));
    auto shownFrame = [&] {
        QSignalSpy drawn(&renderer, &MpvSoftwareRenderer::frameReady);
        drawn.wait(300);
        renderer.renderNow();
        return frameNumberOf(renderer.image());
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        bool answered = false, ok = false;
        QSignalSpy restarted(&player, &MpvPlayer::playbackRestarted);
        player.replaceCurrentItem(fixturePath(c.input), [&](bool result) {
            answered = true;
            ok = result;
            player.pause();
        });
        ASSERT_TRUE(QTest::qWaitFor([&] { return answered; }, 10000) && ok) << player.error();
        ASSERT_TRUE(!restarted.isEmpty() || restarted.wait(10000));
        // The time text counts from the first frame, whatever the file's clock.
        EXPECT_GE(player.currentTime(), 0.0);
        EXPECT_LT(player.currentTime(), 0.1);
        EXPECT_NEAR(player.duration(), c.length, 0.1);

        restarted.clear();
        player.seekExact(3.3);
        ASSERT_TRUE(restarted.wait(10000));
        const int shown = shownFrame();
        EXPECT_NEAR(player.currentTime(), 3.3, 1.0 / 25);
        ASSERT_GE(shown, 0);

        // A tag at 3.3 s exports from the frame shown there.
        const fs::path out = dir / (std::string(c.input) + ".mp4");
        ASSERT_EQ(exportClip(c.input, out, 3300, 4300), ClipExportSession::Completed) << error;
        // This AVI (MP3 audio) dates its frames one late after a seek in mpv.
        const int slack = std::string(c.input) == "clip.avi" ? 1 : 0;
        const int first = frameAt(out, 0, dir / "first.png");
        EXPECT_GE(first, shown - slack);
        EXPECT_LE(first, shown + slack);
        EXPECT_NEAR(std::stod(probe(out, "format=duration")), 1.0, 0.041);
    }
}
