#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "match/Angles.h"

class MpvPlayer;

// The other cameras of the match, each on a player of its own, kept in step
// with the main player: the main's time is the master, and every seek, play,
// pause and rate of the main is repeated on each angle at its mapped time.
// Paused, an angle is sought exactly to the instant of the main's frame.
// Playing, the angles' clocks are compared with the main's every tick and
// steered by small changes of speed, or sought again when far off. An angle
// whose file does not hold the instant is paused and has no picture until
// the instant comes back into it.
//
// Like the players, it never waits on mpv: everything runs from the main's
// signals and a timer on the GUI thread, reading the players' last reports.
class AngleSync : public QObject {
    Q_OBJECT
public:
    // Steering: milliseconds between looks, the gain of the speed (per
    // second of error), the largest change of speed, the error beyond which
    // an angle is sought again rather than steered, and the share of each new
    // look in the smoothed error (the clocks are read through the event loop).
    static constexpr int kTickMs = 40;
    static constexpr double kGain = 2.0;
    static constexpr double kMaxSpeedChange = 0.25;
    static constexpr double kReseekSeconds = 0.2;
    static constexpr double kSmoothing = 0.3;

    // `options` go to each angle's player after its own (tests: ao=null).
    explicit AngleSync(MpvPlayer& main, std::map<std::string, std::string> options = {},
                       QObject* parent = nullptr);
    ~AngleSync() override;

    // Replaces the angles; a relative file is found in `folder`. The players
    // are made again only when the files changed (true then: their surfaces
    // must be made again too, and a file opens once its surface exists).
    bool setAngles(const std::vector<MatchAngle>& angles, const std::string& folder);
    size_t count() const { return entries_.size(); }
    const MatchAngle& angle(size_t i) const { return entries_[i].map; }
    MpvPlayer& player(size_t i) const { return *entries_[i].player; }
    // Whether angle `i` shows the main's instant: its file is open and holds
    // it.
    bool hasPicture(size_t i) const { return entries_[i].picture; }
    bool isOpen(size_t i) const { return entries_[i].open; }
    // Why angle `i`'s file could not be opened; empty else.
    std::string error(size_t i) const;

signals:
    // Angle `i` gained or lost its picture, or its file opened or failed.
    void pictureChanged(int i);
    // The players are about to be replaced: their surfaces go first.
    void playersAboutToGo();

private:
    struct Entry {
        MatchAngle map;
        std::string path;
        std::unique_ptr<MpvPlayer> player;
        bool open = false;
        bool picture = false;
        double alignedTo = -1e300; // paused: the angle time last sought exactly
        double speed = 0.0;        // last asked while playing
        // Sought ahead while the main plays: waits, paused, for the main's
        // clock to reach this main time, then plays.
        double holdUntil = kNoHold;
        QElapsedTimer seekClock; // from a seek while playing to its landing
        double seekLead = 0.2;   // how long such seeks take, in seconds
        double error = 0.0;      // smoothed, in angle seconds; > 0 ahead
        int settling = 0;        // looks left before steering after a start
        bool timed = false;      // its start is on a timer
    };
    static constexpr double kNoHold = -1e300;

    void open(Entry& e, int i);
    void followSeek(double t, bool exact);
    void followRate(double rate);
    // One look at every angle: pictures gained or lost, paused ones aligned,
    // playing ones steered.
    void tick();
    void steer(Entry& e, float rate);
    void playAt(Entry& e, double speed);
    // Sought to where the main will be once the seek has landed, paused
    // until the main gets there.
    void seekAhead(Entry& e, double mainT, float rate);
    void release(Entry& e, float rate);
    void start(Entry& e, float rate);
    bool holds(const Entry& e, double angleT) const;
    void setPicture(Entry& e, bool on);
    int indexOf(const Entry& e) const;

    MpvPlayer& main_;
    std::map<std::string, std::string> options_;
    std::vector<Entry> entries_;
    QTimer timer_;
};
