#pragma once

#include <atomic>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "export/AngleExport.h"

namespace exportparts {
class AngleCutter;
class AudioPath;
class Input;
class VideoPath;
struct VideoSettings;
} // namespace exportparts

// Cuts time ranges out of a video file into new MPEG-4 files (H.264 and
// AAC), frame-exact, on a worker thread: one range (a clip), several back to
// back into one file (a highlight), or each range into its own file. Times are
// those the player shows: seconds from the start of the file, whatever clock
// the file's streams use.
class ClipExportSession {
public:
    enum Status {
        Unknown = 0,
        Waiting = 1,
        Exporting = 2,
        Completed = 3,
        Failed = 4,
        Cancelled = 5
    };

    explicit ClipExportSession(std::string inputPath);
    ~ClipExportSession(); // cancels a running export and waits for it

    std::string outputURL;
    bool shouldOptimizeForNetworkUse = true; // the index before the media data
    std::string outputFileType = "mp4";
    // The range in milliseconds; an end of 0 means the end of the streams.
    void setTimeRange(int64_t startMs, int64_t endMs);
    // Several ranges, written back to back in this order.
    void setTimeRanges(std::vector<std::pair<int64_t, int64_t>> rangesMs);
    // A range of a video file named with it.
    struct SourcedRange {
        std::string source;
        int64_t startMs = 0, endMs = 0;
    };
    // Ranges of several videos back to back into one file (the input given
    // to the constructor unused). The picture takes the first video's size
    // and frame rate, the sound its sample rate and channels.
    void setSourcedRanges(std::vector<SourcedRange> ranges);
    // Each range into its own file instead (outputURL unused); the files
    // appear only when all of them are complete.
    void setSeparateOutputs(std::vector<std::string> paths);
    // The moments shown from the match's angles (Main, the default, leaves
    // them out); the sound stays the main video's.
    void setAngles(AngleExportChoice choice);
    // x264 preset (speed against size; quality is fixed by CRF 18).
    // The fastest preset that still writes High profile (ultrafast falls back
    // to Constrained Baseline) and keeps every frame above 40 dB PSNR.
    std::string videoPreset = "superfast";
    // Threads of the H.264 encoder; 0 lets x264 choose (one and a half per
    // core).
    int videoThreads = 0;

    // Starts the export; `completion` runs on the worker thread once the
    // export has ended, whatever the outcome.
    void exportAsynchronously(std::function<void()> completion);
    // Stops a running export: whatever it was writing goes, and a file that
    // was at the target before stays as it was.
    void cancel();

    Status status() const { return status_.load(std::memory_order_acquire); }
    // 0 to 1; safe to read from any thread at any time.
    float progress() const { return progress_.load(std::memory_order_relaxed); }
    // Why the export failed (a file system's failure in the user's words, an
    // encoder's in FFmpeg's); empty otherwise.
    std::string errorText() const;

private:
    struct Inputs {
        std::map<std::string, std::unique_ptr<exportparts::Input>> open;
        std::vector<exportparts::Input*> ofRange;
    };
    Inputs openInputs() const;
    const std::string& sourceOf(size_t range) const;
    // The input whose picture sets the size and rate of a file starting with
    // `range`, and the encoder's settings for it.
    exportparts::Input& pictureOf(size_t range, const Inputs& inputs);
    exportparts::VideoSettings videoSettings(const Inputs& inputs) const;
    std::vector<double> shares(const Inputs& inputs);
    void cutRange(size_t range, const Inputs& inputs, exportparts::VideoPath& video,
                  exportparts::AudioPath& audio, const std::function<void(double)>& progress);
    void run();
    void writeJoined();
    void writeSeparate();
    void fail(const std::string& reason);
    void throwIfCancelled() const;

    std::string input_;
    std::vector<std::pair<int64_t, int64_t>> ranges_{{0, 0}};
    std::vector<std::string> sources_; // per range, when set; else input_
    std::vector<std::string> separate_;
    std::unique_ptr<exportparts::AngleCutter> angles_;
    std::atomic<Status> status_{Unknown};
    std::atomic<float> progress_{0.0f};
    std::atomic<bool> cancelled_{false};
    mutable std::mutex errorMutex_;
    std::string error_;
    std::function<void()> completion_;
    std::thread worker_;
};
