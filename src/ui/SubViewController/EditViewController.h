#pragma once

#include <QPointer>
#include <filesystem>
#include <memory>
#include <vector>

#include "codewindow/CodeRecorder.h"
#include "exchange/XmlEditList.h"

#include "clips/ClipPanel.h"
#include "tags/TagTableScreen.h"

class QComboBox;
class QGridLayout;
class QPushButton;
class QPlainTextEdit;
class QScrollArea;
class QPushButton;
class TagButton;
class GeneralButton;
struct ImportRead;

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
    EditableNSTextField* teamA_header = nullptr;
    EditableNSTextField* teamB_header = nullptr;
    TagButton* UEImageButtonA = nullptr;
    TagButton* UEImageButtonB = nullptr;
    bool tagTableCheckAllStatus = false;
    // Every tag button of both teams, team A first, in code order.
    std::vector<TagButton*> tagButtons;
    // The code windows offered (標準 first); choosing one rebuilds the buttons.
    QComboBox* codeWindowPopUp = nullptr;
    const CodeWindow& codeWindow() const { return recorder_->window(); }
    // Opens the code window editor on the chosen window (標準 as a duplicate).
    QPushButton* codeWindowEditButton = nullptr;
    void openCodeWindowEditor();
    // A press of code `code` of the window for team A or B, by its button
    // or its key (`showPress`: the button shows it as under the mouse),
    // through the window's rules as one step.
    void pressCode(size_t code, bool teamA, bool showPress);
    // Text `text` of label group `group` on the chosen tag, as its button.
    void pressLabel(size_t group, size_t text);
    // The label panel: one row per label group of the window, hidden when
    // it has none.
    QWidget* labelPanel = nullptr;
    // The team panels and the label panel, which scroll past the screen's
    // room.
    QScrollArea* codeScroll = nullptr;
    // Every label button, group by group, text by text.
    std::vector<QPushButton*> labelButtons;
    // Label `text` of `group` on the chosen tag: set, in place of the group's
    // other text, or taken off when it is there already; one step.
    void onLabelButtonClicked(const std::string& group, const std::string& text);

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
    // XML読込: an XML edit list's instances become tags of the open video, as
    // one undo step; codes without a team are asked once each, codes the
    // chosen window lacks may go into a copy of it, and tags already there
    // are added again only when the user says so. The file is read on a
    // worker thread under a bar with キャンセル while the screens go on; the
    // merge is made here once it is read. One import reads at a time.
    void onTagXMLInput();
    // The same for the file at `path`, once chosen.
    void importEditList(const std::string& path);
    // CSV読込: the same for a tag CSV (a CSV出力 export or a session file),
    // the team of each tag its Team column; of a damaged file what could be
    // read is offered.
    void onTagCSVInput();
    void importTagCsv(const std::string& path);
    // The 交換 button: CSV読込, XML出力 and XML読込 in its menu (CSV出力 is a
    // button of its own).
    QPushButton* exchangeButton = nullptr;

    void mediaClipStart() { clipPanel->mediaClipStart(); }
    void mediaClipEnd() { clipPanel->mediaClipEnd(); }
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

signals:
    // Another code window is chosen (the buttons are built for it).
    void codeWindowChosen();

private:
    // The file panel of an import, in the open video's folder; `import`
    // reads the file chosen.
    void chooseImportFile(const char* title, const char* extension, const char* kind,
                          void (EditViewController::*import)(const std::string&));
    // Adds `tags` (in order) to the store as one step, after the question of
    // teams and outside codes, and the one of duplicates; `rows` give the
    // colours of codes put into a copy of the window; `notes` end the report.
    void mergeImported(std::vector<ImportedTag> tags, const std::vector<EditListRow>& rows,
                       const std::string& title, const std::vector<std::string>& notes);
    // Reads `path` on a worker thread, then merges it into `video`'s tags.
    void startImport(const std::string& path, bool xml);
    void importRead(const std::string& video, bool xml, ImportRead read);
    // The import being read (its bar and its worker), null when none.
    QPointer<QObject> importRun_;
    QWidget* makeCodePanel();
    QWidget* makeTeamPanel(bool teamA, QWidget* parent);
    // The folder's windows in the pop-up, the remembered one chosen; files
    // that cannot be offered are reported once. `choose`: the window to
    // choose instead of the remembered one.
    void loadCodeWindows(const std::string& choose = {});
    void chooseCodeWindow(int which);
    void buildTagButtons(bool teamA);
    void buildLabelPanel();
    // The buttons of the chosen tag's labels show pressed.
    void showChosenLabels();
    QWidget* makeTagListPanel();
    QWidget* makeCommentPanel();

    // What the editor last showed of the chosen tag: text beyond it is typed.
    QString shownComment_;
    bool keepTypedComment_ = false;
    std::vector<CodeWindow> windows_;
    std::vector<std::filesystem::path> windowFiles_; // of each window; empty for 標準
    bool windowProblemsShown_ = false;
    std::unique_ptr<CodeRecorder> recorder_;
    QGridLayout* buttonGrids_[2] = {}; // team A, team B

protected:
    void showComment(const std::string& comment) override;
    void tagListChanged() override;
    void chosenTagChanged() override;
};
