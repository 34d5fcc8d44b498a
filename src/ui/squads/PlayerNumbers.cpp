#include "squads/PlayerNumbers.h"

#include "match/Squad.h"

PlayerNumbers::PlayerNumbers(std::function<const std::vector<MatchPlayer>&(int team)> players,
                             QObject* parent)
    : QObject(parent), players_(std::move(players)) {
    wait_.setSingleShot(true);
    wait_.setInterval(kSecondDigitMs);
    connect(&wait_, &QTimer::timeout, this, &PlayerNumbers::close);
}

void PlayerNumbers::arm(int64_t index, int team) {
    close();
    tag_ = index;
    team_ = team;
}

void PlayerNumbers::disarm() {
    wait_.stop();
    tag_ = -1;
    first_ = -1;
}

void PlayerNumbers::digit(int d) {
    if (tag_ < 0)
        return;
    if (first_ >= 0) {
        const int number = first_ * 10 + d;
        first_ = -1;
        wait_.stop();
        finish(number);
    } else if (startsTwoDigitNumber(players_(team_), d)) {
        first_ = d;
        wait_.start();
    } else {
        finish(d);
    }
}

void PlayerNumbers::close() {
    const int number = first_;
    if (tag_ >= 0 && number >= 0)
        finish(number);
    disarm();
}

void PlayerNumbers::finish(int number) {
    const int64_t tag = tag_;
    const int team = team_;
    disarm();
    if (const MatchPlayer* p = playerNumbered(players_(team), number))
        emit chosen(tag, *p);
    else
        emit refused(team, number);
}
