#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <array>
#include <cmath>
#include <map>
#include <mpv/client.h>
#include <mpv/render.h>
#include <optional>
#include <string>
#include <vector>

#include "player/Player.h"

// The player on libmpv. Events are drained on the GUI thread; the picture is
// drawn by a render context that a surface creates on handle() (see
// MpvSoftwareRenderer and the OpenGL surface). Files are loaded only once a
// render context exists, or mpv would switch the video off.
//
// The GUI thread never waits on mpv: it draws mpv's picture, and mpv's core
// waits for that drawing, so a synchronous call from here can stall both.
// Readings come from the values mpv last reported for observed properties;
// commands and property changes are sent asynchronously, and what was just
// asked (a seek target, a pause) is answered until mpv has caught up.
//
// Times count from the start of the file on every container (mpv is made to
// rebase MP4 as it does MPEG-TS), which is also the clip exporter's origin.
class MpvPlayer : public QObject, public Player {
    Q_OBJECT
public:
    // `extraOptions` are set before initialisation, after the fixed ones
    // (tests use ao=null, for instance).
    explicit MpvPlayer(const std::map<std::string, std::string>& extraOptions = {},
                       QObject* parent = nullptr);
    ~MpvPlayer() override;

    double currentTime() const override;
    double duration() const override;
    float rate() const override;
    void playImmediatelyAtRate(float rate) override;
    void pause() override;
    void seekExact(double seconds) override;
    void seekFast(double seconds) override;
    void seekToZero() override;
    float volume() const override { return volume_; }
    void setVolume(float volume) override;
    std::string error() const override { return error_; }
    bool hasCurrentItem() const override { return loaded_; }
    std::string currentPath() const override { return path_; }
    void replaceCurrentItem(const std::string& path, std::function<void(bool)> done) override;
    void addPeriodicTimeObserver(std::function<void(double)> block) override;
    bool isSeeking() const override { return seekTarget_.has_value(); }
    void setGrowingFile(const std::string& path, double edge) override;
    bool isGrowing() const override;
    // The position between the frames' reports: while playing, the last
    // reported time moved on by the time since it came, but not past that
    // frame's end; else currentTime(). What angles are kept in step by.
    double playbackClock() const;
    // Reads mpv's reports that have come but wait behind other work on the
    // GUI thread, so that the readings are fresh.
    void catchUp();

    mpv_handle* handle() const { return mpv_; }
    // The video track mpv last reported (-1: none); the OpenGL surface
    // restores it after remaking its context.
    int64_t videoTrack() const { return observedVid_; }
    void setVideoTrack(int64_t track);
    // Called by the surface once its render context exists, and again with
    // false before it frees it.
    void setRenderContextReady(bool ready);
    // Makes the render context of a surface drawing this player: `api` is
    // MPV_RENDER_API_TYPE_OPENGL (with `glInit`, an mpv_opengl_init_params) or
    // MPV_RENDER_API_TYPE_SW; `update(data)` runs on mpv's thread whenever a
    // new frame is due. A pending load goes ahead once it exists. nullptr,
    // logged under `what`, when mpv refuses.
    mpv_render_context* createRenderContext(const char* api, void* glInit, void (*update)(void*),
                                            void* data, const char* what);
    // Frees a context made by createRenderContext (nothing for nullptr) and
    // sets it to nullptr; playback waits until a new one exists.
    void freeRenderContext(mpv_render_context*& context);
    bool renderContextReady() const { return renderReady_; }

