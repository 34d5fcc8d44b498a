#include "codewindow/CodeWindow.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <unordered_map>

#include "Model/DataModel.h"
#include "text/UnicodeText.h"

ButtonColors standardButtonColors(uint64_t number) {
    if (number <= 4)
        return {0x3f8a3f, 0x005a00};
    if (number <= 8)
        return {0xff8b40, 0xff4b00};
    if (number <= 11)
        return {0x408bff, 0x004bff};
    if (number <= 16)
        return {0x8b408b, 0x590059};
    return {0xff9d80, 0xff2a00};
}

std::string codeIdentifier(bool teamA, size_t code) {
    return (teamA ? "A" : "B") + std::to_string(code);
}

const CodeWindow& CodeWindow::standard() {
    static const CodeWindow window = [] {
        CodeWindow w;
        w.name = kStandardWindowName;
        w.builtIn = true;
        for (size_t i = 0; i < kTagLabels.size(); ++i) {
            char color[8];
            std::snprintf(color, sizeof color, "#%06x", standardButtonColors(i).background);
            Code code;
            code.name = kTagLabels[i];
            code.color = color;
            w.codes.push_back(std::move(code));
        }
        return w;
    }();
    return window;
}

CodeWindow CodeWindow::duplicate(std::string newName) const {
    CodeWindow copy = *this;
    copy.name = std::move(newName);
    copy.builtIn = false;
    return copy;
}

const Code* CodeWindow::find(std::string_view wanted) const {
    for (const Code& code : codes)
        if (code.name == wanted)
            return &code;
    std::string storage, other;
    const std::string_view key = nfcView(wanted, storage);
    for (const Code& code : codes)
        if (nfcView(code.name, other) == key)
            return &code;
    return nullptr;
}

bool CodeWindow::hasDuration() const {
    return std::any_of(codes.begin(), codes.end(),
                       [](const Code& c) { return c.mode == CodeMode::Duration; });
}

