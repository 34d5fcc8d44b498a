#pragma once

#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

#include "Model/DataModel.h"

class Player;

// The part of the match the strip shows, in seconds.
struct TimelineView {
    double start = 0.0;
    double span = 0.0;
    bool operator==(const TimelineView&) const = default;
};

// A strip of the listed tags along the whole video: team A's marks in the
// upper half, team B's in the lower, coloured by their tag button's group, and
// a line at the playing position. It shows the rows it is given and owns no
// tag: a click on a mark is reported, a click elsewhere asks for a seek.
class TagTimeline : public QWidget {
    Q_OBJECT
public:
    explicit TagTimeline(const QString& identifier, QWidget* parent = nullptr);

    static constexpr double kMinSpan = 10.0; // seconds across at the closest zoom
    static constexpr int kMergePx = 2;       // marks nearer than this are drawn as one
    static constexpr int kHitPx = 2;         // how far from a mark a click still hits it
    static constexpr int kTickMs = 50;       // position line refresh while shown

    // The player whose time and length are shown (not owned).
    void setPlayer(Player* player) { player_ = player; }
    // The rows the screen lists, in any order.
    void setRows(const std::vector<std::shared_ptr<TagRowData>>& rows);
    // The chosen tag (by `index`; -1 for none) is drawn standing out.
    void setChosen(int64_t index);
    int64_t chosen() const { return chosenIndex_; }

    // Length of the open video; 0 with none.
    double duration() const;
    TimelineView view() const {
        syncDuration();
        return view_;
    }
    // The whole match again.
    void showWholeMatch();
    double xOf(double seconds) const;
    double timeAt(double x) const;
    // Where the mark of a tag at `seconds` of a team is drawn (its centre).
    QPoint pointOf(double seconds, bool teamA) const;
    // The marks under `pos` (within kHitPx), nearest first; none off the marks.
    std::vector<std::shared_ptr<TagRowData>> marksAt(QPoint pos) const;
    QString toolTipAt(QPoint pos) const;
    // The time the position line was last placed at.
    double shownPosition() const { return shownPosition_; }

    // `factor` < 1 zooms in, keeping the time `anchor` where it is on the
    // strip; the span stays between kMinSpan (or the whole match, if shorter)
    // and the whole match.
    static TimelineView zoomedAround(TimelineView v, double duration, double anchor, double factor);
    // Moved by `seconds`, not past either end.
    static TimelineView pannedBy(TimelineView v, double duration, double seconds);

signals:
    void markClicked(std::shared_ptr<TagRowData> tag);
    void seekRequested(double seconds);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // One team's marks, sorted by time.
    struct Lane {
        std::vector<double> times;
        std::vector<uint8_t> groups;
        std::vector<std::shared_ptr<TagRowData>> tags;
    };
    void insertMark(const std::shared_ptr<TagRowData>& tag);
    void tick();
    // Follows a change of video: the whole match is shown again.
    void syncDuration() const;
    double currentTime() const;
    void scrubTo(double x);
    int laneTop(bool teamA) const;
    int laneHeight() const;

    Player* player_ = nullptr;
    Lane lanes_[2]; // [0] team A, [1] team B
    // The rows last given, in their order (to know a list that only grew).
    // The lanes hold each of them, so no address is reused while listed.
    std::vector<const TagRowData*> fed_;
    // Both follow the player's length as it is read.
    mutable TimelineView view_;
    mutable double knownDuration_ = 0.0;
    int64_t chosenIndex_ = -1;
    double shownPosition_ = 0.0;
    bool dragging_ = false;
    double lastScrub_ = -1.0;
    QTimer timer_;
};
