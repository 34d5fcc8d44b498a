#include "codewindow/CodeWindowFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>

#include "platform/AtomicFile.h"
#include "platform/JsonReader.h"
#include "text/UnicodeText.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kFormat = "rucktag-codewindow";
constexpr int kVersion = 1;
constexpr const char* kDefaultColor = "#808080";

using Type = JsonValue::Type;
using Part = WindowProblem::Part;

// Reads the members of a window's JSON, noting wrong types by line; the
// window's own rules are checked after, by checkCodeWindow.
class WindowReader {
public:
    explicit WindowReader(const std::string& fileName) : file_(fileName) {}

    void problem(size_t line, const std::string& message) { problems_.emplace_back(line, message); }
    // "FILE:LINE: message", by line.
    std::vector<std::string> problems() {
        std::stable_sort(problems_.begin(), problems_.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<std::string> out;
        for (const auto& [line, message] : problems_)
            out.push_back(file_ + ":" + std::to_string(line) + ": " + message);
        return out;
    }
    bool header(const JsonValue& root);
    CodeWindow read(const JsonValue& root);
    // The problems checkCodeWindow finds, at their lines, but for fields
    // whose type was wrong (already said).
    void check(const JsonValue& root, const CodeWindow& window);

private:
    // A member of the wrong type is noted and left out (false).
    const JsonValue* typed(const JsonValue& object, const char* key, Type type, const char* how,
                           Part part, size_t item) {
        const JsonValue* v = object.member(key);
        if (!v || v->type == type || (v->type == Type::Null && type == Type::Number))
            return v && v->type == type ? v : nullptr;
        problem(v->line, std::string("「") + key + "」は" + how + "で書いてください");
        said_.insert(where(part, item, key));
        return nullptr;
    }
    void text(const JsonValue& o, const char* key, std::string& out, Part part, size_t item) {
        if (const JsonValue* v = typed(o, key, Type::String, "文字列（\"…\"）", part, item))
            out = v->text;
    }
    void seconds(const JsonValue& o, const char* key, std::optional<double>& out, size_t item) {
        if (const JsonValue* v = typed(o, key, Type::Number, "秒数", Part::Code, item))
            out = v->number;
    }
    void texts(const JsonValue& o, const char* key, std::vector<std::string>& out, size_t item) {
        const JsonValue* v = typed(o, key, Type::Array, "文字列の配列（[…]）", Part::Label, item);
        for (const JsonValue& t : v ? v->items : std::vector<JsonValue>{})
            if (t.type == Type::String)
                out.push_back(t.text);
            else
                problem(t.line,
                        std::string("「") + key + "」には文字列（\"…\"）だけを書いてください");
    }
    Code readCode(const JsonValue& v, size_t i);
    LabelGroup readLabel(const JsonValue& v, size_t i);
    static std::string where(Part part, size_t item, std::string_view field) {
        return std::to_string(static_cast<int>(part)) + "/" + std::to_string(item) + "/" +
               std::string(field);
    }

    std::string file_;
    std::vector<std::pair<size_t, std::string>> problems_;
    std::set<std::string> said_;
};

bool WindowReader::header(const JsonValue& root) {
    if (root.type != Type::Object) {
        problem(root.line, "ファイル全体を {…} で書いてください");
        return false;
    }
    const JsonValue* format = root.member("format");
    if (!format || format->type != Type::String || format->text != kFormat) {
        problem(format ? format->line : root.line,
                "コードウィンドウのファイルではありません（\"format\": \"rucktag-codewindow\" "
                "がありません）");
        return false;
    }
    const JsonValue* version = root.member("version");
    if (!version || version->type != Type::Number || version->number < 1 ||
        version->number != std::floor(version->number)) {
        problem(version ? version->line : root.line, "「version」が読めません");
        return false;
    }
    if (version->number > kVersion) {
        problem(version->line, "新しい版（version " +
                                   std::to_string(std::lround(std::min(version->number, 1e9))) +
                                   "）のファイルのため、この版では読めません");
        return false;
    }
    return true;
}

Code WindowReader::readCode(const JsonValue& v, size_t i) {
    Code code;
    code.color = kDefaultColor;
    if (v.type != Type::Object) {
        problem(v.line, "コードは {…} で書いてください");
        said_.insert(where(Part::Code, i, "name"));
        return code;
    }
    text(v, "name", code.name, Part::Code, i);
    text(v, "color", code.color, Part::Code, i);
    text(v, "keyA", code.keyA, Part::Code, i);
    text(v, "keyB", code.keyB, Part::Code, i);
    // "Shift+!" as written on one keyboard is the key "Shift+1" on every one.
    code.keyA = numberRowKey(code.keyA);
    code.keyB = numberRowKey(code.keyB);
    text(v, "group", code.group, Part::Code, i);
    seconds(v, "lead", code.lead, i);
    seconds(v, "lag", code.lag, i);
    std::string mode = "point";
    text(v, "mode", mode, Part::Code, i);
    if (mode == "duration")
        code.mode = CodeMode::Duration;
    else if (mode != "point")
        problem(v.member("mode")->line, "「mode」は \"point\" か \"duration\" です");
    return code;
}

LabelGroup WindowReader::readLabel(const JsonValue& v, size_t i) {
    LabelGroup group;
    if (v.type != Type::Object) {
        problem(v.line, "ラベルグループは {…} で書いてください");
        said_.insert(where(Part::Label, i, "group"));
        said_.insert(where(Part::Label, i, "texts"));
        return group;
    }
    text(v, "group", group.group, Part::Label, i);
    texts(v, "texts", group.texts, i);
    texts(v, "keys", group.keys, i);
    for (std::string& key : group.keys)
        key = numberRowKey(key);
    return group;
}

CodeWindow WindowReader::read(const JsonValue& root) {
    CodeWindow window;
    text(root, "name", window.name, Part::Window, 0);
    if (const JsonValue* codes = typed(root, "codes", Type::Array, "配列（[…]）", Part::Window, 0))
        for (const JsonValue& v : codes->items)
            window.codes.push_back(readCode(v, window.codes.size()));
    if (const JsonValue* labels =
            typed(root, "labels", Type::Array, "配列（[…]）", Part::Window, 0))
        for (const JsonValue& v : labels->items)
            window.labels.push_back(readLabel(v, window.labels.size()));
    return window;
}

void WindowReader::check(const JsonValue& root, const CodeWindow& window) {
    const JsonValue* codes = root.member("codes");
    const JsonValue* labels = root.member("labels");
    for (const WindowProblem& p : checkCodeWindow(window)) {
        if (said_.count(where(p.part, p.item, p.field)))
            continue;
        const JsonValue* item = &root;
        if (p.part == Part::Code && codes && p.item < codes->items.size())
            item = &codes->items[p.item];
        else if (p.part == Part::Label && labels && p.item < labels->items.size())
            item = &labels->items[p.item];
        const JsonValue* field = item->type == Type::Object ? item->member(p.field) : nullptr;
        problem(field ? field->line : item->line, p.message);
    }
}

} // namespace

