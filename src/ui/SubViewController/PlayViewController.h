#pragma once

#include "review/Moments.h"
#include "tags/TagTableScreen.h"

class QModelIndex;
class QPlainTextEdit;
class QTableView;
class QVBoxLayout;
class TallyTableModel;
class QCheckBox;
class QSpinBox;
class MomentSequence;

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
    // "タグ別", then the window's label groups: a group makes the tally the
    // matrix of its texts per tag and team; 期間別, of the match's periods.
    // Hidden when there are none.
    QComboBox* tallyLabelPopUp = nullptr;
    void followCodeWindow(const CodeWindow& window) override;
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
    // The pop-up's items: タグ別, the window's label groups, 期間別 while the
    // match has periods; hidden with none of them.
    void refreshTallyChoices(const CodeWindow& window);
    void fitTally();
    TallyTableModel* tallyModel_ = nullptr;

public:
    // Moments: lead and lag around each tag, played in sequence or exported.
    QSpinBox* momentLeadSpinBox = nullptr;
    QSpinBox* momentLagSpinBox = nullptr;
    QCheckBox* highlightPerTagCheckBox = nullptr;
    MomentSequence* sequence = nullptr;
    // The moments of the listed tags (filter, team boxes and sort order).
    std::vector<Moment> listedMoments() const;
    void onSequencePlay();
    void onHighlightOutput();
    // Page Down / Page Up while a sequence plays; false when none does.
    bool sequenceStep(int direction);
    void endSequence();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* makeMomentRow();
    void chooseTagOf(const Moment& moment);
    // Why the listed tags give no moment to play or export.
    std::string noMomentsReason(const std::string& noTags) const;
    void exportHighlight(const std::string& path, bool perTag);
    // A file's proposed name: the match's name, then `what`.
    QString matchFileName(const QString& what) const;
};
