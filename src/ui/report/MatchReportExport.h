#pragma once

#include <QString>
#include <string>
#include <vector>

#include "render/ReportSections.h"

class TagTableScreen;

// 試合レポート: every tag of the open session with its match file's teams and
// periods, as an A4 PDF through a save panel (the open video's folder), its
// pages as NAME-1.png, ... and NAME.html beside it. The code window chosen
// gives the order of the codes and the possession groups.
void exportMatchReport(TagTableScreen& screen);

// The PDF a save panel's answer names (".pdf" added when typed without);
// empty, said, when it would replace one of `videos`.
QString reportPdfPath(const std::string& chosen, const std::vector<std::string>& videos);
// Writes `doc` as the PDF `pdf`, its pages and its HTML page beside it, and
// says how it went.
void writeReportFiles(const report::Document& doc, const QString& pdf);
