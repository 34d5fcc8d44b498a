// The strip in match time: the periods shaded, the tool tip's times and a
// zoomed strip's scale read as the analyst counts the match.

#include <QPainter>
#include <algorithm>
#include <cmath>

#include "text/TimeText.h"
#include "timeline/TagTimeline.h"

namespace {

const QColor kPeriodShade(30, 43, 50);
const QColor kScaleInk(170, 185, 194);
const QColor kPeriodInk(255, 255, 255);

} // namespace

void TagTimeline::setMatch(std::optional<MatchInfo> match) {
    if (match == match_)
        return;
    match_ = std::move(match);
    update();
}

QString TagTimeline::timeText(double seconds) const {
    return QString::fromStdString(match_ ? matchTimeText(*match_, seconds)
                                         : createTimeString(static_cast<float>(seconds)));
}

void TagTimeline::paintPeriods(QPainter& p) const {
    if (!match_)
        return;
    const double viewEnd = view_.start + view_.span;
    for (const MatchPeriod& period : match_->periods) {
        const double end = period.open() ? viewEnd : std::min(period.end, viewEnd);
        if (end <= view_.start || period.start >= viewEnd)
            continue;
        const int x0 = static_cast<int>(std::floor(xOf(std::max(period.start, view_.start))));
        const int x1 = static_cast<int>(std::floor(xOf(end)));
        p.fillRect(x0, 0, std::max(1, x1 - x0), lanesHeight(), kPeriodShade);
    }
}

void TagTimeline::paintMatchScale(QPainter& p, double step) const {
    const int top = lanesHeight();
    const QFontMetrics fm(p.font());
    const double viewEnd = view_.start + view_.span;
    for (const MatchPeriod& period : match_->periods) {
        const double from = std::max(period.start, view_.start);
        const double to = period.open() ? viewEnd : std::min(period.end, viewEnd);
        if (from > to)
            continue;
        // Its name where it starts; a tick's label under the name is left out.
        int nameEnd = -10;
        if (period.start >= view_.start) {
            const int x = static_cast<int>(std::floor(xOf(period.start)));
            const QString name = QString::fromStdString(period.name);
            p.setPen(kPeriodInk);
            p.drawText(x + 3, height() - fm.descent() - 1, name);
            nameEnd = x + 3 + fm.horizontalAdvance(name);
        }
        p.setPen(kScaleInk);
        const double firstClock = period.clock + (from - period.start);
        for (double k = std::ceil(firstClock / step);; ++k) {
            const double t = period.start + (k * step - period.clock);
            if (t > to)
                break;
            const int x = static_cast<int>(std::floor(xOf(t)));
            p.fillRect(x, top + 1, 1, kScalePx - 1, kScaleInk);
            const auto s = static_cast<long long>(std::llround(k * step));
            const QString label = QString("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QChar('0'));
            if (x + 3 > nameEnd + 4 && x + 3 + fm.horizontalAdvance(label) <= width())
                p.drawText(x + 3, height() - fm.descent() - 1, label);
        }
    }
}
