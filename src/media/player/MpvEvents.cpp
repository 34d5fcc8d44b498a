// MpvPlayer's side of mpv's events: replies to its requests, observed
// properties, a file loaded or ended.
#include <QMetaObject>
#include <QPointer>
#include <cmath>

#include "platform/SystemLog.h"
#include "player/MpvPlayer.h"
#include "player/MpvReplies.h"

using namespace mpvreplies;

void MpvPlayer::drainEvents() {
    // Not from within a handler (a signal's slot may ask for fresh
    // readings): the event being handled lives until the next wait.
    if (draining_)
        return;
    draining_ = true;
    if (const int64_t woke = firstWake_.exchange(0))
        drainWoke_ = woke;
    while (mpv_) {
        mpv_event* event = mpv_wait_event(mpv_, 0);
        if (event->event_id == MPV_EVENT_NONE)
            break;
        handleEvent(*event);
    }
    draining_ = false;
}

void MpvPlayer::catchUp() {
    if (firstWake_.load() != 0)
        drainEvents();
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
        if (ok && property->format == MPV_FORMAT_DOUBLE) {
            observedTime_ = *static_cast<double*>(property->data);
            observedTimeAt_ = drainWoke_;
        }
        seekTarget_.reset();
        emit seekLanded();
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
        observedTimeAt_ = drainWoke_;
        break;
    case ObsDuration:
        observedDuration_ = isDouble ? *static_cast<double*>(property.data) : NAN;
        break;
    case ObsFps:
        observedFps_ = isDouble ? *static_cast<double*>(property.data) : 0.0;
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
