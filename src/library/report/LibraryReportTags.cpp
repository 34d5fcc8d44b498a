#include "report/LibraryReportTags.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <unordered_map>

namespace library {
namespace {

// The name every hit's match gives team `team`; empty when they differ.
std::string sharedTeam(const std::vector<Hit>& hits, size_t team) {
    for (const Hit& h : hits)
        if (h.teams[team] != hits.front().teams[team])
            return {};
    return hits.empty() ? std::string() : hits.front().teams[team].toStdString();
}

// One period per period name, in the order of their earliest clock, laid one
// after another from 1 s on whole seconds with a second between them; time 0
// lies outside them all. Each starts at the earliest clock of its tags.
std::vector<MatchPeriod> seasonPeriods(const std::vector<Hit>& hits) {
    struct Range {
        double from, to;
        size_t seen;
    };
    std::map<std::string, Range> ranges;
    for (const Hit& h : hits) {
        if (h.period.empty())
            continue;
        auto [it, added] = ranges.try_emplace(h.period, Range{h.clock, h.clock, ranges.size()});
        it->second.from = std::min(it->second.from, h.clock);
        it->second.to = std::max(it->second.to, h.clock);
    }
    std::vector<std::pair<std::string, Range>> order(ranges.begin(), ranges.end());
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
        return a.second.from != b.second.from ? a.second.from < b.second.from
                                              : a.second.seen < b.second.seen;
    });
    std::vector<MatchPeriod> periods;
    double at = 1.0;
    for (const auto& [name, range] : order) {
        // Whole-second starts: a tag's float time never falls before its period.
        periods.push_back({name, at, at + (range.to - range.from) + 1.0, range.from});
        at = std::ceil(periods.back().end) + 1.0;
    }
    return periods;
}

} // namespace

ReportTags reportTags(const std::vector<Hit>& hits) {
    ReportTags out;
    out.match.teams = {sharedTeam(hits, 0), sharedTeam(hits, 1)};
    out.match.periods = seasonPeriods(hits);
    std::unordered_map<std::string, const MatchPeriod*> periodOf;
    for (const MatchPeriod& p : out.match.periods)
        periodOf.emplace(p.name, &p);
    const bool matchTime = !out.match.periods.empty();
    std::set<qint64> matches;
    out.tags.reserve(hits.size());
    for (const Hit& h : hits) {
        double time = h.time;
        if (matchTime) {
            const auto it = periodOf.find(h.period);
            time = it == periodOf.end() ? 0.0 : it->second->start + (h.clock - it->second->clock);
        }
        auto tag = std::make_shared<TagRowData>();
        tag->index = static_cast<int64_t>(out.tags.size());
        tag->team = h.teamA;
        tag->time_val = static_cast<float>(time);
        tag->name = h.code;
        tag->labels = h.labels;
        if (h.end)
            tag->end = TagEnd::at(static_cast<float>(time + (*h.end - h.time)));
        out.tags.push_back(std::move(tag));
        matches.insert(h.match);
    }
    out.matches = matches.size();
    out.title = QStringLiteral("ライブラリ: %1 試合").arg(out.matches);
    return out;
}

MatchReport reportFigures(const ReportTags& found, const CodeWindow* window) {
    MatchReport figures = buildMatchReport(found.tags, found.match, window);
    figures.matches = static_cast<int64_t>(found.matches);
    return figures;
}

} // namespace library
