#include "web/GroupPage.h"

#include <cmath>

namespace serve {

namespace {

// Phone first (a 390 px wide screen), wider screens get a centred column.
constexpr const char* kStyle =
    "*{box-sizing:border-box}"
    "body{margin:0;font-family:system-ui,sans-serif;line-height:1.5;background:#f3f4f1;"
    "color:#1b1f1a;-webkit-text-size-adjust:100%}"
    "header{background:#1f5130;color:#fff;padding:14px 16px}"
    "header h1{margin:0;font-size:1.35rem}header p{margin:4px 0 0;font-size:.85rem;opacity:.85}"
    "main{max-width:720px;margin:0 auto;padding:8px 0 32px}"
    "section{margin:12px 0}h2{font-size:1.15rem;margin:0;padding:8px 16px}"
    ".sub{margin:0;padding:0 16px 6px;color:#59605a;font-size:.85rem}"
    "ol{list-style:none;margin:0;padding:0}"
    "li{background:#fff;margin:0 0 12px;padding:12px 0;border-top:1px solid #dde0da;"
    "border-bottom:1px solid #dde0da}"
    "h3{margin:0 16px;font-size:1rem}"
    ".when{margin:2px 16px 8px;color:#59605a;font-size:.85rem}"
    "video{display:block;width:100%;aspect-ratio:16/9;background:#000}"
    ".note{margin:8px 16px 0;white-space:pre-line}"
    ".empty{padding:16px}";

std::string head(const std::string& title) {
    return "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<meta name=\"referrer\" content=\"no-referrer\">\n"
           "<meta name=\"robots\" content=\"noindex, nofollow\">\n<title>" +
           title + "</title>\n<style>" + kStyle + "</style>\n</head>\n";
}

std::string item(const publish::ManifestItem& i) {
    std::string when = escapeHtml(i.match);
    if (!i.matchTime.isEmpty())
        when += (when.empty() ? "" : " · ") + escapeHtml(i.matchTime);
    if (i.duration > 0)
        when += " · " + std::to_string(std::lround(i.duration)) + " 秒";
    std::string out = "<li>\n<h3>" + escapeHtml(i.title) + "</h3>\n<p class=\"when\">" + when +
                      "</p>\n<video controls preload=\"metadata\" playsinline src=\"m/" +
                      escapeHtml(i.media) + "\"></video>\n";
    if (!i.note.isEmpty())
        out += "<p class=\"note\">" + escapeHtml(i.note) + "</p>\n";
    return out + "</li>\n";
}

} // namespace

std::string escapeHtml(const QString& text) {
    std::string out;
    for (const char c : text.toStdString()) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string groupPage(const QString& group, const std::vector<publish::Manifest>& playlists) {
    const std::string name = escapeHtml(group);
    std::string out = head(name + " の動画") + "<body>\n<header><h1>" + name +
                      " の動画</h1><p>チームの中だけで見てください。このリンクを外に渡さないで"
                      "ください。</p></header>\n<main>\n";
    if (playlists.empty())
        out += "<p class=\"empty\">まだ動画はありません。</p>\n";
    for (const publish::Manifest& m : playlists) {
        out += "<section>\n<h2>" + escapeHtml(m.name) + "</h2>\n<p class=\"sub\">" +
               std::to_string(m.items.size()) + " 本";
        if (m.published.size() >= 10)
            out += " · " + escapeHtml(m.published.left(10)) + " 公開";
        out += "</p>\n<ol>\n";
        for (const publish::ManifestItem& i : m.items)
            out += item(i);
        out += "</ol>\n</section>\n";
    }
    return out + "</main>\n</body>\n</html>\n";
}

const std::string& notFoundPage() {
    static const std::string page =
        head("見つかりません") +
        "<body>\n<header><h1>見つかりません</h1></header>\n<main><p class=\"empty\">"
        "このリンクは使えません。新しいリンクをチームのアナリストに聞いてください。</p></main>\n"
        "</body>\n</html>\n";
    return page;
}

} // namespace serve
