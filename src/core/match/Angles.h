#pragma once

#include <string>

// A second (third, fourth) camera of the match. The main video's time is the
// master: an instant at main time `t` is at angle time `offset + scale * t`
// in the angle's file. `scale` is 1 unless a second common event corrected
// the drift between the two cameras' clocks.
struct MatchAngle {
    std::string name; // shown on the view and in exports ("エンド", "ワイド" ...)
    // The file: relative to the session file's folder when it lies inside it,
    // else absolute, in UTF-8.
    std::string file;
    double offset = 0.0;
    double scale = 1.0;
    bool operator==(const MatchAngle&) const = default;
};

// Beside the main video, a match has at most this many angles.
inline constexpr size_t kMaxAngles = 3;

// Where main time `t` falls in the angle's file, and back.
inline double angleTime(const MatchAngle& angle, double t) {
    return angle.offset + angle.scale * t;
}
inline double mainTimeOf(const MatchAngle& angle, double a) {
    return (a - angle.offset) / angle.scale;
}

// The map from one common event seen at main time `main1` and angle time
// `angle1`: a plain offset.
void alignByEvent(MatchAngle& angle, double main1, double angle1);
// The map from two common events: offset and drift. False (angle unchanged)
// when the events are less than a second apart on either side or the drift
// they give is beyond 1 % (a marking mistake rather than a clock).
bool alignByEvents(MatchAngle& angle, double main1, double angle1, double main2, double angle2);
