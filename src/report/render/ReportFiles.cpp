#include "render/ReportFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QImageWriter>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <array>
#include <thread>

#include "render/ReportCharts.h"

namespace report {
namespace {

constexpr double kPageWidth = 2100, kPageHeight = 2970, kMargin = 150, kFooter = 80;
constexpr double kContentWidth = kPageWidth - 2 * kMargin;
constexpr double kPageBottom = kPageHeight - kMargin - kFooter;
constexpr double kTitleHeight = 80, kNoteHeight = 50, kGap = 60, kHeadHeight = 330;
const QColor kInk(0x22, 0x22, 0x22);

// One part, or a run of a table's rows, where it goes on its page.
struct Placed {
    const Section* section = nullptr;
    double y = 0;
    size_t from = 0, to = 0; // a table's rows
    bool continued = false;
};
using Page = std::vector<Placed>;

double headHeight(const Section& s) {
    return kTitleHeight + (s.note.isEmpty() ? 0 : kNoteHeight);
}

std::vector<Page> layOut(const Document& doc) {
    std::vector<Page> pages(1);
    double y = kMargin + kHeadHeight;
    auto newPage = [&] {
        pages.emplace_back();
        y = kMargin;
    };
    for (const Section& s : doc.sections) {
        if (!s.table) {
            if (y + headHeight(s) + kChartHeight > kPageBottom)
                newPage();
            pages.back().push_back({&s, y, 0, 0, false});
            y += headHeight(s) + kChartHeight + kGap;
            continue;
        }
        size_t from = 0;
        const size_t rows = s.table->rows.size();
        while (from < rows || (rows == 0 && from == 0)) {
            const double room = kPageBottom - y - headHeight(s) - kRowHeight;
            auto fit = static_cast<size_t>(std::max(0.0, room / kRowHeight));
            if (fit == 0 && !pages.back().empty()) {
                newPage();
                continue;
            }
            fit = std::max<size_t>(1, std::min(fit, rows - from));
            pages.back().push_back({&s, y, from, from + fit, from > 0});
            y += headHeight(s) + kRowHeight * static_cast<double>(fit + 1) + kGap;
            from += fit;
            if (rows == 0)
                break;
        }
    }
    return pages;
}

void paintHead(QPainter& p, const Document& doc) {
    p.setPen(kInk);
    p.setFont(reportFont(64, true));
    p.drawText(QRectF(kMargin, kMargin, kContentWidth, 90), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("試合レポート"));
    p.setFont(reportFont(30));
    p.drawText(QRectF(kMargin, kMargin + 90, kContentWidth, 45), Qt::AlignLeft | Qt::AlignVCenter,
               doc.title);
    p.drawText(QRectF(kMargin, kMargin + 135, kContentWidth, 45), Qt::AlignLeft | Qt::AlignVCenter,
               doc.subtitle);
    const MatchReport& f = doc.figures;
    // Each piece drawn by itself: a reader of the PDF then finds each as a
    // word (a name and a figure drawn as one text lost the figure).
    const QFont big = reportFont(80, true);
    p.setFont(big);
    const QFontMetricsF metrics(big);
    const QString pieces[] = {QString::fromStdString(f.teams[0]), QString::number(f.score[0]),
                              QStringLiteral("-"), QString::number(f.score[1]),
                              QString::fromStdString(f.teams[1])};
    const QColor colors[] = {teamColor(true), teamColor(true), kInk, teamColor(false),
                             teamColor(false)};
    constexpr double kSpace = 40;
    double width = -kSpace;
    for (const QString& piece : pieces)
        width += metrics.horizontalAdvance(piece) + kSpace;
    double x = kMargin + std::max(0.0, (kContentWidth - width) / 2);
    const double baseline = kMargin + 180 + metrics.ascent();
    for (size_t i = 0; i < 5; ++i) {
        p.setPen(colors[i]);
        p.drawText(QPointF(x, baseline), pieces[i]);
        x += metrics.horizontalAdvance(pieces[i]) + kSpace;
    }
}

void paintPlaced(QPainter& p, const Placed& at, const MatchReport& figures) {
    const Section& s = *at.section;
    p.setPen(kInk);
    p.setFont(reportFont(38, true));
    QString title = s.title;
    if (at.continued)
        title += QStringLiteral(" (続き)");
    p.drawText(QRectF(kMargin, at.y, kContentWidth, kTitleHeight), Qt::AlignLeft | Qt::AlignVCenter,
               title);
    if (!s.note.isEmpty()) {
        p.setFont(reportFont(26));
        p.drawText(QRectF(kMargin, at.y + kTitleHeight, kContentWidth, kNoteHeight),
                   Qt::AlignLeft | Qt::AlignVCenter, s.note);
    }
    const QRectF body(kMargin, at.y + headHeight(s), kContentWidth,
                      s.table ? kRowHeight * static_cast<double>(at.to - at.from + 1)
                              : kChartHeight);
    if (s.table)
        paintTable(p, body, *s.table, at.from, at.to);
    else if (s.timeline)
        paintTimeline(p, body, figures);
    else if (s.bars)
        paintBars(p, body, *s.bars);
}

void paintPage(QPainter& p, const Document& doc, const std::vector<Page>& pages, size_t page) {
    if (page == 0)
        paintHead(p, doc);
    for (const Placed& at : pages[page])
        paintPlaced(p, at, doc.figures);
    p.setPen(kInk);
    p.setFont(reportFont(24));
    p.drawText(QRectF(kMargin, kPageHeight - kMargin - 40, kContentWidth, 40),
               Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("%1 / %2").arg(page + 1).arg(pages.size()));
}

bool writePdf(const Document& doc, const QString& path, QString* error) {
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setResolution(300);
    writer.setTitle(QStringLiteral("試合レポート ") + doc.title);
    writer.setCreator(QStringLiteral("Rucktag"));
    QPainter p;
    if (!p.begin(&writer)) {
        *error = QStringLiteral("PDF を書き出せません: ") + path;
        return false;
    }
    const double scale = writer.width() / kPageWidth;
    const std::vector<Page> pages = layOut(doc);
    for (size_t i = 0; i < pages.size(); ++i) {
        if (i > 0)
            writer.newPage();
        p.save();
        p.scale(scale, scale);
        paintPage(p, doc, pages, i);
        p.restore();
    }
    if (!p.end() || !QFileInfo(path).isFile()) {
        *error = QStringLiteral("PDF を書き出せません: ") + path;
        return false;
    }
    return true;
}

QString esc(const QString& text) {
    return text.toHtmlEscaped();
}

QString htmlTable(const Table& table) {
    QString out = QStringLiteral("<table>\n<thead><tr>");
    for (const QString& h : table.header)
        out += QStringLiteral("<th>") + esc(h) + QStringLiteral("</th>");
    out += QStringLiteral("</tr></thead>\n<tbody>\n");
    for (const QStringList& row : table.rows) {
        out += QStringLiteral("<tr>");
        for (qsizetype c = 0; c < row.size(); ++c)
            out += (c >= table.firstColumns ? QStringLiteral("<td class=\"n\">")
                                            : QStringLiteral("<td>")) +
                   esc(row[c]) + QStringLiteral("</td>");
        out += QStringLiteral("</tr>\n");
    }
    return out + QStringLiteral("</tbody>\n</table>\n");
}

bool writeText(const QString& path, const QByteArray& bytes, QString* error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("書き出せません: ") + path;
        return false;
    }
    return true;
}

// `page` in the palette of QImage's threshold conversion to 8 bits of more
// than 256 colours: a 6x6x6 cube, each channel to its nearest step.
QImage cubePaletted(const QImage& page) {
    QImage out(page.size(), QImage::Format_Indexed8);
    QList<QRgb> cube;
    for (int r = 0; r <= 5; ++r)
        for (int g = 0; g <= 5; ++g)
            for (int b = 0; b <= 5; ++b)
                cube.push_back(qRgb(r * 255 / 5, g * 255 / 5, b * 255 / 5));
    uchar step[256];
    for (int v = 0; v < 256; ++v)
        step[v] = static_cast<uchar>((v * 5 + 127) / 255);
    const int width = page.width(), height = out.isNull() ? 0 : page.height();
    for (int y = 0; y < height; ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(page.constScanLine(y));
        uchar* line = out.scanLine(y);
        QRgb last = 0;
        uchar at = 0;
        for (int x = 0; x < width; ++x) {
            if (in[x] != last) {
                last = in[x];
                at = static_cast<uchar>((step[qRed(last)] * 6 + step[qGreen(last)]) * 6 +
                                        step[qBlue(last)]);
            }
            line[x] = at;
        }
    }
    out.setColorTable(cube);
    return out;
}

// `page` (RGB32) as a palette image with the pixels QImage's conversion
// (ThresholdDither | AvoidDither) gives: its own colours when it has at most
// 256, else the cube. Several times faster: a run of one colour costs one
// comparison a pixel, a new colour one look-up in a small open table.
QImage paletted(const QImage& page) {
    QImage out(page.size(), QImage::Format_Indexed8);
    QList<QRgb> colours;
    constexpr size_t kSlots = 1021; // prime; a pixel of RGB32 is never 0
    std::array<QRgb, kSlots> keys{};
    std::array<uchar, kSlots> values{};
    const int width = page.width(), height = out.isNull() ? 0 : page.height();
    for (int y = 0; y < height; ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(page.constScanLine(y));
        uchar* line = out.scanLine(y);
        QRgb last = 0;
        uchar at = 0;
        for (int x = 0; x < width; ++x) {
            if (in[x] != last) {
                last = in[x];
                const QRgb colour = last | 0xff000000;
                size_t slot = colour % kSlots;
                while (keys[slot] != 0 && keys[slot] != colour)
                    slot = (slot + 1) % kSlots;
                if (keys[slot] == 0) {
                    if (colours.size() == 256)
                        return cubePaletted(page);
                    keys[slot] = colour;
                    values[slot] = static_cast<uchar>(colours.size());
                    colours.push_back(colour);
                }
                at = values[slot];
            }
            line[x] = at;
        }
    }
    out.setColorTable(colours);
    return out;
}

// Page `page` of `pages` at `dpi` dots per inch.
QImage pageImage(const Document& doc, const std::vector<Page>& pages, size_t page, int dpi) {
    const double scale = dpi / 254.0; // tenths of a millimetre to dots
    QImage image(qRound(kPageWidth * scale), qRound(kPageHeight * scale), QImage::Format_RGB32);
    image.setDotsPerMeterX(qRound(dpi / 0.0254));
    image.setDotsPerMeterY(qRound(dpi / 0.0254));
    image.fill(Qt::white);
    // A device pixel ratio below 1 would be simpler, but Qt then sizes
    // text for the wrong resolution: the text outgrows the page.
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    paintPage(p, doc, pages, page);
    p.end();
    return image;
}

// Each page as NAME-N.png, painted and written two at a time: Qt 6 draws
// text off the main thread, and each page image has its own painter.
bool writePngs(const Document& doc, int dpi, const QDir& dir, const QString& base, QString* error) {
    const std::vector<Page> pages = layOut(doc);
    std::vector<QString> failed(pages.size());
    auto write = [&](size_t first) {
        for (size_t i = first; i < pages.size(); i += 2) {
            const QString path = dir.filePath(QStringLiteral("%1-%2.png").arg(base).arg(i + 1));
            const QImage page = pageImage(doc, pages, i, dpi);
            // A palette image: a page has few colours, and it is written
            // twice as fast. zlib's level 3 of 9: a third larger than its
            // default, in half the time.
            QImage image = paletted(page);
            image.setDotsPerMeterX(page.dotsPerMeterX());
            image.setDotsPerMeterY(page.dotsPerMeterY());
            QImageWriter writer(path, "PNG");
            writer.setCompression(40); // Qt's 0-100 scale
            if (!writer.write(image))
                failed[i] = path;
        }
    };
    std::thread other(write, 1);
    write(0);
    other.join();
    for (const QString& path : failed)
        if (!path.isEmpty()) {
            *error = QStringLiteral("画像を書き出せません: ") + path;
            return false;
        }
    return true;
}

} // namespace

