#pragma once

#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "Model/DataModel.h"
#include "codewindow/CodeRecorder.h"
#include "match/MatchInfo.h"

class QComboBox;
class QGridLayout;
class QPushButton;
class QScrollArea;
class EditableNSTextField;
class LabelButton;
class TagButton;

// The edit screen's codes: the chooser of the code window with its 編集…,
// the two teams' headers and tag buttons of the chosen window, its label
// buttons (their keys are the key map's, keys/KeyMap). The tags themselves are the
// screen's: a press is told, never recorded here.
class Workspace;

class CodePanel : public QWidget {
    Q_OBJECT
public:
    // `clock`: the video's time, for the window's recording rules;
    // `workspace` remembers the window chosen.
    CodePanel(std::function<double()> clock, Workspace* workspace, QWidget* parent);

    // The code windows offered (標準 first); choosing one rebuilds the buttons.
    QComboBox* codeWindowPopUp = nullptr;
    // Opens the code window editor on the chosen window (標準 as a duplicate).
    QPushButton* codeWindowEditButton = nullptr;
    // The team panels and the label panel, which scroll past the screen's
    // room.
    QScrollArea* codeScroll = nullptr;
    EditableNSTextField* teamA_header = nullptr;
    EditableNSTextField* teamB_header = nullptr;
    TagButton* UEImageButtonA = nullptr;
    TagButton* UEImageButtonB = nullptr;
    // Every tag button of both teams, team A first, in code order.
    std::vector<TagButton*> tagButtons;
    // The label panel: one row per label group of the window, hidden when
    // it has none.
    QWidget* labelPanel = nullptr;
    // Every label button, group by group, text by text.
    std::vector<QPushButton*> labelButtons;
    // Opens the squads and players of the match.
    QPushButton* playersButton = nullptr;
    // Opens the match's angles: other cameras' videos and their alignment.
    QPushButton* anglesButton = nullptr;
    // The match's players as buttons of the label group 選手, each team's
    // under its tag buttons; hidden without players.
    QWidget* playerPanel = nullptr;
    std::vector<LabelButton*> playerButtons; // team A's, then team B's

    // The players of the match (rebuilt only when they changed).
    void setPlayers(const std::array<std::vector<MatchPlayer>, 2>& players);

    const CodeWindow& codeWindow() const { return recorder_->window(); }
    const std::vector<CodeWindow>& windows() const { return windows_; }
    // The folder's windows in the pop-up, the remembered one chosen; files
    // that cannot be offered are reported once. `choose`: the window to
    // choose instead of the remembered one.
    void loadCodeWindows(const std::string& choose = {});
    // What a press of `button` records in `store` by the window's rules.
    TagEdit press(TagDataModel& store, const TagButton& button);
    // What a press of code `code` for team A or B records in `store`.
    TagEdit press(TagDataModel& store, size_t code, bool teamA);
    // The button of code `code` for team A or B shows a press (its key's).
    void showPress(size_t code, bool teamA);
    // The buttons of `labels` (the chosen tag's; none: null) show pressed;
    // the player buttons of the other team than `team` (0 A, 1 B; -1 none
    // chosen) cannot be pressed.
    void showLabels(const TagLabels* labels, int team = -1);

signals:
    // Another window was chosen (the buttons are already its).
    void windowChosen();
    void tagButtonClicked(TagButton* button);
    void labelButtonClicked(const std::string& group, const std::string& text);

private:
    QWidget* makeTeamPanel(bool teamA, QWidget* parent);
    void chooseCodeWindow(int which);
    void openCodeWindowEditor();
    void buildTagButtons(bool teamA);
    void buildLabelPanel();
    void buildPlayerPanel();

    std::function<double()> clock_;
    Workspace* workspace_;
    std::vector<CodeWindow> windows_;
    std::vector<std::filesystem::path> windowFiles_; // of each window; empty for 標準
    bool windowProblemsShown_ = false;
    std::unique_ptr<CodeRecorder> recorder_;
    QGridLayout* buttonGrids_[2] = {}; // team A, team B
    QGridLayout* playerGrids_[2] = {};
    std::array<std::vector<MatchPlayer>, 2> players_;
};
