#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "exchange/XmlEditList.h"

// A lenient XML reader: it reads markup and text in one pass and hands the
// elements to the reader built on it, mending what breaks XML's rules and
// telling each mending once with the lines it happened on.
class XmlReader {
public:
    XmlReader(std::string_view bytes, const ReadProgress& progress)
        : s_(bytes), progress_(progress) {}
    virtual ~XmlReader() = default;

protected:
    // Reads the whole input (after a BOM), until done or refused_ is set;
    // false when the progress cancelled it.
    bool readAll();

    // An element starts, ends (by name, the innermost of that name), or the
    // innermost one closes (a self-closing tag, a file that ends early).
    virtual void startTag(const std::string& name, size_t at) = 0;
    virtual void endTag(const std::string& name, size_t at) = 0;
    virtual void close() = 0;
    // Whether the innermost element's text is kept, in text_.
    virtual bool collecting() const = 0;

    // The line (from 1) of byte `pos`.
    size_t lineAt(size_t pos);
    // Told once per kind, with the first ten lines it happened on (each line
    // once) and how many more times; `at` npos counts it without a line.
    void mend(const std::string& what, size_t at = std::string::npos);
    // The mendings, one Japanese line each, in the order first met.
    std::vector<std::string> mendedLines() const;

    std::size_t size() const { return s_.size(); }
    std::string text_;
    std::string refused_;

private:
    // One kind of mending, told once with the lines it happened on.
    struct Mend {
        std::string what;
        std::vector<size_t> lines;
        size_t count = 0;
    };

    static bool nameStart(unsigned char c);
    static bool nameChar(unsigned char c);
    std::string_view readName();
    bool skipPast(std::string_view end);
    void markup();
    void declaration();
    void openTag(size_t at);
    void text();
    void appendChecked(std::string_view raw, size_t at);
    void decode(std::string_view raw, size_t at);
    // The reference `ref` (between '&' and ';') appended; false when it is
    // no reference and the '&' was kept as a character.
    bool appendReference(std::string_view ref, size_t at);

    std::string_view s_;
    const ReadProgress& progress_;
    size_t pos_ = 0;
    size_t linePos_ = 0, line_ = 1;
    std::vector<Mend> mends_;
};
