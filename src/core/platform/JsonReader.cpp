#include "platform/JsonReader.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <unordered_set>

#include "text/UnicodeText.h"

const JsonValue* JsonValue::member(std::string_view key) const {
    for (const auto& [name, value] : members)
        if (name == key)
            return &value;
    return nullptr;
}

namespace {

class Parser {
public:
    explicit Parser(std::string_view text) : s_(text) {
        if (s_.substr(0, 3) == "\xEF\xBB\xBF")
            pos_ = 3;
    }

    bool run(JsonValue& value, JsonError& error) {
        const bool ok = parseValue(value, 0) &&
                        (skipSpace(), atEnd() || fail("JSON の後に余分な文字があります"));
        if (!ok)
            error = error_;
        return ok;
    }

private:
    bool atEnd() const { return pos_ >= s_.size(); }
    char peek() const { return atEnd() ? '\0' : s_[pos_]; }
    bool fail(std::string message) {
        if (error_.message.empty())
            error_ = {line_, std::move(message)};
        return false;
    }
    void skipSpace() {
        while (!atEnd()) {
            const char c = s_[pos_];
            if (c == '\n')
                ++line_;
            else if (c != ' ' && c != '\t' && c != '\r')
                return;
            ++pos_;
        }
    }
    bool literal(std::string_view word) {
        if (s_.substr(pos_, word.size()) != word)
            return fail("読めない値があります");
        pos_ += word.size();
        return true;
    }

    bool parseValue(JsonValue& value, int depth);
    bool parseContainer(JsonValue& value, int depth);
    bool parseMember(JsonValue& object, std::unordered_set<std::string>& keys, int depth);
    bool parseNumber(JsonValue& value);
    bool parseString(std::string& out);
    bool parseEscape(std::string& out);
    bool copyUtf8(std::string& out);

    std::string_view s_;
    size_t pos_ = 0;
    size_t line_ = 1;
    JsonError error_;
};

bool Parser::parseValue(JsonValue& value, int depth) {
    skipSpace();
    value.line = line_;
    switch (peek()) {
    case '{':
    case '[':
        return parseContainer(value, depth);
    case '"':
        value.type = JsonValue::Type::String;
        return parseString(value.text);
    case 't':
    case 'f':
        value.type = JsonValue::Type::Bool;
        value.boolean = peek() == 't';
        return literal(value.boolean ? "true" : "false");
    case 'n':
        value.type = JsonValue::Type::Null;
        return literal("null");
    case '\0':
        if (atEnd())
            return fail("ファイルが途中で終わっています");
        return fail("読めない値があります");
    default:
        return parseNumber(value);
    }
}

bool Parser::parseContainer(JsonValue& value, int depth) {
    if (depth >= kMaxJsonDepth)
        return fail("入れ子が深すぎます");
    const bool object = peek() == '{';
    const char close = object ? '}' : ']';
    value.type = object ? JsonValue::Type::Object : JsonValue::Type::Array;
    ++pos_;
    skipSpace();
    if (peek() == close) {
        ++pos_;
        return true;
    }
    // The keys of this object so far: a member's check stays at one look-up
    // however many members an object has.
    std::unordered_set<std::string> keys;
    while (true) {
        if (object) {
            if (!parseMember(value, keys, depth))
                return false;
        } else if (!parseValue(value.items.emplace_back(), depth + 1)) {
            return false;
        }
        skipSpace();
        if (peek() == ',') {
            ++pos_;
            continue;
        }
        if (peek() == close) {
            ++pos_;
            return true;
        }
        return fail(atEnd() ? "ファイルが途中で終わっています"
                            : std::string("「,」か「") + close + "」があるべきところです");
    }
}

bool Parser::parseMember(JsonValue& object, std::unordered_set<std::string>& keys, int depth) {
    skipSpace();
    if (peek() != '"')
        return fail("項目の名前（\"…\"）があるべきところです");
    std::string key;
    if (!parseString(key))
        return false;
    if (!keys.insert(key).second)
        return fail("項目「" + key + "」が二度書かれています");
    skipSpace();
    if (peek() != ':')
        return fail("「:」があるべきところです");
    ++pos_;
    object.members.push_back(JsonMember{std::move(key), {}});
    return parseValue(object.members.back().value, depth + 1);
}

bool Parser::parseNumber(JsonValue& value) {
    const size_t start = pos_;
    auto digits = [this] {
        const size_t from = pos_;
        while (!atEnd() && s_[pos_] >= '0' && s_[pos_] <= '9')
            ++pos_;
        return pos_ - from;
    };
    if (peek() == '-')
        ++pos_;
    const size_t whole = digits();
    bool ok = whole > 0 && !(whole > 1 && s_[pos_ - whole] == '0');
    if (ok && peek() == '.') {
        ++pos_;
        ok = digits() > 0;
    }
    if (ok && (peek() == 'e' || peek() == 'E')) {
        ++pos_;
        if (peek() == '+' || peek() == '-')
            ++pos_;
        ok = digits() > 0;
    }
    if (!ok)
        return fail("読めない値があります");
    value.type = JsonValue::Type::Number;
    const auto res = std::from_chars(s_.data() + start, s_.data() + pos_, value.number);
    if (res.ec != std::errc() || !std::isfinite(value.number))
        return fail("数が大きすぎます");
    return true;
}

bool Parser::parseString(std::string& out) {
    ++pos_; // the opening quote
    while (true) {
        if (atEnd())
            return fail("文字列の終わりの「\"」がありません");
        const auto c = static_cast<unsigned char>(s_[pos_]);
        if (c == '"') {
            ++pos_;
            return true;
        }
        if (c < 0x20)
            return fail("文字列の中に改行や制御文字があります（\\n と書いてください）");
        if (c == '\\') {
            if (!parseEscape(out))
                return false;
        } else if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++pos_;
        } else if (!copyUtf8(out)) {
            return fail("UTF-8 ではない文字があります");
        }
    }
}

