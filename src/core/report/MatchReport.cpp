#include "report/MatchReport.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_map>

#include "review/TagTally.h"
#include "text/UnicodeText.h"

namespace {

using Tags = std::vector<std::shared_ptr<TagRowData>>;

std::vector<std::string> codeOrder(const CodeWindow* window) {
    std::vector<std::string> order;
    if (window)
        for (const Code& code : window->codes)
            order.push_back(code.name);
    else
        order.assign(kTagLabels.begin(), kTagLabels.end());
    return order;
}

bool carriesMiss(const TagRowData& tag) {
    return std::any_of(tag.labels.begin(), tag.labels.end(),
                       [](const auto& label) { return label.second == kMissText; });
}

void addScoring(const Tags& tags, const MatchInfo& match, MatchReport& report) {
    std::vector<const TagRowData*> scored;
    std::string storage;
    for (const auto& tag : tags)
        if (codePoints(nfcView(tag->name, storage)) > 0 && !carriesMiss(*tag))
            scored.push_back(tag.get());
    std::stable_sort(scored.begin(), scored.end(), [](const TagRowData* a, const TagRowData* b) {
        return a->time_val < b->time_val;
    });
    for (const TagRowData* tag : scored) {
        ScoreEvent event;
        event.code = std::string(nfcView(tag->name, storage));
        event.points = codePoints(event.code);
        event.teamA = tag->team;
        event.minute = reportMinute(match, tag->time_val);
        report.score[tag->team ? 0 : 1] += event.points;
        event.score = report.score;
        report.scoring.push_back(std::move(event));
    }
}

// Which column of the counts a tag falls in.
size_t columnOf(const MatchInfo& match, double t) {
    if (match.periods.empty())
        return 0;
    const int period = periodAt(match, t);
    return period < 0 ? match.periods.size() : static_cast<size_t>(period);
}

void addCounts(const Tags& tags, const MatchInfo& match, const std::vector<std::string>& order,
               MatchReport& report) {
    const std::vector<TallyRow> whole = tallyTags(tags, true, true, order);
    const size_t columns = match.periods.empty() ? 1 : match.periods.size() + 1;
    std::vector<Tags> split(columns);
    for (const auto& tag : tags)
        split[columnOf(match, tag->time_val)].push_back(tag);
    std::unordered_map<std::string, size_t> place;
    for (const TallyRow& row : whole)
        if (row.total() > 0) {
            place.emplace(row.name, report.counts.size());
            report.counts.push_back(
                {row.name, std::vector<std::array<int64_t, 2>>(columns), {row.teamA, row.teamB}});
        }
    for (size_t c = 0; c < columns; ++c)
        for (const TallyRow& row : tallyTags(split[c], true, true, order))
            if (auto it = place.find(row.name); it != place.end())
                report.counts[it->second].columns[c] = {row.teamA, row.teamB};
    if (match.periods.empty()) {
        report.columns = {"全体"};
        return;
    }
    for (const MatchPeriod& period : match.periods)
        report.columns.push_back(period.name);
    if (split.back().empty()) {
        for (CodeCounts& counts : report.counts)
            counts.columns.pop_back();
    } else {
        report.columns.push_back("期間外");
    }
}

// Groups in which some tag carries 成功 and some tag 失敗.
std::vector<std::string> rateGroups(const Tags& tags) {
    std::vector<std::string> groups;
    std::map<std::string, int> seen; // bit 1: 成功, bit 2: 失敗
    for (const auto& tag : tags)
        for (const auto& [group, text] : tag->labels) {
            const int bit = text == kMadeText ? 1 : text == kMissText ? 2 : 0;
            if (bit == 0)
                continue;
            int& mask = seen[group];
            if (mask != 3 && (mask | bit) == 3)
                groups.push_back(group);
            mask |= bit;
        }
    return groups;
}

void addRates(const Tags& tags, const std::vector<std::string>& order, MatchReport& report) {
    const std::vector<std::string> texts = {std::string(kMadeText), std::string(kMissText)};
    for (const std::string& group : rateGroups(tags)) {
        // Rows come in pairs, team A then team B.
        const std::vector<LabelTallyRow> rows = tallyLabels(tags, true, true, order, group, texts);
        for (size_t i = 0; i + 1 < rows.size(); i += 2) {
            SuccessRate rate{rows[i].name, group, {}, {}};
            for (size_t team = 0; team < 2; ++team) {
                rate.made[team] = rows[i + team].counts[0];
                rate.missed[team] = rows[i + team].counts[1];
            }
            if (rate.made[0] + rate.made[1] + rate.missed[0] + rate.missed[1] > 0)
                report.rates.push_back(std::move(rate));
        }
    }
}

std::vector<TopPlayer> topOf(const MatchReport& report, size_t code) {
    std::vector<TopPlayer> top;
    for (const PlayerCounts& player : report.players)
        if (player.perCode[code] > 0)
            top.push_back({player.player, player.teamA, player.perCode[code]});
    std::stable_sort(top.begin(), top.end(),
                     [](const TopPlayer& a, const TopPlayer& b) { return a.count > b.count; });
    if (top.size() > kTopPlayers)
        top.resize(kTopPlayers);
    return top;
}

void addPlayers(const Tags& tags, const std::vector<std::string>& order, MatchReport& report) {
    const std::string group(kPlayerGroup);
    std::vector<std::string> texts;
    for (const auto& tag : tags)
        for (const auto& [g, text] : tag->labels)
            if (g == group && std::find(texts.begin(), texts.end(), text) == texts.end())
                texts.push_back(text);
    if (texts.empty())
        return;
    const std::vector<LabelTallyRow> rows = tallyLabels(tags, true, true, order, group, texts);
    std::vector<size_t> codeRows; // the team A row of each code some player has
    for (size_t i = 0; i + 1 < rows.size(); i += 2)
        if (rows[i].total() - rows[i].counts.back() + rows[i + 1].total() -
                rows[i + 1].counts.back() >
            0) {
            codeRows.push_back(i);
            report.playerCodes.push_back(rows[i].name);
        }
    for (size_t team = 0; team < 2; ++team)
        for (size_t k = 0; k < texts.size(); ++k) {
            PlayerCounts player{texts[k], team == 0, {}, 0};
            for (const size_t row : codeRows) {
                player.perCode.push_back(rows[row + team].counts[k]);
                player.total += player.perCode.back();
            }
            if (player.total > 0)
                report.players.push_back(std::move(player));
        }
    std::stable_sort(
        report.players.begin(), report.players.end(),
        [](const PlayerCounts& a, const PlayerCounts& b) { return a.total > b.total; });
    for (size_t c = 0; c < report.playerCodes.size(); ++c)
        report.leaders.push_back({report.playerCodes[c], topOf(report, c)});
}

void addBlocks(const Tags& tags, const MatchInfo& match, MatchReport& report) {
    report.matchTime = !match.periods.empty();
    for (const auto& tag : tags) {
        double seconds = tag->time_val;
        if (report.matchTime && (seconds = matchClock(match, tag->time_val)) < 0) {
            ++report.outsideBlocks;
            continue;
        }
        const auto block = static_cast<size_t>(std::max(0.0, std::floor(seconds / 600.0)));
        while (report.blocks.size() <= block)
            report.blocks.push_back({static_cast<int>(report.blocks.size()) * 10, {}});
        ++report.blocks[block].events[tag->team ? 0 : 1];
    }
}

void addPossession(const Tags& tags, const CodeWindow& window, MatchReport& report) {
    std::vector<std::string> groups;
    std::unordered_map<std::string, size_t> groupOf; // composed code name -> place in groups
    for (const Code& code : window.codes) {
        if (code.mode != CodeMode::Duration || code.group.empty())
            continue;
        auto it = std::find(groups.begin(), groups.end(), code.group);
        if (it == groups.end())
            it = groups.insert(groups.end(), code.group);
        groupOf.emplace(toNfc(code.name), static_cast<size_t>(it - groups.begin()));
    }
    std::vector<Possession> held(groups.size());
    for (size_t g = 0; g < groups.size(); ++g)
        held[g].group = groups[g];
    std::string storage;
    for (const auto& tag : tags) {
        if (!tag->end.isSet())
            continue;
        const auto it = groupOf.find(std::string(nfcView(tag->name, storage)));
        if (it != groupOf.end() && tag->end.time > tag->time_val)
            held[it->second].seconds[tag->team ? 0 : 1] += tag->end.time - tag->time_val;
    }
    for (Possession& p : held)
        if (p.seconds[0] + p.seconds[1] > 0)
            report.possession.push_back(std::move(p));
}

} // namespace

