#include "render/ReportCharts.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPainterPath>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>

namespace report {
namespace {

constexpr double kAxisWidth = 90;   // the values left of a chart
constexpr double kLabelHeight = 70; // the categories under it
constexpr double kLegendHeight = 60;
constexpr double kCellPad = 12;
const QColor kInk(0x22, 0x22, 0x22);
const QColor kGrid(0xd8, 0xd8, 0xd8);
const QColor kHeaderFill(0xee, 0xf1, 0xf5);

// A round top for an axis holding `value`, and its step (1, 2 or 5 times a
// power of ten, five steps or fewer).
std::pair<double, double> axisTop(double value) {
    if (value <= 0)
        return {5, 1};
    double step = 1;
    for (double scale = 1;; scale *= 10) {
        for (const double f : {1.0, 2.0, 5.0})
            if (value / (f * scale) <= 5) {
                step = f * scale;
                return {std::ceil(value / step) * step, step};
            }
    }
}

void paintGrid(QPainter& p, const QRectF& plot, double top, double step) {
    p.setFont(reportFont(26));
    for (double v = 0; v <= top + step / 2; v += step) {
        const double y = plot.bottom() - plot.height() * v / top;
        p.setPen(QPen(kGrid, 2));
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        p.setPen(kInk);
        p.drawText(QRectF(plot.left() - kAxisWidth, y - 20, kAxisWidth - 10, 40),
                   Qt::AlignRight | Qt::AlignVCenter, QString::number(v));
    }
}

void paintLegend(QPainter& p, const QRectF& area, const QStringList& names,
                 const std::vector<QColor>& colors) {
    p.setFont(reportFont(28));
    const QFontMetricsF metrics(p.font());
    double x = area.left() + kAxisWidth;
    for (qsizetype i = 0; i < names.size(); ++i) {
        p.fillRect(QRectF(x, area.top() + 15, 30, 30), colors[static_cast<size_t>(i)]);
        p.setPen(kInk);
        p.drawText(QPointF(x + 40, area.top() + 40), names[i]);
        x += 80 + metrics.horizontalAdvance(names[i]);
    }
}

} // namespace

QFont reportFont(int size, bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP"),
                      QStringLiteral("sans-serif")});
    font.setPixelSize(size);
    font.setBold(bold);
    return font;
}

void paintBars(QPainter& p, const QRectF& area, const Bars& bars) {
    std::vector<QColor> colors;
    for (qsizetype s = 0; s < bars.series.size(); ++s)
        colors.push_back(teamColor(s == 0));
    const bool legend = bars.series.size() > 1;
    if (legend)
        paintLegend(p, area, bars.series, colors);
    const QRectF plot = area.adjusted(kAxisWidth, legend ? kLegendHeight : 20, 0, -kLabelHeight);
    double most = 0;
    for (const auto& series : bars.values)
        for (const double v : series)
            most = std::max(most, v);
    const auto [top, step] = axisTop(most);
    paintGrid(p, plot, top, step);
    const auto categories = static_cast<double>(bars.categories.size());
    const double slot = plot.width() / std::max(1.0, categories);
    const double barWidth =
        slot * 0.8 / static_cast<double>(std::max<qsizetype>(1, bars.series.size()));
    const QFont valueFont = reportFont(24);
    for (qsizetype c = 0; c < bars.categories.size(); ++c) {
        const double left = plot.left() + slot * static_cast<double>(c) + slot * 0.1;
        for (size_t s = 0; s < bars.values.size(); ++s) {
            const double v = bars.values[s][static_cast<size_t>(c)];
            const double h = plot.height() * v / top;
            const QRectF bar(left + barWidth * static_cast<double>(s), plot.bottom() - h,
                             barWidth * 0.92, h);
            const bool single = bars.values.size() == 1 && !bars.teamA.empty();
            p.fillRect(bar, single ? teamColor(bars.teamA[static_cast<size_t>(c)]) : colors[s]);
            if (v > 0) {
                p.setPen(kInk);
                p.setFont(valueFont);
                p.drawText(QRectF(bar.left() - 20, bar.top() - 34, bar.width() + 40, 32),
                           Qt::AlignHCenter | Qt::AlignBottom, QString::number(v));
            }
        }
        p.setFont(reportFont(24));
        p.setPen(kInk);
        const QRectF label(plot.left() + slot * static_cast<double>(c), plot.bottom() + 8, slot,
                           kLabelHeight - 10);
        const QString text =
            QFontMetricsF(p.font()).elidedText(bars.categories[c], Qt::ElideRight, slot - 4);
        p.drawText(label, Qt::AlignHCenter | Qt::AlignTop, text);
    }
}

