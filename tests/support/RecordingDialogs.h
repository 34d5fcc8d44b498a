#pragma once

#include <deque>
#include <string>
#include <vector>

#include "SubViewClass/CustomAlert.h"

// Answers every dialog as the test says and remembers what was shown.
class RecordingDialogs : public DialogProvider {
public:
    struct Shown {
        Kind kind;
        std::string message, title, style;
        std::vector<std::string> buttons;
    };
    struct Panel {
        bool save;
        FilePanel panel;
        QWidget* window;
    };

    RecordingDialogs() { previous_ = setDialogProvider(this); }
    ~RecordingDialogs() override { setDialogProvider(previous_); }

    int showBox(Kind kind, const std::string& message, const std::string& title,
                const std::string& style, const std::vector<std::string>& buttons) override {
        shown.push_back({kind, message, title, style, buttons});
        if (answers.empty())
            return 0;
        const int a = answers.front();
        answers.pop_front();
        return a;
    }
    void openFilePanel(QWidget* window, const FilePanel& panel, PathCallback done) override {
        panels.push_back({false, panel, window});
        answerPanel(std::move(done));
    }
    void saveFilePanel(QWidget* window, const FilePanel& panel, PathCallback done) override {
        panels.push_back({true, panel, window});
        answerPanel(std::move(done));
    }

    // Whether any message shown so far begins with `prefix`.
    bool saw(const std::string& prefix) const {
        for (const auto& s : shown)
            if (s.message.rfind(prefix, 0) == 0)
                return true;
        return false;
    }

    std::deque<int> answers;                      // button indices, in order
    std::deque<std::optional<std::string>> paths; // panel answers; empty: cancel
    std::vector<Shown> shown;
    std::vector<Panel> panels;

private:
    void answerPanel(PathCallback done) {
        std::optional<std::string> path;
        if (!paths.empty()) {
            path = paths.front();
            paths.pop_front();
        }
        done(path);
    }
    DialogProvider* previous_ = nullptr;
};
