#include "player/MpvPlayer.h"

#include <QMetaObject>
#include <QPointer>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "platform/SystemLog.h"

namespace {

void setOption(mpv_handle* mpv, const std::string& name, const std::string& value) {
    if (const int err = mpv_set_option_string(mpv, name.c_str(), value.c_str()); err < 0)
        systemLog("mpv option " + name + "=" + value + ": " + mpv_error_string(err));
}

// Why mpv could not read a file, in the user's words, mpv's own after them.
std::string unreadable(int err) {
    return std::string("動画として読み込めません（") + mpv_error_string(err) + "）";
}

// Observed properties, by reply id.
enum Observed : uint64_t { ObsTime = 1, ObsDuration, ObsPause, ObsSpeed, ObsEof, ObsVid };

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

const char* const kLoadInfoNames[] = {"current-tracks/video/codec", "duration",
                                      "demuxer-start-time", "file-format", "time-pos"};

std::optional<double> toDouble(const std::optional<std::string>& text) {
    if (!text || text->empty())
        return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text->c_str(), &end);
    if (end == text->c_str())
        return std::nullopt;
    return value;
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
            // mpv's thread: only post; the GUI thread drains.
            QMetaObject::invokeMethod(static_cast<MpvPlayer*>(self), &MpvPlayer::drainEvents,
                                      Qt::QueuedConnection);
        },
        this);

    mpv_observe_property(mpv_, ObsTime, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(mpv_, ObsDuration, "duration", MPV_FORMAT_DOUBLE);
    mpv_observe_property(mpv_, ObsPause, "pause", MPV_FORMAT_FLAG);
    mpv_observe_property(mpv_, ObsSpeed, "speed", MPV_FORMAT_DOUBLE);
    mpv_observe_property(mpv_, ObsEof, "eof-reached", MPV_FORMAT_FLAG);
    mpv_observe_property(mpv_, ObsVid, "vid", MPV_FORMAT_INT64);

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
        const double d = duration();
        if (!std::isnan(d))
            return d;
    }
    return std::isnan(observedTime_) ? 0.0 : observedTime_;
}

double MpvPlayer::duration() const {
    return loaded_ ? observedDuration_ - durationShift_ : NAN;
}

float MpvPlayer::rate() const {
    if (!loaded_ || paused() || atEnd())
        return 0.0f;
    const Setter& s = setters_[SetSpeed];
    return static_cast<float>(s.pending() ? s.wanted : observedSpeed_);
}

void MpvPlayer::playImmediatelyAtRate(float rate) {
    if (!loaded_)
        return;
    set(SetSpeed, rate);
    set(SetPause, 0);
}

