#pragma once

#include <QDialog>
#include <QLineEdit>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "codewindow/CodeWindow.h"

class QComboBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;

// With Shift on the number row, the digit of the key's place: a keyboard
// types Shift+1 as "!" (US, Japanese and most layouts) and Shift+2 as "@" or
// "\"" by layout, while window files write "Shift+1". X keycodes 10-19 are
// the number row's places (evdev codes + 8, on X11 and Wayland alike).
std::optional<Qt::Key> numberRowPlace(const QKeyEvent& event);

// A field that records the key pressed in it: one key with its modifiers,
// as a key text ("Q", "Shift+1", "F5"). Backspace and Delete clear it; Tab
// still moves the focus.
class KeyCaptureField : public QLineEdit {
    Q_OBJECT
public:
    explicit KeyCaptureField(QWidget* parent = nullptr);

signals:
    // The key pressed (empty: cleared); whoever listens keeps it or puts the
    // field's text back.
    void keyPressed(const QString& key);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

// The code window editor: the window's name, its codes (name, colour, keys
// of both teams, lead, lag, mode, group) and label groups (name, texts and
// their keys), in order. The standard window is never changed: it is edited
// as a duplicate under a new name. Saving writes the window's file in the
// code window folder; 読込… copies a checked file into the folder and
// 書き出し… writes the window where the analyst chooses.
class CodeWindowEditor : public QDialog {
    Q_OBJECT
public:
    // `file`: the window's file (empty for a new one); `otherNames`: the
    // names of the other windows offered, which this one may not take.
    CodeWindowEditor(const CodeWindow& window, std::filesystem::path file,
                     std::vector<std::string> otherNames, QWidget* parent);

    const CodeWindow& window() const { return window_; }
    // The window last saved or imported into the folder; empty when none.
    const std::string& savedName() const { return savedName_; }

    void onSave();
    void onImport();
    void onExport();
    // 削除…: the window's file goes from the folder, after a question.
    void onDelete();
    // Whether the window's file was deleted.
    bool deleted() const { return deleted_; }
    // Cancel, Escape and the close button: asks before edits are thrown away.
    void reject() override;

private:
    // The window as opened or last written to the folder.
    CodeWindow kept_;

    QWidget* makeCodeBox();
    QWidget* makeLabelBox();
    QWidget* makeCodeForm();

    void listCodes();
    void chooseCode(int row);
    void showCode();
    void addCode();
    void removeCode();
    void moveCode(int by);
    void setCodeKey(bool teamA, const QString& key);
    void setColor(const QString& color);
    void showNameProblem();

    void listLabels();
    void chooseLabel(int row);
    void showLabel();
    void addLabel();
    void removeLabel();
    void moveLabel(int by);
    void setLabelKey(size_t text, const QString& key);

    // The first thing that keeps the window from being written, in Japanese;
    // empty when none. `forSave` also refuses a name another window has.
    std::string problem(bool forSave) const;
    Code* code();
    LabelGroup* label();

    CodeWindow window_;
    std::filesystem::path file_;
    std::string fileName_; // the name the window has in file_
    std::vector<std::string> otherNames_;
    std::string savedName_;
    bool deleted_ = false;
    QPushButton* deleteButton_;
    int code_ = -1, label_ = -1;

    QLineEdit* nameField_;
    QLabel* problemLabel_;
    QListWidget* codeList_;
    QWidget* codeForm_;
    QLineEdit* codeName_;
    QPushButton* colorButton_;
    QLabel* colorShown_;
    KeyCaptureField* keyA_;
    KeyCaptureField* keyB_;
    QLineEdit* lead_;
    QLineEdit* lag_;
    QComboBox* mode_;
    QLineEdit* group_;
    QListWidget* labelList_;
    QWidget* labelForm_;
    QLineEdit* labelGroup_;
    QGridLayout* labelTexts_;
};

// The names a duplicate of the standard window takes: 標準のコピー, then
// 標準のコピー 2, ..., the first that `taken` does not have.
std::string duplicateName(const std::vector<std::string>& taken);
