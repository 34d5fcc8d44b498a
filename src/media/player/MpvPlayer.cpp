#include "player/MpvPlayer.h"

#include <QMetaObject>
#include <QPointer>
#include <algorithm>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "platform/SystemLog.h"
#include "player/MpvReplies.h"

using namespace mpvreplies;

namespace {

int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void setOption(mpv_handle* mpv, const std::string& name, const std::string& value) {
    if (const int err = mpv_set_option_string(mpv, name.c_str(), value.c_str()); err < 0)
        systemLog("mpv option " + name + "=" + value + ": " + mpv_error_string(err));
}

} // namespace

MpvPlayer::MpvPlayer(const std::map<std::string, std::string>& extraOptions, QObject* parent)
    : QObject(parent) {
    // mpv refuses to start unless numbers are formatted the C way.
    std::setlocale(LC_NUMERIC, "C");
    mpv_ = mpv_create();
    if (!mpv_) {
        error_ = "The video player could not be created.";
        systemLog(error_);
        return;
    }
    const std::pair<const char*, const char*> fixed[] = {
        {"vo", "libmpv"},
        {"keep-open", "yes"}, // pause at the end instead of closing the file
        {"hr-seek", "yes"},
        // Without it exact seeks in MPEG-TS land on the next key frame.
        {"hr-seek-demuxer-offset", "2.5"},
        {"load-scripts", "no"},
        {"ytdl", "no"},
        {"config", "no"},
        {"input-default-bindings", "no"},
        {"input-vo-keyboard", "no"},
        {"osc", "no"},
        {"terminal", "no"},
        {"idle", "yes"},
        {"load-unsafe-playlists", "no"},
        {"audio-fallback-to-null", "yes"},
        // A frame is handed over at its time, not 50 ms early for the render
        // call to wait out: that wait would be the GUI thread's.
        {"video-timing-offset", "0"},
        // Every container counts from its start. mpv rebases only what it
        // knows the start of, and it knows MP4's only when it probes the
        // streams as for MPEG-TS.
        {"rebase-start-time", "yes"},
        {"demuxer-lavf-probe-info", "yes"},
    };
    for (const auto& [name, value] : fixed)
        setOption(mpv_, name, value);
    for (const auto& [name, value] : extraOptions)
        setOption(mpv_, name, value);
    if (const int err = mpv_initialize(mpv_); err < 0) {
        error_ = std::string("動画プレーヤーを起動できません（") + mpv_error_string(err) + "）";
        systemLog(error_);
        mpv_terminate_destroy(mpv_);
        mpv_ = nullptr;
        return;
    }
    mpv_set_wakeup_callback(
        mpv_,
        [](void* self) {
            // mpv's thread: only note the time and post; the GUI thread drains.
            auto* player = static_cast<MpvPlayer*>(self);
            int64_t none = 0;
            player->firstWake_.compare_exchange_strong(none, steadyNs());
            QMetaObject::invokeMethod(player, &MpvPlayer::drainEvents, Qt::QueuedConnection);
        },
        this);

    mpv_observe_property(mpv_, ObsTime, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(mpv_, ObsDuration, "duration", MPV_FORMAT_DOUBLE);
    mpv_observe_property(mpv_, ObsPause, "pause", MPV_FORMAT_FLAG);
    mpv_observe_property(mpv_, ObsSpeed, "speed", MPV_FORMAT_DOUBLE);
    mpv_observe_property(mpv_, ObsEof, "eof-reached", MPV_FORMAT_FLAG);
    mpv_observe_property(mpv_, ObsVid, "vid", MPV_FORMAT_INT64);
    mpv_observe_property(mpv_, ObsFps, "container-fps", MPV_FORMAT_DOUBLE);

    observerTimer_.setInterval(1000);
    connect(&observerTimer_, &QTimer::timeout, this, [this] {
        if (loaded_)
            notifyObservers();
    });
}

MpvPlayer::~MpvPlayer() {
    if (mpv_) {
        mpv_set_wakeup_callback(mpv_, nullptr, nullptr);
        mpv_terminate_destroy(mpv_);
    }
}

std::string MpvPlayer::propertyText(const char* name) const {
    if (!mpv_)
        return {};
    char* text = mpv_get_property_string(mpv_, name);
    if (!text)
        return {};
    std::string result(text);
    mpv_free(text);
    return result;
}

double MpvPlayer::propertyDouble(const char* name, double fallback) const {
    double value = 0;
    if (!mpv_ || mpv_get_property(mpv_, name, MPV_FORMAT_DOUBLE, &value) < 0)
        return fallback;
    return value;
}

bool MpvPlayer::paused() const {
    const Setter& s = setters_[SetPause];
    return s.pending() ? s.wanted != 0.0 : observedPause_;
}

bool MpvPlayer::atEnd() const {
    return loaded_ && observedEof_ && !eofStale_ && !seekTarget_;
}

double MpvPlayer::currentTime() const {
    if (!loaded_)
        return 0.0;
    if (seekTarget_)
        return *seekTarget_;
    if (atEnd()) {
        const double d = fileDuration();
        if (!std::isnan(d))
            return d;
    }
    return std::isnan(observedTime_) ? 0.0 : observedTime_;
}

double MpvPlayer::fileDuration() const {
    return loaded_ ? observedDuration_ - durationShift_ : NAN;
}

double MpvPlayer::duration() const {
    const double read = fileDuration();
    if (!isGrowing() || !std::isfinite(growingEdge_))
        return read;
    return std::isnan(read) ? growingEdge_ : std::max(read, growingEdge_);
}

void MpvPlayer::setGrowingFile(const std::string& path, double edge) {
    growingPath_ = path;
    growingEdge_ = path.empty() ? NAN : edge;
}

bool MpvPlayer::isGrowing() const {
    return loaded_ && !growingPath_.empty() && path_ == growingPath_;
}

float MpvPlayer::rate() const {
    if (!loaded_ || paused() || atEnd())
        return 0.0f;
    const Setter& s = setters_[SetSpeed];
    return static_cast<float>(s.pending() ? s.wanted : observedSpeed_);
}

double MpvPlayer::playbackClock() const {
    const double t = currentTime();
    const float speed = rate();
    if (speed == 0.0f || seekTarget_ || std::isnan(observedTime_) || observedPause_ ||
        observedTimeAt_ == 0)
        return t;
    // Within the frame last reported: a late picture holds its instant, and
    // what follows the clock must not run ahead of what is shown.
    const double frame = observedFps_ > 0.0 ? 1.0 / observedFps_ : 0.04;
    const double age = std::max(0.0, (steadyNs() - observedTimeAt_) / 1e9);
    return t + std::min(age * speed, 0.999 * frame);
}

void MpvPlayer::playImmediatelyAtRate(float rate) {
    if (!loaded_)
        return;
    set(SetSpeed, rate);
    set(SetPause, 0);
    emit rateRequested(rate);
}

void MpvPlayer::pause() {
    if (!mpv_)
        return;
    set(SetPause, 1);
    emit rateRequested(0.0);
}

void MpvPlayer::setVolume(float volume) {
    volume_ = volume;
    if (mpv_)
        set(SetVolume, static_cast<double>(volume) * 100.0);
}

void MpvPlayer::setVideoTrack(int64_t track) {
    if (mpv_ && track > 0)
        set(SetVid, static_cast<double>(track));
}

void MpvPlayer::set(SetterIndex index, double value) {
    Setter& s = setters_[index];
    s.wanted = value;
    if (s.inFlight)
        s.queued = true;
    else
        sendSetter(index);
}

void MpvPlayer::sendSetter(SetterIndex index) {
    Setter& s = setters_[index];
    int flag = s.wanted != 0.0;
    double number = s.wanted;
    int64_t integer = static_cast<int64_t>(s.wanted);
    void* data = s.format == MPV_FORMAT_FLAG    ? static_cast<void*>(&flag)
                 : s.format == MPV_FORMAT_INT64 ? static_cast<void*>(&integer)
                                                : static_cast<void*>(&number);
    s.queued = false;
    if (const int err =
            mpv_set_property_async(mpv_, reply(ReplySet, index, 0), s.name, s.format, data);
        err < 0) {
        systemLog(std::string("mpv ") + s.name + ": " + mpv_error_string(err));
        return;
    }
    s.inFlight = true;
}

void MpvPlayer::seekExact(double seconds) {
    seekTo(seconds, true);
}

void MpvPlayer::seekFast(double seconds) {
    seekTo(seconds, false);
}

void MpvPlayer::seekTo(double seconds, bool exact) {
    if (!loaded_ || std::isnan(seconds))
        return;
    seekTarget_ = seconds;
    seekExact_ = exact;
    ++seekGeneration_;
    eofStale_ = true;
    if (seekInFlight_)
        seekQueued_ = true;
    else
        sendSeek();
    emit seekRequested(seconds, exact);
}

void MpvPlayer::sendSeek() {
    const std::string target = std::to_string(*seekTarget_);
    // The flag overrides hr-seek=yes for the key frame seeks.
    const char* cmd[] = {"seek", target.c_str(),
                         seekExact_ ? "absolute+exact" : "absolute+keyframes", nullptr};
    seekQueued_ = false;
    if (const int err = mpv_command_async(mpv_, reply(ReplySeek, 0, seekGeneration_), cmd);
        err < 0) {
        systemLog(std::string("seek: ") + mpv_error_string(err));
        seekTarget_.reset();
        return;
    }
    seekInFlight_ = true;
}

void MpvPlayer::seekToZero() {
    seekExact(0.0);
}

void MpvPlayer::addPeriodicTimeObserver(std::function<void(double)> block) {
    observers_.push_back(std::move(block));
    observerTimer_.start();
}

void MpvPlayer::notifyObservers() {
    const double t = currentTime();
    for (auto& block : observers_)
        block(t);
}

void MpvPlayer::replaceCurrentItem(const std::string& path, std::function<void(bool)> done) {
    // A pending open that is superseded is answered as failed.
    if (auto previous = std::move(done_)) {
        done_ = nullptr;
        previous(false);
    }
    done_ = std::move(done);
    loaded_ = false;
    error_.clear();
    path_ = path;
    pendingPath_ = path;
    ++loadGeneration_;
    loadingEntry_ = -1;
    loadFileLoaded_ = false;
    loadRestarted_ = false;
    seekTarget_.reset();
    seekQueued_ = false;
    if (!mpv_) {
        fail("動画プレーヤーを使えません。");
        return;
    }
    // mpv would open a folder as a playlist of whatever it holds.
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) {
        fail(path + ": ファイルがありません");
        return;
    }
    if (std::filesystem::is_directory(status)) {
        fail(path + ": フォルダーです。動画ファイルを選んでください");
        return;
    }
    startPendingLoad();
}

