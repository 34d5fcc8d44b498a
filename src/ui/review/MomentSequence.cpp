#include "review/MomentSequence.h"

#include "player/Player.h"

MomentSequence::MomentSequence(QObject* parent) : QObject(parent) {
    timer_.setInterval(kPollMs);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &MomentSequence::poll);
}

void MomentSequence::start(Player* player, std::vector<Moment> moments, float rate) {
    stop();
    if (!player || !player->hasCurrentItem() || moments.empty())
        return;
    player_ = player;
    moments_ = std::move(moments);
    rate_ = rate > 0 ? rate : 1.0f;
    timer_.start();
    jumpTo(0);
}

void MomentSequence::stop() {
    const bool was = isActive();
    timer_.stop();
    player_ = nullptr;
    waitingForSeek_ = false;
    if (was)
        emit ended();
}

bool MomentSequence::step(int direction) {
    if (!isActive())
        return false;
    const int next = current_ + direction;
    if (next >= static_cast<int>(moments_.size())) {
        player_->pause();
        emit completed();
        stop();
    } else {
        jumpTo(std::max(0, next));
    }
    return true;
}

void MomentSequence::jumpTo(int index) {
    current_ = index;
    const Moment& m = moments_[static_cast<size_t>(index)];
    // Paused first: playing on while the seek runs would show the old place.
    player_->pause();
    player_->seekExact(m.start);
    waitingForSeek_ = true;
    if (onMoment)
        onMoment(m);
    poll();
}

void MomentSequence::poll() {
    if (!isActive())
        return;
    if (!player_->hasCurrentItem()) {
        stop();
        return;
    }
    if (waitingForSeek_) {
        if (player_->isSeeking())
            return;
        waitingForSeek_ = false;
        player_->playImmediatelyAtRate(rate_);
        return;
    }
    const Moment& m = moments_[static_cast<size_t>(current_)];
    if (player_->currentTime() >= m.end - kEndLatency * rate_)
        step(1);
}