std::vector<QImage> reportImages(const Document& doc, int dpi) {
    const std::vector<Page> pages = layOut(doc);
    std::vector<QImage> images;
    for (size_t i = 0; i < pages.size(); ++i)
        images.push_back(pageImage(doc, pages, i, dpi));
    return images;
}

QString reportHtml(const Document& doc) {
    const MatchReport& f = doc.figures;
    QString out =
        QStringLiteral("<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<link rel=\"icon\" href=\"data:,\">\n<title>試合レポート ");
    out += esc(doc.title) + QStringLiteral("</title>\n<style>\n"
                                           "body{font-family:'Noto Sans CJK JP',sans-serif;"
                                           "max-width:60em;margin:2em auto;color:#222}\n"
                                           "table{border-collapse:collapse;margin:.5em 0}\n"
                                           "th,td{border-bottom:1px solid #ddd;padding:.2em .6em;"
                                           "text-align:left}\n"
                                           "th{background:#eef1f5}td.n{text-align:right}\n"
                                           "svg{width:100%;height:auto}\n"
                                           ".score{font-size:2.5em;font-weight:bold}\n"
                                           ".a{color:#1f5fbf}.b{color:#d04a2a}\n"
                                           "</style>\n</head>\n<body>\n<h1>試合レポート</h1>\n");
    out += QStringLiteral("<p>") + esc(doc.title) + QStringLiteral("<br>") + esc(doc.subtitle) +
           QStringLiteral("</p>\n");
    out += QStringLiteral("<p class=\"score\" id=\"score\"><span class=\"a\">%1 %2</span> - "
                          "<span class=\"b\">%3 %4</span></p>\n")
               .arg(esc(QString::fromStdString(f.teams[0])))
               .arg(f.score[0])
               .arg(f.score[1])
               .arg(esc(QString::fromStdString(f.teams[1])));
    for (const Section& s : doc.sections) {
        out += QStringLiteral("<section>\n<h2>") + esc(s.title) + QStringLiteral("</h2>\n");
        if (!s.note.isEmpty())
            out += QStringLiteral("<p>") + esc(s.note) + QStringLiteral("</p>\n");
        out += s.table ? htmlTable(*s.table) : chartSvg(s, f) + QLatin1Char('\n');
        out += QStringLiteral("</section>\n");
    }
    return out + QStringLiteral("</body>\n</html>\n");
}

bool writeReport(const Document& doc, const Targets& to, QString* error) {
    if (!to.pdf.isEmpty() && !writePdf(doc, to.pdf, error))
        return false;
    if (!to.pngDir.isEmpty()) {
        const QString base =
            to.pdf.isEmpty() ? QStringLiteral("report") : QFileInfo(to.pdf).completeBaseName();
        if (!QDir().mkpath(to.pngDir)) {
            *error = QStringLiteral("フォルダーを作れません: ") + to.pngDir;
            return false;
        }
        if (!writePngs(doc, 150, QDir(to.pngDir), base, error))
            return false;
    }
    return to.html.isEmpty() || writeText(to.html, reportHtml(doc).toUtf8(), error);
}

} // namespace report
