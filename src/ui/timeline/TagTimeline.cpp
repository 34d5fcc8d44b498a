#include "timeline/TagTimeline.h"

#include <QApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

#include "SubViewClass/Buttons.h"
#include "player/Player.h"
#include "text/TimeText.h"

namespace {

const QColor kBackground(17, 24, 28);
const QColor kDivider(74, 90, 99);
const QColor kPositionLine(255, 255, 255);
const QColor kScaleInk(170, 185, 194);
constexpr int kPad = 3;
constexpr size_t kToolTipLines = 12;
constexpr double kZoomStep = 0.8; // span per wheel notch towards the match
constexpr double kPanStep = 0.15; // of the span per wheel notch

const QColor kOtherName(128, 128, 128);

// Seconds between the labelled ticks of the scale: the first round step that
// leaves room for a label.
double scaleStep(double pixelsPerSecond, int labelPx) {
    static constexpr double kSteps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600};
    for (double step : kSteps)
        if (step * pixelsPerSecond >= labelPx)
            return step;
    return kSteps[std::size(kSteps) - 1];
}

} // namespace

TagTimeline::TagTimeline(const QString& identifier, QWidget* parent) : QWidget(parent) {
    setObjectName(identifier);
    // Keys stay with whatever had them: the strip is only clicked.
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    setMinimumHeight(30);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    timer_.setInterval(kTickMs);
    connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
    clickTimer_.setSingleShot(true);
    connect(&clickTimer_, &QTimer::timeout, this, [this] {
        if (gesture_ == Gesture::Clicked)
            finishClick();
    });
    scrubTimer_.setInterval(kScrubPollMs);
    connect(&scrubTimer_, &QTimer::timeout, this, [this] { sendPendingScrub(); });
    setCodeWindow(window_);
}

void TagTimeline::setCodeWindow(const CodeWindow& window) {
    window_ = window;
    colours_.clear();
    colourOfName_.clear();
    // The places are kept in a byte: codes past 254 share the last colour.
    const size_t codes = std::min<size_t>(window_.codes.size(), 254);
    for (size_t i = 0; i < codes; ++i)
        colours_.push_back(window_.builtIn
                               ? TagButton::colorsFor(i).background
                               : QColor(QString::fromStdString(window_.codes[i].color)));
    colours_.push_back(window_.builtIn ? TagButton::colorsFor(codes).background : kOtherName);
    for (Lane& lane : lanes_)
        for (size_t j = 0; j < lane.tags.size(); ++j)
            lane.groups[j] = colourIndexOf(lane.tags[j]->name);
    update();
}

uint8_t TagTimeline::colourIndexOf(const std::string& name) const {
    if (const auto it = colourOfName_.find(name); it != colourOfName_.end())
        return it->second;
    // Each name is looked up in the window once: a name of no code compares
    // composed forms with every code, which 50,000 marks cannot afford.
    const Code* code = window_.find(name);
    const size_t other = colours_.size() - 1;
    const auto index = static_cast<uint8_t>(
        code ? std::min(static_cast<size_t>(code - window_.codes.data()), other) : other);
    colourOfName_.emplace(name, index);
    return index;
}

QColor TagTimeline::colorOf(const std::string& name) const {
    return colours_[colourIndexOf(name)];
}