void MpvPlayer::pause() {
    if (!mpv_)
        return;
    set(SetPause, 1);
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
    const char* cmd[] = {"loadfile", path.c_str(), "replace", nullptr};
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

void MpvPlayer::drainEvents() {
    while (mpv_) {
        mpv_event* event = mpv_wait_event(mpv_, 0);
        if (event->event_id == MPV_EVENT_NONE)
            break;
        handleEvent(*event);
    }
}

void MpvPlayer::requestLoadInfo(int index) {
    if (mpv_get_property_async(mpv_, reply(ReplyInfo, index, loadGeneration_),
                               kLoadInfoNames[index], MPV_FORMAT_STRING) < 0)
        loadInfoArrived();
}

void MpvPlayer::loadInfoArrived() {
    if (--loadInfoMissing_ > 0)
        return;
    // Something mpv can open but that holds no picture (audio, text
    // mistaken for a playlist) is no video for us.
    if (!loadInfo_[InfoCodec] || loadInfo_[InfoCodec]->empty()) {
        const char* stop[] = {"stop", nullptr};
        mpv_command_async(mpv_, reply(ReplyStop, 0, 0), stop);
        fail(path_ + ": no video stream could be found");
        return;
    }
    loadingEntry_ = -1;
    // libavformat gives MP4's length from the file's own clock, which starts
    // at 0 before the first frame; the other containers' from their start.
    const std::string format = loadInfo_[InfoFormat].value_or("");
    const double start = toDouble(loadInfo_[InfoStart]).value_or(0.0);
    durationShift_ = format.find("mp4") != std::string::npos ? start : 0.0;
    observedDuration_ = toDouble(loadInfo_[InfoDuration]).value_or(NAN);
    observedTime_ = toDouble(loadInfo_[InfoTime]).value_or(0.0);
    loaded_ = true;
    error_.clear();
    emit fileLoaded();
    if (auto done = std::move(done_)) {
        done_ = nullptr;
        done(true);
    }
    notifyObservers();
}

void MpvPlayer::handleReply(const mpv_event& event) {
    const uint64_t id = event.reply_userdata;
    switch (kindOf(id)) {
    case ReplyLoad:
        loadReplied(event);
        break;
    case ReplyInfo:
        if (generationOf(id) != loadGeneration_ || loadInfoMissing_ <= 0)
            break;
        if (event.error >= 0) {
            const auto* property = static_cast<mpv_event_property*>(event.data);
            if (property && property->format == MPV_FORMAT_STRING)
                loadInfo_[indexOf(id)] = *static_cast<char**>(property->data);
        }
        loadInfoArrived();
        break;
    case ReplySeek:
        seekReplied(event);
        break;
    case ReplyLanded:
        landingReplied(event);
        break;
    case ReplySet:
        setterReplied(event);
        break;
    case ReplyStop:
        break;
    }
}

void MpvPlayer::loadReplied(const mpv_event& event) {
    if (generationOf(event.reply_userdata) != loadGeneration_)
        return; // superseded: its file ends with STOP
    if (event.error < 0) {
        fail(path_ + ": " + unreadable(event.error));
        return;
    }
    if (const auto* result = static_cast<mpv_event_command*>(event.data);
        result && result->result.format == MPV_FORMAT_NODE_MAP) {
        const mpv_node_list* map = result->result.u.list;
        for (int i = 0; i < map->num; ++i)
            if (std::string(map->keys[i]) == "playlist_entry_id" &&
                map->values[i].format == MPV_FORMAT_INT64)
                loadingEntry_ = map->values[i].u.int64;
    }
    if (loadingEntry_ < 0)
        fail(path_ + ": ファイルを開けませんでした");
}

void MpvPlayer::seekReplied(const mpv_event& event) {
    const uint64_t generation = generationOf(event.reply_userdata);
    seekInFlight_ = false;
    if (event.error < 0)
        systemLog(std::string("seek: ") + mpv_error_string(event.error));
    if (seekQueued_ && seekTarget_) {
        sendSeek();
    } else if (generation == seekGeneration_) {
        if (event.error < 0)
            seekTarget_.reset();
        else
            seekAwaitingRestart_ = generation;
    }
}

void MpvPlayer::landingReplied(const mpv_event& event) {
    const uint64_t id = event.reply_userdata;
    if (generationOf(id) != seekGeneration_ || seekInFlight_ || seekQueued_)
        return;
    const auto* property = static_cast<mpv_event_property*>(event.data);
    const bool ok = event.error >= 0 && property;
    if (indexOf(id) == 0) {
        if (ok && property->format == MPV_FORMAT_DOUBLE)
            observedTime_ = *static_cast<double*>(property->data);
        seekTarget_.reset();
    } else if (ok && property->format == MPV_FORMAT_FLAG) {
        // A seek from the end to the end changes no flag: no event says
        // the flag holds for the new position.
        observedEof_ = *static_cast<int*>(property->data);
        eofStale_ = false;
    }
}

void MpvPlayer::setterReplied(const mpv_event& event) {
    const auto index = static_cast<SetterIndex>(indexOf(event.reply_userdata));
    Setter& s = setters_[index];
    s.inFlight = false;
    if (event.error < 0) {
        systemLog(std::string("mpv ") + s.name + ": " + mpv_error_string(event.error));
    } else if (!s.queued) {
        // mpv holds the value now; its change report may come later, and
        // until then the old report would be read.
        if (index == SetPause)
            observedPause_ = s.wanted != 0.0;
        else if (index == SetSpeed)
            observedSpeed_ = s.wanted;
    }
    if (s.queued)
        sendSetter(index);
}

void MpvPlayer::handlePropertyChange(uint64_t id, const mpv_event_property& property) {
    const bool isDouble = property.format == MPV_FORMAT_DOUBLE;
    const bool isFlag = property.format == MPV_FORMAT_FLAG;
    switch (id) {
    case ObsTime:
        observedTime_ = isDouble ? *static_cast<double*>(property.data) : NAN;
        break;
    case ObsDuration:
        observedDuration_ = isDouble ? *static_cast<double*>(property.data) : NAN;
        break;
    case ObsPause:
        if (isFlag)
            observedPause_ = *static_cast<int*>(property.data);
        break;
    case ObsSpeed:
        if (isDouble)
            observedSpeed_ = *static_cast<double*>(property.data);
        break;
    case ObsVid:
        observedVid_ =
            property.format == MPV_FORMAT_INT64 ? *static_cast<int64_t*>(property.data) : -1;
        break;
    case ObsEof: {
        const bool eof = isFlag && *static_cast<int*>(property.data);
        observedEof_ = eof;
        // Until mpv has taken the latest seek, the flag is the old position's.
        if (seekInFlight_ || seekQueued_)
            break;
        eofStale_ = false;
        if (eof && loaded_) {
            seekTarget_.reset(); // the end is where the seek landed
            pause();             // stop at the end, file kept open
            emit endReached();
        }
        break;
    }
    default:
        break;
    }
}

void MpvPlayer::handleEvent(const mpv_event& event) {
    switch (event.event_id) {
    case MPV_EVENT_START_FILE:
        currentEntry_ = static_cast<mpv_event_start_file*>(event.data)->playlist_entry_id;
        break;
    case MPV_EVENT_FILE_LOADED:
        if (loadingEntry_ >= 0 && currentEntry_ == loadingEntry_ && !loadFileLoaded_) {
            loadFileLoaded_ = true;
            loadInfo_.fill(std::nullopt);
            loadInfoMissing_ = LoadInfoCount;
            for (int i : {InfoCodec, InfoDuration, InfoStart, InfoFormat})
                requestLoadInfo(i);
        }
        break;
    case MPV_EVENT_END_FILE: {
        const auto* end = static_cast<mpv_event_end_file*>(event.data);
        if (loadingEntry_ >= 0 && end->playlist_entry_id == loadingEntry_) {
            if (end->reason == MPV_END_FILE_REASON_ERROR)
                fail(path_ + ": " + unreadable(end->error));
            else if (end->reason == MPV_END_FILE_REASON_REDIRECT)
                fail(path_ + ": 動画ファイルではありません");
            else if (end->reason != MPV_END_FILE_REASON_STOP)
                fail(path_ + ": ファイルを開けませんでした");
            // STOP: superseded by a newer loadfile; that one reports.
        } else if (loaded_ && end->reason == MPV_END_FILE_REASON_ERROR) {
            loaded_ = false;
            error_ = path_ + ": " + unreadable(end->error);
            systemLog(error_);
        }
        break;
    }
    case MPV_EVENT_PLAYBACK_RESTART:
        // The first frame of the file being opened is up: the file counts
        // as open once its time there is known.
        if (loadFileLoaded_ && !loadRestarted_ && loadingEntry_ >= 0) {
            loadRestarted_ = true;
            requestLoadInfo(InfoTime);
        }
        // The restart of the latest seek: ask where it landed.
        if (seekTarget_ && seekAwaitingRestart_ == seekGeneration_ && !seekInFlight_ &&
            !seekQueued_) {
            seekAwaitingRestart_ = 0;
            mpv_get_property_async(mpv_, reply(ReplyLanded, 1, seekGeneration_), "eof-reached",
                                   MPV_FORMAT_FLAG);
            mpv_get_property_async(mpv_, reply(ReplyLanded, 0, seekGeneration_), "time-pos",
                                   MPV_FORMAT_DOUBLE);
        }
        emit playbackRestarted();
        if (loaded_)
            notifyObservers();
        break;
    case MPV_EVENT_PROPERTY_CHANGE:
        handlePropertyChange(event.reply_userdata, *static_cast<mpv_event_property*>(event.data));
        break;
    case MPV_EVENT_COMMAND_REPLY:
    case MPV_EVENT_GET_PROPERTY_REPLY:
    case MPV_EVENT_SET_PROPERTY_REPLY:
        handleReply(event);
        break;
    default:
        break;
    }
}
