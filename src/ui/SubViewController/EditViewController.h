#pragma once

#include <memory>
#include <vector>

#include "clips/ClipPanel.h"
#include "coding/CodePanel.h"
#include "tags/TagTableScreen.h"

class LiveRecording;
class MatchPanel;
class PlayerNumbers;
class QPlainTextEdit;
class QPushButton;
class TagButton;
class TagImport;

// Edit mode: tag buttons of both teams, the tag table with its filter, sort,
// ticks and deletion, the comment editor and the clip table.
class EditViewController : public TagTableScreen {
    Q_OBJECT
public:
    EditViewController(MainViewController* parent, QWidget* container);

    // The clip table, marking, deleting and export live in their own panel;
    // the names here are the panel's.
    ClipPanel* clipPanel;
    CustomTableView*& clipTableView;
    std::vector<std::shared_ptr<ClipRowData>>& clipTableData;
    int64_t& clipTableSelectedRowIndex;
    bool& clipTableCheckAllStatus;
    QPlainTextEdit* commentTextField = nullptr;
    // The chooser of the code window, the tag and label buttons and their
    // keys live in their own panel; the names here are the panel's.
    CodePanel* codePanel;
    EditableNSTextField*& teamA_header;
    EditableNSTextField*& teamB_header;
    TagButton*& UEImageButtonA;
    TagButton*& UEImageButtonB;
    // The periods of the match and the team names.
    MatchPanel* matchPanel = nullptr;
    // ライブ収録… and 収録を終了 on the player bar.
    LiveRecording* liveRecording = nullptr;
    const CodeWindow& codeWindow() const { return codePanel->codeWindow(); }
    bool tagTableCheckAllStatus = false;

    void viewDidLoad();
    void onTagButtonClicked(TagButton* sender);
    void appendTagTalbeDataRow(std::shared_ptr<TagRowData> rowData);
    void onSelectTagTableRow();
    void onTagHeaderClicked(int column);
    void onTagDelete();

    void setComment();
    void onCommentAdd();
    void onCommentDelete();
    void onTagCSVOutput();

    void mediaClipStart() { clipPanel->mediaClipStart(); }
    void mediaClipEnd() { clipPanel->mediaClipEnd(); }
    // A press of code `code` of the window for team A or B, by its button
    // or its key (`showPress`: the button shows it as under the mouse),
    // through the window's rules as one step.
    void pressCode(size_t code, bool teamA, bool showPress);
    // Text `text` of label group `group` on the chosen tag, as its button.
    void pressLabel(size_t group, size_t text);
    // A digit (0-9; -1 a held one) typed right after a code names the
    // player of the tag just recorded; any other key closes the number.
    void typePlayerDigit(int digit);
    void closePlayerNumber();
    // The squads and players of the match (選手…).
    void openSquads();
    // The angles of the match: other cameras' videos aligned to this one (アングル…).
    void openAngles();
    void onSelectClipTableRow() { clipPanel->onSelectClipTableRow(); }
    void onDblClickClipTableRow() { clipPanel->onDblClickClipTableRow(); }
    void onClipHeaderClicked(int column) { clipPanel->onClipHeaderClicked(column); }
    void onClipDelete() { clipPanel->onClipDelete(); }
    void onClipOutput() { clipPanel->onClipOutput(); }
    void clipConvert(int row) { clipPanel->clipConvert(row); }
    ClipTableModel* clipModel() const { return clipPanel->model(); }

    void updateView() override;
    void followCodeWindow(const CodeWindow& window) override;
    void forgetChosenTag() override;
    void onStoreReplaced() override;
    void onStoreStepped() override;

private:
    // Label `text` of `group` on the chosen tag: set, in place of the group's
    // other text, or taken off when it is there already; one step.
    void onLabelButtonClicked(const std::string& group, const std::string& text);
    // Both screens list, colour and count by the window chosen.
    void onCodeWindowChosen();
    // The buttons of the chosen tag's labels show pressed.
    void showChosenLabels();
    // A press of a code through the window's rules, as one step.
    void recordCode(TagEdit edit);
    // The players of the match as buttons and as the window's 選手 group.
    void followMatch();
    QWidget* makeTagListPanel();
    QWidget* makeCommentPanel();

    // XML読込 and CSV読込 of the 交換 menu.
    TagImport* import_;
    PlayerNumbers* playerNumbers_;
    // What the editor last showed of the chosen tag: text beyond it is typed.
    QString shownComment_;
    bool keepTypedComment_ = false;
    std::array<std::vector<MatchPlayer>, 2> shownPlayers_; // the match's, as the buttons are

protected:
    void showComment(const std::string& comment) override;
    void tagListChanged() override;
    void chosenTagChanged() override;
};
