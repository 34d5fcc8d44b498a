#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QCheckBox;
class QRadioButton;

// The question before an imported file's tags are added: the team of each
// code the file does not tell (a row per code, チームA / チームB, A chosen
// first), and the codes the chosen code window lacks, with the offer to add
// them to a copy of it (unticked). 読み込む and キャンセル.
class ImportDialog : public QDialog {
public:
    ImportDialog(const std::vector<std::string>& teamless, const std::vector<std::string>& outside,
                 const std::string& windowName, const std::string& copyName, QWidget* parent);
    // True for team A, by the order of `teamless`.
    std::vector<bool> teams() const;
    // The offer was taken.
    bool addToCopy() const;

private:
    std::vector<QRadioButton*> teamA_;
    QCheckBox* addToCopy_ = nullptr;
};