void paintTimeline(QPainter& p, const QRectF& area, const MatchReport& figures) {
    const QStringList names = {QString::fromStdString(figures.teams[0]),
                               QString::fromStdString(figures.teams[1])};
    paintLegend(p, area, names, {teamColor(true), teamColor(false)});
    const QRectF plot = area.adjusted(kAxisWidth, kLegendHeight, -20, -kLabelHeight);
    const auto [top, step] =
        axisTop(static_cast<double>(std::max(figures.score[0], figures.score[1])));
    paintGrid(p, plot, top, step);
    double lastMinute = figures.matchTime ? 80 : 0;
    for (const ScoreEvent& e : figures.scoring)
        lastMinute = std::max(lastMinute, e.minute);
    const double span = std::max(10.0, std::ceil(lastMinute / 10) * 10);
    auto x = [&](double minute) { return plot.left() + plot.width() * minute / span; };
    auto y = [&](double points) { return plot.bottom() - plot.height() * points / top; };
    p.setFont(reportFont(24));
    for (double m = 0; m <= span; m += 10) {
        p.setPen(kInk);
        p.drawText(QRectF(x(m) - 50, plot.bottom() + 8, 100, 40), Qt::AlignHCenter | Qt::AlignTop,
                   QString::number(m));
    }
    for (size_t team = 0; team < 2; ++team) {
        QPainterPath path(QPointF(x(0), y(0)));
        int held = 0;
        for (const ScoreEvent& e : figures.scoring) {
            if (e.teamA != (team == 0))
                continue;
            path.lineTo(x(e.minute), y(held));
            held = e.score[team];
            path.lineTo(x(e.minute), y(held));
        }
        path.lineTo(x(span), y(held));
        p.setPen(QPen(teamColor(team == 0), 6));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
        p.setPen(kInk);
        p.setFont(reportFont(28, true));
        p.drawText(QPointF(x(span) - 60, y(held) - 12), QString::number(held));
    }
}

void paintTable(QPainter& p, const QRectF& area, const Table& table, size_t from, size_t to) {
    // Made once: a font made anew looks its face up again.
    const QFont body = reportFont(26), head = reportFont(26, true);
    p.setFont(body);
    const QFontMetricsF metrics(p.font());
    const auto columns = static_cast<size_t>(table.header.size());
    std::vector<double> widths(columns, 0);
    auto widen = [&](const QStringList& row) {
        for (size_t c = 0; c < columns && c < static_cast<size_t>(row.size()); ++c)
            widths[c] =
                std::max(widths[c],
                         metrics.horizontalAdvance(row[static_cast<qsizetype>(c)]) + 2 * kCellPad);
    };
    widen(table.header);
    for (const QStringList& row : table.rows)
        widen(row);
    double whole = 0;
    for (const double w : widths)
        whole += w;
    const double scale = whole > area.width() ? area.width() / whole : 1.0;
    for (double& w : widths)
        w *= scale;
    auto paintRow = [&](const QStringList& row, double top, bool header) {
        double x = area.left();
        if (header)
            p.fillRect(QRectF(area.left(), top, area.width(), kRowHeight), kHeaderFill);
        p.setFont(header ? head : body);
        p.setPen(kInk);
        for (size_t c = 0; c < columns && c < static_cast<size_t>(row.size()); ++c) {
            const QRectF cell(x + kCellPad, top, widths[c] - 2 * kCellPad, kRowHeight);
            const bool figure = !header && static_cast<int>(c) >= table.firstColumns;
            p.drawText(
                cell, Qt::AlignVCenter | (figure ? Qt::AlignRight : Qt::AlignLeft),
                metrics.elidedText(row[static_cast<qsizetype>(c)], Qt::ElideRight, cell.width()));
            x += widths[c];
        }
        p.setPen(QPen(kGrid, 2));
        p.drawLine(QPointF(area.left(), top + kRowHeight), QPointF(area.right(), top + kRowHeight));
    };
    paintRow(table.header, area.top(), true);
    for (size_t r = from; r < to; ++r)
        paintRow(table.rows[r], area.top() + kRowHeight * static_cast<double>(r - from + 1), false);
}

QString chartSvg(const Section& section, const MatchReport& figures) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    const QRectF area(0, 0, 1800, kChartHeight);
    svg.setSize(area.size().toSize());
    svg.setViewBox(area);
    svg.setTitle(section.title);
    {
        QPainter p(&svg);
        if (section.timeline)
            paintTimeline(p, area, figures);
        else if (section.bars)
            paintBars(p, area, *section.bars);
    }
    // The element alone: the XML declaration and doctype do not belong in HTML.
    const QString text = QString::fromUtf8(buffer.data());
    const qsizetype start = text.indexOf(QStringLiteral("<svg"));
    return start < 0 ? QString() : text.mid(start);
}

} // namespace report
