// Highlight export: several ranges back to back, or one file each, judged by
// ffprobe and by the frame numbers the fixtures carry.
#include <fstream>
#include <gmock/gmock.h>
#include <numeric>
#include <sys/resource.h>

#include "support/ExportFixture.h"

using ::testing::HasSubstr;

namespace {

using Ranges = std::vector<std::pair<int64_t, int64_t>>;

class HighlightExport : public ExportFixture {
protected:
    ClipExportSession::Status exportRanges(const std::string& input, const Ranges& ranges,
                                           const fs::path& output,
                                           std::vector<std::string> separate = {}) {
        ClipExportSession session(fixturePath(input));
        session.outputURL = output.string();
        session.setTimeRanges(ranges);
        session.setSeparateOutputs(std::move(separate));
        return finish(session);
    }
    // Audio packets follow each other without a gap or an overlap, and the
    // sound lasts as long as `frames` pictures to within one audio frame.
    void expectContinuousSound(const fs::path& out, size_t frames) {
        const auto apts = probeNumbers(out, "packet=pts", "-select_streams a");
        const auto adur = probeNumbers(out, "packet=duration", "-select_streams a");
        ASSERT_EQ(apts.size(), adur.size());
        ASSERT_GT(apts.size(), 10u);
        for (size_t i = 1; i < apts.size(); ++i)
            EXPECT_EQ(apts[i], apts[i - 1] + adur[i - 1]) << "audio packet " << i;
        EXPECT_NEAR((apts.back() + adur.back()) / 48000.0, frames / 25.0, 1024 / 48000.0);
    }
};

} // namespace