void TagTimeline::setRows(const std::vector<std::shared_ptr<TagRowData>>& rows) {
    // A recorded tag only adds rows at the end of the same list: those are
    // put in place instead of building every lane again.
    bool appended = rows.size() >= fed_.size() && !fed_.empty();
    for (size_t i = 0; appended && i < fed_.size(); ++i)
        appended = rows[i].get() == fed_[i];
    if (appended) {
        for (size_t i = fed_.size(); i < rows.size(); ++i)
            insertMark(rows[i]);
        fed_.reserve(rows.size());
        for (size_t i = fed_.size(); i < rows.size(); ++i)
            fed_.push_back(rows[i].get());
        update();
        return;
    }
    struct Key {
        double time;
        uint32_t row;
        uint8_t group;
    };
    std::vector<Key> keys[2];
    fed_.clear();
    fed_.reserve(rows.size());
    uint8_t lastGroup = 0;
    const std::string* lastName = nullptr;
    for (size_t i = 0; i < rows.size(); ++i) {
        const TagRowData& tag = *rows[i];
        fed_.push_back(&tag);
        if (!lastName || *lastName != tag.name)
            lastGroup = colourIndexOf(tag.name);
        lastName = &tag.name;
        keys[tag.team ? 0 : 1].push_back({tag.time_val, static_cast<uint32_t>(i), lastGroup});
    }
    for (int team = 0; team < 2; ++team) {
        auto& lane = lanes_[team];
        auto& k = keys[team];
        const auto earlier = [](const Key& a, const Key& b) { return a.time < b.time; };
        // Lists come mostly in time order already.
        if (!std::is_sorted(k.begin(), k.end(), earlier))
            std::stable_sort(k.begin(), k.end(), earlier);
        lane.times.resize(k.size());
        lane.groups.resize(k.size());
        lane.tags.resize(k.size());
        lane.lasting = 0;
        for (size_t j = 0; j < k.size(); ++j) {
            lane.times[j] = k[j].time;
            lane.groups[j] = k[j].group;
            lane.tags[j] = rows[k[j].row];
            lane.lasting += lane.tags[j]->end.state != TagEnd::State::None;
        }
    }
    update();
}

void TagTimeline::insertMark(const std::shared_ptr<TagRowData>& tag) {
    Lane& lane = lanes_[tag->team ? 0 : 1];
    const double t = tag->time_val;
    // After the marks of the same time, as a rebuild would put it.
    const auto at = std::upper_bound(lane.times.begin(), lane.times.end(), t);
    const auto offset = at - lane.times.begin();
    lane.times.insert(at, t);
    lane.groups.insert(lane.groups.begin() + offset, colourIndexOf(tag->name));
    lane.tags.insert(lane.tags.begin() + offset, tag);
    lane.lasting += tag->end.state != TagEnd::State::None;
}

void TagTimeline::setChosen(int64_t index) {
    if (index == chosenIndex_)
        return;
    chosenIndex_ = index;
    update();
}

double TagTimeline::duration() const {
    if (!player_ || !player_->hasCurrentItem())
        return 0.0;
    const double d = player_->duration();
    return std::isfinite(d) && d > 0.0 ? d : 0.0;
}

double TagTimeline::currentTime() const {
    return player_ && player_->hasCurrentItem() ? player_->currentTime() : 0.0;
}

void TagTimeline::showWholeMatch() {
    view_ = {0.0, duration()};
    follow_ = true;
    update();
}

bool TagTimeline::zoomed() const {
    syncDuration();
    return view_.span > 0.0 && view_.span < knownDuration_;
}

bool TagTimeline::inView(double seconds) const {
    syncDuration();
    return seconds >= view_.start && seconds <= view_.start + view_.span;
}

void TagTimeline::syncDuration() const {
    const double d = duration();
    if (d == knownDuration_)
        return;
    // A recording being written grows under a zoomed view, which stays.
    const bool keep =
        player_ && player_->isGrowing() && d > knownDuration_ && view_.span < knownDuration_;
    knownDuration_ = d;
    if (!keep)
        view_ = {0.0, d};
}

double TagTimeline::xOf(double seconds) const {
    syncDuration();
    if (view_.span <= 0.0)
        return 0.0;
    return (seconds - view_.start) * width() / view_.span;
}

double TagTimeline::timeAt(double x) const {
    syncDuration();
    if (width() <= 0)
        return view_.start;
    return view_.start + x * view_.span / width();
}

int TagTimeline::lanesHeight() const {
    return zoomed() ? std::max(2, height() - kScalePx) : height();
}

int TagTimeline::laneHeight() const {
    return std::max(1, lanesHeight() / 2 - kPad - 1);
}

int TagTimeline::laneTop(bool teamA) const {
    return teamA ? kPad : lanesHeight() / 2 + 1;
}

QPoint TagTimeline::pointOf(double seconds, bool teamA) const {
    return {static_cast<int>(std::floor(xOf(seconds))), laneTop(teamA) + laneHeight() / 2};
}

TimelineView TagTimeline::zoomedAround(TimelineView v, double duration, double anchor,
                                       double factor) {
    if (duration <= 0.0)
        return {0.0, 0.0};
    const double closest = std::min(kMinSpan, duration);
    const double span = std::clamp(v.span * factor, closest, duration);
    const double ratio = v.span > 0.0 ? (anchor - v.start) / v.span : 0.0;
    const double start = std::clamp(anchor - ratio * span, 0.0, duration - span);
    return {start, span};
}