fs::path codeWindowFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config == '/')
        return fs::path(config) / "rucktag" / "codewindows";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".config" / "rucktag" / "codewindows";
}

CodeWindowRead parseCodeWindow(std::string_view text, const std::string& fileName) {
    CodeWindowRead result;
    WindowReader reader(fileName);
    JsonValue root;
    JsonError error;
    if (!parseJson(text, root, error))
        reader.problem(error.line, "JSON として読めません（" + error.message + "）");
    else if (reader.header(root)) {
        result.window = reader.read(root);
        reader.check(root, result.window);
    }
    result.problems = reader.problems();
    return result;
}

CodeWindowRead readCodeWindowFile(const fs::path& file) {
    const std::string name = file.filename().string();
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    if (!ec && size > kMaxCodeWindowFileBytes) {
        CodeWindowRead result;
        result.problems.push_back(name + ": ファイルが大きすぎます");
        return result;
    }
    std::string text, error;
    int code = 0;
    if (!readWholeFile(file, text, error, &code)) {
        CodeWindowRead result;
        result.problems.push_back(name + ": 読めません（" + fileErrorText(code) + "）");
        return result;
    }
    return parseCodeWindow(text, name);
}

namespace {

std::string numberText(double value) {
    char buffer[32];
    const auto res = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, res.ptr);
}