    // A property read synchronously, for tests and diagnostics only: it
    // waits on mpv ("" or `fallback` when unavailable).
    std::string propertyText(const char* name) const;
    double propertyDouble(const char* name, double fallback = NAN) const;

signals:
    void fileLoaded();
    void loadFailed(const QString& reason);
    // A seek (or the start of playback) has finished: the picture shows the
    // new position.
    void playbackRestarted();
    void endReached();
    // As asked, before mpv has done it: a seek (exact or to a key frame),
    // playing at a rate or a pause (0), and a seek having landed (its
    // position is currentTime() now). Angles follow the main player by them.
    void seekRequested(double seconds, bool exact);
    void rateRequested(double rate);
    void seekLanded();

private:
    // A property set asynchronously: one request in flight at a time, the
    // latest wish sent when it returns, so two sets cannot arrive reordered.
    struct Setter {
        const char* name;
        mpv_format format; // FLAG, DOUBLE or INT64
        double wanted = 0;
        bool inFlight = false;
        bool queued = false;
        bool pending() const { return inFlight || queued; }
    };
    enum SetterIndex { SetPause, SetSpeed, SetVolume, SetVid, SetterCount };
    // What is read once a file has loaded (the time once its first frame
    // is up), before it counts as open.
    enum LoadInfo { InfoCodec, InfoDuration, InfoStart, InfoFormat, InfoTime, LoadInfoCount };

    void drainEvents();
    void handleEvent(const mpv_event& event);
    void handlePropertyChange(uint64_t id, const mpv_event_property& property);
    void handleReply(const mpv_event& event);
    void loadReplied(const mpv_event& event);
    void seekReplied(const mpv_event& event);
    void landingReplied(const mpv_event& event);
    void setterReplied(const mpv_event& event);
    void set(SetterIndex index, double value);
    void sendSetter(SetterIndex index);
    void seekTo(double seconds, bool exact);
    void sendSeek();
    void requestLoadInfo(int index);
    void loadInfoArrived();
    void startPendingLoad();
    void fail(const std::string& reason);
    void notifyObservers();
    bool paused() const;
    bool atEnd() const;
    // The length mpv has read, from the file's start.
    double fileDuration() const;

    mpv_handle* mpv_ = nullptr;
    bool renderReady_ = false;
    bool loaded_ = false;
    float volume_ = 1.0f;
    std::string path_;
    std::string error_;
    std::string pendingPath_; // waiting for a render context
    std::string growingPath_; // a file still being written, and its length so far
    double growingEdge_ = NAN;
    uint64_t loadGeneration_ = 0;
    int64_t loadingEntry_ = -1; // playlist entry of the file being opened
    int64_t currentEntry_ = -1; // entry of the last START_FILE
    std::array<std::optional<std::string>, LoadInfoCount> loadInfo_;
    int loadInfoMissing_ = 0;
    bool loadFileLoaded_ = false; // FILE_LOADED seen for loadingEntry_
    bool loadRestarted_ = false;  // and its first frame
    std::function<void(bool)> done_;

    // Last reported by mpv.
    double observedTime_ = NAN;
    // When observedTime_ came (steady clock, ns): the first wake-up of the
    // events drained with it, not when the GUI thread got to them.
    int64_t observedTimeAt_ = 0;
    std::atomic<int64_t> firstWake_{0}; // since the last drain, set on mpv's thread
    int64_t drainWoke_ = 0;
    bool draining_ = false;
    double observedDuration_ = NAN;
    double observedFps_ = 0.0;
    bool observedPause_ = false;
    double observedSpeed_ = 1.0;
    bool observedEof_ = false;
    int64_t observedVid_ = -1;
    // MP4's duration runs from 0 of its own clock, not from its start.
    double durationShift_ = 0.0;
    // An end-of-file flag reported before the latest seek says nothing.
    bool eofStale_ = false;

    std::array<Setter, SetterCount> setters_{{{"pause", MPV_FORMAT_FLAG},
                                              {"speed", MPV_FORMAT_DOUBLE},
                                              {"volume", MPV_FORMAT_DOUBLE},
                                              {"vid", MPV_FORMAT_INT64}}};

    // Seeks: the target counts as the time until mpv has landed and told
    // where. One seek command in flight; a newer target waits for it.
    std::optional<double> seekTarget_;
    bool seekExact_ = true; // of the target: exact, or to a key frame
    uint64_t seekGeneration_ = 0;
    bool seekInFlight_ = false;
    bool seekQueued_ = false;
    uint64_t seekAwaitingRestart_ = 0; // generation whose restart is due
    std::vector<std::function<void(double)>> observers_;
    QTimer observerTimer_;
};