TimelineView TagTimeline::pannedBy(TimelineView v, double duration, double seconds) {
    v.start = std::clamp(v.start + seconds, 0.0, std::max(0.0, duration - v.span));
    return v;
}

std::vector<std::shared_ptr<TagRowData>> TagTimeline::marksAt(QPoint pos) const {
    syncDuration();
    if (view_.span <= 0.0 || width() <= 0)
        return {};
    const bool teamA = pos.y() < lanesHeight() / 2;
    const int top = laneTop(teamA);
    if (pos.y() < top - kHitPx || pos.y() >= top + laneHeight() + kHitPx)
        return {};
    const Lane& lane = lanes_[teamA ? 0 : 1];
    // A mark is drawn at the pixel its time falls in, two pixels wide: its
    // pixels and kHitPx around them.
    const double from = timeAt(pos.x() - kHitPx - 1);
    const double to = timeAt(pos.x() + kHitPx + 1);
    const auto first = std::lower_bound(lane.times.begin(), lane.times.end(), from);
    const auto last = std::lower_bound(first, lane.times.end(), to);
    const double at = timeAt(pos.x());
    std::vector<size_t> found(static_cast<size_t>(last - first));
    std::iota(found.begin(), found.end(), static_cast<size_t>(first - lane.times.begin()));
    std::stable_sort(found.begin(), found.end(), [&](size_t a, size_t b) {
        return std::abs(lane.times[a] - at) < std::abs(lane.times[b] - at);
    });
    std::vector<std::shared_ptr<TagRowData>> out;
    out.reserve(found.size());
    for (size_t i : found)
        out.push_back(lane.tags[i]);
    return out;
}

QString TagTimeline::toolTipAt(QPoint pos) const {
    auto marks = marksAt(pos);
    std::stable_sort(marks.begin(), marks.end(),
                     [](const auto& a, const auto& b) { return a->time_val < b->time_val; });
    QStringList lines;
    for (size_t i = 0; i < marks.size() && i < kToolTipLines; ++i) {
        const TagRowData& tag = *marks[i];
        QString time = match_ ? timeText(tag.time_val) : QString::fromStdString(tag.time_string);
        if (tag.end.isSet())
            time += "–" + timeText(tag.end.time);
        QString line =
            QString("%1  %2  %3")
                .arg(tag.team ? "チームA" : "チームB", time, QString::fromStdString(tag.name));
        for (const auto& [group, text] : tag.labels)
            line += "  " + QString::fromStdString(group) + ": " + QString::fromStdString(text);
        QString comment = QString::fromStdString(tag.comment).simplified();
        if (!comment.isEmpty()) {
            constexpr int kCommentChars = 30;
            if (comment.size() > kCommentChars)
                comment = comment.left(kCommentChars) + "…";
            line += "  " + comment;
        }
        lines << line;
    }
    if (marks.size() > kToolTipLines)
        lines << QString("ほか%1件").arg(marks.size() - kToolTipLines);
    return lines.join('\n');
}

void TagTimeline::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    syncDuration();
    if (view_.span > 0.0)
        paintPeriods(p);
    p.fillRect(0, lanesHeight() / 2, width(), 1, kDivider);
    if (view_.span <= 0.0)
        return;
    paintBars(p);
    paintMarks(p);
    if (zoomed())
        paintScale(p);
    // Under the chosen mark's frame, so the frame shows wherever the line is;
    // at the very end of the match it stays inside the strip.
    if (inView(shownPosition_)) {
        const int line = std::clamp(static_cast<int>(std::floor(xOf(shownPosition_))), 0,
                                    std::max(0, width() - 2));
        p.fillRect(line, 0, 2, height(), kPositionLine);
    }
    paintChosen(p);
}

void TagTimeline::paintMarks(QPainter& p) const {
    const double scale = width() / view_.span;
    const int h = laneHeight();
    for (int team = 0; team < 2; ++team) {
        const Lane& lane = lanes_[team];
        const int top = laneTop(team == 0);
        const auto first = std::lower_bound(lane.times.begin(), lane.times.end(), view_.start);
        const auto last = std::upper_bound(first, lane.times.end(), view_.start + view_.span);
        int lastX = -kMergePx;
        for (auto it = first; it != last; ++it) {
            const int x = static_cast<int>((*it - view_.start) * scale);
            if (x < lastX + kMergePx)
                continue; // drawn as one with the mark before
            const size_t i = static_cast<size_t>(it - lane.times.begin());
            p.fillRect(x, top, 2, h, colours_[lane.groups[i]]);
            lastX = x;
        }
    }
}

