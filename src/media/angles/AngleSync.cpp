#include "angles/AngleSync.h"

#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "player/MpvPlayer.h"

namespace {

std::string resolve(const std::string& file, const std::string& folder) {
    const std::filesystem::path p = std::filesystem::path(file);
    if (p.is_absolute() || folder.empty())
        return p.string();
    return (std::filesystem::path(folder) / p).lexically_normal().string();
}

} // namespace

AngleSync::AngleSync(MpvPlayer& main, std::map<std::string, std::string> options, QObject* parent)
    : QObject(parent), main_(main), options_(std::move(options)) {
    // Sound comes from the main video only; without a track of its own an
    // angle is timed by the system clock.
    options_.emplace("aid", "no");
    connect(&main_, &MpvPlayer::seekRequested, this, &AngleSync::followSeek);
    connect(&main_, &MpvPlayer::rateRequested, this, &AngleSync::followRate);
    connect(&main_, &MpvPlayer::seekLanded, this, &AngleSync::tick);
    timer_.setInterval(kTickMs);
    connect(&timer_, &QTimer::timeout, this, &AngleSync::tick);
}

AngleSync::~AngleSync() = default;

std::string AngleSync::error(size_t i) const {
    return entries_[i].player->error();
}

bool AngleSync::setAngles(const std::vector<MatchAngle>& angles, const std::string& folder) {
    std::vector<std::string> paths;
    for (size_t i = 0; i < angles.size() && i < kMaxAngles; ++i)
        paths.push_back(resolve(angles[i].file, folder));
    bool same = paths.size() == entries_.size();
    for (size_t i = 0; same && i < paths.size(); ++i)
        same = paths[i] == entries_[i].path;
    if (same) {
        for (size_t i = 0; i < paths.size(); ++i) {
            entries_[i].map = angles[i];
            entries_[i].alignedTo = -1e300; // a new map: align again
        }
        tick();
        return false;
    }
    emit playersAboutToGo();
    entries_.clear();
    for (size_t i = 0; i < paths.size(); ++i) {
        Entry e;
        e.map = angles[i];
        e.path = paths[i];
        e.player = std::make_unique<MpvPlayer>(options_);
        entries_.push_back(std::move(e));
    }
    for (size_t i = 0; i < entries_.size(); ++i)
        open(entries_[i], static_cast<int>(i));
    if (entries_.empty())
        timer_.stop();
    else
        timer_.start();
    return true;
}

void AngleSync::open(Entry& e, int i) {
    QPointer<MpvPlayer> player(e.player.get());
    e.player->replaceCurrentItem(e.path, [this, player, i](bool ok) {
        if (!player || static_cast<size_t>(i) >= entries_.size() ||
            entries_[static_cast<size_t>(i)].player.get() != player)
            return;
        Entry& entry = entries_[static_cast<size_t>(i)];
        entry.open = ok;
        emit pictureChanged(i);
        if (ok)
            tick(); // joins the main at its instant
    });
}

int AngleSync::indexOf(const Entry& e) const {
    return static_cast<int>(&e - entries_.data());
}

bool AngleSync::holds(const Entry& e, double angleT) const {
    const double length = e.player->duration();
    return angleT >= 0.0 && (std::isnan(length) || angleT < length);
}

void AngleSync::setPicture(Entry& e, bool on) {
    if (e.picture == on)
        return;
    e.picture = on;
    e.alignedTo = -1e300;
    if (!on) {
        // No frozen frame of another instant: stopped until the instant
        // comes back into the file.
        e.player->pause();
        e.speed = 0.0;
    }
    emit pictureChanged(indexOf(e));
}

void AngleSync::followSeek(double t, bool exact) {
    const bool playing = main_.rate() != 0.0f;
    for (Entry& e : entries_) {
        if (!e.open)
            continue;
        const double a = angleTime(e.map, t);
        if (!holds(e, a)) {
            setPicture(e, false);
            continue;
        }
        setPicture(e, true);
        if (playing && exact) {
            // Waits at the instant for the main to land and start from it.
            e.player->pause();
            e.speed = 0.0;
            e.player->seekExact(a);
            e.holdUntil = t;
            e.seekClock.start();
            continue;
        }
        if (exact)
            e.player->seekExact(a);
        else
            e.player->seekFast(a);
        e.alignedTo = exact ? a : -1e300;
    }
}

