#pragma once

#include <QFont>
#include <QPainter>
#include <QRectF>
#include <QString>

#include "render/ReportSections.h"

// Painting the parts of a report with QPainter, in tenths of a millimetre
// (an A4 page is 2100 x 2970), for the PDF, its images and the SVG of the
// HTML page alike.
namespace report {

inline constexpr double kChartHeight = 700;
inline constexpr double kRowHeight = 56;

// The report's font (Noto Sans CJK JP where installed), `size` in tenths of
// a millimetre.
QFont reportFont(int size, bool bold = false);

void paintBars(QPainter& p, const QRectF& area, const Bars& bars);
void paintTimeline(QPainter& p, const QRectF& area, const MatchReport& figures);
// Rows [from, to) of `table` under its header, from the top left of `area`
// across its width.
void paintTable(QPainter& p, const QRectF& area, const Table& table, size_t from, size_t to);

// The chart of `section` (bars or the timeline) as an SVG element.
QString chartSvg(const Section& section, const MatchReport& figures);

} // namespace report