QRect TagTimeline::barOf(const TagRowData& tag) const {
    syncDuration();
    if (tag.end.state == TagEnd::State::None || view_.span <= 0.0)
        return {};
    const double end =
        tag.end.isSet() ? tag.end.time : std::max<double>(tag.time_val, shownPosition_);
    if (end < view_.start || tag.time_val > view_.start + view_.span)
        return {};
    const int x0 = std::max(0, static_cast<int>(std::floor(xOf(tag.time_val))));
    const int x1 = std::min(width(), static_cast<int>(std::floor(xOf(end))) + 2);
    // The middle half of the lane: the marks stand out at either end.
    const int h = laneHeight();
    return {x0, laneTop(tag.team) + h / 4, std::max(2, x1 - x0), std::max(1, h / 2)};
}

void TagTimeline::paintBars(QPainter& p) const {
    for (const Lane& lane : lanes_) {
        if (lane.lasting == 0)
            continue;
        const auto last =
            std::upper_bound(lane.times.begin(), lane.times.end(), view_.start + view_.span);
        for (size_t i = 0; i < static_cast<size_t>(last - lane.times.begin()); ++i)
            if (const QRect bar = barOf(*lane.tags[i]); !bar.isEmpty())
                p.fillRect(bar, colours_[lane.groups[i]]);
    }
}

void TagTimeline::paintChosen(QPainter& p) const {
    if (chosenIndex_ < 0)
        return;
    const int h = laneHeight();
    for (int team = 0; team < 2; ++team) {
        const Lane& lane = lanes_[team];
        for (size_t i = 0; i < lane.tags.size(); ++i) {
            if (lane.tags[i]->index != chosenIndex_)
                continue;
            const int x = static_cast<int>(std::floor(xOf(lane.times[i])));
            const QRect mark(x - 2, laneTop(team == 0) - 2, 6, h + 4);
            p.fillRect(mark, Qt::white);
            p.fillRect(mark.adjusted(1, 1, -1, -1), colours_[lane.groups[i]]);
        }
    }
}

void TagTimeline::paintScale(QPainter& p) const {
    const int top = lanesHeight();
    p.fillRect(0, top, width(), 1, kDivider);
    QFont font = p.font();
    font.setPixelSize(kScalePx - 4);
    p.setFont(font);
    p.setPen(kScaleInk);
    const QFontMetrics fm(font);
    const double perSecond = width() / view_.span;
    const double step = scaleStep(perSecond, fm.horizontalAdvance("00:00") + 10);
    if (match_)
        return paintMatchScale(p, step);
    const double end = view_.start + view_.span;
    for (double k = std::ceil(view_.start / step); k * step <= end; ++k) {
        const double t = k * step;
        const int x = static_cast<int>(std::floor((t - view_.start) * perSecond));
        p.fillRect(x, top + 1, 1, kScalePx - 1, kScaleInk);
        const auto s = static_cast<long long>(std::llround(t));
        const QString label = QString("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QChar('0'));
        if (x + 3 + fm.horizontalAdvance(label) <= width()) // no label cut at the end
            p.drawText(x + 3, height() - fm.descent() - 1, label);
    }
}

void TagTimeline::tick() {
    syncDuration();
    // Grown by a pixel's worth (a recording being written): every mark moves.
    if (knownDuration_ > 0.0 && width() * (1.0 - grownFrom_ / knownDuration_) >= 1.0) {
        grownFrom_ = knownDuration_;
        update();
    }
    if (gesture_ == Gesture::Scrubbing)
        return; // the line stays with the pointer
    const double now = currentTime();
    if (now == shownPosition_)
        return;
    const int before = static_cast<int>(std::floor(xOf(shownPosition_)));
    const bool paged = followPosition(now);
    shownPosition_ = now;
    if (paged || static_cast<int>(std::floor(xOf(now))) != before)
        update();
}

bool TagTimeline::followPosition(double now) {
    if (inView(now)) {
        follow_ = true;
        return false;
    }
    // While playing, a zoomed view pages to the position that left it, unless
    // the user had moved the view away from the position.
    if (!follow_ || !zoomed() || !player_ || player_->rate() == 0.0f)
        return false;
    view_ = pannedBy(view_, knownDuration_, now - view_.start - 0.1 * view_.span);
    return true;
}

void TagTimeline::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton || duration() <= 0.0)
        return;
    emit pressed();
    gesture_ = Gesture::Pressed;
    pressPos_ = event->position().toPoint();
    // A click acts once the second press of a double click can no longer come.
    clickTimer_.start(QApplication::doubleClickInterval());
}

