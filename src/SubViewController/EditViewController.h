#pragma once

#include <vector>

#include "SubViewController/TagTableScreen.h"

class QPlainTextEdit;
class ClipTableModel;
class TagButton;
class GeneralButton;
class QKeyEvent;

// Edit mode: tag buttons of both teams, the tag table with its filter, sort,
// ticks and deletion, the comment editor and the clip table.
class EditViewController : public TagTableScreen {
    Q_OBJECT
public:
    EditViewController(MainViewController* parent, QWidget* container);

    CustomTableView* clipTableView = nullptr;
    QPlainTextEdit* commentTextField = nullptr;
    EditableNSTextField* teamA_header = nullptr;
    EditableNSTextField* teamB_header = nullptr;
    TagButton* UEImageButtonA = nullptr;
    TagButton* UEImageButtonB = nullptr;
    std::vector<std::shared_ptr<ClipRowData>> clipTableData;
    int64_t clipTableSelectedRowIndex = -1;
    bool tagTableCheckAllStatus = false;
    bool clipTableCheckAllStatus = false;
    // Every tag button of both teams, team A first, in label order.
    std::vector<TagButton*> tagButtons;

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

    void mediaClipStart();
    void mediaClipEnd();
    void keyDown(QKeyEvent* event);
    void onSelectClipTableRow();
    void onDblClickClipTableRow();
    void onClipHeaderClicked(int column);
    void onClipDelete();
    // Exports the one ticked clip.
    void onClipOutput();
    // Exports the clip of `row`: asks for the target, then opens an export
    // window that runs by itself.
    void clipConvert(int row);
    // Empties the clip list (a newly opened video has no clips).
    void clearClips();
    ClipTableModel* clipModel() const { return clipModel_; }

    void updateView() override;
    void forgetChosenTag() override;
    void onStoreReplaced() override;
    void onStoreStepped() override;

private:
    QWidget* makeTeamPanel(bool teamA);
    QWidget* makeTagListPanel();
    QWidget* makeCommentPanel();
    QWidget* makeClipPanel();

    void reloadClipTable();
    ClipTableModel* clipModel_ = nullptr;
    GeneralButton* clipOutputButton_ = nullptr;
    int64_t nextClipIndex_ = 0;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showComment(const std::string& comment) override;
};
