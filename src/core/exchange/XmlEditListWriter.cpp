// The edit list written: each tag an instance, each code a row with its colour.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <unordered_map>

#include "exchange/XmlChars.h"
#include "exchange/XmlEditList.h"
#include "review/Moments.h"
#include "text/TimeText.h"

namespace {

using xmlchars::decodeUtf8;
using xmlchars::isXmlChar;
using xmlchars::kReplacement;

// Element text: markup characters escaped, a carriage return as a reference
// (a reader would turn a literal one into a line feed), characters XML 1.0
// cannot carry at all (most control characters) and invalid UTF-8 as U+FFFD.
// Runs that need none of it are copied whole.
void appendEscaped(std::string& out, std::string_view text) {
    size_t run = 0; // the start of the bytes still to copy as they are
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::string_view instead;
        size_t skip = 1;
        if (c >= 0x80) {
            uint32_t cp;
            const size_t len = decodeUtf8(text, i, cp);
            if (len != 0 && isXmlChar(cp)) {
                i += len;
                continue;
            }
            instead = kReplacement;
            skip = len == 0 ? 1 : len;
        } else if (c == '&') {
            instead = "&amp;";
        } else if (c == '<') {
            instead = "&lt;";
        } else if (c == '>') {
            instead = "&gt;";
        } else if (c == '\r') {
            instead = "&#13;";
        } else if (c >= 0x20 || c == '\t' || c == '\n') {
            ++i;
            continue;
        } else {
            instead = kReplacement;
        }
        out.append(text.data() + run, i - run);
        out.append(instead);
        i += skip;
        run = i;
    }
    out.append(text.data() + run, text.size() - run);
}

void appendElement(std::string& out, std::string_view name, std::string_view text) {
    out += '<';
    out += name;
    out += '>';
    appendEscaped(out, text);
    out += "</";
    out += name;
    out += '>';
}

// A plain decimal of up to three places ("752.36", "12.0"); never an exponent.
void appendDecimal(std::string& out, double value) {
    if (!std::isfinite(value))
        value = 0.0;
    char buf[400]; // a fixed form of the largest double, with its places
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 3);
    char* end = res.ptr;
    while (end - buf > 2 && end[-1] == '0' && end[-2] != '.')
        --end;
    out.append(buf, end);
}

// floatText's text of `value`, without its allocations for the times a video
// has: from 0.0001 to 2^24 the shortest fixed form that reads back is the
// same digits, given a ".0" when it has no point.
void appendFloat(std::string& out, float value) {
    const float magnitude = std::fabs(value);
    if (!(magnitude >= 0.0001f && magnitude <= 16777216.0f)) {
        out += floatText(value);
        return;
    }
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    out.append(buf, res.ptr);
    if (std::find(buf, res.ptr, '.') == res.ptr)
        out += ".0";
}

void appendMarker(std::string& out, const TagRowData& tag) {
    out += "t=";
    appendFloat(out, tag.time_val);
    if (tag.end.state == TagEnd::State::Open) {
        out += ";e=open";
    } else if (tag.end.isSet()) {
        out += ";e=";
        appendFloat(out, tag.end.time);
    }
}

std::string codeColor(const std::string& name, const CodeWindow* window) {
    if (window)
        if (const Code* code = window->find(name); code && !code->color.empty())
            return code->color;
    if (const Code* code = CodeWindow::standard().find(name); code && !code->color.empty())
        return code->color;
    return "#808080";
}

// An instance's opening up to its code: ID, start and end.
void appendInstanceStart(std::string& out, size_t id, double start, double end) {
    char number[24];
    out += "    <instance>\n      <ID>";
    out.append(number, std::to_chars(number, number + sizeof number, id).ptr);
    out += "</ID>\n      <start>";
    appendDecimal(out, start);
    out += "</start>\n      <end>";
    appendDecimal(out, end);
    out += "</end>\n      ";
}

// What each code needs, found once: tags repeat a few codes.
struct CodeInfo {
    double lead, lag;
    std::string element; // "<code>NAME</code>", escaped
};

// Each period as an instance of a code named as it, spanning it.
template <typename Infos>
void appendPeriods(std::string& out, const MatchInfo& match, double last, size_t& id, Infos& infos,
                   std::vector<std::string>& codes) {
    for (const MatchPeriod& period : match.periods) {
        auto [info, added] = infos.try_emplace(period.name);
        if (added) {
            appendElement(info->second.element, "code", period.name);
            codes.push_back(period.name);
        }
        const double start = std::min(period.start, last);
        const double end = period.open() ? (std::isfinite(last) ? last : start)
                                         : std::clamp(period.end, start, last);
        appendInstanceStart(out, ++id, start, end);
        out += info->second.element + "\n      <label><group>Rucktag</group><text>";
        out += kPeriodMarker;
        appendDecimal(out, period.clock);
        out += "</text></label>\n    </instance>\n";
    }
}

