#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <vector>

#include "review/Moments.h"

class Player;

// Plays moments one after another: an exact seek to each start while paused,
// playing resumed once the seek's frame is up (so no frame of the old place
// shows), and a pause just before each end, before the next frame past it.
class MomentSequence : public QObject {
    Q_OBJECT
public:
    // How early (wall-clock seconds) a moment is left: the player's position
    // arrives a little after its frame is up and a pause takes effect a
    // little after it is asked, and by then mpv has the next frame queued.
    // Measured on the 25 fps fixture: 0.05 s let one frame past the end show.
    static constexpr double kEndLatency = 0.09;
    static constexpr int kPollMs = 10;

    explicit MomentSequence(QObject* parent = nullptr);

    void start(Player* player, std::vector<Moment> moments, float rate);
    // Ends the sequence; the player is left as it is.
    void stop();
    // The next or previous moment (false when there is no sequence).
    bool step(int direction);
    bool isActive() const { return player_ != nullptr; }
    int current() const { return current_; }
    const std::vector<Moment>& moments() const { return moments_; }
    float rate() const { return rate_; }

    // Each moment as it starts (the screen chooses its tag).
    std::function<void(const Moment&)> onMoment;

signals:
    void ended();
    // The last moment played to its end (just before ended()).
    void completed();

private:
    void jumpTo(int index);
    void poll();

    Player* player_ = nullptr;
    std::vector<Moment> moments_;
    int current_ = -1;
    float rate_ = 1.0f;
    bool waitingForSeek_ = false;
    QTimer timer_;
};
