#include "exchange/XmlReader.h"

#include <algorithm>
#include <charconv>

#include "exchange/XmlChars.h"
#include "text/UnicodeText.h"

using xmlchars::decodeUtf8;
using xmlchars::isXmlChar;
using xmlchars::kReplacement;

namespace {

// How often (in bytes read) the progress is told.
constexpr size_t kProgressStep = size_t(1) << 20;

} // namespace

bool XmlReader::readAll() {
    if (s_.starts_with("\xEF\xBB\xBF"))
        pos_ = 3;
    size_t told = 0;
    while (pos_ < s_.size() && refused_.empty()) {
        if (progress_ && pos_ - told >= kProgressStep) {
            told = pos_;
            if (!progress_(pos_, s_.size()))
                return false;
        }
        if (s_[pos_] == '<')
            markup();
        else
            text();
    }
    return true;
}

std::vector<std::string> XmlReader::mendedLines() const {
    std::vector<std::string> out;
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
        out.push_back(std::move(line));
    }
    return out;
}

// Counted from the last position asked, forwards (or, once at the end,
// backwards), so that the lines of a whole read cost one pass.
size_t XmlReader::lineAt(size_t pos) {
    const auto at = [&](size_t p) { return s_.begin() + static_cast<std::ptrdiff_t>(p); };
    if (pos >= linePos_)
        line_ += static_cast<size_t>(std::count(at(linePos_), at(pos), '\n'));
    else
        line_ -= static_cast<size_t>(std::count(at(pos), at(linePos_), '\n'));
    linePos_ = pos;
    return line_;
}

void XmlReader::mend(const std::string& what, size_t at) {
    auto it =
        std::find_if(mends_.begin(), mends_.end(), [&](const Mend& m) { return m.what == what; });
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

bool XmlReader::nameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

bool XmlReader::nameChar(unsigned char c) {
    return nameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

std::string_view XmlReader::readName() {
    const size_t begin = pos_;
    while (pos_ < s_.size() && nameChar(static_cast<unsigned char>(s_[pos_])))
        ++pos_;
    return s_.substr(begin, pos_ - begin);
}

// Skips to just past `end`; false (and to the end of the input) when it
// never comes.
bool XmlReader::skipPast(std::string_view end) {
    const size_t found = s_.find(end, pos_);
    if (found == std::string_view::npos) {
        pos_ = s_.size();
        return false;
    }
    pos_ = found + end.size();
    return true;
}

void XmlReader::markup() {
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
        declaration();
    } else if (rest.starts_with("</")) {
        pos_ += 2;
        const std::string name(readName());
        skipPast(">");
        endTag(name, at);
    } else if (rest.size() > 1 && nameStart(static_cast<unsigned char>(rest[1]))) {
        openTag(at);
    } else {
        mend("「<」をそのまま文字として読みました", at);
        if (collecting())
            text_ += '<';
        ++pos_;
    }
}

// A DOCTYPE, with its internal subset in brackets.
void XmlReader::declaration() {
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
}

void XmlReader::openTag(size_t at) {
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
}

void XmlReader::text() {
    const size_t found = s_.find('<', pos_);
    const size_t end = found == std::string_view::npos ? s_.size() : found;
    if (collecting())
        decode(s_.substr(pos_, end - pos_), pos_);
    pos_ = end;
}

// Appends raw text checked as UTF-8 (line ends as XML reads them).
void XmlReader::appendChecked(std::string_view raw, size_t at) {
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

void XmlReader::decode(std::string_view raw, size_t at) {
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
        if (appendReference(ref, at + amp))
            done = semi + 1;
    }
    appendChecked(raw.substr(done), at + done);
}

bool XmlReader::appendReference(std::string_view ref, size_t at) {
    if (ref.empty()) {
        mend("裸の「&」をそのまま文字として読みました", at);
        text_ += '&';
        return false;
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
        const auto [ptr, ec] =
            std::from_chars(digits.data(), digits.data() + digits.size(), cp, hex ? 16 : 10);
        if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size()) {
            mend("裸の「&」をそのまま文字として読みました", at);
            text_ += '&';
            return false;
        }
        if (!isXmlChar(cp)) {
            mend("XML にない文字の参照を U+FFFD にしました", at);
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
             at);
        text_ += '&';
        return false;
    }
    return true;
}
