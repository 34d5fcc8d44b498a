#include "export/ClipExportSession.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <sys/resource.h>

#include "export/AngleCompose.h"
#include "export/ExportParts.h"

using namespace exportparts;

namespace {

double seconds(int64_t ms) {
    return ms / 1000.0;
}
double endSeconds(int64_t ms) {
    return ms > 0 ? ms / 1000.0 : std::numeric_limits<double>::infinity();
}

// Shares of the whole job, one per range, by the length each range covers
// times the parts it makes; range i is of input(i).
std::vector<double> weights(const std::function<const Input&(size_t)>& input,
                            const std::vector<std::pair<int64_t, int64_t>>& r,
                            const std::function<double(size_t)>& parts) {
    std::vector<double> w;
    double total = 0;
    for (size_t i = 0; i < r.size(); ++i) {
        const auto& [s, e] = r[i];
        const Input& in = input(i);
        const double a = in.fileTime(seconds(s));
        const double b =
            std::min(std::isinf(endSeconds(e)) ? in.end() : in.fileTime(seconds(e)), in.end());
        const double span = std::isfinite(b - a) ? std::max(1e-3, b - a) : 1.0;
        w.push_back(span * parts(i));
        total += w.back();
    }
    for (double& x : w)
        x /= total;
    return w;
}

// Makes room for `count` more open files: a desktop session starts with a soft
// limit of 1024, which the process may raise up to its hard limit.
void roomForOpenFiles(size_t count) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return;
    const auto open = static_cast<rlim_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
    const rlim_t wanted = open + static_cast<rlim_t>(count) + 64;
    if (limit.rlim_cur >= wanted)
        return;
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

} // namespace

ClipExportSession::ClipExportSession(std::string inputPath) : input_(std::move(inputPath)) {
    // Errors are reported through errorText(); the encoders' chatter is not
    // for the user's terminal.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });
}

ClipExportSession::~ClipExportSession() {
    cancel();
    if (worker_.joinable())
        worker_.join();
}

void ClipExportSession::setTimeRange(int64_t startMs, int64_t endMs) {
    ranges_ = {{startMs, endMs}};
    sources_.clear();
}

void ClipExportSession::setSourcedRanges(std::vector<SourcedRange> ranges) {
    ranges_.clear();
    sources_.clear();
    for (SourcedRange& r : ranges) {
        ranges_.emplace_back(r.startMs, r.endMs);
        sources_.push_back(std::move(r.source));
    }
}

void ClipExportSession::cancel() {
    cancelled_.store(true);
}

std::string ClipExportSession::errorText() const {
    std::lock_guard lock(errorMutex_);
    return error_;
}

void ClipExportSession::throwIfCancelled() const {
    if (cancelled_.load())
        throw ExportError{"cancelled"};
}

void ClipExportSession::fail(const std::string& reason) {
    std::lock_guard lock(errorMutex_);
    error_ = reason;
}

void ClipExportSession::exportAsynchronously(std::function<void()> completion) {
    if (worker_.joinable())
        return;
    completion_ = std::move(completion);
    status_.store(Waiting, std::memory_order_release);
    worker_ = std::thread([this] {
        run();
        if (completion_)
            completion_();
    });
}

void ClipExportSession::setTimeRanges(std::vector<std::pair<int64_t, int64_t>> rangesMs) {
    ranges_ = std::move(rangesMs);
    sources_.clear();
}

void ClipExportSession::setSeparateOutputs(std::vector<std::string> paths) {
    separate_ = std::move(paths);
}

void ClipExportSession::run() {
    status_.store(Exporting, std::memory_order_release);
    try {
        if (outputFileType != "mp4")
            throw ExportError{"MPEG-4 にしか書き出せません。"};
        if (ranges_.empty())
            throw ExportError{"書き出す範囲がありません。"};
        if (separate_.empty())
            writeJoined();
        else
            writeSeparate();
        progress_.store(1.0f);
        status_.store(Completed, std::memory_order_release);
    } catch (const ExportError& e) {
        if (cancelled_.load()) {
            status_.store(Cancelled, std::memory_order_release);
        } else {
            fail(e.text);
            status_.store(Failed, std::memory_order_release);
        }
    } catch (const std::exception& e) {
        fail(e.what());
        status_.store(Failed, std::memory_order_release);
    }
}

