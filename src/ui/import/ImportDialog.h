#pragma once

#include <QDialog>
#include <QFrame>
#include <string>
#include <vector>

class QCheckBox;
class QProgressBar;
class QPushButton;

// The question before an imported file's tags are added: the team of each
// code the file does not tell (a table of codes, チームA / チームB chosen in
// the row or for all at once, A first), and the codes the chosen code window
// lacks, with the offer to add them to a copy of it (unticked). 読み込む and
// キャンセル. A table, not a widget per code: a file may bring thousands.
class ImportDialog : public QDialog {
public:
    ImportDialog(const std::vector<std::string>& teamless, const std::vector<std::string>& outside,
                 const std::string& windowName, const std::string& copyName, QWidget* parent);
    // True for team A, by the order of `teamless`.
    std::vector<bool> teams() const;
    // The offer was taken.
    bool addToCopy() const;

    class TeamModel;

private:
    TeamModel* teams_ = nullptr;
    QCheckBox* addToCopy_ = nullptr;
};

// The bar of a file being read for an import, over the bottom of the main
// window: inside it rather than a window of its own, so that the keys still
// reach the screens. What is read, the bar (the bytes read, or busy while
// they cannot be counted) and キャンセル; nothing takes the focus.
class ImportProgress : public QFrame {
public:
    ImportProgress(const QString& text, QWidget* window);
    QProgressBar* bar = nullptr;
    QPushButton* cancel = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place();
};
