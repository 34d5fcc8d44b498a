#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "angles/AngleFeed.h"
#include "match/Angles.h"

class MpvPlayer;

// The other cameras of the match kept in step with the main player, whose
// time is the master. Each angle is a feed decoded on its own thread and
// asked, at every look, for the frame of the main's instant mapped into its
// file: paused, exactly the main frame's instant; playing, the main's clock
// between its frames' reports. An angle whose file does not hold the
// instant has no picture until the instant comes back into it.
//
// Everything runs on the GUI thread from the main's signals, the feeds'
// signals and a timer; nothing here waits on a decoder.
class AngleSync : public QObject {
    Q_OBJECT
public:
    // Milliseconds between looks while the main plays (a 50 fps angle's
    // frames are 20 ms apart) and while it is still.
    static constexpr int kTickMs = 5;
    static constexpr int kStillTickMs = 40;

    explicit AngleSync(MpvPlayer& main, QObject* parent = nullptr);
    ~AngleSync() override;

    // Replaces the angles; a relative file is found in `folder`. The feeds
    // are made again only when the files changed (true then).
    bool setAngles(const std::vector<MatchAngle>& angles, const std::string& folder);
    size_t count() const { return entries_.size(); }
    const MatchAngle& angle(size_t i) const { return entries_[i].map; }
    // Whether angle `i` shows the main's instant: its file is open and holds
    // it.
    bool hasPicture(size_t i) const { return entries_[i].picture; }
    bool isOpen(size_t i) const { return entries_[i].feed->isOpen(); }
    // Why angle `i`'s file could not be opened; empty else.
    std::string error(size_t i) const { return entries_[i].feed->error(); }
    // The picture angle `i` shows now (null when none) and the time of its
    // frame in the angle's file.
    const QImage& image(size_t i) const { return entries_[i].shown.image; }
    double shownTime(size_t i) const;
    // The picture shown holds the instant last wanted (or there is none).
    bool settled(size_t i) const { return !entries_[i].picture || entries_[i].exact; }
    // Angle `i`'s pictures are made to fit this size (device pixels).
    void setPictureSize(size_t i, QSize size) { entries_[i].feed->setSize(size); }

signals:
    // Angle `i` gained or lost its picture, or its file opened or failed.
    void pictureChanged(int i);
    // Angle `i` has a new frame to draw.
    void frameChanged(int i);
    // The angles are about to be replaced: their views go first.
    void anglesAboutToGo();

private:
    struct Entry {
        MatchAngle map;
        std::string path;
        std::unique_ptr<AngleFeed> feed;
        bool picture = false;
        bool exact = false; // the frame shown holds the wanted instant
        AngleFeed::Frame shown;
    };

    void tick();
    bool holds(const Entry& e, double angleT) const;
    void setPicture(Entry& e, bool on);
    int indexOf(const Entry& e) const;

    MpvPlayer& main_;
    std::vector<Entry> entries_;
    QTimer timer_;
};
