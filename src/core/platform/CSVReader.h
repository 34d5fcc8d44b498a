#pragma once

#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Reader of comma-separated text (RFC 4180 quoting). The first row is returned
// like any other and fields are not trimmed.
//
// Input that a writer of RFC 4180 never produces is read as follows, never
// failing and always making progress:
// - a UTF-8 byte-order mark at the very start is skipped;
// - CR LF and a lone CR end a row like LF (outside quotes; inside quotes every
//   byte is kept as it stands);
// - a quoted field that is never closed (its first quote that is not doubled
//   is missing, or followed by anything but a comma or a line end, as in
//   `"ab"c` or a lone `"ab`) is read as unquoted text, its quotes kept, so it
//   never runs on into the rows after it; unclosedQuoteLine() tells where;
// - a quote inside an unquoted field is an ordinary character;
// - NUL bytes and invalid UTF-8 are passed through unchanged: the reader works
//   on bytes and leaves the text's meaning to its caller;
// - an empty line is a row of one empty field.
class CSVReader {
public:
    // Reads the whole stream at once. If the stream fails before its end,
    // error() says so and no rows are returned.
    explicit CSVReader(std::istream& stream);
    explicit CSVReader(std::string text);

    // The next row, or nothing once the input is exhausted.
    std::optional<std::vector<std::string>> next();
    // The same, filling `row` in place so its strings' buffers are reused.
    bool next(std::vector<std::string>& row);
    // The same without copies: the fields are views into the reader's own
    // buffer (unquoted in place), valid as long as the reader lives.
    bool next(std::vector<std::string_view>& row);

    const std::string& error() const { return error_; }
    // The line (from 1) on which the row last returned starts, counting the
    // line breaks inside quoted fields as an editor does.
    size_t line() const { return rowLine_; }
    // The line (from 1) on which the first quoted field of that row that is
    // never closed starts, or 0 when it has none.
    size_t unclosedQuoteLine() const { return unclosedQuoteLine_; }

private:
    std::string text_;
    size_t pos_ = 0;
    std::string error_;
    size_t lineBreaks_ = 0;
    size_t rowLine_ = 0;
    size_t unclosedQuoteLine_ = 0;
};

// Appends `field` to a CSV line, in double quotes (inner quotes doubled) when
// `alwaysQuoted` or when the reader would otherwise split it.
void appendCsvField(std::string& text, std::string_view field, bool alwaysQuoted);
