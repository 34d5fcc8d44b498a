#include <gtest/gtest.h>

#include "platform/CSVReader.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;

Rows readAll(std::string text) {
    CSVReader reader(std::move(text));
    Rows rows;
    while (auto row = reader.next())
        rows.push_back(*row);
    return rows;
}

} // namespace

TEST(CSVReader, UndoesQuoting) {
    EXPECT_EQ(readAll("a,b,c\n"), (Rows{{"a", "b", "c"}}));
    EXPECT_EQ(readAll("\"x,\"\"y\",\"\"\n"), (Rows{{"x,\"y", ""}}));
    EXPECT_EQ(readAll("A,1,\"line1\nline2\"\nB,2,\"\"\n"),
              (Rows{{"A", "1", "line1\nline2"}, {"B", "2", ""}}));
    EXPECT_EQ(readAll(" a , b\n"), (Rows{{" a ", " b"}})); // no trimming
    EXPECT_EQ(readAll("a,,\n"), (Rows{{"a", "", ""}}));
    EXPECT_EQ(readAll("a,"), (Rows{{"a", ""}}));
    EXPECT_EQ(readAll("last row without newline"), (Rows{{"last row without newline"}}));
    EXPECT_EQ(readAll(""), Rows{});
    EXPECT_EQ(readAll("\n\n"), (Rows{{""}, {""}}));
}

TEST(CSVReader, ToleratesMalformedInput) {
    // BOM skipped; CR LF and lone CR end rows; CR inside quotes kept.
    EXPECT_EQ(readAll("\xEF\xBB\xBFh1,h2\r\na,\"b\r\nc\"\rd\r\n"),
              (Rows{{"h1", "h2"}, {"a", "b\r\nc"}, {"d"}}));
    // Stray quotes are ordinary characters.
    EXPECT_EQ(readAll("ab\"c,x\"\n"), (Rows{{"ab\"c", "x\""}}));
    // NUL bytes and invalid UTF-8 pass through.
    const std::string odd("a\0b,\xff\xfe\n", 7);
    EXPECT_EQ(readAll(odd), (Rows{{std::string("a\0b", 3), "\xff\xfe"}}));
}

TEST(CSVReader, AQuoteNeverClosedIsTextAndSaysWhereItStarts) {
    // A comment whose closing quote was lost in an editor: its quote once ran
    // on into the next rows (through the doubled quotes of empty comments) up
    // to the next opening quote.
    CSVReader reader("A,1,\"pass,5.25\n"             // 1: never closed
                     "B,2,\"\",10.5\n"               // 2
                     "A,3,\"two\nlines\",\"x\"y,1\n" // 3-4: closed, then one never closed
                     "B,4,\"ok\"\"\",20\n"           // 5
                     "\"");                          // 6: a lone quote at the end
    std::vector<std::string> row;
    std::vector<std::pair<size_t, size_t>> lines; // row line, unclosed quote line
    Rows rows;
    while (reader.next(row)) {
        rows.push_back(row);
        lines.emplace_back(reader.line(), reader.unclosedQuoteLine());
    }
    EXPECT_EQ(rows, (Rows{{"A", "1", "\"pass", "5.25"},
                          {"B", "2", "", "10.5"},
                          {"A", "3", "two\nlines", "\"x\"y", "1"},
                          {"B", "4", "ok\"", "20"},
                          {"\""}}));
    EXPECT_EQ(lines,
              (std::vector<std::pair<size_t, size_t>>{{1, 1}, {2, 0}, {3, 4}, {5, 0}, {6, 6}}));
    EXPECT_EQ(readAll("a,\"open\nstill,open"), (Rows{{"a", "\"open"}, {"still", "open"}}));
}
