#pragma once

#include <QStringList>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWidget;

// Every message box and file panel of the application goes through one
// provider, so tests can answer them.
class DialogProvider {
public:
    enum class Kind { Alert, Confirm, Message };

    struct FilePanel {
        QString title;
        QStringList extensions;    // without dots, matched in any letter case
        QString proposedName;      // save panels only
        QString folder = {};       // where it opens (the open video's); empty: Qt's choice
        QString filterName = {};   // before the patterns; empty: the extensions in capitals
        bool chooseFolder = false; // open panels: a folder, not a file
    };
    using PathCallback = std::function<void(std::optional<std::string> path)>;

    virtual ~DialogProvider() = default;

    // Shows a modal box with `buttons` in order, the first being the default.
    // Returns the index of the button pressed, or -1 when it was closed
    // another way.
    virtual int showBox(Kind kind, const std::string& message, const std::string& title,
                        const std::string& style, const std::vector<std::string>& buttons) = 0;
    // Window-modal file panels: return at once; `done` runs when the user has
    // chosen (a path) or cancelled (nothing).
    virtual void openFilePanel(QWidget* window, const FilePanel& panel, PathCallback done) = 0;
    virtual void saveFilePanel(QWidget* window, const FilePanel& panel, PathCallback done) = 0;
};

// The folder of the file at `path`, or nothing without one.
QString folderOf(const std::string& path);

// The provider in use (Qt's dialogs unless a test installed another).
DialogProvider& dialogProvider();
// Installs `provider` (nullptr restores Qt's); returns the previous one.
DialogProvider* setDialogProvider(DialogProvider* provider);

// A notice with the one button "確認". style: "success", "warning", "error";
// anything else leaves the default (warning) look.
void AlertBox(const std::string& message, const std::string& title, const std::string& style);
// "いいえ" / "はい" / "キャンセル": "no", "yes", "cancel", or "error".
std::string ConfirmBox(const std::string& message, const std::string& title);
// "いいえ" / "はい": "no", "yes", or "eError".
std::string MessageBox(const std::string& message, const std::string& title);
// The question about changes a run left unsaved, titled "復元": "restore"
// (the default button, so Return restores), "discard", or "later" (the
// escape button; closing the box answers it too). A reflex key never throws
// the changes away.
std::string RecoveryBox(const std::string& message);
