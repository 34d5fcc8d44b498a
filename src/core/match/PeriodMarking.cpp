#include "match/PeriodMarking.h"

#include <cmath>
#include <cstdio>

#include "text/TimeText.h"

namespace {

bool refuse(std::string& why, std::string reason) {
    why = std::move(reason);
    return false;
}

// Whole seconds as the tables show them, then hundredths: a frame moved shows.
std::string timeText(double t) {
    const long long all = std::llround(t * 100.0);
    char hundredths[8];
    std::snprintf(hundredths, sizeof hundredths, ".%02d", static_cast<int>(all % 100));
    return createTimeString(static_cast<float>(all / 100)) + hundredths;
}

} // namespace

bool markPeriodStart(MatchInfo& match, double t, std::string& why) {
    if (!std::isfinite(t) || t < 0)
        return refuse(why, "この時刻には期間を始められません。");
    if (!match.periods.empty()) {
        const MatchPeriod& last = match.periods.back();
        if (last.open())
            return refuse(why,
                          "「" + last.name + "」が終了していません。先に終了を付けてください。");
        if (t < last.end)
            return refuse(why, "期間は前の期間「" + last.name + "」の終了より後に始めてください。");
    }
    const PeriodDefault next = periodDefault(match.periods.size());
    match.periods.push_back({next.name, t, MatchPeriod::kOpenEnd, next.clock});
    return true;
}

bool markPeriodEnd(MatchInfo& match, double t, std::string& why) {
    if (match.periods.empty() || !match.periods.back().open())
        return refuse(why, "終了していない期間がありません。先に開始を付けてください。");
    MatchPeriod& open = match.periods.back();
    if (!(t > open.start))
        return refuse(why, "終了は「" + open.name + "」の開始より後にしてください。");
    open.end = t;
    return true;
}

bool movePeriodEdge(MatchInfo& match, size_t which, bool end, double by, std::string& why) {
    if (which >= match.periods.size())
        return refuse(why, "動かす期間を選んでください。");
    MatchPeriod& p = match.periods[which];
    if (end && p.open())
        return refuse(why, "「" + p.name + "」にはまだ終了がありません。");
    const double to = (end ? p.end : p.start) + by;
    const MatchPeriod* before = which > 0 ? &match.periods[which - 1] : nullptr;
    const MatchPeriod* after =
        which + 1 < match.periods.size() ? &match.periods[which + 1] : nullptr;
    if (to < 0)
        return refuse(why, "動画の始まりより前には動かせません。");
    if (end ? to <= p.start : (!p.open() && to >= p.end))
        return refuse(why, "「" + p.name + "」の開始は終了より前にしてください。");
    if ((!end && before && to < before->end) || (end && after && to > after->start))
        return refuse(why, "隣の期間と重なるため動かせません。");
    (end ? p.end : p.start) = to;
    return true;
}

bool removePeriod(MatchInfo& match, size_t which, std::string& why) {
    if (which >= match.periods.size())
        return refuse(why, "削除する期間を選んでください。");
    match.periods.erase(match.periods.begin() + static_cast<std::ptrdiff_t>(which));
    return true;
}

std::string periodText(const MatchPeriod& period) {
    return period.name + " " + timeText(period.start) + " – " +
           (period.open() ? std::string() : timeText(period.end));
}