ClipExportSession::Inputs ClipExportSession::openInputs() const {
    // Each video opened once, however its ranges alternate with others'.
    Inputs inputs;
    for (size_t i = 0; i < ranges_.size(); ++i) {
        const std::string& path = i < sources_.size() ? sources_[i] : input_;
        std::unique_ptr<Input>& in = inputs.open[path];
        if (!in) {
            throwIfCancelled();
            in = std::make_unique<Input>(path);
        }
        inputs.ofRange.push_back(in.get());
    }
    return inputs;
}

// The ranges back to back into one file (a clip is one range).
void ClipExportSession::writeJoined() {
    Inputs inputs = openInputs();
    Output out(outputURL, shouldOptimizeForNetworkUse);
    VideoPath video(pictureOf(0, inputs), out, videoSettings(inputs));
    AudioPath audio(*inputs.ofRange.front(), out);
    out.writeHeader();
    const std::vector<double> share = shares(inputs);
    double done = 0;
    for (size_t i = 0; i < ranges_.size(); ++i) {
        cutRange(i, inputs, video, audio, [&](double p) {
            progress_.store(static_cast<float>(done + share[i] * p), std::memory_order_relaxed);
        });
        done += share[i];
    }
    if (video.frames() == 0)
        throw ExportError{"範囲に映像がありません（動画の終わりより後など）。"};
    video.finish();
    audio.finish();
    out.finish();
    // A cancel that came during the last steps still wins: nothing appears.
    throwIfCancelled();
    out.commit();
}

// Each range into its own file; all are renamed into place at the end, so a
// failure leaves none of them.
void ClipExportSession::writeSeparate() {
    if (separate_.size() != ranges_.size())
        throw ExportError{"範囲ごとに書き出すファイルの名前が必要です。"};
    // Each finished file keeps its temporary file open (and locked) until all
    // are renamed.
    roomForOpenFiles(separate_.size());
    Inputs inputs = openInputs();
    const std::vector<double> share = shares(inputs);
    std::vector<std::unique_ptr<Output>> files;
    double done = 0;
    for (size_t i = 0; i < ranges_.size(); ++i) {
        Input& in = *inputs.ofRange[i];
        auto out = std::make_unique<Output>(separate_[i], shouldOptimizeForNetworkUse);
        VideoPath video(pictureOf(i, inputs), *out, videoSettings(inputs));
        AudioPath audio(in, *out);
        out->writeHeader();
        cutRange(i, inputs, video, audio, [&](double p) {
            progress_.store(static_cast<float>(done + share[i] * p), std::memory_order_relaxed);
        });
        if (video.frames() == 0)
            throw ExportError{"範囲に映像がありません（動画の終わりより後など）。\nファイル: " +
                              separate_[i]};
        video.finish();
        audio.finish();
        out->finish();
        files.push_back(std::move(out));
        done += share[i];
    }
    throwIfCancelled();
    for (auto& f : files)
        f->commit();
}

void ClipExportSession::setAngles(AngleExportChoice choice) {
    if (choice.layout == AngleExport::Main)
        angles_.reset();
    else
        angles_ = std::make_unique<AngleCutter>(std::move(choice));
}

const std::string& ClipExportSession::sourceOf(size_t range) const {
    return range < sources_.size() ? sources_[range] : input_;
}

Input& ClipExportSession::pictureOf(size_t range, const Inputs& inputs) {
    Input& main = *inputs.ofRange[range];
    return angles_ ? angles_->pictureInput(sourceOf(range), main) : main;
}

VideoSettings ClipExportSession::videoSettings(const Inputs& inputs) const {
    const VideoSettings base{videoPreset, videoThreads};
    return angles_ ? angles_->settings(*inputs.ofRange.front(), base) : base;
}

std::vector<double> ClipExportSession::shares(const Inputs& inputs) {
    return weights(
        [&](size_t i) -> const Input& { return *inputs.ofRange[i]; }, ranges_,
        [&](size_t i) { return angles_ ? static_cast<double>(angles_->parts(sourceOf(i))) : 1.0; });
}

void ClipExportSession::cutRange(size_t range, const Inputs& inputs, VideoPath& video,
                                 AudioPath& audio, const std::function<void(double)>& progress) {
    Input& main = *inputs.ofRange[range];
    const double start = seconds(ranges_[range].first), end = endSeconds(ranges_[range].second);
    if (angles_)
        angles_->cut(sourceOf(range), main, video, audio, start, end, cancelled_, progress);
    else
        cutPiece(main, video, audio, start, end, cancelled_, progress);
}