void MpvPlayer::setRenderContextReady(bool ready) {
    renderReady_ = ready;
    if (ready)
        startPendingLoad();
}

void MpvPlayer::startPendingLoad() {
    if (pendingPath_.empty() || !renderReady_ || !mpv_)
        return;
    const std::string path = std::move(pendingPath_);
    pendingPath_.clear();
    // Opened paused on its first frame: mpv is then free to answer at once,
    // and playing starts when asked.
    set(SetPause, 1);
    // A file being written is read through mpv's appending stream: at its
    // current end mpv waits for more instead of ending the file there.
    const std::string url = path == growingPath_ ? "appending://" + path : path;
    const char* cmd[] = {"loadfile", url.c_str(), "replace", nullptr};
    if (const int err = mpv_command_async(mpv_, reply(ReplyLoad, 0, loadGeneration_), cmd); err < 0)
        fail(path + ": " + unreadable(err));
}

void MpvPlayer::fail(const std::string& reason) {
    loaded_ = false;
    error_ = reason;
    path_.clear();
    pendingPath_.clear();
    loadingEntry_ = -1;
    loadFileLoaded_ = false;
    loadRestarted_ = false;
    ++loadGeneration_; // replies still on their way are for nothing now
    systemLog(reason);
    // Report from the event loop, as an open that failed inside mpv does.
    QMetaObject::invokeMethod(
        this,
        [self = QPointer<MpvPlayer>(this), reason] {
            if (!self)
                return;
            emit self->loadFailed(QString::fromStdString(reason));
            if (auto done = std::move(self->done_)) {
                self->done_ = nullptr;
                done(false);
            }
        },
        Qt::QueuedConnection);
}
