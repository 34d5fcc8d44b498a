#pragma once

#include <QImage>
#include <QString>
#include <vector>

#include "render/ReportSections.h"

// A report's files: A4 PDF pages, the same pages as PNG images, one
// self-contained HTML page. A QGuiApplication must exist (fonts).
namespace report {

struct Targets {
    QString pdf;    // empty: none
    QString pngDir; // NAME-1.png, NAME-2.png, ... (NAME: the PDF's base name, else "report")
    QString html;   // empty: none
};

// Writes what `to` names; false with a Japanese `error` naming the file
// that could not be written.
bool writeReport(const Document& doc, const Targets& to, QString* error);

// The pages at `dpi` dots per inch.
std::vector<QImage> reportImages(const Document& doc, int dpi);
// The HTML page: UTF-8, lang="ja", charts as inline SVG, figures in tables.
QString reportHtml(const Document& doc);

} // namespace report
