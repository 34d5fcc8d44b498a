#include "platform/CSVReader.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <sstream>

namespace {

void skipBom(const std::string& text, size_t& pos) {
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        pos = 3;
}

bool endsField(const char* data, size_t size, size_t at) {
    return at == size || data[at] == ',' || data[at] == '\n' || data[at] == '\r';
}

// Whether the quoted field opening at `open` is closed: its first quote that
// is not doubled is followed by a comma, a line end or the end of the input.
bool quotedFieldCloses(const char* data, size_t size, size_t open) {
    size_t p = open + 1;
    for (;;) {
        const void* q = std::memchr(data + p, '"', size - p);
        if (!q)
            return false;
        const size_t at = static_cast<size_t>(static_cast<const char*>(q) - data);
        if (at + 1 < size && data[at + 1] == '"') {
            p = at + 2;
            continue;
        }
        return endsField(data, size, at + 1);
    }
}

} // namespace

CSVReader::CSVReader(std::istream& stream) {
    std::ostringstream all;
    if (stream.peek() != std::char_traits<char>::eof())
        all << stream.rdbuf();
    if (stream.bad()) {
        error_ = "The input could not be read.";
        return;
    }
    text_ = std::move(all).str();
    skipBom(text_, pos_);
}

CSVReader::CSVReader(std::string text) : text_(std::move(text)) {
    skipBom(text_, pos_);
}

std::optional<std::vector<std::string>> CSVReader::next() {
    std::vector<std::string> row;
    if (!next(row))
        return std::nullopt;
    return row;
}

bool CSVReader::next(std::vector<std::string>& row) {
    std::vector<std::string_view> views;
    if (!next(views))
        return false;
    row.resize(views.size());
    for (size_t i = 0; i < views.size(); ++i)
        row[i].assign(views[i]);
    return true;
}

bool CSVReader::next(std::vector<std::string_view>& row) {
    const size_t size = text_.size();
    if (pos_ >= size)
        return false;
    char* const data = text_.data();
    row.clear();
    rowLine_ = lineBreaks_ + 1;
    unclosedQuoteLine_ = 0;

    for (;;) {
        size_t p = pos_;
        size_t end;
        // The common quoted field: no doubled quote, and the closing quote
        // ends the field. Its text is a view between the quotes, unmoved.
        const void* close = p < size && data[p] == '"' && p + 1 < size
                                ? std::memchr(data + p + 1, '"', size - p - 1)
                                : nullptr;
        const size_t closeAt =
            close ? static_cast<size_t>(static_cast<const char*>(close) - data) : size;
        if (close && endsField(data, size, closeAt + 1)) {
            lineBreaks_ += static_cast<size_t>(std::count(data + p + 1, data + closeAt, '\n'));
            row.emplace_back(data + p + 1, closeAt - p - 1);
            end = closeAt + 1;
        } else {
            // The field's text is gathered at [start, out): quoted text is moved
            // down over its quotes, which never needs more room than it had.
            const size_t start = p;
            size_t out = p;
            if (p < size && data[p] == '"' && quotedFieldCloses(data, size, p)) {
                ++p;
                for (;;) {
                    const size_t at = static_cast<size_t>(
                        static_cast<const char*>(std::memchr(data + p, '"', size - p)) - data);
                    lineBreaks_ += static_cast<size_t>(std::count(data + p, data + at, '\n'));
                    std::memmove(data + out, data + p, at - p);
                    out += at - p;
                    if (at + 1 < size && data[at + 1] == '"') { // doubled quote
                        data[out++] = '"';
                        p = at + 2;
                        continue;
                    }
                    p = at + 1;
                    break;
                }
            } else if (p < size && data[p] == '"' && !unclosedQuoteLine_) {
                // Never closed: its quote is an ordinary character, so that it
                // cannot swallow the rows after it.
                unclosedQuoteLine_ = lineBreaks_ + 1;
            }
            // Unquoted text (or a quoted field's end) up to the delimiter or
            // the line end.
            end = p;
            while (!endsField(data, size, end))
                ++end;
            if (out != p)
                std::memmove(data + out, data + p, end - p);
            out += end - p;
            row.emplace_back(data + start, out - start);
        }
        if (end < size && data[end] == ',') {
            pos_ = end + 1;
            if (pos_ == size) { // a trailing comma before the end of input
                row.emplace_back();
                break;
            }
            continue;
        }
        if (end < size) { // line end: LF, CR LF or CR
            end += (data[end] == '\r' && end + 1 < size && data[end + 1] == '\n') ? 2 : 1;
            ++lineBreaks_;
        }
        pos_ = end;
        break;
    }
    return true;
}

void appendCsvField(std::string& text, std::string_view field, bool alwaysQuoted) {
    if (!alwaysQuoted && field.find_first_of(",\"\n\r") == std::string_view::npos) {
        text.append(field);
        return;
    }
    text.push_back('"');
    for (char c : field) {
        if (c == '"')
            text.push_back('"');
        text.push_back(c);
    }
    text.push_back('"');
}
