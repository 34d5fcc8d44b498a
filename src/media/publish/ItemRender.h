#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <string>

// Renders one playlist item for phones: the range of a match video, cut
// frame-exactly as the clip export cuts, as an MP4 that starts playing while
// it loads (H.264 High 4:2:0 at a steady bit rate, AAC, the index first).

namespace publish {

struct RenderSettings {
    int maxHeight = 720;
    int bitRateKbps = 2500;
    // As the clip export: the fastest preset that still writes High profile.
    // On two cores a 12-second item at 720p takes about 7 s of CPU time,
    // against 9 s with veryfast (bench/publish_bench).
    std::string preset = "superfast";
    int threads = 0; // x264 chooses
};

enum class RenderStatus { Done, Cancelled, Failed };

// How an item was made: encoded whole, or its whole groups of pictures
// copied from the source and only the partial ones at its ends encoded
// (publish/SmartCut.h says when).
enum class RenderPath { Encoded, Copied };

// Renders [from, to) (the player's seconds) of `source` into `target`: a
// temporary file beside it is renamed over it once complete, and removed on
// failure or cancel. `progress` gets 0 to 1; `cancelled` is polled between
// packets. The reason of a failure goes to `error`, how it was made to
// `path` when given.
RenderStatus renderItem(const std::string& source, double from, double to,
                        const std::string& target, const RenderSettings& settings,
                        const std::function<void(double)>& progress,
                        const std::atomic<bool>& cancelled, std::string& error,
                        RenderPath* path = nullptr);

// renderItem as a publish job takes it (publish::Renderer): false when it
// failed (why in `error`) or was cancelled.
bool renderForPublish(const QString& source, double from, double to, const QString& target,
                      int maxHeight, int bitRateKbps, const std::function<void(double)>& progress,
                      const std::atomic<bool>& cancelled, QString* error);

} // namespace publish