TEST_F(HighlightExport, MomentsBackToBackFrameExactWithContinuousSound) {
    struct Case {
        const char* input;
        Ranges ranges;
        std::vector<std::pair<int, int>> frames;
    };
    // Starts between frames and at the end of the file; MPEG-TS counts from
    // its audio (0.021 s before the first frame), as the player does.
    const Case cases[] = {
        {"clip.mp4", {{1000, 2500}, {5020, 6000}, {8000, 0}}, {{25, 62}, {126, 149}, {200, 249}}},
        {"clip.mts", {{6000, 7000}, {1300, 2300}}, {{150, 174}, {32, 56}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const fs::path out = dir / (std::string(c.input) + ".mp4");
        ASSERT_EQ(exportRanges(c.input, c.ranges, out), ClipExportSession::Completed) << error;
        EXPECT_EQ(probe(out, "stream=codec_name", "-select_streams v"), "h264");
        EXPECT_EQ(probe(out, "stream=profile", "-select_streams v"), "High");
        EXPECT_EQ(probe(out, "stream=codec_name", "-select_streams a"), "aac");
        // Every frame, so every join, is the source's expected one.
        const std::vector<int> want = frameSpans(c.frames);
        EXPECT_EQ(frameNumbers(out), want);

        // Video times from 0, strictly rising, one frame apart.
        const auto times = probeNumbers(out, "frame=pts_time", "-select_streams v");
        ASSERT_EQ(times.size(), want.size());
        EXPECT_NEAR(times.front(), 0.0, 1e-3);
        for (size_t i = 1; i < times.size(); ++i)
            EXPECT_NEAR(times[i] - times[i - 1], 0.04, 1e-3) << "frame " << i;

        expectContinuousSound(out, want.size());
        EXPECT_NEAR(std::stod(probe(out, "stream=start_time", "-select_streams a")), 0.0, 0.001);
        // Progress covers the whole job.
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        EXPECT_EQ(progress.back(), 1.0f);
    }
    EXPECT_EQ(filesIn(dir), 2) << "temporary files left behind";
}

TEST_F(HighlightExport, ManyFilesPerMomentFitADesktopsLimitOfOpenFiles) {
    // Each written file's temporary stays open (and locked) until all are
    // renamed; a desktop session allows 1024 open files by default, fewer than
    // the moments of a whole match. Here the limit is cut to 24 above what is
    // open now, and 40 files are written.
    const auto open = std::distance(fs::directory_iterator("/proc/self/fd"), {});
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(open + 24);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    Ranges ranges;
    std::vector<std::string> files;
    for (int i = 0; i < 40; ++i) {
        ranges.emplace_back(i * 200, i * 200 + 120);
        files.push_back((dir / ("m" + std::to_string(100 + i) + ".mp4")).string());
    }
    const auto status = exportRanges("clip.mp4", ranges, dir / "unused.mp4", files);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_EQ(status, ClipExportSession::Completed) << error;
    EXPECT_EQ(filesIn(dir), 40);
    EXPECT_EQ(frameNumbers(dir / "m139.mp4"), frameSpans({{195, 197}}));
}

TEST_F(HighlightExport, AFailureMidJobLeavesNothingBehind) {
    // The second moment lies past the end: the first file, already written,
    // must not appear either.
    EXPECT_EQ(exportRanges("clip.mp4", {{1000, 2000}, {30000, 31000}}, dir / "x.mp4",
                           {(dir / "a.mp4").string(), (dir / "b.mp4").string()}),
              ClipExportSession::Failed);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(filesIn(dir), 0);

    // The second file's folder is missing.
    EXPECT_EQ(exportRanges("clip.mp4", {{1000, 2000}, {3000, 4000}}, dir / "x.mp4",
                           {(dir / "a.mp4").string(), (dir / "none" / "b.mp4").string()}),
              ClipExportSession::Failed);
    EXPECT_EQ(filesIn(dir), 0);

    // One file: an unreadable input keeps an existing file as it was.
    { std::ofstream(dir / "Highlight.mp4") << "old"; }
    EXPECT_EQ(exportRanges("random.mp4", {{0, 1000}, {2000, 3000}}, dir / "Highlight.mp4"),
              ClipExportSession::Failed);
    EXPECT_EQ(run("cat '" + (dir / "Highlight.mp4").string() + "'"), "old");
    EXPECT_EQ(filesIn(dir), 1);
}

TEST_F(HighlightExport, MomentsOfSeveralVideosJoinedAtTheFirstVideosSize) {
    // Moments of two matches, alternating; the second video is smaller and
    // its sound 44.1 kHz: every part leaves at 320x240 and 48 kHz.
    ClipExportSession session("");
    const fs::path out = dir / "season.mp4";
    session.outputURL = out.string();
    session.setSourcedRanges({{fixturePath("clip.mp4"), 1000, 2000},
                              {fixturePath("clip-small.mp4"), 4000, 5000},
                              {fixturePath("clip.mp4"), 6000, 6400},
                              {fixturePath("clip-small.mp4"), 8000, 0}});
    ASSERT_EQ(finish(session), ClipExportSession::Completed) << error;
    EXPECT_EQ(probe(out, "stream=codec_name", "-select_streams v"), "h264");
    EXPECT_EQ(probe(out, "stream=width,height", "-select_streams v"), "320\n240");
    EXPECT_EQ(probe(out, "stream=codec_name", "-select_streams a"), "aac");
    EXPECT_EQ(probe(out, "stream=sample_rate", "-select_streams a"), "48000");
    // The parts' own frames, in order, each video's picture scaled whole (its
    // bar code still reads).
    const std::vector<int> want = frameSpans({{25, 49}, {100, 124}, {150, 159}, {200, 249}});
    EXPECT_EQ(frameNumbers(out), want);
    EXPECT_NEAR(std::stod(probe(out, "format=duration")), want.size() / 25.0, 0.05);
    // The sound runs the whole length, without gaps at the joins.
    expectContinuousSound(out, want.size());
    EXPECT_EQ(progress.back(), 1.0f);

    // A missing video fails the job with its name, and leaves nothing.
    ClipExportSession broken("");
    const fs::path none = dir / "none.mp4";
    broken.outputURL = none.string();
    broken.setSourcedRanges(
        {{fixturePath("clip.mp4"), 0, 1000}, {(dir / "gone.mp4").string(), 0, 1000}});
    EXPECT_EQ(finish(broken), ClipExportSession::Failed);
    EXPECT_THAT(error, HasSubstr("gone.mp4"));
    EXPECT_FALSE(fs::exists(none));
}