int codePoints(std::string_view code) {
    if (code == "トライ")
        return 5;
    if (code == "コンバージョン" || code == "ゴール")
        return 2;
    if (code == "PG" || code == "DG")
        return 3;
    if (code == "ペナルティトライ")
        return 7;
    return 0;
}

double reportMinute(const MatchInfo& match, double t) {
    if (match.periods.empty())
        return t / 60.0;
    if (const double clock = matchClock(match, t); clock >= 0)
        return clock / 60.0;
    double clock = match.periods.front().clock;
    for (const MatchPeriod& p : match.periods)
        if (!p.open() && p.end <= t)
            clock = p.clock + (p.end - p.start);
    return clock / 60.0;
}

double Possession::share(int team) const {
    const double whole = seconds[0] + seconds[1];
    return whole > 0 ? seconds[team] / whole : 0.0;
}

MatchReport buildMatchReport(const std::vector<std::shared_ptr<TagRowData>>& tags,
                             const MatchInfo& match, const CodeWindow* window) {
    MatchReport report;
    report.tagCount = static_cast<int64_t>(tags.size());
    report.teams = {match.teams[0].empty() ? "チームA" : match.teams[0],
                    match.teams[1].empty() ? "チームB" : match.teams[1]};
    const std::vector<std::string> order = codeOrder(window);
    addScoring(tags, match, report);
    addCounts(tags, match, order, report);
    addRates(tags, order, report);
    addPlayers(tags, order, report);
    addBlocks(tags, match, report);
    if (window)
        addPossession(tags, *window, report);
    return report;
}
