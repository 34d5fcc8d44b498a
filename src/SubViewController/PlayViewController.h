#pragma once

#include "SubViewController/TagTableScreen.h"

class QModelIndex;
class QPlainTextEdit;
class QTableView;
class QVBoxLayout;
class TallyTableModel;

// Play mode: the video, and the tags read-only with their own filter and sort;
// choosing a tag shows its comment and jumps the video to it.
class PlayViewController : public TagTableScreen {
    Q_OBJECT
public:
    PlayViewController(MainViewController* parent, QWidget* container);

    // Read-only, several lines: a comment shows from its first character.
    QPlainTextEdit* commentTextView = nullptr;

    void viewDidLoad();
    void forgetChosenTag() override;
    void updateView() override;
    void onSelectTagTableRow();
    void onTagHeaderClicked(int column);

    // How many tags of each name each team has, of the tags the team boxes
    // let through (the name filter does not narrow it).
    QTableView* tallyTableView = nullptr;
    TallyTableModel* tallyModel() const { return tallyModel_; }
    // A count chooses its name and its team alone in the filter; a total, the
    // name with both teams.
    void onTallyClicked(const QModelIndex& index);
    void onTallyCSVOutput();

protected:
    void showComment(const std::string& comment) override;
    void tagListChanged() override;

private:
    // The tally beside the tag list, with its export button.
    void placeTallyPanel(QVBoxLayout* list);
    void refreshTally();
    void fitTally();
    TallyTableModel* tallyModel_ = nullptr;
};