void AngleSync::followRate(double rate) {
    for (Entry& e : entries_) {
        if (!e.open || !e.picture)
            continue;
        if (rate == 0.0) {
            e.player->pause();
            e.speed = 0.0;
            e.holdUntil = kNoHold;
        } else if (e.holdUntil == kNoHold) {
            start(e, static_cast<float>(rate));
        }
    }
}

void AngleSync::playAt(Entry& e, double speed) {
    e.player->playImmediatelyAtRate(static_cast<float>(speed));
    e.speed = speed;
}

void AngleSync::tick() {
    if (!main_.hasCurrentItem())
        return;
    const double t = main_.currentTime();
    const float rate = main_.rate();
    for (Entry& e : entries_) {
        if (!e.open)
            continue;
        const double a = angleTime(e.map, t);
        if (!holds(e, a)) {
            setPicture(e, false);
            continue;
        }
        if (!e.picture) {
            // Joins at the main's instant (a file just opened, or the instant
            // back inside the file).
            setPicture(e, true);
            if (rate != 0.0f) {
                seekAhead(e, main_.playbackClock(), rate);
            } else {
                e.player->seekExact(a);
                e.alignedTo = a;
            }
            continue;
        }
        if (rate == 0.0f) {
            if (e.player->rate() != 0.0f)
                e.player->pause();
            e.speed = 0.0;
            e.holdUntil = kNoHold;
            // The main's frame known (not mid-seek): the angle's frame of the
            // same instant.
            if (!main_.isSeeking() && a != e.alignedTo) {
                e.player->seekExact(a);
                e.alignedTo = a;
            }
            continue;
        }
        e.alignedTo = -1e300;
        if (e.holdUntil != kNoHold)
            release(e, rate);
        else
            steer(e, rate);
    }
}

void AngleSync::seekAhead(Entry& e, double mainT, float rate) {
    e.player->pause();
    e.speed = 0.0;
    const double ahead = mainT + std::max(0.1, 1.5 * e.seekLead) * rate;
    e.player->seekExact(angleTime(e.map, ahead));
    e.holdUntil = ahead;
    e.seekClock.start();
}

void AngleSync::release(Entry& e, float rate) {
    if (e.timed || main_.isSeeking() || e.player->isSeeking())
        return;
    if (e.seekClock.isValid()) {
        // Learns how long a seek takes, for the next lead.
        e.seekLead = std::clamp(0.5 * e.seekLead + 0.5 * e.seekClock.elapsed() / 1000.0, 0.05, 1.0);
        e.seekClock.invalidate();
    }
    const double early = (e.holdUntil - main_.playbackClock()) / rate; // wall seconds
    if (early <= 0.002) {
        start(e, rate);
    } else if (early < kTickMs / 1000.0) {
        // Less than a look away: on the millisecond.
        e.timed = true;
        QPointer<MpvPlayer> player(e.player.get());
        QTimer::singleShot(static_cast<int>(early * 1000), Qt::PreciseTimer, this,
                           [this, player, rate] {
                               for (Entry& x : entries_)
                                   if (x.player.get() == player && x.timed) {
                                       x.timed = false;
                                       if (x.holdUntil != kNoHold && main_.rate() == rate)
                                           start(x, rate);
                                   }
                           });
    }
}

void AngleSync::start(Entry& e, float rate) {
    playAt(e, rate * e.map.scale);
    e.holdUntil = kNoHold;
    e.error = 0.0;
    e.settling = 3;
}

void AngleSync::steer(Entry& e, float rate) {
    if (main_.isSeeking() || e.player->isSeeking())
        return;
    const double base = rate * e.map.scale;
    const double want = angleTime(e.map, main_.playbackClock());
    const double error = e.player->playbackClock() - want;
    if (e.settling > 0) {
        // Just started: its clock is not reported yet.
        --e.settling;
        return;
    }
    e.error += kSmoothing * (error - e.error);
    if (std::abs(e.error) > kReseekSeconds * std::max(1.0, base)) {
        seekAhead(e, main_.playbackClock(), rate);
        return;
    }
    const double change =
        std::clamp(-kGain * e.error / std::max(base, 0.1), -kMaxSpeedChange, kMaxSpeedChange);
    const double speed = base * (1.0 + change);
    if (e.player->rate() == 0.0f || std::abs(speed - e.speed) > 1e-3 * base)
        playAt(e, speed);
}
