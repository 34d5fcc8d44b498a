// The checks of a code window before it is written, and 読込… of a window
// file into the code window folder.
#include "coding/WindowFileChecks.h"

#include <algorithm>

#include "codewindow/CodeWindowFile.h"
#include "platform/AtomicFile.h"

namespace fs = std::filesystem;

namespace {

// "n 番目のコード" for the problems of a saved window.
std::string placeOf(const WindowProblem& p) {
    if (p.part == WindowProblem::Part::Code)
        return std::to_string(p.item + 1) + " 番目のコード：";
    if (p.part == WindowProblem::Part::Label)
        return std::to_string(p.item + 1) + " 番目のラベルグループ：";
    return {};
}

// A key of the window the player keeps (a file may have one), as the key
// fields say it; empty when none. Keys given twice are the check's.
std::string playerKeyProblem(const CodeWindow& window) {
    for (size_t i = 0; i < window.codes.size(); ++i)
        for (const std::string* key : {&window.codes[i].keyA, &window.codes[i].keyB})
            if (std::string message = playerKeyMessage(*key); !message.empty())
                return std::to_string(i + 1) + " 番目のコード：" + message;
    for (size_t i = 0; i < window.labels.size(); ++i)
        for (const std::string& key : window.labels[i].keys)
            if (std::string message = playerKeyMessage(key); !message.empty())
                return std::to_string(i + 1) + " 番目のラベルグループ：" + message;
    return {};
}

} // namespace

std::string duplicateName(const std::vector<std::string>& taken) {
    const std::string base = std::string(kStandardWindowName) + "のコピー";
    for (int n = 1;; ++n) {
        const std::string name = n == 1 ? base : base + " " + std::to_string(n);
        if (std::find(taken.begin(), taken.end(), name) == taken.end())
            return name;
    }
}

std::string windowProblem(const CodeWindow& window, const std::vector<std::string>& taken) {
    if (const auto problems = checkCodeWindow(window); !problems.empty())
        return placeOf(problems.front()) + problems.front().message;
    if (std::string keys = playerKeyProblem(window); !keys.empty())
        return keys;
    if (std::find(taken.begin(), taken.end(), window.name) != taken.end())
        return "「" + window.name + "」という名前のウィンドウはすでにあります";
    return {};
}

WindowImport importWindowFile(const std::string& path, const std::vector<std::string>& taken) {
    WindowImport r;
    const CodeWindowRead read = readCodeWindowFile(path);
    if (!read.ok()) {
        r.refusal = "読み込めません。";
        for (const std::string& p : read.problems)
            r.refusal += "\n" + p;
        return r;
    }
    if (const std::string keys = playerKeyProblem(read.window); !keys.empty()) {
        r.refusal = "読み込めません。\n" + fs::path(path).filename().string() + "：" + keys;
        return r;
    }
    const std::string& name = read.window.name;
    if (std::find(taken.begin(), taken.end(), name) != taken.end()) {
        r.refusal = "読み込めません。\n「" + name + "」という名前のウィンドウはすでにあります";
        return r;
    }
    const fs::path target = codeWindowFolder() / codeWindowFileName(name);
    std::error_code ec;
    std::string text, error;
    if (fs::exists(target, ec)) {
        r.refusal = "読み込めません。\n同じ名前のファイル「" + target.filename().string() +
                    "」がフォルダーにあります";
        return r;
    }
    fs::create_directories(target.parent_path(), ec);
    // The file as it is: a copy, checked first.
    if (!readWholeFile(path, text, error) || !(error = writeFileAtomically(target, text)).empty()) {
        r.refusal = "読み込めませんでした（" + error + "）";
        r.failed = true;
        return r;
    }
    r.window = read.window;
    r.file = target;
    return r;
}
