#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "match/Angles.h"
#include "player/Player.h"
#include "workspace/Workspace.h"

class AngleViews;
class MpvPlayer;

// The one video view: owns the player, opens files, carries out every
// transport command and tells the time text. Its keys go through the key
// router like every other control's.
class MediaPlayerView : public QWidget {
    Q_OBJECT
public:
    static constexpr float kNormalRate = 1.0f;
    static constexpr float kSlowRate = 0.4f;
    static constexpr double kForwardStep = 2.0;
    static constexpr float kVolumeStep = 0.1f;
    static constexpr int kModalRecheckMs = 100;
    // A live recording: 「ライブへ」 lands this far before the last frame
    // written, which mpv can still read and decode in time.
    static constexpr double kLiveMargin = 1.5;
    // Nearer than this to the last frame written counts as live.
    static constexpr double kLiveSlack = 3.0;

    // With no player given, the real one is made (with its picture surface)
    // by awakeFromNib.
    explicit MediaPlayerView(QWidget* parent = nullptr, std::unique_ptr<Player> player = nullptr);
    ~MediaPlayerView() override;

    void awakeFromNib();
    // Starts the once-a-second time updates.
    void setupPlayerOption();

    void open(std::function<void(const std::string& path)> callback);
    // Opens `path` as if it had been chosen in the open panel.
    void openPath(const std::string& path);
    void play();
    void resume();
    void forward();
    // Two seconds back, in whole seconds, never before the start.
    void backward();
    void playSlow();
    void seek(float seconds, double delay);
    // Moves the picture to `seconds` as the timeline is clicked or dragged
    // (`exact` false: to a key frame), playing or paused as it was.
    void scrub(double seconds, bool exact);
    // To the live edge of a recording being written, playing; nothing for
    // any other file.
    void goLive();
    // How far behind the live edge `behind` seconds are: 「ライブ」 near it,
    // else 「ライブ −0:32」.
    static QString liveText(double behind);
    void volumnUp();
    void volumnDown();
    bool isPlaying() const;
    std::optional<bool> isOpenStatus() const;
    static std::string createTimeString(float seconds);

    Player* player() const { return player_.get(); }
    // The real player when there is one (tests and benchmarks).
    MpvPlayer* mpvPlayer() const;
    // Asked before a chosen file is opened; false keeps the current video.
    std::function<bool(const std::string& path)> beforeOpen;
    // The once-a-second update, given the current time.
    void periodicTimeUpdate(double seconds);

    bool timeObserverToken = false;
    SlowPlayMode playSlowMode;
    QTimer timer; // the pending restart of seek(_:delay:)
    std::function<void(const std::string& path)> callBack;

    // The match's other cameras, in step with the main picture (none with a
    // player that is not mpv's); a relative file is found in `folder`.
    void setAngles(const std::vector<MatchAngle>& angles, const std::string& folder);
    AngleViews* angleViews() const { return angleViews_; }

    bool isFullScreenMode() const { return fullScreen_; }
    void setFullScreenMode(bool on);

signals:
    // The once-a-second time text, "current / total".
    void timeTextChanged(const QString& text);
    // A chosen file cannot be played.
    void openFailed(const QString& path, const QString& reason);

protected:
    void closeEvent(QCloseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void exactSeek(double seconds);
    void rewindIfAtEnd();
    void createSurface();

    std::unique_ptr<Player> player_;
    QWidget* surface_ = nullptr;
    AngleViews* angleViews_ = nullptr;
    bool fullScreen_ = false;
    QPointer<QWidget> homeParent_;
    QRect homeGeometry_;
};