std::string codeLine(const Code& c) {
    std::string line = "{\"name\": " + jsonString(c.name) + ", \"color\": " + jsonString(c.color) +
                       ", \"keyA\": " + jsonString(c.keyA) + ", \"keyB\": " + jsonString(c.keyB);
    if (c.lead)
        line += ", \"lead\": " + numberText(*c.lead);
    if (c.lag)
        line += ", \"lag\": " + numberText(*c.lag);
    line += std::string(", \"mode\": ") +
            (c.mode == CodeMode::Duration ? "\"duration\"" : "\"point\"") +
            ", \"group\": " + jsonString(c.group) + "}";
    return line;
}

std::string textList(const std::vector<std::string>& texts) {
    std::string list = "[";
    for (size_t i = 0; i < texts.size(); ++i)
        list += (i ? ", " : "") + jsonString(texts[i]);
    return list + "]";
}

} // namespace

std::string codeWindowJson(const CodeWindow& window) {
    std::string text = "{\n  \"format\": \"rucktag-codewindow\",\n  \"version\": 1,\n  \"name\": " +
                       jsonString(window.name) + ",\n  \"codes\": [";
    for (size_t i = 0; i < window.codes.size(); ++i)
        text += (i ? ",\n    " : "\n    ") + codeLine(window.codes[i]);
    text += window.codes.empty() ? "],\n  \"labels\": [" : "\n  ],\n  \"labels\": [";
    for (size_t i = 0; i < window.labels.size(); ++i) {
        const LabelGroup& g = window.labels[i];
        text += (i ? ",\n    " : "\n    ") + std::string("{\"group\": ") + jsonString(g.group) +
                ", \"texts\": " + textList(g.texts) + ", \"keys\": " + textList(g.keys) + "}";
    }
    text += window.labels.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return text;
}

std::string writeCodeWindowFile(const fs::path& file, const CodeWindow& window) {
    if (window.builtIn)
        return "標準ウィンドウは変更できません";
    const auto problems = checkCodeWindow(window);
    if (!problems.empty())
        return problems.front().message;
    // A file the folder would refuse to read is never written.
    const std::string text = codeWindowJson(window);
    if (text.size() > kMaxCodeWindowFileBytes)
        return "ファイルが大きすぎます（" + std::to_string(text.size() / 1024) + " KB。" +
               std::to_string(kMaxCodeWindowFileBytes / 1024) + " KB まで）";
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    return writeFileAtomically(file, text);
}

std::string codeWindowFileName(std::string_view windowName) {
    std::string name(utf8Prefix(windowName, 250));
    for (char& c : name)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20)
            c = '_';
    if (name.empty() || name.front() == '.')
        name.insert(name.begin(), '_');
    return name + ".json";
}

CodeWindowList listCodeWindows(const fs::path& folder) {
    CodeWindowList list;
    list.windows.push_back(CodeWindow::standard());
    list.files.emplace_back();
    std::error_code ec;
    const std::vector<fs::path> files = jsonFilesIn(folder, ec);
    if (ec && ec != std::errc::no_such_file_or_directory)
        list.problems.push_back(folder.string() + ": 読めません（" + ec.message() + "）");

    // The first file of a name keeps it (the check refuses 標準).
    std::map<std::string, fs::path> taken;
    std::vector<std::pair<CodeWindow, fs::path>> found;
    for (const fs::path& file : files) {
        CodeWindowRead read = readCodeWindowFile(file);
        const std::string name = file.filename().string();
        if (!read.ok()) {
            list.problems.insert(list.problems.end(), read.problems.begin(), read.problems.end());
            continue;
        }
        std::string storage;
        const std::string key(nfcView(read.window.name, storage));
        if (const auto it = taken.find(key); it != taken.end()) {
            list.problems.push_back(name + ": 「" + read.window.name +
                                    "」という名前のウィンドウは " + it->second.filename().string() +
                                    " にもあるため、読み込みませんでした");
            continue;
        }
        taken.emplace(key, file);
        // A key the player keeps or a second code already holds would do
        // nothing (or the wrong thing) when pressed.
        for (const std::string& dropped : dropTakenKeys(read.window))
            list.problems.push_back(name + ": " + dropped);
        found.emplace_back(std::move(read.window), file);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first.name < b.first.name; });
    for (auto& [window, file] : found) {
        list.windows.push_back(std::move(window));
        list.files.push_back(file);
    }
    return list;
}
