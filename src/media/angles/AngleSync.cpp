#include "angles/AngleSync.h"

#include <QPointer>
#include <QThread>
#include <algorithm>
#include <cmath>
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

AngleSync::AngleSync(MpvPlayer& main, QObject* parent) : QObject(parent), main_(main) {
    // What the main is asked is followed at once: the feeds start decoding
    // while the main seeks too.
    connect(&main_, &MpvPlayer::seekRequested, this, &AngleSync::tick);
    connect(&main_, &MpvPlayer::rateRequested, this, &AngleSync::tick);
    connect(&main_, &MpvPlayer::seekLanded, this, &AngleSync::tick);
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kStillTickMs);
    connect(&timer_, &QTimer::timeout, this, &AngleSync::tick);
}

AngleSync::~AngleSync() = default;

double AngleSync::shownTime(size_t i) const {
    const Entry& e = entries_[i];
    return e.shown.image.isNull() ? NAN : e.shown.pts;
}

bool AngleSync::setAngles(const std::vector<MatchAngle>& angles, const std::string& folder) {
    std::vector<std::string> paths;
    for (size_t i = 0; i < angles.size() && i < kMaxAngles; ++i)
        paths.push_back(resolve(angles[i].file, folder));
    bool same = paths.size() == entries_.size();
    for (size_t i = 0; same && i < paths.size(); ++i)
        same = paths[i] == entries_[i].path;
    if (same) {
        for (size_t i = 0; i < paths.size(); ++i)
            entries_[i].map = angles[i];
        tick();
        return false;
    }
    emit anglesAboutToGo();
    entries_.clear();
    // The angles share the cores: a decoder thread each on two cores (more
    // threads would only wake each other and take the GUI thread's turn),
    // more where there are cores to spare.
    const int threads =
        std::clamp(QThread::idealThreadCount() / std::max(1, static_cast<int>(paths.size())), 1, 4);
    for (size_t i = 0; i < paths.size(); ++i) {
        Entry e;
        e.map = angles[i];
        e.path = paths[i];
        e.feed = std::make_unique<AngleFeed>(paths[i], threads);
        QPointer<AngleFeed> feed(e.feed.get());
        const int at = static_cast<int>(i);
        connect(e.feed.get(), &AngleFeed::opened, this, [this, at] {
            emit pictureChanged(at);
            tick(); // joins the main at its instant
        });
        connect(e.feed.get(), &AngleFeed::framesArrived, this, &AngleSync::tick);
        entries_.push_back(std::move(e));
    }
    if (entries_.empty())
        timer_.stop();
    else
        timer_.start();
    return true;
}

int AngleSync::indexOf(const Entry& e) const {
    return static_cast<int>(&e - entries_.data());
}

bool AngleSync::holds(const Entry& e, double angleT) const {
    const double length = e.feed->duration();
    return angleT >= 0.0 && (std::isnan(length) || length <= 0.0 || angleT < length);
}

void AngleSync::setPicture(Entry& e, bool on) {
    if (e.picture == on)
        return;
    e.picture = on;
    if (!on) {
        // No frozen frame of another instant.
        e.shown = {};
        e.exact = false;
        emit frameChanged(indexOf(e));
    }
    emit pictureChanged(indexOf(e));
}

void AngleSync::tick() {
    main_.catchUp();
    if (!main_.hasCurrentItem())
        return;
    const float rate = main_.rate();
    timer_.setInterval(rate != 0.0f ? kTickMs : kStillTickMs);
    // Playing: the main's clock between its frames' reports; still or
    // seeking: the instant of the frame it shows or is going to.
    const double instant = rate != 0.0f ? main_.playbackClock() : main_.currentTime();
    for (Entry& e : entries_) {
        if (!e.feed->isOpen())
            continue;
        const double a = angleTime(e.map, instant);
        if (!holds(e, a)) {
            setPicture(e, false);
            continue;
        }
        setPicture(e, true);
        e.feed->want(a, rate * e.map.scale);
        AngleFeed::Frame f;
        e.exact = e.feed->frameAt(a, f);
        if (f.image.isNull() ||
            (f.pts == e.shown.pts && f.image.cacheKey() == e.shown.image.cacheKey()))
            continue;
        e.shown = std::move(f);
        emit frameChanged(indexOf(e));
    }
}
