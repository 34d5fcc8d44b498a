#include "exchange/XmlEditList.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "SubModuleClass/TagFileManager.h"
#include "platform/AtomicFile.h"
#include "review/Moments.h"
#include "text/TimeText.h"
#include "text/UnicodeText.h"

namespace {

// ---- UTF-8 and XML characters

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The length of the valid UTF-8 sequence at `i` and its code point, or 0.
size_t decodeUtf8(std::string_view s, size_t i, uint32_t& cp) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    size_t len;
    uint32_t min;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2, cp = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3, cp = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4, cp = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > s.size())
        return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((b(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

bool isXmlChar(uint32_t cp) {
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
           (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

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

bool parseFloat(std::string_view text, float& value) {
    if (text.empty())
        return false;
    // from_chars takes no '+', which floatText never writes anyway.
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && ptr == text.data() + text.size();
}

bool readMarker(std::string_view text, float& time, TagEnd& end) {
    bool haveTime = false;
    end = {};
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t semi = text.find(';', pos);
        if (semi == std::string_view::npos)
            semi = text.size();
        const std::string_view part = text.substr(pos, semi - pos);
        if (part.starts_with("t=")) {
            if (!parseFloat(part.substr(2), time))
                return false;
            haveTime = true;
        } else if (part.starts_with("e=")) {
            if (part.substr(2) == "open") {
                end.state = TagEnd::State::Open;
            } else {
                float e;
                if (!parseFloat(part.substr(2), e))
                    return false;
                end = TagEnd::at(e);
            }
        } else if (!part.empty()) {
            return false;
        }
        pos = semi + 1;
    }
    const auto usable = [](float t) { return std::isfinite(t) && t >= 0.0f; };
    return haveTime && usable(time) && (!end.isSet() || (usable(end.time) && end.time >= time));
}

std::string_view trimmed(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    return text;
}

// A decimal as other tools write it: "752.36", also "752,36", "+5", "1e3";
// "inf", "nan" and a number too large for a double read as not finite.
std::optional<double> readNumber(std::string_view text) {
    text = trimmed(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    std::string storage;
    if (text.find(',') != std::string_view::npos && text.find('.') == std::string_view::npos) {
        storage.assign(text);
        std::replace(storage.begin(), storage.end(), ',', '.');
        text = storage;
    }
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ptr != text.data() + text.size())
        return std::nullopt;
    if (ec == std::errc::result_out_of_range)
        return text.find_first_of("eE") != std::string_view::npos &&
                       text[text.find_first_of("eE") + 1] == '-'
                   ? 0.0
                   : INFINITY;
    if (ec != std::errc())
        return std::nullopt;
    return value;
}

bool equalsAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

std::string codeColor(const std::string& name, const CodeWindow* window) {
    if (window)
        if (const Code* code = window->find(name); code && !code->color.empty())
            return code->color;
    if (const Code* code = CodeWindow::standard().find(name); code && !code->color.empty())
        return code->color;
    return "#808080";
}

// ---- The reader

enum class Role : uint8_t { File, Instances, Instance, Label, Rows, Row, Field, Skip };
enum class Field : uint8_t { None, Id, Start, End, Code, FreeText, Group, Text, RowCode, R, G, B };

struct Open {
    std::string name;
    Role role;
    Field field = Field::None;
    size_t at = 0; // where its start tag is
};

std::string lowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

// The names of unknown sections listed; the rest are only counted.
constexpr size_t kUnknownNamesListed = 50;
// How often (in bytes read) the progress is told.
constexpr size_t kProgressStep = size_t(1) << 20;

// One kind of mending, told once with the lines it happened on.
struct Mend {
    std::string what;
    std::vector<size_t> lines;
    size_t count = 0;
};

class Parser {
public:
    Parser(std::string_view bytes, const ReadProgress& progress) : s_(bytes), progress_(progress) {}

    EditList run() {
        if (s_.size() > kMaxEditListBytes)
            return refuse(tooLarge(s_.size()));
        if (s_.starts_with("\xEF\xBB\xBF"))
            pos_ = 3;
        size_t told = 0;
        while (pos_ < s_.size() && refused_.empty()) {
            if (progress_ && pos_ - told >= kProgressStep) {
                told = pos_;
                if (!progress_(pos_, s_.size()))
                    return refuse("読込を取り消しました");
            }
            if (s_[pos_] == '<')
                markup();
            else
                text();
        }
        if (!refused_.empty())
            return refuse(refused_);
        if (unknownMore_ > 0)
            mend("ほかにも知らない項目が " + std::to_string(unknownMore_) +
                 " 種類あり、読み飛ばしました");
        if (!stack_.empty()) {
            mend("ファイルが途中で終わっています。閉じていない要素 <" + stack_.back().name +
                     "> までを読みました",
                 stack_.back().at);
            while (!stack_.empty())
                close();
        }
        for (const Mend& m : mends_) {
            std::string line = m.what;
            if (!m.lines.empty()) {
                line += " (";
                for (size_t i = 0; i < m.lines.size(); ++i)
                    line += (i ? ", " : "") + std::to_string(m.lines[i]);
                line += " 行目";
                if (m.count > m.lines.size())
                    line += " ほか " + std::to_string(m.count - m.lines.size()) + " 件";
                line += ")";
            }
            list_.mended.push_back(std::move(line));
        }
        return std::move(list_);
    }

    static std::string tooLarge(size_t bytes) {
        return "ファイルが大きすぎるため、読み込みませんでした (" +
               std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB、読み込めるのは " +
               std::to_string(kMaxEditListBytes >> 20) + " MB まで)";
    }

private:
    std::string_view s_;
    const ReadProgress& progress_;
    std::string refused_;
    size_t pos_ = 0;
    size_t linePos_ = 0, line_ = 1;
    std::vector<Open> stack_;
    std::string text_;
    EditListInstance instance_;
    std::pair<std::string, std::string> label_;
    bool labelHasText_ = false, labelHasGroup_ = false;
    EditListRow row_;
    std::string r_, g_, b_;
    EditList list_;
    std::vector<Mend> mends_;
    std::unordered_set<std::string> unknownSeen_; // lower case
    size_t unknownMore_ = 0;

    EditList refuse(std::string why) {
        EditList refused;
        refused.refused = std::move(why);
        return refused;
    }

    // Counted from the last position asked, forwards (or, once at the end,
    // backwards), so that the lines of a whole read cost one pass.
    size_t lineAt(size_t pos) {
        const auto at = [&](size_t p) { return s_.begin() + static_cast<std::ptrdiff_t>(p); };
        if (pos >= linePos_)
            line_ += static_cast<size_t>(std::count(at(linePos_), at(pos), '\n'));
        else
            line_ -= static_cast<size_t>(std::count(at(pos), at(linePos_), '\n'));
        linePos_ = pos;
        return line_;
    }

    // Told once per kind, with the first ten lines it happened on (each line
    // once) and how many more times.
    void mend(const std::string& what, size_t at = std::string::npos) {
        auto it = std::find_if(mends_.begin(), mends_.end(),
                               [&](const Mend& m) { return m.what == what; });
        if (it == mends_.end()) {
            mends_.push_back({what, {}, 0});
            it = mends_.end() - 1;
        }
        if (at == std::string::npos) {
            ++it->count;
            return;
        }
        const size_t line = lineAt(at);
        if (!it->lines.empty() && it->lines.back() == line)
            return;
        ++it->count;
        if (it->lines.size() < 10)
            it->lines.push_back(line);
    }

    bool collecting() const { return !stack_.empty() && stack_.back().role == Role::Field; }

    static bool nameStart(unsigned char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' ||
               c >= 0x80;
    }
    static bool nameChar(unsigned char c) {
        return nameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
    }

    std::string_view readName() {
        const size_t begin = pos_;
        while (pos_ < s_.size() && nameChar(static_cast<unsigned char>(s_[pos_])))
            ++pos_;
        return s_.substr(begin, pos_ - begin);
    }

    // Skips to just past `end`; false (and to the end of the input) when it
    // never comes.
    bool skipPast(std::string_view end) {
        const size_t found = s_.find(end, pos_);
        if (found == std::string_view::npos) {
            pos_ = s_.size();
            return false;
        }
        pos_ = found + end.size();
        return true;
    }

    void markup() {
        const size_t at = pos_;
        const std::string_view rest = s_.substr(pos_);
        if (rest.starts_with("<!--")) {
            pos_ += 4;
            if (!skipPast("-->"))
                mend("閉じていないコメントをファイルの終わりまでとしました", at);
        } else if (rest.starts_with("<![CDATA[")) {
            pos_ += 9;
            const size_t found = s_.find("]]>", pos_);
            const size_t end = found == std::string_view::npos ? s_.size() : found;
            if (collecting())
                appendChecked(s_.substr(pos_, end - pos_), pos_);
            if (found == std::string_view::npos)
                mend("閉じていない CDATA をファイルの終わりまでとしました", at);
            pos_ = found == std::string_view::npos ? s_.size() : found + 3;
        } else if (rest.starts_with("<?")) {
            pos_ += 2;
            skipPast("?>");
        } else if (rest.starts_with("<!")) {
            // A DOCTYPE, with its internal subset in brackets.
            int depth = 0;
            for (pos_ += 2; pos_ < s_.size(); ++pos_) {
                const char c = s_[pos_];
                if (c == '[')
                    ++depth;
                else if (c == ']')
                    --depth;
                else if (c == '>' && depth <= 0)
                    break;
            }
            if (pos_ < s_.size())
                ++pos_;
        } else if (rest.starts_with("</")) {
            pos_ += 2;
            const std::string name(readName());
            skipPast(">");
            endTag(name, at);
        } else if (rest.size() > 1 && nameStart(static_cast<unsigned char>(rest[1]))) {
            ++pos_;
            const std::string name(readName());
            // Attributes are not used; quoted values may hold '>'.
            bool selfClosing = false;
            char quote = 0;
            for (; pos_ < s_.size(); ++pos_) {
                const char c = s_[pos_];
                if (quote) {
                    if (c == quote)
                        quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '>') {
                    selfClosing = s_[pos_ - 1] == '/';
                    ++pos_;
                    break;
                }
            }
            startTag(name, at);
            if (selfClosing && refused_.empty())
                close();
        } else {
            mend("「<」をそのまま文字として読みました", at);
            if (collecting())
                text_ += '<';
            ++pos_;
        }
    }

    void text() {
        const size_t found = s_.find('<', pos_);
        const size_t end = found == std::string_view::npos ? s_.size() : found;
        if (collecting())
            decode(s_.substr(pos_, end - pos_), pos_);
        pos_ = end;
    }

    // Appends raw text checked as UTF-8 (line ends as XML reads them).
    void appendChecked(std::string_view raw, size_t at) {
        for (size_t i = 0; i < raw.size();) {
            const unsigned char c = static_cast<unsigned char>(raw[i]);
            if (c == '\r') {
                text_ += '\n';
                i += (i + 1 < raw.size() && raw[i + 1] == '\n') ? 2 : 1;
                continue;
            }
            if (c < 0x20 && c != '\t' && c != '\n') {
                mend("XML にない制御文字 (NUL など) を取り除きました", at + i);
                ++i;
                continue;
            }
            if (c < 0x80) {
                text_ += static_cast<char>(c);
                ++i;
                continue;
            }
            uint32_t cp;
            const size_t len = decodeUtf8(raw, i, cp);
            if (len == 0) {
                mend("UTF-8 として読めないバイトを U+FFFD にしました", at + i);
                text_ += kReplacement;
                ++i;
            } else {
                text_.append(raw.data() + i, len);
                i += len;
            }
        }
    }

    void decode(std::string_view raw, size_t at) {
        size_t done = 0;
        for (size_t amp = raw.find('&'); amp != std::string_view::npos; amp = raw.find('&', done)) {
            appendChecked(raw.substr(done, amp - done), at + done);
            done = amp + 1;
            // Looked for only as far as a reference can reach: a run of bare
            // '&' must not search the rest of the text each time.
            const size_t semi = raw.substr(0, std::min(raw.size(), amp + 13)).find(';', amp);
            const std::string_view ref = semi == std::string_view::npos
                                             ? std::string_view()
                                             : raw.substr(amp + 1, semi - amp - 1);
            if (ref.empty()) {
                mend("裸の「&」をそのまま文字として読みました", at + amp);
                text_ += '&';
                continue;
            }
            if (ref == "amp")
                text_ += '&';
            else if (ref == "lt")
                text_ += '<';
            else if (ref == "gt")
                text_ += '>';
            else if (ref == "quot")
                text_ += '"';
            else if (ref == "apos")
                text_ += '\'';
            else if (ref[0] == '#') {
                const bool hex = ref.size() > 1 && (ref[1] == 'x' || ref[1] == 'X');
                const std::string_view digits = ref.substr(hex ? 2 : 1);
                uint32_t cp = 0;
                const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(),
                                                       cp, hex ? 16 : 10);
                if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size()) {
                    mend("裸の「&」をそのまま文字として読みました", at + amp);
                    text_ += '&';
                    continue;
                }
                if (!isXmlChar(cp)) {
                    mend("XML にない文字の参照を U+FFFD にしました", at + amp);
                    text_ += kReplacement;
                } else {
                    appendUtf8(text_, cp);
                }
            } else {
                bool name = true;
                for (char c : ref)
                    name = name && nameChar(static_cast<unsigned char>(c));
                mend(name ? "知らない実体参照をそのまま文字として読みました"
                          : "裸の「&」をそのまま文字として読みました",
                     at + amp);
                text_ += '&';
                continue;
            }
            done = semi + 1;
        }
        appendChecked(raw.substr(done), at + done);
    }

    void unknown(const std::string& name) {
        if (!unknownSeen_.insert(lowerAscii(name)).second)
            return;
        if (list_.unknownElements.size() < kUnknownNamesListed)
            list_.unknownElements.push_back(name);
        else
            ++unknownMore_;
    }

    void startTag(const std::string& name, size_t at) {
        const auto is = [&](std::string_view n) { return equalsAscii(name, n); };
        if (stack_.size() >= kMaxEditListDepth) {
            refused_ = "要素の入れ子が深すぎるため、読み込みませんでした (" +
                       std::to_string(lineAt(at)) + " 行目、" + std::to_string(kMaxEditListDepth) +
                       " 段まで)";
            return;
        }
        Open open{name, Role::Skip, Field::None, at};
        const Role parent = stack_.empty() ? Role::File : stack_.back().role;
        const bool root = stack_.empty();
        switch (parent) {
        case Role::File:
            if (is("ALL_INSTANCES")) {
                open.role = Role::Instances;
                list_.isEditList = true;
            } else if (is("ROWS")) {
                open.role = Role::Rows;
            } else if (root) {
                open.role = Role::File;
            } else if (!is("SORT_INFO")) {
                unknown(name);
            }
            break;
        case Role::Instances:
            if (is("instance")) {
                if (list_.instances.size() >= kMaxEditListInstances) {
                    refused_ = "インスタンスが多すぎるため、読み込みませんでした (" +
                               std::to_string(lineAt(at)) + " 行目、" +
                               std::to_string(kMaxEditListInstances) + " 件まで)";
                    return;
                }
                open.role = Role::Instance;
                instance_ = {};
                instance_.line = lineAt(at);
                list_.isEditList = true;
            } else {
                unknown(name);
            }
            break;
        case Role::Instance:
            if (is("label")) {
                if (instance_.labels.size() >= kMaxLabelsPerInstance) {
                    refused_ = "一つのインスタンスのラベルが多すぎるため、読み込みませんでした (" +
                               std::to_string(instance_.line) + " 行目のインスタンス、" +
                               std::to_string(kMaxLabelsPerInstance) + " 個まで)";
                    return;
                }
                open.role = Role::Label;
                label_ = {};
                labelHasText_ = labelHasGroup_ = false;
            } else {
                open.role = Role::Field;
                open.field = is("ID")          ? Field::Id
                             : is("start")     ? Field::Start
                             : is("end")       ? Field::End
                             : is("code")      ? Field::Code
                             : is("free_text") ? Field::FreeText
                                               : Field::None;
            }
            break;
        case Role::Label:
            open.role = Role::Field;
            open.field = is("group") ? Field::Group : is("text") ? Field::Text : Field::None;
            break;
        case Role::Rows:
            if (is("row")) {
                open.role = Role::Row;
                row_ = {};
                r_.clear(), g_.clear(), b_.clear();
            } else {
                unknown(name);
            }
            break;
        case Role::Row:
            open.role = Role::Field;
            open.field = is("code") ? Field::RowCode
                         : is("R")  ? Field::R
                         : is("G")  ? Field::G
                         : is("B")  ? Field::B
                                    : Field::None;
            break;
        case Role::Field:
            unknown(name);
            break;
        case Role::Skip:
            break;
        }
        if (open.role == Role::Field && open.field == Field::None) {
            unknown(name);
            open.role = Role::Skip;
        }
        if (open.role == Role::Field)
            text_.clear();
        stack_.push_back(std::move(open));
    }

    void endTag(const std::string& name, size_t at) {
        for (size_t k = stack_.size(); k-- > 0;) {
            if (equalsAscii(stack_[k].name, name)) {
                if (k + 1 < stack_.size())
                    mend("閉じていない要素を閉じました", at);
                while (stack_.size() > k)
                    close();
                return;
            }
        }
        mend("開始のない終了タグを無視しました", at);
    }

    void close() {
        Open open = std::move(stack_.back());
        stack_.pop_back();
        switch (open.role) {
        case Role::Field:
            switch (open.field) {
            case Field::Id:
                instance_.id = text_;
                break;
            case Field::Start:
                instance_.start = text_;
                break;
            case Field::End:
                instance_.end = text_;
                break;
            case Field::Code:
                instance_.code = text_;
                instance_.hasCode = true;
                break;
            case Field::FreeText:
                instance_.freeText = text_;
                break;
            case Field::Group:
                label_.first = text_;
                labelHasGroup_ = true;
                break;
            case Field::Text:
                label_.second = text_;
                labelHasText_ = true;
                break;
            case Field::RowCode:
                row_.code = text_;
                break;
            case Field::R:
                r_ = text_;
                break;
            case Field::G:
                g_ = text_;
                break;
            case Field::B:
                b_ = text_;
                break;
            case Field::None:
                break;
            }
            text_.clear();
            break;
        case Role::Label:
            if (labelHasText_ || labelHasGroup_)
                instance_.labels.push_back(std::move(label_));
            break;
        case Role::Instance:
            list_.instances.push_back(std::move(instance_));
            instance_ = {};
            break;
        case Role::Row: {
            const auto channel = [](std::string_view t) -> std::optional<uint32_t> {
                t = trimmed(t);
                uint32_t v = 0;
                const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
                if (t.empty() || ec != std::errc() || ptr != t.data() + t.size() || v > 65535)
                    return std::nullopt;
                return v;
            };
            const auto r = channel(r_), g = channel(g_), b = channel(b_);
            if (r && g && b)
                row_.color = colorFrom16Bit(*r, *g, *b);
            list_.rows.push_back(std::move(row_));
            row_ = {};
            break;
        }
        default:
            break;
        }
    }
};

bool isTeamGroup(std::string_view group) {
    group = trimmed(group);
    return equalsAscii(group, kTeamLabelGroup) || group == "チーム";
}

std::optional<bool> teamLetter(std::string_view text) {
    text = trimmed(text);
    if (text == "A" || text == "a")
        return true;
    if (text == "B" || text == "b")
        return false;
    return std::nullopt;
}

// Labels of one instance by group, found by a hash once there are many.
class LabelAdder {
public:
    explicit LabelAdder(TagLabels& labels) : labels_(labels) {}

    void add(std::string group, const std::string& text) {
        if (group.empty())
            group = kNoGroupLabelGroup;
        if (auto* t = find(group)) {
            if (*t != text) {
                *t += kRepeatedLabelJoin;
                *t += text;
            }
            return;
        }
        labels_.emplace_back(std::move(group), text);
        if (!index_.empty() || labels_.size() > 8)
            for (size_t k = index_.empty() ? 0 : labels_.size() - 1; k < labels_.size(); ++k)
                index_.emplace(labels_[k].first, k);
    }

private:
    std::string* find(const std::string& group) {
        if (index_.empty()) {
            for (auto& [g, t] : labels_)
                if (g == group)
                    return &t;
            return nullptr;
        }
        const auto it = index_.find(group);
        return it == index_.end() ? nullptr : &labels_[it->second].second;
    }

    TagLabels& labels_;
    std::unordered_map<std::string, size_t> index_;
};

std::string instanceName(const EditListInstance& instance) {
    std::string name = std::to_string(instance.line) + " 行目";
    if (!instance.id.empty())
        name += " (ID " + std::string(trimmed(instance.id)) + ")";
    return name;
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
                         double lag, double duration, const CodeWindow* window) {
    // What each code needs, found once: tags repeat a few codes.
    struct CodeInfo {
        double lead, lag;
        std::string element; // "<code>NAME</code>", escaped
    };
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
    char number[24];
    for (const auto& tag : listed) {
        const CodeInfo& info = infos.find(tag->name)->second;
        auto [start, end] = tagMoment(*tag, info.lead, info.lag, last);
        if (!(end > start)) {
            // Past the end of the video (or no time at all): an empty instance
            // still carries the tag.
            const double t = std::isfinite(tag->time_val) ? double(tag->time_val) : 0.0;
            start = end = std::clamp(t, 0.0, last);
        }
        out += "    <instance>\n      <ID>";
        out.append(number, std::to_chars(number, number + sizeof number, ++id).ptr);
        out += "</ID>\n      <start>";
        appendDecimal(out, start);
        out += "</start>\n      <end>";
        appendDecimal(out, end);
        out += "</end>\n      ";
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
    out += "  </ALL_INSTANCES>\n  <ROWS>\n";
    for (const std::string& code : codes) {
        uint32_t r = 0, g = 0, b = 0;
        colorTo16Bit(codeColor(code, window), r, g, b);
        out += "    <row>";
        out += infos.find(code)->second.element;
        out += "<R>" + std::to_string(r) + "</R><G>" + std::to_string(g) + "</G><B>" +
               std::to_string(b) + "</B></row>\n";
    }
    out += "  </ROWS>\n</file>\n";
    return out;
}

EditList readEditList(std::string_view bytes, const ReadProgress& progress) {
    return Parser(bytes, progress).run();
}

EditList readEditListFile(const std::string& path, const ReadProgress& progress) {
    EditList list;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec && size > kMaxEditListBytes) {
        list.refused = Parser::tooLarge(size);
        return list;
    }
    std::string bytes, error;
    if (!readWholeFile(path, bytes, error)) {
        list.refused = "XML ファイルを読めません: " + error;
        return list;
    }
    return readEditList(bytes, progress);
}

EditListTags tagsFromEditList(const EditList& list, double duration) {
    EditListTags result;
    std::vector<std::string> noCode, noTime, badTime, pastEnd, manyLabels, badMarker, longCode;
    for (const EditListInstance& instance : list.instances) {
        if (!instance.hasCode || trimmed(instance.code).empty()) {
            noCode.push_back(instanceName(instance));
            continue;
        }
        auto tag = std::make_shared<TagRowData>();
        LabelAdder labels(tag->labels);
        std::optional<bool> team;
        bool markerSeen = false, exact = false;
        for (const auto& [group, text] : instance.labels) {
            if (!markerSeen && group == kRucktagLabelGroup) {
                markerSeen = true;
                if (readMarker(text, tag->time_val, tag->end)) {
                    exact = true;
                    continue;
                }
                // Told, and not kept: a label of this group means the range.
                badMarker.push_back(instanceName(instance));
                continue;
            }
            // The label that tells the team (and its repeats) is the team,
            // no longer a label; one that says otherwise is kept.
            if (isTeamGroup(group))
                if (const auto letter = teamLetter(text); letter && (!team || *team == *letter)) {
                    team = letter;
                    continue;
                }
            labels.add(group, text);
        }
        tag->name = instance.code;
        if (!team) {
            // "A スクラム", "B　スクラム" (an ideographic space)
            const std::string_view code = instance.code;
            for (std::string_view space : {std::string_view(" "), std::string_view("\u3000")}) {
                if (code.size() > 1 + space.size() && (code[0] == 'A' || code[0] == 'B') &&
                    code.substr(1, space.size()) == space) {
                    team = code[0] == 'A';
                    tag->name = std::string(code.substr(1 + space.size()));
                    break;
                }
            }
        }
        if (!exact) {
            const auto start = readNumber(instance.start);
            if (!start) {
                noTime.push_back(instanceName(instance));
                continue;
            }
            // Times a video cannot have would poison every file they reach.
            const float time = static_cast<float>(*start);
            const auto end = readNumber(instance.end);
            const float until = end ? static_cast<float>(*end) : time;
            if (!std::isfinite(time) || time < 0.0f || !std::isfinite(until) || until < time) {
                badTime.push_back(instanceName(instance));
                continue;
            }
            tag->time_val = time;
            tag->end = {};
            if (until > time) {
                // Already a clip: its range is its moment, with no lead or lag.
                tag->end = TagEnd::at(until);
                labels.add(std::string(kExactRangeGroup), std::string(kExactRangeLabel));
            }
        }
        if (std::isfinite(duration) && tag->time_val > duration) {
            pastEnd.push_back(instanceName(instance));
            continue;
        }
        if (tag->name.size() > kMaxImportedCodeBytes) {
            longCode.push_back(instanceName(instance));
            continue;
        }
        // Written out again with its Team and Rucktag labels, the tag must
        // still be an instance a file may hold.
        if (tag->labels.size() + 2 > kMaxLabelsPerInstance) {
            manyLabels.push_back(instanceName(instance));
            continue;
        }
        tag->time_string = createTimeString(tag->time_val);
        tag->comment = instance.freeText;
        tag->team = team.value_or(false);
        result.tags.push_back({std::move(tag), team, instance.line});
    }
    std::stable_sort(result.tags.begin(), result.tags.end(),
                     [](const ImportedTag& a, const ImportedTag& b) {
                         const float x = a.tag->time_val, y = b.tag->time_val;
                         return !std::isnan(x) && (std::isnan(y) || x < y);
                     });
    const auto tell = [&](const char* what, const std::vector<std::string>& where) {
        if (where.empty())
            return;
        std::string line = std::string(what) + ": " + std::to_string(where.size()) + " 件 (";
        for (size_t i = 0; i < where.size() && i < 5; ++i)
            line += (i ? ", " : "") + where[i];
        line += where.size() > 5 ? " ほか)" : ")";
        result.problems.push_back(std::move(line));
    };
    tell("コードのないインスタンスを読みませんでした", noCode);
    tell("開始時刻の読めないインスタンスを読みませんでした", noTime);
    tell("時刻が負か無限大か数でない、または終了が開始より前のインスタンスを読みませんでした",
         badTime);
    tell("動画の終わりより後に始まるインスタンスを読みませんでした", pastEnd);
    tell("ラベルが多すぎるインスタンスを読みませんでした", manyLabels);
    tell("コードが長すぎる (256 バイトまで) インスタンスを読みませんでした", longCode);
    tell("Rucktag ラベルが読めず、開始時刻を使いました", badMarker);
    return result;
}

std::vector<std::string> unresolvedCodes(const std::vector<ImportedTag>& tags) {
    std::vector<std::string> codes;
    std::unordered_set<std::string> seen;
    for (const ImportedTag& t : tags)
        if (!t.team && seen.insert(t.tag->name).second)
            codes.push_back(t.tag->name);
    return codes;
}

namespace {

std::string duplicateKey(const TagRowData& tag) {
    std::string key;
    key.reserve(tag.name.size() + 16);
    key += tag.team ? 'A' : 'B';
    char bits[sizeof(float)];
    std::memcpy(bits, &tag.time_val, sizeof bits);
    key.append(bits, sizeof bits);
    key += static_cast<char>(tag.end.state);
    if (tag.end.isSet()) {
        std::memcpy(bits, &tag.end.time, sizeof bits);
        key.append(bits, sizeof bits);
    }
    key += tag.name;
    return key;
}

} // namespace

std::vector<bool> findDuplicates(const std::vector<std::shared_ptr<TagRowData>>& existing,
                                 const std::vector<ImportedTag>& incoming) {
    std::unordered_set<std::string> keys;
    keys.reserve(existing.size());
    for (const auto& tag : existing)
        keys.insert(duplicateKey(*tag));
    std::vector<bool> duplicate;
    duplicate.reserve(incoming.size());
    for (const ImportedTag& t : incoming)
        duplicate.push_back(keys.count(duplicateKey(*t.tag)) > 0);
    return duplicate;
}

std::string videoBesideSession(const std::string& sessionPath) {
    namespace fs = std::filesystem;
    const fs::path session(sessionPath);
    const fs::path folder = session.has_parent_path() ? session.parent_path() : fs::path(".");
    const fs::path wanted = session.filename();
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string ext = it->path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (ext != ".avi" && ext != ".mp4" && ext != ".mts" && ext != ".m2ts")
            continue;
        std::error_code typeError;
        if (!it->is_regular_file(typeError))
            continue;
        if (fs::path(TagFileManager::sessionFilePath(it->path().string())).filename() == wanted)
            found.push_back(it->path().string());
    }
    std::sort(found.begin(), found.end());
    return found.empty() ? std::string() : found.front();
}
