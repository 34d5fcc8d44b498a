#include "Media/MpvPlayer.h"

#include <QMetaObject>
#include <QPointer>
#include <clocale>
#include <cmath>
#include <filesystem>

#include "SubModuleClass/SystemLog.h"

namespace {

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
    };
    for (const auto& [name, value] : fixed)
        setOption(mpv_, name, value);
    for (const auto& [name, value] : extraOptions)
        setOption(mpv_, name, value);
    if (const int err = mpv_initialize(mpv_); err < 0) {
        error_ = std::string("The video player could not start: ") + mpv_error_string(err);
        systemLog(error_);
        mpv_terminate_destroy(mpv_);
        mpv_ = nullptr;
        return;
    }
    mpv_set_wakeup_callback(
        mpv_,
        [](void* self) {
            // mpv's thread: only post; the GUI thread drains.
            QMetaObject::invokeMethod(static_cast<MpvPlayer*>(self), &MpvPlayer::drainEvents,
                                      Qt::QueuedConnection);
        },
        this);

    mpv_observe_property(mpv_, 0, "eof-reached", MPV_FORMAT_FLAG);

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

double MpvPlayer::currentTime() const {
    if (!loaded_)
        return 0.0;
    int eof = 0;
    if (mpv_get_property(mpv_, "eof-reached", MPV_FORMAT_FLAG, &eof) >= 0 && eof) {
        const double d = duration();
        if (!std::isnan(d))
            return d;
    }
    return propertyDouble("time-pos", 0.0);
}

double MpvPlayer::duration() const {
    return loaded_ ? propertyDouble("duration") : NAN;
}

float MpvPlayer::rate() const {
    if (!loaded_)
        return 0.0f;
    int paused = 1, eof = 0;
    mpv_get_property(mpv_, "pause", MPV_FORMAT_FLAG, &paused);
    mpv_get_property(mpv_, "eof-reached", MPV_FORMAT_FLAG, &eof);
    if (paused || eof)
        return 0.0f;
    return static_cast<float>(propertyDouble("speed", 1.0));
}

void MpvPlayer::playImmediatelyAtRate(float rate) {
    if (!loaded_)
        return;
    double speed = rate;
    mpv_set_property(mpv_, "speed", MPV_FORMAT_DOUBLE, &speed);
    int paused = 0;
    mpv_set_property(mpv_, "pause", MPV_FORMAT_FLAG, &paused);
}

void MpvPlayer::pause() {
    if (!mpv_)
        return;
    int paused = 1;
    mpv_set_property(mpv_, "pause", MPV_FORMAT_FLAG, &paused);
}

void MpvPlayer::seekExact(double seconds) {
    if (!loaded_ || std::isnan(seconds))
        return;
    const std::string target = std::to_string(seconds);
    const char* cmd[] = {"seek", target.c_str(), "absolute+exact", nullptr};
    if (const int err = mpv_command(mpv_, cmd); err < 0)
        systemLog(std::string("seek: ") + mpv_error_string(err));
}

void MpvPlayer::seekToZero() {
    seekExact(0.0);
}

void MpvPlayer::setVolume(float volume) {
    volume_ = volume;
    if (!mpv_)
        return;
    double percent = static_cast<double>(volume) * 100.0;
    mpv_set_property(mpv_, "volume", MPV_FORMAT_DOUBLE, &percent);
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
    if (!mpv_) {
        fail("The video player is not available.");
        return;
    }
    // mpv would open a folder as a playlist of whatever it holds.
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) {
        fail(path + ": No such file");
        return;
    }
    if (std::filesystem::is_directory(status)) {
        fail(path + ": Is a directory");
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
    const char* cmd[] = {"loadfile", path.c_str(), "replace", nullptr};
    if (const int err = mpv_command(mpv_, cmd); err < 0) {
        fail(path + ": " + mpv_error_string(err));
        return;
    }
    awaitingStart_ = true;
    loadingEntry_ = -1;
}

void MpvPlayer::fail(const std::string& reason) {
    loaded_ = false;
    error_ = reason;
    path_.clear();
    pendingPath_.clear();
    awaitingStart_ = false;
    loadingEntry_ = -1;
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

void MpvPlayer::drainEvents() {
    while (mpv_) {
        mpv_event* event = mpv_wait_event(mpv_, 0);
        if (event->event_id == MPV_EVENT_NONE)
            break;
        handleEvent(*event);
    }
}

void MpvPlayer::handleEvent(const mpv_event& event) {
    switch (event.event_id) {
    case MPV_EVENT_START_FILE:
        if (awaitingStart_) {
            loadingEntry_ = static_cast<mpv_event_start_file*>(event.data)->playlist_entry_id;
            awaitingStart_ = false;
        }
        break;
    case MPV_EVENT_FILE_LOADED: {
        if (loadingEntry_ < 0)
            break;
        loadingEntry_ = -1;
        // Something mpv can open but that holds no picture (audio, text
        // mistaken for a playlist) is no video for us.
        const std::string videoCodec = propertyText("current-tracks/video/codec");
        if (videoCodec.empty()) {
            const char* stop[] = {"stop", nullptr};
            mpv_command(mpv_, stop);
            fail(path_ + ": no video stream could be found");
            break;
        }
        loaded_ = true;
        error_.clear();
        emit fileLoaded();
        if (auto done = std::move(done_)) {
            done_ = nullptr;
            done(true);
        }
        notifyObservers();
        break;
    }
    case MPV_EVENT_END_FILE: {
        const auto* end = static_cast<mpv_event_end_file*>(event.data);
        if (loadingEntry_ >= 0 && end->playlist_entry_id == loadingEntry_) {
            if (end->reason == MPV_END_FILE_REASON_ERROR)
                fail(path_ + ": " + mpv_error_string(end->error));
            else if (end->reason == MPV_END_FILE_REASON_REDIRECT)
                fail(path_ + ": not a video file");
            else if (end->reason != MPV_END_FILE_REASON_STOP)
                fail(path_ + ": the file could not be opened");
            // STOP: superseded by a newer loadfile; that one reports.
        } else if (loaded_ && end->reason == MPV_END_FILE_REASON_ERROR) {
            loaded_ = false;
            error_ = path_ + ": " + mpv_error_string(end->error);
            systemLog(error_);
        }
        break;
    }
    case MPV_EVENT_PLAYBACK_RESTART:
        emit playbackRestarted();
        if (loaded_)
            notifyObservers();
        break;
    case MPV_EVENT_PROPERTY_CHANGE: {
        const auto* property = static_cast<mpv_event_property*>(event.data);
        if (property->format == MPV_FORMAT_FLAG && *static_cast<int*>(property->data) && loaded_) {
            pause(); // stop at the end, file kept open
            emit endReached();
        }
        break;
    }
    default:
        break;
    }
}
