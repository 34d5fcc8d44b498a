#include <gtest/gtest.h>
#include <sstream>

#include "SubModuleClass/CSVReader.h"

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
    // Unterminated quote runs to the end.
    EXPECT_EQ(readAll("a,\"open\nstill,open"), (Rows{{"a", "open\nstill,open"}}));
    EXPECT_EQ(readAll("\""), (Rows{{""}}));
    // Stray quotes are ordinary characters; text after a closing quote is kept.
    EXPECT_EQ(readAll("ab\"c,\"q\"tail,x\n"), (Rows{{"ab\"c", "qtail", "x"}}));
    // NUL bytes and invalid UTF-8 pass through.
    const std::string odd("a\0b,\xff\xfe\n", 7);
    EXPECT_EQ(readAll(odd), (Rows{{std::string("a\0b", 3), "\xff\xfe"}}));
}

TEST(CSVReader, ReadsFromAStreamAndReusesRows) {
    std::istringstream in("x,y\n\"1\",2,3\n");
    CSVReader reader(in);
    EXPECT_TRUE(reader.error().empty());
    std::vector<std::string> row{"stale", "stale", "stale", "stale"};
    ASSERT_TRUE(reader.next(row));
    EXPECT_EQ(row, (std::vector<std::string>{"x", "y"}));
    ASSERT_TRUE(reader.next(row));
    EXPECT_EQ(row, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_FALSE(reader.next(row));
    EXPECT_FALSE(reader.next().has_value());
}
