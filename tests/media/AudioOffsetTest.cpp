// The offset of an angle proposed from the sound: generated files whose sound
// is one noise, the angle's started 37.4 s later through another microphone with
// as much noise of its own (scripts/make-fixtures).
#include <gtest/gtest.h>

#include <tuple>

#include "angles/AudioOffset.h"
#include "support/MediaFixtures.h"

TEST(AudioOffset, FindsAShiftWithinAFrameEitherWayAndDoubtsUnrelatedSound) {
    struct Case {
        const char *main, *angle;
        double offset;
        bool related;
    };
    const Case cases[] = {
        {"sound-main.mp4", "sound-late.mp4", -37.4, true},
        {"sound-late.mp4", "sound-main.mp4", 37.4, true},
        {"sound-main.mp4", "sound-other.mp4", 0.0, false},
    };
    for (const Case& c : cases) {
        const AudioOffsetGuess g = proposeAudioOffset(fixturePath(c.main), fixturePath(c.angle));
        ASSERT_TRUE(g.ok) << g.error;
        if (c.related) {
            EXPECT_NEAR(g.offset, c.offset, 0.040) << c.angle << " (one frame at 25 fps)";
            EXPECT_GT(g.confidence, 0.7) << c.angle;
        } else {
            EXPECT_LT(g.confidence, 0.3) << c.angle;
        }
    }
}

TEST(AudioOffset, SaysWhyItCannotCompare) {
    const std::atomic<bool> stop{true}, go{false};
    const std::tuple<const char*, const std::atomic<bool>*, const char*> cases[] = {
        {"sound-none.mp4", &go, "「sound-none.mp4」には音声がありません"},
        {"random.mp4", &go, "「random.mp4」を読めません"},
        {"sound-late.mp4", &stop, "中止しました"},
    };
    for (const auto& [angle, cancel, error] : cases) {
        const AudioOffsetGuess g =
            proposeAudioOffset(fixturePath("sound-main.mp4"), fixturePath(angle), cancel);
        EXPECT_FALSE(g.ok) << angle;
        EXPECT_EQ(g.error, error);
    }
}
