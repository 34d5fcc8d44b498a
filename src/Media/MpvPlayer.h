#pragma once

#include <QObject>
#include <QTimer>
#include <map>
#include <mpv/client.h>
#include <string>
#include <vector>

#include "Media/Player.h"

// The player on libmpv. Events are drained on the GUI thread; the picture is
// drawn by a render context that a surface creates on handle() (see
// MpvSoftwareRenderer and the OpenGL surface). Files are loaded only once a
// render context exists, or mpv would switch the video off.
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
    void seekToZero() override;
    float volume() const override { return volume_; }
    void setVolume(float volume) override;
    std::string error() const override { return error_; }
    bool hasCurrentItem() const override { return loaded_; }
    std::string currentPath() const override { return path_; }
    void replaceCurrentItem(const std::string& path, std::function<void(bool)> done) override;
    void addPeriodicTimeObserver(std::function<void(double)> block) override;

    mpv_handle* handle() const { return mpv_; }
    // Called by the surface once its render context exists, and again with
    // false before it frees it.
    void setRenderContextReady(bool ready);
    bool renderContextReady() const { return renderReady_; }

    // A property as text, for tests and diagnostics ("" when unavailable).
    std::string propertyText(const char* name) const;
    double propertyDouble(const char* name, double fallback = NAN) const;

signals:
    void fileLoaded();
    void loadFailed(const QString& reason);
    // A seek (or the start of playback) has finished: the picture shows the
    // new position.
    void playbackRestarted();
    void endReached();

private:
    void drainEvents();
    void handleEvent(const mpv_event& event);
    void startPendingLoad();
    void fail(const std::string& reason);
    void notifyObservers();

    mpv_handle* mpv_ = nullptr;
    bool renderReady_ = false;
    bool loaded_ = false;
    float volume_ = 1.0f;
    std::string path_;
    std::string error_;
    std::string pendingPath_;    // waiting for a render context
    int64_t loadingEntry_ = -1;  // playlist entry of the file being opened
    bool awaitingStart_ = false; // loadfile sent, its START_FILE not seen yet
    std::function<void(bool)> done_;
    std::vector<std::function<void(double)>> observers_;
    QTimer observerTimer_;
};
