#pragma once

#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Model/DataModel.h"
#include "codewindow/CodeWindow.h"
#include "match/MatchInfo.h"

class Player;

// The part of the match the strip shows, in seconds.
struct TimelineView {
    double start = 0.0;
    double span = 0.0;
    bool operator==(const TimelineView&) const = default;
};

// A strip of the listed tags along the whole video: team A's marks in the
// upper half, team B's in the lower, coloured by their tag button's group, and
// a line at the playing position; zoomed, a time scale under the marks. It
// shows the rows it is given and owns no tag: a click on a mark is reported, a
// click elsewhere or a drag asks for seeks.
class TagTimeline : public QWidget {
    Q_OBJECT
public:
    explicit TagTimeline(const QString& identifier, QWidget* parent = nullptr);

    static constexpr double kMinSpan = 10.0; // seconds across at the closest zoom
    static constexpr int kMergePx = 2;       // marks nearer than this are drawn as one
    static constexpr int kHitPx = 1;         // margin around a mark's pixels that still hits it
    static constexpr int kDragPx = 4;        // a press moved further than this scrubs
    static constexpr int kScalePx = 14;      // height of the time scale of a zoomed strip
    static constexpr int kTickMs = 50;       // position line refresh while shown
    static constexpr int kScrubPollMs = 10;  // how often a held drag seek looks for its turn

    // The player whose time and length are shown (not owned).
    void setPlayer(Player* player) { player_ = player; }
    // The rows the screen lists, in any order.
    void setRows(const std::vector<std::shared_ptr<TagRowData>>& rows);
    // Marks take the colour of their code in `window`; names of no code are
    // grey (the standard window's: the check's colour, as always).
    void setCodeWindow(const CodeWindow& window);
    // The colour a tag named `name` is drawn in.
    QColor colorOf(const std::string& name) const;
    // Times read as match time in `match` (its periods shaded, the scale in
    // match minutes); none: as video time.
    void setMatch(std::optional<MatchInfo> match);
    // A time as the tool tip and the scale read it.
    QString timeText(double seconds) const;
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
    // The bar of a tag that lasts, from its start to its end (to the position
    // while open); empty for a tag of one moment or out of view.
    QRect barOf(const TagRowData& tag) const;
    // The marks under `pos` (their pixels, within kHitPx), nearest first.
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
    // Any press of the strip (a sequence being played ends).
    void pressed();
    void markClicked(std::shared_ptr<TagRowData> tag);
    // `exact` for a click or the end of a drag; key frames while dragging.
    void seekRequested(double seconds, bool exact);

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
        std::vector<uint8_t> groups; // places in colours_
        std::vector<std::shared_ptr<TagRowData>> tags;
        size_t lasting = 0; // tags with an end or open: drawn as bars too
    };
    // What the left button is doing: a press not yet a click or a drag, a
    // click waiting to be sure it is no double click, or a drag.
    enum class Gesture { None, Pressed, Clicked, Scrubbing };

    void insertMark(const std::shared_ptr<TagRowData>& tag);
    uint8_t colourIndexOf(const std::string& name) const;
    void paintBars(QPainter& p) const;
    void tick();
    // Pages a zoomed view to a playing position that left it; true if moved.
    bool followPosition(double now);
    // Follows a change of video: the whole match is shown again.
    void syncDuration() const;
    double currentTime() const;
    bool zoomed() const;
    bool inView(double seconds) const;
    void finishClick();
    void scrubTo(double x, bool exact);
    void sendPendingScrub();
    void paintMarks(QPainter& p) const;
    void paintChosen(QPainter& p) const;
    void paintScale(QPainter& p) const;
    // The periods' spans, lighter than the rest of the strip.
    void paintPeriods(QPainter& p) const;
    // Zoomed with match times: ticks at round match minutes of each period,
    // its name at its start.
    void paintMatchScale(QPainter& p, double step) const;
    // Below the lanes, the scale (zoomed) takes the rest of the height.
    int lanesHeight() const;
    int laneTop(bool teamA) const;
    int laneHeight() const;

    Player* player_ = nullptr;
    // One colour per code of the window, then the colour of other names.
    std::vector<QColor> colours_;
    CodeWindow window_ = CodeWindow::standard();
    std::optional<MatchInfo> match_;
    // Each name's place in colours_, once looked up (a name of no code is
    // composed and compared with every code's).
    mutable std::unordered_map<std::string, uint8_t> colourOfName_;
    Lane lanes_[2]; // [0] team A, [1] team B
    // The rows last given, in their order (to know a list that only grew).
    // The lanes hold each of them, so no address is reused while listed.
    std::vector<const TagRowData*> fed_;
    // Both follow the player's length as it is read.
    mutable TimelineView view_;
    mutable double knownDuration_ = 0.0;
    double grownFrom_ = 0.0; // the length when the strip was last redrawn for growing
    int64_t chosenIndex_ = -1;
    double shownPosition_ = 0.0;
    // The view pages with the position unless the user moved it away.
    bool follow_ = true;
    Gesture gesture_ = Gesture::None;
    QPoint pressPos_;
    QTimer clickTimer_; // a double click's second press may still come
    // The latest dragged-to time not yet sought: sent once the player has
    // shown the seek before it, so a drag never builds a queue of seeks.
    std::optional<double> pendingScrub_;
    double lastScrub_ = -1.0;
    QTimer scrubTimer_;
    QTimer timer_;
};