void TagTimeline::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    const bool held = event->buttons() & Qt::LeftButton;
    // Wherever the press was, on a mark or not, moving on scrubs.
    if (gesture_ == Gesture::Pressed && held && std::abs(pos.x() - pressPos_.x()) > kDragPx) {
        gesture_ = Gesture::Scrubbing;
        clickTimer_.stop();
    }
    if (gesture_ == Gesture::Scrubbing && held) {
        scrubTo(pos.x(), false);
        return;
    }
    setCursor(marksAt(pos).empty() ? Qt::ArrowCursor : Qt::PointingHandCursor);
}

void TagTimeline::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    if (gesture_ == Gesture::Scrubbing) {
        gesture_ = Gesture::None;
        scrubTo(event->position().x(), true);
    } else if (gesture_ == Gesture::Pressed) {
        gesture_ = Gesture::Clicked;
        if (!clickTimer_.isActive())
            finishClick();
    }
}

void TagTimeline::finishClick() {
    gesture_ = Gesture::None;
    const double d = duration();
    if (d <= 0.0)
        return;
    const auto marks = marksAt(pressPos_);
    if (!marks.empty()) {
        emit markClicked(marks.front());
        return;
    }
    follow_ = true;
    emit seekRequested(std::clamp(timeAt(pressPos_.x()), 0.0, d), true);
}

void TagTimeline::scrubTo(double x, bool exact) {
    const double d = duration();
    if (d <= 0.0)
        return;
    const double t = std::clamp(timeAt(x), 0.0, d);
    // The line is at the pointer, whichever frame the last seek showed.
    shownPosition_ = t;
    follow_ = true;
    update();
    if (exact) {
        pendingScrub_.reset();
        scrubTimer_.stop();
        lastScrub_ = -1.0;
        emit seekRequested(t, true);
        return;
    }
    pendingScrub_ = t;
    sendPendingScrub();
}

void TagTimeline::sendPendingScrub() {
    // One seek at a time: the next goes once the player shows this one, and
    // only the latest place waits.
    if (pendingScrub_ && player_ && player_->isSeeking()) {
        if (!scrubTimer_.isActive())
            scrubTimer_.start();
        return;
    }
    scrubTimer_.stop();
    const std::optional<double> t = std::exchange(pendingScrub_, std::nullopt);
    if (!t || *t == lastScrub_)
        return;
    lastScrub_ = *t;
    emit seekRequested(*t, false);
}

void TagTimeline::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    // Neither this nor the click before it moves the video.
    clickTimer_.stop();
    gesture_ = Gesture::None;
    showWholeMatch();
}

void TagTimeline::wheelEvent(QWheelEvent* event) {
    event->accept();
    syncDuration();
    const double d = duration();
    const int notches = (event->angleDelta().y() + event->angleDelta().x()) / 120;
    if (d <= 0.0 || notches == 0)
        return;
    if (event->modifiers() & Qt::ControlModifier) {
        const double anchor = timeAt(event->position().x());
        view_ = zoomedAround(view_, d, anchor, std::pow(kZoomStep, notches));
    } else if (view_.span < d) {
        view_ = pannedBy(view_, d, -notches * kPanStep * view_.span);
    }
    // Moved away from the position, the view no longer pages with it.
    follow_ = inView(shownPosition_);
    update();
}

bool TagTimeline::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = toolTipAt(help->pos());
        if (text.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), text, this);
        }
        return true;
    }
    return QWidget::event(event);
}

void TagTimeline::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    timer_.start();
}

void TagTimeline::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    timer_.stop();
    clickTimer_.stop();
    scrubTimer_.stop();
    pendingScrub_.reset();
    gesture_ = Gesture::None;
}