// Four hex digits at `at`, or -1.
long hex4(std::string_view s, size_t at) {
    if (s.size() < at + 4)
        return -1;
    long v = 0;
    for (size_t i = at; i < at + 4; ++i) {
        const char c = s[i];
        const int d = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
        if (d < 0)
            return -1;
        v = v * 16 + d;
    }
    return v;
}

bool Parser::parseEscape(std::string& out) {
    const char c = pos_ + 1 < s_.size() ? s_[pos_ + 1] : '\0';
    static constexpr std::string_view from = "\"\\/bfnrt", to = "\"\\/\b\f\n\r\t";
    if (const size_t k = from.find(c); c != '\0' && k != std::string_view::npos) {
        out.push_back(to[k]);
        pos_ += 2;
        return true;
    }
    if (c != 'u')
        return fail("文字列の中に読めない「\\」があります");
    long cp = hex4(s_, pos_ + 2);
    pos_ += 6;
    if (cp >= 0xD800 && cp <= 0xDBFF && s_.substr(pos_, 2) == "\\u") {
        const long low = hex4(s_, pos_ + 2);
        if (low >= 0xDC00 && low <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            pos_ += 6;
        }
    }
    if (cp < 0 || (cp >= 0xD800 && cp <= 0xDFFF))
        return fail("文字列の中に読めない「\\u」があります");
    appendUtf8(out, static_cast<uint32_t>(cp));
    return true;
}

// One UTF-8 sequence (well-formed: no overlong forms, no surrogates, at most
// U+10FFFF) copied to `out`.
bool Parser::copyUtf8(std::string& out) {
    const auto b = [this](size_t i) {
        return pos_ + i < s_.size() ? static_cast<unsigned char>(s_[pos_ + i]) : 0u;
    };
    const unsigned c = b(0);
    size_t n = 0;
    unsigned lo = 0x80, hi = 0xBF; // the second byte's range
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        lo = c == 0xE0 ? 0xA0 : 0x80;
        hi = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        lo = c == 0xF0 ? 0x90 : 0x80;
        hi = c == 0xF4 ? 0x8F : 0xBF;
    } else
        return false;
    if (b(1) < lo || b(1) > hi)
        return false;
    for (size_t i = 2; i < n; ++i)
        if (b(i) < 0x80 || b(i) > 0xBF)
            return false;
    out.append(s_.substr(pos_, n));
    pos_ += n;
    return true;
}

} // namespace

bool parseJson(std::string_view text, JsonValue& value, JsonError& error) {
    value = JsonValue{};
    return Parser(text).run(value, error);
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (u < 0x20) {
            static constexpr char digits[] = "0123456789abcdef";
            out += "\\u00";
            out.push_back(digits[u >> 4]);
            out.push_back(digits[u & 15]);
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
    return out;
}
