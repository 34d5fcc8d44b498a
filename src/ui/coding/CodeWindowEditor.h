#pragma once

#include <QDialog>
#include <QLineEdit>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "codewindow/CodeWindow.h"
#include "coding/KeyCaptureField.h"
#include "coding/WindowFileChecks.h"

class QComboBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLayout;
class QListWidget;
class LabelGroupForm;
class QPushButton;

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

    // The codes and the label groups are listed, chosen, removed and moved
    // alike.
    enum class Part { Codes, Labels };
    // The part's list with 追加, 削除, ↑ and ↓ under it.
    QLayout* makeList(Part part, QWidget* box);
    QWidget* makeCodeBox();
    QWidget* makeLabelBox();
    QWidget* makeCodeForm();
    QLayout* makeColorRow();

    // `f(items, chosen, list)` on the part's items, its chosen row and list.
    template <class F> void withItems(Part part, F&& f);
    void listItems(Part part);
    void chooseItem(Part part, int row);
    void removeItem(Part part);
    void moveItem(Part part, int by);
    // The whole window in the lists, the first of each chosen.
    void showWindow();

    void showCode();
    void addCode();
    void setCodeKey(bool teamA, const QString& key);
    void setColor(const QString& color);
    void showNameProblem();

    void addLabel();

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
    LabelGroupForm* labelForm_;
};
