#pragma once

#include <cstdint>
#include <cstdlib>
#include <mpv/client.h>
#include <optional>
#include <string>

// What MpvPlayer's requests and the events answering them share: the ids
// its replies carry, the properties it observes and asks.

namespace mpvreplies {

// Why mpv could not read a file, in the user's words, mpv's own after them.
inline std::string unreadable(int err) {
    return std::string("動画として読み込めません（") + mpv_error_string(err) + "）";
}

// Observed properties, by reply id.
enum Observed : uint64_t { ObsTime = 1, ObsDuration, ObsPause, ObsSpeed, ObsEof, ObsVid, ObsFps };

// Replies to asynchronous requests: the kind in the low byte, then an index,
// then the generation of the load or seek they belong to.
enum ReplyKind : uint64_t { ReplyLoad = 1, ReplySeek, ReplyInfo, ReplyLanded, ReplySet, ReplyStop };
constexpr uint64_t reply(ReplyKind kind, uint64_t index, uint64_t generation) {
    return kind | index << 8 | generation << 16;
}
constexpr ReplyKind kindOf(uint64_t id) {
    return static_cast<ReplyKind>(id & 0xff);
}
constexpr uint64_t indexOf(uint64_t id) {
    return (id >> 8) & 0xff;
}
constexpr uint64_t generationOf(uint64_t id) {
    return id >> 16;
}

inline const char* const kLoadInfoNames[] = {"current-tracks/video/codec", "duration",
                                             "demuxer-start-time", "file-format", "time-pos"};

inline std::optional<double> toDouble(const std::optional<std::string>& text) {
    if (!text || text->empty())
        return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text->c_str(), &end);
    if (end == text->c_str())
        return std::nullopt;
    return value;
}

} // namespace mpvreplies
