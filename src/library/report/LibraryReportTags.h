#pragma once

#include <QString>
#include <memory>
#include <vector>

#include "Model/DataModel.h"
#include "index/SeasonLibrary.h"
#include "match/MatchInfo.h"
#include "report/MatchReport.h"

// The tags a library search found, as one report over many matches. Where
// their matches have periods, each period name (前半, 後半, extra periods)
// becomes one period of a made-up match and every tag sits on it at its own
// match clock, so the report counts per period and blocks by match minute
// across the matches; a tag outside every period, or of a match without
// periods, lies outside them all (期間外). Where no match has periods the
// tags keep their video times.
namespace library {

struct ReportTags {
    std::vector<std::shared_ptr<TagRowData>> tags;
    MatchInfo match; // the made-up periods; the team names every match shares
    size_t matches = 0;
    QString title; // ライブラリ: N 試合
};

ReportTags reportTags(const std::vector<Hit>& hits);
// Their figures (buildMatchReport's, over `found.matches` matches).
MatchReport reportFigures(const ReportTags& found, const CodeWindow* window);

} // namespace library
