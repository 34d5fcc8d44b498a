#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "report/MatchReport.h"

// A report as its parts in reading order, each a table or a chart with its
// title; the PDF pages, their images and the HTML page show the same parts.
namespace report {

struct Table {
    QStringList header;
    std::vector<QStringList> rows;
    int firstColumns = 1; // leading columns of text; the rest are figures
};

// Grouped bars: one bar per series in each category, its value above it.
struct Bars {
    QStringList categories;
    QStringList series;
    std::vector<std::vector<double>> values; // [series][category]
    // With one series, each bar in its team's colour (by category).
    std::vector<bool> teamA;
};

struct Section {
    QString title;
    QString note; // a line under the title; empty: none
    std::optional<Table> table;
    std::optional<Bars> bars;
    bool timeline = false; // the points timeline of the report
};

struct Document {
    QString title;    // the match: the session file's name or the library query
    QString subtitle; // teams' names and how many tags
    MatchReport figures;
    std::vector<Section> sections;
};

Document reportDocument(const MatchReport& figures, const QString& title);

// The teams' colours, A then B.
QColor teamColor(bool teamA);

} // namespace report
