#include "render/ReportSections.h"

#include <algorithm>
#include <cmath>

namespace report {
namespace {

// Codes per player table: more would not fit the width of a page.
constexpr size_t kCodesPerTable = 7;
constexpr size_t kPlayersInChart = 10;

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

QString number(int64_t n) {
    return QString::number(n);
}

QString minuteText(double minute) {
    const auto seconds = static_cast<long long>(std::floor(std::max(0.0, minute * 60.0)));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString teamLetter(bool teamA) {
    return teamA ? QStringLiteral("A") : QStringLiteral("B");
}

void addScoring(const MatchReport& r, std::vector<Section>& out) {
    if (r.scoring.empty())
        return;
    Section chart{QStringLiteral("得点経過"), QString(), {}, {}, true};
    out.push_back(chart);
    Table table{{QStringLiteral("時間"), QStringLiteral("チーム"), QStringLiteral("コード"),
                 QStringLiteral("得点"), QStringLiteral("スコア")},
                {},
                3};
    for (const ScoreEvent& e : r.scoring)
        table.rows.push_back({minuteText(e.minute), q(r.teams[e.teamA ? 0 : 1]), q(e.code),
                              QString::number(e.points),
                              QStringLiteral("%1 - %2").arg(e.score[0]).arg(e.score[1])});
    out.push_back({QStringLiteral("得点一覧"), QString(), table, {}, false});
}

void addCounts(const MatchReport& r, std::vector<Section>& out) {
    if (r.counts.empty())
        return;
    Table table{{QStringLiteral("コード")}, {}, 1};
    const bool split = r.columns.size() > 1;
    if (split)
        for (const std::string& column : r.columns)
            table.header << q(column) + QStringLiteral(" A") << q(column) + QStringLiteral(" B");
    table.header << QStringLiteral("計 A") << QStringLiteral("計 B") << QStringLiteral("計");
    for (const CodeCounts& c : r.counts) {
        QStringList row = {q(c.code)};
        if (split)
            for (const auto& column : c.columns)
                row << number(column[0]) << number(column[1]);
        row << number(c.total[0]) << number(c.total[1]) << number(c.total[0] + c.total[1]);
        table.rows.push_back(row);
    }
    out.push_back({QStringLiteral("コード別の数"), QString(), table, {}, false});
}

QString rateText(int64_t made, int64_t missed) {
    if (made + missed == 0)
        return QStringLiteral("—");
    const double rate = 100.0 * static_cast<double>(made) / static_cast<double>(made + missed);
    return QStringLiteral("%1% (%2/%3)").arg(rate, 0, 'f', 0).arg(made).arg(made + missed);
}

void addRates(const MatchReport& r, std::vector<Section>& out) {
    if (r.rates.empty())
        return;
    Table table{
        {QStringLiteral("コード"), QStringLiteral("グループ"), q(r.teams[0]), q(r.teams[1])},
        {},
        2};
    for (const SuccessRate& rate : r.rates)
        table.rows.push_back({q(rate.code), q(rate.group), rateText(rate.made[0], rate.missed[0]),
                              rateText(rate.made[1], rate.missed[1])});
    out.push_back(
        {QStringLiteral("成功率"), QStringLiteral("成功 / (成功 + 失敗)"), table, {}, false});
}

QString playerName(const std::string& player, bool teamA) {
    return q(player) + QStringLiteral(" (") + teamLetter(teamA) + QLatin1Char(')');
}

void addPlayers(const MatchReport& r, std::vector<Section>& out) {
    if (r.players.empty())
        return;
    Bars bars{{}, {QStringLiteral("タグ数")}, {{}}, {}};
    for (size_t i = 0; i < std::min(kPlayersInChart, r.players.size()); ++i) {
        bars.categories << q(r.players[i].player);
        bars.values[0].push_back(static_cast<double>(r.players[i].total));
        bars.teamA.push_back(r.players[i].teamA);
    }
    out.push_back({QStringLiteral("選手別タグ数 (上位)"), QString(), {}, bars, false});

    Table leaders{{QStringLiteral("コード"), QStringLiteral("1位"), QStringLiteral("2位"),
                   QStringLiteral("3位")},
                  {},
                  4};
    for (const CodeLeaders& l : r.leaders) {
        QStringList row = {q(l.code)};
        for (size_t k = 0; k < kTopPlayers; ++k)
            row << (k < l.top.size() ? playerName(l.top[k].player, l.top[k].teamA) +
                                           QLatin1Char(' ') + number(l.top[k].count)
                                     : QString());
        leaders.rows.push_back(row);
    }
    out.push_back({QStringLiteral("コード別の上位選手"), QString(), leaders, {}, false});

    const size_t parts = (r.playerCodes.size() + kCodesPerTable - 1) / kCodesPerTable;
    for (size_t part = 0; part < parts; ++part) {
        const size_t from = part * kCodesPerTable;
        const size_t to = std::min(r.playerCodes.size(), from + kCodesPerTable);
        Table table{{QStringLiteral("選手"), QStringLiteral("チーム")}, {}, 2};
        for (size_t c = from; c < to; ++c)
            table.header << q(r.playerCodes[c]);
        table.header << QStringLiteral("計");
        for (const PlayerCounts& p : r.players) {
            QStringList row = {q(p.player), teamLetter(p.teamA)};
            for (size_t c = from; c < to; ++c)
                row << number(p.perCode[c]);
            row << number(p.total);
            table.rows.push_back(row);
        }
        QString title = QStringLiteral("選手別の数");
        if (parts > 1)
            title += QStringLiteral(" (%1/%2)").arg(part + 1).arg(parts);
        out.push_back({title, QString(), table, {}, false});
    }
}

void addBlocks(const MatchReport& r, std::vector<Section>& out) {
    if (r.blocks.empty())
        return;
    Bars bars{{}, {q(r.teams[0]), q(r.teams[1])}, {{}, {}}, {}};
    for (const EventBlock& b : r.blocks) {
        bars.categories << QStringLiteral("%1–%2").arg(b.fromMinute).arg(b.fromMinute + 10);
        for (size_t team = 0; team < 2; ++team)
            bars.values[team].push_back(static_cast<double>(b.events[team]));
    }
    QString note =
        r.matchTime ? QStringLiteral("試合時間 (分)") : QStringLiteral("動画の時間 (分)");
    if (r.outsideBlocks > 0)
        note += QStringLiteral("。期間外のタグ %1 件は含みません").arg(r.outsideBlocks);
    out.push_back({QStringLiteral("10分ごとのタグ数"), note, {}, bars, false});
}

void addPossession(const MatchReport& r, std::vector<Section>& out) {
    if (r.possession.empty())
        return;
    Table table{{QStringLiteral("グループ"), q(r.teams[0]), q(r.teams[1])}, {}, 1};
    for (const Possession& p : r.possession) {
        QStringList row = {q(p.group)};
        for (int team = 0; team < 2; ++team)
            row << QStringLiteral("%1% (%2)")
                       .arg(100.0 * p.share(team), 0, 'f', 0)
                       .arg(minuteText(p.seconds[static_cast<size_t>(team)] / 60.0));
        table.rows.push_back(row);
    }
    out.push_back({QStringLiteral("ポゼッション"),
                   QStringLiteral("続くコードの時間の割合"),
                   table,
                   {},
                   false});
}

} // namespace

QColor teamColor(bool teamA) {
    return teamA ? QColor(0x1f, 0x5f, 0xbf) : QColor(0xd0, 0x4a, 0x2a);
}

Document reportDocument(const MatchReport& figures, const QString& title) {
    Document doc;
    doc.title = title;
    doc.figures = figures;
    doc.subtitle = QStringLiteral("A: %1 / B: %2 / タグ %3 件")
                       .arg(q(figures.teams[0]), q(figures.teams[1]))
                       .arg(figures.tagCount);
    if (figures.matches <= 1)
        addScoring(figures, doc.sections);
    addCounts(figures, doc.sections);
    addRates(figures, doc.sections);
    addPossession(figures, doc.sections);
    addBlocks(figures, doc.sections);
    addPlayers(figures, doc.sections);
    return doc;
}

} // namespace report
