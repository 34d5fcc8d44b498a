// Moments exported from a match's angles: each tile, each part, read frame by
// frame from the fixtures' bar codes and checked against the frames the
// sources show at the mapped instants.
#include <cmath>

#include "export/AngleExport.h"
#include "support/ExportFixture.h"

namespace {

using Ranges = std::vector<std::pair<int64_t, int64_t>>;

struct Source {
    const char* file;
    double rate, length;
    MatchAngle map; // identity for the main video
};
// The main video, an angle whose camera started 1.2 s later at 50 fps (8 s
// long), and a smaller one whose picture runs 0.5 s ahead.
const Source kMain{"clip.mp4", 25, 10, {}};
const Source kEnd{"angle50.mp4", 50, 8, {"エンド", "angle50.mp4", -1.2, 1.0}};
const Source kWide{"clip-small.mp4", 25, 10, {"ワイド", "clip-small.mp4", 0.5, 1.0}};

// The number `src` shows at main time `t`; 0 (a black tile) where it has no picture.
int shownAt(const Source& src, double t) {
    const double a = angleTime(src.map, t);
    if (a < -1e-9 || a >= src.length - 1e-9)
        return 0;
    return static_cast<int>(std::floor(a * src.rate + 1e-6));
}

// What `src` shows at each of the main's frames over the ranges (milliseconds;
// an end of 0 is the main's end).
std::vector<int> expected(const Source& src, const Ranges& ranges) {
    std::vector<int> out;
    for (const auto& [s, e] : ranges) {
        const double end = e > 0 ? e / 1000.0 : kMain.length;
        for (int k = static_cast<int>(std::ceil(s / 40.0 - 1e-9)); k < end * 25 - 1e-6; ++k)
            out.push_back(shownAt(src, k / 25.0));
    }
    return out;
}

// An angle's own frames over the mapped ranges, at its own rate.
std::vector<int> ownFrames(const Source& src, const Ranges& ranges) {
    std::vector<int> out;
    for (const auto& [s, e] : ranges) {
        const double a = angleTime(src.map, s / 1000.0), b = angleTime(src.map, e / 1000.0);
        for (int n = static_cast<int>(std::ceil(a * src.rate - 1e-6)); n < b * src.rate - 1e-6; ++n)
            out.push_back(n);
    }
    return out;
}

class AngleExportTest : public ExportFixture {
protected:
    ClipExportSession::Status exportWith(AngleExport layout, const Ranges& ranges,
                                         const fs::path& out, std::vector<std::string> each = {}) {
        ClipExportSession session(fixturePath(kMain.file));
        session.outputURL = out.string();
        session.setTimeRanges(ranges);
        session.setSeparateOutputs(std::move(each));
        AngleExportChoice choice{layout, "エンド", {}};
        choice.angles[fixturePath(kMain.file)] =
            withAbsoluteFiles({kEnd.map, kWide.map}, fixturePath(""));
        session.setAngles(choice);
        return finish(session);
    }
    // The sound is there, as long as the picture.
    void expectSoundAsLongAsPicture(const fs::path& out) {
        EXPECT_EQ(probe(out, "stream=codec_name", "-select_streams a"), "aac");
        EXPECT_NEAR(std::stod(probe(out, "stream=duration", "-select_streams a")),
                    std::stod(probe(out, "stream=duration", "-select_streams v")), 0.03);
    }
};

} // namespace

TEST_F(AngleExportTest, CompositesShowEveryAngleAtEachMainFramesInstant) {
    struct Case {
        AngleExport layout;
        Ranges ranges;
        const char* size;
        std::vector<const Source*> tiles; // null: an empty tile
    };
    // Side by side across the 50 fps angle's start; 2×2 across its end and the
    // smaller angle's, joined to an earlier moment.
    const Case cases[] = {
        {AngleExport::SideBySide, {{1000, 2000}}, "640\n240", {&kMain, &kEnd}},
        {AngleExport::Grid,
         {{2000, 2600}, {9000, 0}},
         "640\n480",
         {&kMain, &kEnd, &kWide, nullptr}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const fs::path out = dir / "composite.mp4";
        ASSERT_EQ(exportWith(c.layout, c.ranges, out), ClipExportSession::Completed) << error;
        EXPECT_EQ(probe(out, "stream=width,height", "-select_streams v"), c.size);
        EXPECT_EQ(probe(out, "stream=r_frame_rate", "-select_streams v"), "25/1");
        for (size_t i = 0; i < c.tiles.size(); ++i) {
            const std::string crop =
                "320:240:" + std::to_string(i % 2 * 320) + ":" + std::to_string(i / 2 * 240);
            const std::vector<int> want =
                c.tiles[i] ? expected(*c.tiles[i], c.ranges)
                           : std::vector<int>(expected(kMain, c.ranges).size(), 0);
            EXPECT_EQ(frameNumbers(out, 12, crop), want) << "tile " << i;
        }
        expectSoundAsLongAsPicture(out);
        EXPECT_EQ(progress.back(), 1.0f);
    }
}

TEST_F(AngleExportTest, OneAngleAndInTurnKeepEachAnglesFramesExact) {
    struct Case {
        AngleExport layout;
        Ranges ranges;
        bool each; // a file per moment
        std::vector<int> want;
    };
    const Ranges one = {{3000, 4000}}, two = {{2000, 2400}, {6000, 6200}};
    auto inTurn = [](const Ranges& r) {
        std::vector<int> all;
        for (const Source* s : {&kMain, &kEnd, &kWide}) {
            const std::vector<int> part = expected(*s, r);
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    };
    const Case cases[] = {
        // The angle's own 50 fps frames over the mapped moment.
        {AngleExport::OneAngle, one, false, ownFrames(kEnd, one)},
        {AngleExport::OneAngle, two, false, ownFrames(kEnd, two)},
        // Each moment from the main, then from each angle at the main's rate.
        {AngleExport::InTurn, two, false,
         [&] {
             std::vector<int> all = inTurn({two[0]}), second = inTurn({two[1]});
             all.insert(all.end(), second.begin(), second.end());
             return all;
         }()},
        {AngleExport::InTurn, two, true, inTurn({two[1]})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.layout));
        const fs::path out = dir / "angles.mp4";
        std::vector<std::string> each;
        if (c.each)
            each = {(dir / "m1.mp4").string(), (dir / "m2.mp4").string()};
        ASSERT_EQ(exportWith(c.layout, c.ranges, out, each), ClipExportSession::Completed) << error;
        const fs::path read = c.each ? dir / "m2.mp4" : out;
        EXPECT_EQ(frameNumbers(read), c.want);
        expectSoundAsLongAsPicture(read);
        EXPECT_EQ(probe(read, "stream=width,height", "-select_streams v"), "320\n240");
    }
}
