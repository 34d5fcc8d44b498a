#include "live/LiveRecorder.h"

#include <ctime>
#include <deque>
#include <filesystem>
#include <mutex>
#include <sys/statvfs.h>
#include <thread>

#include "live/LiveFiles.h"
#include "live/LiveStream.h"

using namespace live;

QString liveStateText(LiveState state) {
    switch (state) {
    case LiveState::Connecting:
        return QStringLiteral("接続中");
    case LiveState::Recording:
        return QStringLiteral("収録中");
    case LiveState::NoSignal:
        return QStringLiteral("信号なし");
    case LiveState::Reconnecting:
        return QStringLiteral("再接続中");
    case LiveState::Stopped:
        return QStringLiteral("停止");
    case LiveState::Failed:
        return QStringLiteral("失敗");
    }
    return {};
}

namespace {

int64_t freeBytesFor(const std::string& file) {
    std::filesystem::path folder = std::filesystem::path(file).parent_path();
    struct statvfs fs {};
    if (::statvfs(folder.empty() ? "." : folder.c_str(), &fs) != 0)
        return -1;
    return static_cast<int64_t>(fs.f_bavail) * static_cast<int64_t>(fs.f_frsize);
}

std::string isoNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// How one connection to the source ended.
enum class SessionEnd { Stopped, Dropped, Ended, WriteFailed };

constexpr int64_t kUnset = INT64_MIN;

// Where one stream's clock sits on the recording's (microseconds to add), and
// its latest time there.
struct StreamClock {
    int64_t offset = kUnset;
    int64_t last = kUnset;
};

// The offset for a packet of `own`'s stream at `us` on the source's clock:
// its stream's while that holds. After a leap (back in time, or on past the
// wall clock: a splice, an encoder restarted, a clock wrapped) the other
// stream's when that holds, so sound and picture that leap together stay
// together; else the wall clock `now`. A connection's first packet goes at
// `anchor`, which it uses up.
int64_t placeOn(StreamClock& own, const StreamClock& other, int64_t us, int64_t now,
                int64_t& anchor) {
    const auto holds = [&](int64_t offset) {
        return offset != kUnset && us + offset >= own.last && us + offset <= now + 3'000'000;
    };
    if (!holds(own.offset)) {
        own.offset = holds(other.offset) ? other.offset : (anchor != kUnset ? anchor : now) - us;
        anchor = kUnset;
    }
    own.last = us + own.offset;
    return own.offset;
}

} // namespace

class LiveRecorderWorker {
public:
    LiveRecorderWorker(LiveRecorder* owner, LiveSource source, std::string path)
        : owner_(owner), source_(std::move(source)), path_(std::move(path)) {}

    void run() {
        std::string message;
        const bool ok = record(message);
        setState(ok ? LiveState::Stopped : LiveState::Failed, message);
        emit owner_->finished(ok, QString::fromStdString(message));
    }

    std::atomic<bool> stop{false};
    std::thread thread;
    mutable std::mutex mutex;
    LiveStatus status;
    std::vector<LiveGap> gaps;

private:
    bool record(std::string& message);
    SessionEnd readSession(AVFormatContext* in, LiveOutput& output, Interrupt& interrupt,
                           int64_t anchorUs);
    void publish(const LiveOutput& output, bool force);
    void noteGap(double from, double to);

    int64_t wallUs() const {
        return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start_).count();
    }
    void setState(LiveState state, const std::string& message = {}, double noSignalSince = -1) {
        {
            std::lock_guard lock(mutex);
            status.state = state;
            status.message = message;
            status.noSignalSince = noSignalSince;
        }
        emit owner_->statusChanged();
    }
    void pause(std::chrono::milliseconds total) {
        for (auto end = Clock::now() + total; !stop && Clock::now() < end;)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    LiveRecorder* owner_;
    LiveSource source_;
    std::string path_;
    std::string started_;
    Clock::time_point start_ = Clock::now();
    Clock::time_point lastPublish_{}, lastDisk_{};
    std::deque<std::pair<Clock::time_point, int64_t>> window_;
};

bool LiveRecorderWorker::record(std::string& message) {
    LiveOutput output;
    bool opened = false;
    double gapFrom = -1; // the signal went at this video time
    for (int attempt = 0; !stop; ++attempt) {
        Interrupt interrupt{&stop, Clock::now() + std::chrono::seconds(5)};
        InputPtr in;
        Clock::time_point firstData;
        const int err = openLiveInput(source_, interrupt, in, firstData);
        if (err < 0) {
            if (!opened && !worthRetrying(err)) {
                message = "入力を開けません: " + source_.url + " (" + avErrorText(err) + ")";
                return false;
            }
            if (gapFrom >= 0 && attempt > 0)
                setState(LiveState::Reconnecting, {}, gapFrom);
            pause(std::chrono::milliseconds(300));
            continue;
        }
        if (!opened) {
            start_ = firstData;
            started_ = isoNow();
            if (!output.open(path_, in.get(), bestStream(in.get(), AVMEDIA_TYPE_VIDEO),
                             bestStream(in.get(), AVMEDIA_TYPE_AUDIO), message))
                return false;
            opened = true;
            noteGap(-1, -1);
        }
        const int64_t anchor =
            gapFrom < 0
                ? 0
                : std::chrono::duration_cast<std::chrono::microseconds>(firstData - start_).count();
        if (gapFrom >= 0)
            noteGap(gapFrom, anchor / 1e6);
        setState(LiveState::Recording);
        const SessionEnd end = readSession(in.get(), output, interrupt, anchor);
        if (end == SessionEnd::WriteFailed) {
            message = output.error();
            output.finish();
            return false;
        }
        if (end != SessionEnd::Dropped)
            break;
        gapFrom = output.endSeconds(); // the hole begins where the last picture ends
        setState(LiveState::NoSignal, {}, gapFrom);
        attempt = -1;
    }
    if (!opened) { // stopped before the source ever answered
        message = "入力から信号が一度も届きませんでした: " + source_.url;
        return false;
    }
    const bool ok = output.finish();
    publish(output, true);
    if (!ok)
        message = "収録ファイルを閉じられません";
    return ok;
}