// The match's other cameras after ROWS, a section of our own that other tools
// skip: each angle's name, file (as the match file has it) and the map from
// this list's times to the angle's (angle time = offset + scale × time).
void appendAngles(std::string& out, const std::vector<MatchAngle>& angles) {
    out += "  <ANGLES>\n";
    for (const MatchAngle& angle : angles) {
        out += "    <angle>";
        appendElement(out, "name", angle.name);
        appendElement(out, "file", angle.file);
        char buf[400];
        for (const auto& [name, value] :
             {std::pair{"offset", angle.offset}, {"scale", angle.scale}}) {
            const auto res =
                std::to_chars(buf, buf + sizeof buf, std::isfinite(value) ? value : 0.0,
                              std::chars_format::fixed);
            appendElement(out, name, std::string_view(buf, size_t(res.ptr - buf)));
        }
        out += "</angle>\n";
    }
    out += "  </ANGLES>\n";
}

} // namespace

std::string colorFrom16Bit(uint32_t r, uint32_t g, uint32_t b) {
    const auto eight = [](uint32_t v) { return (std::min<uint32_t>(v, 65535) + 128) / 257; };
    // Room for any uint32_t, though each value is at most 255: the compiler
    // cannot see that and warns of truncation.
    char buf[32];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", eight(r), eight(g), eight(b));
    return buf;
}

bool colorTo16Bit(std::string_view color, uint32_t& r, uint32_t& g, uint32_t& b) {
    if (color.size() != 7 || color[0] != '#')
        return false;
    uint32_t v[3];
    for (int k = 0; k < 3; ++k) {
        const char* p = color.data() + 1 + 2 * k;
        const auto [ptr, ec] = std::from_chars(p, p + 2, v[k], 16);
        if (ec != std::errc() || ptr != p + 2)
            return false;
    }
    r = v[0] * 257, g = v[1] * 257, b = v[2] * 257;
    return true;
}

std::string editListText(const std::vector<std::shared_ptr<TagRowData>>& listed, double lead,
                         double lag, double duration, const CodeWindow* window,
                         const MatchInfo* match) {
    std::unordered_map<std::string, CodeInfo> infos;
    std::vector<std::string> codes; // in the order first written
    size_t bytes = 256;
    for (const auto& tag : listed) {
        auto [info, added] = infos.try_emplace(tag->name);
        if (added) {
            info->second.lead = lead, info->second.lag = lag;
            // The code's own lead and lag, as the highlight export takes them.
            if (window)
                if (const Code* code = window->find(tag->name))
                    info->second = {code->lead.value_or(lead), code->lag.value_or(lag), {}};
            appendElement(info->second.element, "code", tag->name);
            codes.push_back(tag->name);
        }
        bytes += 260 + info->second.element.size() + tag->comment.size();
        for (const auto& [group, text] : tag->labels)
            bytes += 50 + group.size() + text.size();
    }
    std::string out;
    out.reserve(bytes + codes.size() * 100);
    out += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<file>\n  <ALL_INSTANCES>\n";
    const double last = std::isfinite(duration) ? std::max(0.0, duration) : INFINITY;
    size_t id = 0;
    for (const auto& tag : listed) {
        const CodeInfo& info = infos.find(tag->name)->second;
        auto [start, end] = tagMoment(*tag, info.lead, info.lag, last);
        if (!(end > start)) {
            // Past the end of the video (or no time at all): an empty instance
            // still carries the tag.
            const double t = std::isfinite(tag->time_val) ? double(tag->time_val) : 0.0;
            start = end = std::clamp(t, 0.0, last);
        }
        appendInstanceStart(out, ++id, start, end);
        out += info.element;
        out += '\n';
        if (!tag->comment.empty()) {
            out += "      ";
            appendElement(out, "free_text", tag->comment);
            out += '\n';
        }
        out += "      <label><group>Team</group><text>";
        out += tag->team ? 'A' : 'B';
        out += "</text></label>\n      <label><group>Rucktag</group><text>";
        appendMarker(out, *tag); // digits and letters only: nothing to escape
        out += "</text></label>\n";
        for (const auto& [group, text] : tag->labels) {
            out += "      <label>";
            appendElement(out, "group", group);
            appendElement(out, "text", text);
            out += "</label>\n";
        }
        out += "    </instance>\n";
    }
    if (match)
        appendPeriods(out, *match, last, id, infos, codes);
    out += "  </ALL_INSTANCES>\n  <ROWS>\n";
    for (const std::string& code : codes) {
        uint32_t r = 0, g = 0, b = 0;
        colorTo16Bit(codeColor(code, window), r, g, b);
        out += "    <row>";
        out += infos.find(code)->second.element;
        out += "<R>" + std::to_string(r) + "</R><G>" + std::to_string(g) + "</G><B>" +
               std::to_string(b) + "</B></row>\n";
    }
    out += "  </ROWS>\n";
    if (match && !match->angles.empty())
        appendAngles(out, match->angles);
    out += "</file>\n";
    return out;
}
