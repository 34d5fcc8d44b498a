#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <vector>

#include "match/MatchInfo.h"

// Shirt numbers typed right after a code: the tag just recorded takes the
// player of that number of its team (選手=12 山田). One digit names a player
// at once unless the team has a two-digit number starting with it; then a
// second digit within kSecondDigitMs makes the number, and the number closes
// without it when the time is up or another key is pressed. A number of no
// player of the team is refused. One number per tag recorded.
class PlayerNumbers : public QObject {
    Q_OBJECT
public:
    static constexpr int kSecondDigitMs = 1000;

    // `players`: the players of team 0 (A) or 1 (B) of the match.
    explicit PlayerNumbers(std::function<const std::vector<MatchPlayer>&(int team)> players,
                           QObject* parent = nullptr);

    // Tag `index` of team `team` was just recorded: digits now name its player.
    void arm(int64_t index, int team);
    void disarm();
    int64_t tag() const { return tag_; }
    // A digit typed (0-9); nothing unless a tag was just recorded.
    void digit(int d);
    // Another key: a number begun is complete, and digits no longer name.
    void close();

signals:
    void chosen(int64_t tag, const MatchPlayer& player);
    void refused(int team, int number);

private:
    void finish(int number);

    std::function<const std::vector<MatchPlayer>&(int team)> players_;
    int64_t tag_ = -1;
    int team_ = 0;
    int first_ = -1; // a digit waiting for its second
    QTimer wait_;
};