SessionEnd LiveRecorderWorker::readSession(AVFormatContext* in, LiveOutput& output,
                                           Interrupt& interrupt, int64_t anchorUs) {
    const int video = bestStream(in, AVMEDIA_TYPE_VIDEO);
    const int audio = bestStream(in, AVMEDIA_TYPE_AUDIO);
    // A source generated in this process runs as fast as it can: it is held
    // to the clock, as a camera would be.
    const bool paced = source_.format == "lavfi";
    bool keySeen = video < 0;
    StreamClock clocks[2]; // video, audio
    std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet(av_packet_alloc(),
                                                          [](AVPacket* p) { av_packet_free(&p); });
    while (!stop) {
        interrupt.deadline = Clock::now() + std::chrono::seconds(1);
        const int r = av_read_frame(in, packet.get());
        if (r < 0)
            return stop ? SessionEnd::Stopped
                   : r == AVERROR_EOF && source_.url.find("://") == std::string::npos
                       ? SessionEnd::Ended
                       : SessionEnd::Dropped;
        const int index = packet->stream_index;
        const bool isVideo = index == video;
        // Nothing before the first key frame: it could not be shown.
        if (isVideo && !keySeen)
            keySeen = packet->flags & AV_PKT_FLAG_KEY;
        if ((!isVideo && index != audio) || !keySeen) {
            av_packet_unref(packet.get());
            continue;
        }
        const AVRational tb = in->streams[index]->time_base;
        const int64_t t = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
        StreamClock& own = clocks[isVideo ? 0 : 1];
        const int64_t now = wallUs();
        const int64_t us = t != AV_NOPTS_VALUE    ? av_rescale_q(t, tb, AV_TIME_BASE_Q)
                           : own.offset != kUnset ? now - own.offset
                                                  : now;
        const int64_t offset = placeOn(own, clocks[isVideo ? 1 : 0], us, now, anchorUs);
        if (const int64_t early = us + offset - wallUs(); paced && early > 0)
            std::this_thread::sleep_for(
                std::chrono::microseconds(std::min<int64_t>(early, 1'000'000)));
        const bool ok = output.write(packet.get(), isVideo, tb, offset);
        av_packet_unref(packet.get());
        if (!ok)
            return SessionEnd::WriteFailed;
        publish(output, false);
    }
    return SessionEnd::Stopped;
}

void LiveRecorderWorker::publish(const LiveOutput& output, bool force) {
    const auto now = Clock::now();
    if (!force && now - lastPublish_ < std::chrono::milliseconds(250))
        return;
    lastPublish_ = now;
    const int64_t bytes = output.bytes();
    window_.emplace_back(now, bytes);
    while (window_.size() > 2 && now - window_.front().first > std::chrono::seconds(10))
        window_.pop_front();
    const double span = std::chrono::duration<double>(now - window_.front().first).count();
    const bool disk = now - lastDisk_ > std::chrono::seconds(1);
    if (disk)
        lastDisk_ = now;
    const int64_t free = disk ? freeBytesFor(path_) : -2;
    {
        std::lock_guard lock(mutex);
        status.edge = output.edgeSeconds();
        status.bytes = bytes;
        status.encoding = output.encoding();
        if (span > 0.5)
            status.bytesPerSecond = (bytes - window_.front().second) / span;
        if (free != -2)
            status.freeBytes = free;
        status.minutesLeft = status.freeBytes >= 0 && status.bytesPerSecond > 0
                                 ? status.freeBytes / status.bytesPerSecond / 60.0
                                 : -1;
    }
    emit owner_->statusChanged();
}

void LiveRecorderWorker::noteGap(double from, double to) {
    std::vector<LiveGap> all;
    {
        std::lock_guard lock(mutex);
        if (from >= 0)
            gaps.push_back({from, to});
        all = gaps;
    }
    writeLiveSidecar(path_, all, started_, source_.url);
    if (from >= 0)
        emit owner_->gapsChanged();
}

LiveRecorder::LiveRecorder(LiveSource source, std::string outputTs, QObject* parent)
    : QObject(parent), output_(std::move(outputTs)),
      worker_(std::make_unique<LiveRecorderWorker>(this, std::move(source), output_)) {}

LiveRecorder::~LiveRecorder() {
    stop();
    if (worker_->thread.joinable())
        worker_->thread.join();
}

void LiveRecorder::start() {
    if (!worker_->thread.joinable())
        worker_->thread = std::thread([w = worker_.get()] { w->run(); });
}

void LiveRecorder::stop() {
    worker_->stop = true;
}

LiveStatus LiveRecorder::status() const {
    std::lock_guard lock(worker_->mutex);
    return worker_->status;
}

std::vector<LiveGap> LiveRecorder::gaps() const {
    std::lock_guard lock(worker_->mutex);
    return worker_->gaps;
}

const std::string& LiveRecorder::output() const {
    return output_;
}