namespace {

bool isColor(std::string_view text) {
    return text.size() == 7 && text[0] == '#' &&
           std::all_of(text.begin() + 1, text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

// Key texts compared as Qt reads them: letters in either case, spaces ignored.
std::string keyOf(std::string_view text) {
    std::string key;
    for (char c : text)
        if (c != ' ')
            key.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    return key;
}

} // namespace

bool sameKey(std::string_view a, std::string_view b) {
    return keyOf(a) == keyOf(b);
}

const std::vector<PlayerKey>& playerKeys() {
    static const std::vector<PlayerKey> keys = {
        {"A", "再生"},
        {"S", "一時停止"},
        {"D", "スロー再生"},
        {"Space", "再生／一時停止"},
        {"Left", "2 秒戻る"},
        {"Right", "2 秒進む"},
        {"Up", "音量を上げる"},
        {"Down", "音量を下げる"},
        {",", "クリップの開始"},
        {".", "クリップの終了"},
        {"PgUp", "前のシーン"},
        {"PgDown", "次のシーン"},
        {"Ctrl+O", "動画を開く"},
        {"Ctrl+Z", "取り消し"},
        {"Ctrl+Y", "やり直し"},
        {"Ctrl+Shift+Z", "やり直し"},
    };
    return keys;
}

namespace {

// The key a player's key stands for when `key` is it or its Shift form (the
// player reads A, S, D, Space, the arrows, "," and "." and the page keys
// whatever Shift says, and "<" and ">" as "," and "."); nullptr when none.
const PlayerKey* playerKeyOf(std::string_view text) {
    std::string key = keyOf(text);
    bool shifted = false;
    if (key.size() > 6 && key.starts_with("shift+")) {
        key.erase(0, 6);
        shifted = true;
    }
    if (key == "<" || key == ">")
        key = key == "<" ? "," : ".";
    for (const PlayerKey& p : playerKeys())
        if (keyOf(p.key) == key && (!shifted || p.key.find('+') == std::string_view::npos))
            return &p;
    return nullptr;
}

} // namespace

std::string numberRowKey(std::string_view key) {
    // The shifted symbols of the digits that are the same on US and Japanese
    // keyboards, or found on one of them only.
    static constexpr std::string_view symbols = "!@#$%^'*", digits = "12345678";
    std::string text(key);
    if (text.size() < 3 || text[text.size() - 2] != '+')
        return text;
    const size_t at = symbols.find(text.back());
    if (at == std::string_view::npos ||
        keyOf(std::string_view(text).substr(0, text.size() - 2)).find("shift") == std::string::npos)
        return text;
    text.back() = digits[at];
    return text;
}

std::string playerKeyMessage(std::string_view key) {
    const PlayerKey* p = key.empty() ? nullptr : playerKeyOf(key);
    if (!p)
        return {};
    return "キー「" + std::string(key) + "」はプレーヤーのキー（" + std::string(p->use) +
           "）のため使えません";
}

std::string keyTakenMessage(const CodeWindow& window, std::string_view key, KeyPlace place) {
    if (key.empty())
        return {};
    if (std::string player = playerKeyMessage(key); !player.empty())
        return player;
    const std::string shown = "キー「" + std::string(key) + "」は";
    using Kind = KeyPlace::Kind;
    for (size_t i = 0; i < window.codes.size(); ++i) {
        const Code& code = window.codes[i];
        for (const bool teamA : {true, false}) {
            const KeyPlace here{teamA ? Kind::CodeA : Kind::CodeB, i, 0};
            if (here != place && sameKey(teamA ? code.keyA : code.keyB, key))
                return shown + "すでにコード「" + code.name + "」（" +
                       (teamA ? "チームA" : "チームB") + "）に割り当てられています";
        }
    }
    for (size_t i = 0; i < window.labels.size(); ++i) {
        const LabelGroup& group = window.labels[i];
        for (size_t t = 0; t < group.keys.size(); ++t) {
            const KeyPlace here{Kind::Label, i, t};
            if (here != place && sameKey(group.keys[t], key))
                return shown + "すでにラベル「" + group.group + "：" +
                       (t < group.texts.size() ? group.texts[t] : std::string()) +
                       "」に割り当てられています";
        }
    }
    return {};
}

std::vector<std::string> dropTakenKeys(CodeWindow& window) {
    // In window order, each key looked up once: of two places with one key
    // the later loses it, and the message names the first, as
    // keyTakenMessage would.
    std::vector<std::string> said;
    std::unordered_map<std::string, std::string> holders; // key -> whose
    auto check = [&](std::string& key, const std::string& where, std::string holder) {
        if (key.empty())
            return;
        std::string why = playerKeyMessage(key);
        if (why.empty()) {
            const auto [at, fresh] = holders.emplace(keyOf(key), std::move(holder));
            if (fresh)
                return;
            why = "キー「" + key + "」はすでに" + at->second + "に割り当てられています";
        }
        said.push_back(where + "：" + why + "。このキーを外しました");
        key.clear();
    };
    for (size_t i = 0; i < window.codes.size(); ++i)
        for (const bool teamA : {true, false}) {
            const std::string team = teamA ? "チームA" : "チームB";
            Code& code = window.codes[i];
            check(teamA ? code.keyA : code.keyB,
                  std::to_string(i + 1) + " 番目のコード（" + team + "）",
                  "コード「" + code.name + "」（" + team + "）");
        }
    for (size_t i = 0; i < window.labels.size(); ++i) {
        LabelGroup& group = window.labels[i];
        for (size_t t = 0; t < group.keys.size(); ++t)
            check(group.keys[t], std::to_string(i + 1) + " 番目のラベルグループ",
                  "ラベル「" + group.group + "：" +
                      (t < group.texts.size() ? group.texts[t] : std::string()) + "」");
    }
    return said;
}

std::string codeNameProblem(const CodeWindow& window, size_t code, std::string_view name) {
    if (name.empty())
        return "コードの名前がありません";
    std::string storage, other;
    const std::string_view wanted = nfcView(name, storage);
    for (size_t i = 0; i < window.codes.size(); ++i)
        if (i != code && nfcView(window.codes[i].name, other) == wanted)
            return "コード名「" + std::string(name) + "」はほかのコードが使っています";
    return {};
}

namespace {

class Checker {
public:
    std::vector<WindowProblem> problems;

    void add(WindowProblem::Part part, size_t item, std::string field, std::string message) {
        problems.push_back({part, item, std::move(field), std::move(message)});
    }
    // A key given twice in the window (for a code of either team or a label).
    void key(WindowProblem::Part part, size_t item, const char* field, const std::string& text) {
        if (text.empty())
            return;
        if (!keys_.insert(keyOf(text)).second)
            add(part, item, field, "キー「" + text + "」がほかにも割り当てられています");
    }
    void leadLag(size_t item, const char* field, const std::optional<double>& seconds) {
        if (seconds && !(*seconds >= 0.0 && *seconds <= kMaxLeadLag))
            add(WindowProblem::Part::Code, item, field,
                std::string(field == std::string_view("lead") ? "前" : "後") +
                    "の秒数は 0 から 60 までです");
    }

private:
    std::set<std::string> keys_;
};

void checkCodes(const CodeWindow& window, Checker& check) {
    using Part = WindowProblem::Part;
    if (window.codes.empty())
        check.add(Part::Window, 0, "codes", "コードがひとつもありません");
    if (window.codes.size() > kMaxCodes) {
        check.add(Part::Window, 0, "codes",
                  "コードが多すぎます（" + std::to_string(window.codes.size()) + " 個。" +
                      std::to_string(kMaxCodes) + " 個まで）");
        return;
    }
    std::set<std::string> names;
    for (size_t i = 0; i < window.codes.size(); ++i) {
        const Code& code = window.codes[i];
        std::string storage;
        if (code.name.empty())
            check.add(Part::Code, i, "name", "コードの名前がありません");
        else if (!names.insert(std::string(nfcView(code.name, storage))).second)
            check.add(Part::Code, i, "name", "コード名「" + code.name + "」が重複しています");
        if (!isColor(code.color))
            check.add(Part::Code, i, "color", "色は #rrggbb の形で書いてください");
        check.key(Part::Code, i, "keyA", code.keyA);
        check.key(Part::Code, i, "keyB", code.keyB);
        check.leadLag(i, "lead", code.lead);
        check.leadLag(i, "lag", code.lag);
    }
}

void checkLabels(const CodeWindow& window, Checker& check) {
    using Part = WindowProblem::Part;
    size_t texts = 0;
    for (const LabelGroup& group : window.labels)
        texts += group.texts.size();
    if (texts > kMaxLabelTexts) {
        check.add(Part::Window, 0, "labels",
                  "ラベルが多すぎます（" + std::to_string(texts) + " 個。" +
                      std::to_string(kMaxLabelTexts) + " 個まで）");
        return;
    }
    std::set<std::string> groups;
    for (size_t i = 0; i < window.labels.size(); ++i) {
        const LabelGroup& group = window.labels[i];
        if (group.group.empty())
            check.add(Part::Label, i, "group", "ラベルグループの名前がありません");
        else if (!groups.insert(group.group).second)
            check.add(Part::Label, i, "group",
                      "ラベルグループ「" + group.group + "」が重複しています");
        if (group.texts.empty())
            check.add(Part::Label, i, "texts", "ラベルがひとつもありません");
        std::set<std::string> texts;
        for (const std::string& text : group.texts)
            if (text.empty())
                check.add(Part::Label, i, "texts", "空のラベルがあります");
            else if (!texts.insert(text).second)
                check.add(Part::Label, i, "texts", "ラベル「" + text + "」が重複しています");
        if (group.keys.size() > group.texts.size())
            check.add(Part::Label, i, "keys", "キーの数がラベルの数より多くなっています");
        for (const std::string& key : group.keys)
            check.key(Part::Label, i, "keys", key);
    }
}

} // namespace

std::vector<WindowProblem> checkCodeWindow(const CodeWindow& window) {
    Checker check;
    if (window.name.empty())
        check.add(WindowProblem::Part::Window, 0, "name", "ウィンドウの名前がありません");
    else if (window.name == kStandardWindowName)
        check.add(WindowProblem::Part::Window, 0, "name",
                  "「標準」は組み込みのウィンドウの名前です");
    checkCodes(window, check);
    checkLabels(window, check);
    return std::move(check.problems);
}
