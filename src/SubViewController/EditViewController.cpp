#include "SubViewController/EditViewController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "ClipVideoConvertor/ClipViewController.h"
#include "MainViewController.h"
#include "Media/Player.h"
#include "SubModuleClass/TagFileManager.h"
#include "SubViewClass/Buttons.h"
#include "SubViewClass/CommentTextEdit.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/CustomTableView.h"
#include "SubViewClass/EditableNSTextField.h"
#include "SubViewClass/KeyEvents.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewClass/Style.h"
#include "SubViewClass/TableModels.h"
#include "SubViewClass/VerticallyCenteredTextFieldCell.h"

namespace {

const char* const kCheckOff = "❎";

QLabel* caption(const QString& text, QWidget* parent) {
    auto* label = new VerticallyCenteredTextFieldCell(text, parent);
    label->setStyleSheet(Style::caption());
    return label;
}

// Tags of a team in rows of a grid, by colour group: open play, set pieces and
// restarts, change of possession, scores and discipline, and the check.
const std::vector<std::vector<int>> kButtonRows = {{0, 1, 2},   {3, 4},       {5, 6, 7},   {8},
                                                   {9, 10, 11}, {12, 13, 14}, {15, 16, 17}};

} // namespace

EditViewController::EditViewController(MainViewController* parent, QWidget* container)
    : TagTableScreen(parent, container, "Edit") {
    setObjectName("EditViewController");
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(10);
    grid->addWidget(makeMediaColumn(true), 0, 0);
    grid->addWidget(makeTeamPanel(true), 0, 1);
    grid->addWidget(makeTeamPanel(false), 0, 2);
    grid->addWidget(makeTagListPanel(), 1, 0);
    grid->addWidget(makeCommentPanel(), 1, 1);
    grid->addWidget(makeClipPanel(), 1, 2);
    grid->setColumnStretch(0, 5);
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(2, 3);
    for (int c = 0; c < 3; ++c)
        grid->setColumnMinimumWidth(c, 0);
    grid->setRowStretch(0, 11);
    grid->setRowStretch(1, 8);
    for (MediaToolButtonView* b : findChildren<MediaToolButtonView*>()) {
        if (b->objectName() == "mediaClipStart")
            connect(b, &QPushButton::clicked, this, [this] { mediaClipStart(); });
        else if (b->objectName() == "mediaClipEnd")
            connect(b, &QPushButton::clicked, this, [this] { mediaClipEnd(); });
    }
    viewDidLoad();
}

QWidget* EditViewController::makeTeamPanel(bool teamA) {
    auto* panel = new QWidget(this);
    auto* l = new QVBoxLayout(panel);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(6);
    auto* header = new EditableNSTextField(teamA ? "チームA" : "チームB", panel);
    header->setObjectName(teamA ? "teamA_header" : "teamB_header");
    header->setAlignment(Qt::AlignCenter);
    header->setStyleSheet(Style::teamHeader(teamA));
    header->setMinimumHeight(28);
    (teamA ? teamA_header : teamB_header) = header;
    l->addWidget(header);

    auto* buttons = new QWidget(panel);
    auto* g = new QGridLayout(buttons);
    g->setContentsMargins(0, 0, 0, 0);
    g->setSpacing(5);
    const QString team = teamA ? "A" : "B";
    for (size_t r = 0; r < kButtonRows.size(); ++r) {
        const auto& row = kButtonRows[r];
        for (size_t c = 0; c < row.size(); ++c) {
            const int i = row[c];
            auto* b = new TagButton(MainViewController::TAG_LABEL[static_cast<size_t>(i)],
                                    team + QString::number(i), buttons);
            // The grid decides the size, never the text: long names shrink.
            b->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
            b->setMinimumSize(20, 18);
            connect(b, &QPushButton::clicked, this, [this, b] { onTagButtonClicked(b); });
            // A lone button of a row spans it, two share it.
            const int span = row.size() == 1 ? 6 : row.size() == 2 ? 3 : 2;
            g->addWidget(b, static_cast<int>(r), static_cast<int>(c) * span, 1, span);
            tagButtons.push_back(b);
            if (MainViewController::TAG_LABEL[static_cast<size_t>(i)] == std::string("UE"))
                (teamA ? UEImageButtonA : UEImageButtonB) = b;
        }
    }
    l->addWidget(buttons, 1);
    return panel;
}

QWidget* EditViewController::makeTagListPanel() {
    auto* panel = new QWidget(this);
    auto* l = new QVBoxLayout(panel);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(4);
    auto* top = new QHBoxLayout();
    top->addWidget(makeFilterRow(), 1);
    auto* remove = new GeneralButton("タグ削除", "onTagDelete", panel);
    connect(remove, &QPushButton::clicked, this, [this] { onTagDelete(); });
    top->addWidget(remove);
    auto* csv = new GeneralButton("CSV出力", "onTagCSVOutput", panel);
    connect(csv, &QPushButton::clicked, this, [this] { onTagCSVOutput(); });
    top->addWidget(csv);
    l->addLayout(top);
    makeTagTable({{"EditTagCheckCol", kCheckOff},
                  {"EditTagTeamCol", "チーム"},
                  {"EditTagIndexCol", "No."},
                  {"EditTagTimeCol", "時間"},
                  {"EditTagNameCol", "タグ"},
                  {"EditTagCommentCol", "コメント"}},
                 true);
    tagTableView->horizontalHeader()->setSectionResizeMode(4, QHeaderView::Stretch);
    l->addWidget(tagTableView, 1);
    connect(tagTableView, &CustomTableView::headerClicked, this,
            &EditViewController::onTagHeaderClicked);
    connect(tagTableView, &CustomTableView::rowClicked, this,
            &EditViewController::onSelectTagTableRow);
    return panel;
}

QWidget* EditViewController::makeCommentPanel() {
    auto* panel = new QWidget(this);
    auto* l = new QVBoxLayout(panel);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(4);
    l->addWidget(caption("コメント", panel));
    commentTextField = new CommentTextEdit(panel);
    commentTextField->setObjectName("commentTextField");
    l->addWidget(commentTextField, 1);
    auto* row = new QHBoxLayout();
    auto* add = new GeneralButton("コメント追加", "onCommentAdd", panel);
    auto* remove = new GeneralButton("コメント削除", "onCommentDelete", panel);
    connect(add, &QPushButton::clicked, this, [this] { onCommentAdd(); });
    connect(remove, &QPushButton::clicked, this, [this] { onCommentDelete(); });
    row->addWidget(add);
    row->addWidget(remove);
    l->addLayout(row);
    return panel;
}

QWidget* EditViewController::makeClipPanel() {
    auto* panel = new QWidget(this);
    auto* l = new QVBoxLayout(panel);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(4);
    l->addWidget(caption("クリップ", panel));
    clipTableView = new CustomTableView(panel);
    clipTableView->setObjectName("EditClipTableView");
    clipModel_ = new ClipTableModel(
        clipTableData,
        {{"ClipCheckCol", kCheckOff}, {"ClipStartCol", "開始"}, {"ClipEndCol", "終了"}}, this);
    clipTableView->setRowModel(clipModel_);
    clipTableView->setStyleSheet(Style::table());
    clipTableView->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    clipTableView->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    l->addWidget(clipTableView, 1);
    auto* row = new QHBoxLayout();
    auto* remove = new GeneralButton("クリップ削除", "onClipDelete", panel);
    connect(remove, &QPushButton::clicked, this, [this] { onClipDelete(); });
    row->addWidget(remove);
    clipOutputButton_ = new GeneralButton("クリップ出力", "onClipOutput", panel);
    connect(clipOutputButton_, &QPushButton::clicked, this, [this] { onClipOutput(); });
    row->addWidget(clipOutputButton_);
    l->addLayout(row);
    connect(clipTableView, &CustomTableView::headerClicked, this,
            &EditViewController::onClipHeaderClicked);
    connect(clipTableView, &CustomTableView::rowClicked, this,
            &EditViewController::onSelectClipTableRow);
    connect(clipTableView, &CustomTableView::rowDoubleClicked, this,
            &EditViewController::onDblClickClipTableRow);
    return panel;
}

void EditViewController::viewDidLoad() {
    tagTableSelectedRowIndex = -1;
    clipTableSelectedRowIndex = -1;
    for (TagButton* ue : {UEImageButtonA, UEImageButtonB})
        if (ue)
            ue->setToolTip("アンフォーストエラー");
    tagTableCheckAllStatus = false;
    clipTableCheckAllStatus = false;
    tagModel_->setCheckAllTitle(false);
    clipModel_->setCheckAllTitle(false);
}

void EditViewController::updateView() {
    TagTableScreen::updateView();
    const double h = height();
    QFont jp("Hiragino Sans GB");
    jp.setPixelSize(std::max(1, static_cast<int>(h * 0.019)));
    commentTextField->setFont(jp);
    const int row = std::max(1, static_cast<int>(h * 0.028));
    clipTableView->verticalHeader()->setDefaultSectionSize(row);
    QFont cell("Hiragino Sans GB");
    cell.setPixelSize(std::max(1, row / 2));
    clipTableView->setFont(cell);
    clipTableView->horizontalHeader()->setFont(cell);
}

void EditViewController::onTagButtonClicked(TagButton* sender) {
    if (!myParent || !sender)
        return;
    MediaPlayerView* view = mediaView();
    if (!view || !view->isOpenStatus().value_or(false) || !myParent->mayChangeTags())
        return;
    auto row = std::make_shared<TagRowData>();
    row->name = sender->text().toStdString();
    const QString id = sender->objectName();
    row->team = !id.isEmpty() && id.front() == 'A';
    row->time_val = view->player() ? static_cast<float>(view->player()->currentTime()) : 0.0f;
    row->time_string = MediaPlayerView::createTimeString(row->time_val);
    commentTextField->setPlainText("");
    appendTagTalbeDataRow(std::move(row));
}

void EditViewController::appendTagTalbeDataRow(std::shared_ptr<TagRowData> rowData) {
    if (myParent)
        myParent->performTagEdit(TagEdit::record(myParent->tagDataModel, rowData));
    tagTableData.push_back(rowData);
    tagTableSelectedRowIndex = rowData->index;
    // Selected but not scrolled to: the analyst may be reading higher up.
    reloadKeepingScroll();
}

void EditViewController::onSelectTagTableRow() {
    const int row = tagTableView->selectedRow();
    if (tagTableView->clickedRow() < 0 || tagTableView->clickedColumn() == 0 || row < 0 ||
        row >= static_cast<int>(tagTableData.size()))
        return;
    chooseTag(tagTableData[static_cast<size_t>(row)]);
}

void EditViewController::onTagHeaderClicked(int column) {
    const std::string id = tagModel_->columnIdentifier(column);
    if (id == "EditTagCheckCol") {
        tagTableCheckAllStatus = !tagTableCheckAllStatus;
        tagModel_->setCheckAllTitle(tagTableCheckAllStatus);
        tagModel_->setAllTicked(tagTableCheckAllStatus);
        return;
    }
    toggleSortFor(id);
    reloadTagDataTable(true);
}

void EditViewController::onTagDelete() {
    if (tagTableData.empty())
        return;
    std::vector<size_t> doomed;
    std::vector<std::shared_ptr<TagRowData>> kept;
    for (size_t r = 0; r < tagTableData.size(); ++r) {
        if (tagModel_->isTicked(static_cast<int>(r)))
            doomed.push_back(r);
        else
            kept.push_back(tagTableData[r]);
    }
    if (doomed.empty()) {
        AlertBox("削除する項目を選択してください。", "お知らせ", "warning");
        return;
    }
    if (myParent && !myParent->mayChangeTags())
        return;
    if (MessageBox("選択された項目を削除しますか？", "削除") != "yes")
        return;
    if (myParent) {
        // One step of the history, however many tags.
        std::vector<int64_t> indexes;
        for (size_t r : doomed)
            indexes.push_back(tagTableData[r]->index);
        TagEdit removal = TagEdit::remove(myParent->tagDataModel, indexes);
        if (!removal.rows.empty())
            myParent->performTagEdit(std::move(removal));
    }
    tagTableData = std::move(kept);
    reloadKeepingScroll();
}

void EditViewController::clearClips() {
    clipTableSelectedRowIndex = -1;
    clipTableData.clear();
    reloadClipTable();
}

void EditViewController::setComment() {
    const int row = tagTableView->selectedRow();
    if (row < 0 || row >= static_cast<int>(tagTableData.size()))
        return;
    if (myParent && !myParent->mayChangeTags())
        return;
    const std::string text = commentTextField->toPlainText().toStdString();
    const auto& tag = tagTableData[static_cast<size_t>(row)];
    if (!myParent) {
        tag->comment = text;
        return;
    }
    // Taken before the table's record changes: it is usually the store's own.
    TagEdit change = TagEdit::comment(myParent->tagDataModel, tag->index, text);
    tag->comment = text;
    if (change.index < 0)
        return;
    if (change.before != change.after) // no empty steps in the history
        myParent->performTagEdit(std::move(change));
    reloadKeepingScroll();
}

void EditViewController::onCommentAdd() {
    setComment();
}

void EditViewController::onCommentDelete() {
    const int row = tagTableView->selectedRow();
    if (row < 0 || row >= static_cast<int>(tagTableData.size()))
        return;
    if (tagTableData[static_cast<size_t>(row)]->comment.empty())
        return;
    if (myParent && !myParent->mayChangeTags())
        return;
    if (MessageBox("現在のコメントを削除しますか？", "削除") != "yes")
        return;
    commentTextField->setPlainText("");
    setComment();
}

void EditViewController::onTagCSVOutput() {
    if (tagModel_->rowCount() == 0) {
        AlertBox("出力するデータがありません。", "お知らせ", "warning");
        return;
    }
    exportCsvThroughPanel("タグCSVを保存", "Brenholt",
                          [this] { return TagFileManager::csvText(tagTableData, false); });
}

void EditViewController::mediaClipStart() {
    if (!mediaView() || !mediaView()->isOpenStatus().value_or(false))
        return;
    if (!clipTableData.empty() && clipTableData.back()->endTimeString.empty()) {
        AlertBox("先に終了位置を決定してください", "warning", "warning");
        return;
    }
    Player* player = currentPlayer();
    const float now = player ? static_cast<float>(player->currentTime()) : 0.0f;
    auto clip = std::make_shared<ClipRowData>();
    clip->index = nextClipIndex_++;
    clip->startTimeVal = now;
    clip->startTimeString = MediaPlayerView::createTimeString(now);
    clipTableData.push_back(std::move(clip));
    reloadClipTable();
}

void EditViewController::mediaClipEnd() {
    if (!mediaView() || !mediaView()->isOpenStatus().value_or(false))
        return;
    if (clipTableData.empty())
        return;
    Player* player = currentPlayer();
    const float now = player ? static_cast<float>(player->currentTime()) : 0.0f;
    ClipRowData& clip = *clipTableData.back();
    if (now - clip.startTimeVal < 1.0f) {
        AlertBox("開始位置より後ろを指定してください", "warning", "warning");
        return;
    }
    clip.endTimeVal = now;
    clip.endTimeString = MediaPlayerView::createTimeString(now);
    reloadClipTable();
}

void EditViewController::reloadClipTable() {
    const int place = clipTableView->verticalScrollBar()->value();
    clipModel_->reload();
    clipTableView->restoreScroll(place);
    for (size_t r = 0; r < clipTableData.size(); ++r)
        if (clipTableData[r]->index == clipTableSelectedRowIndex)
            clipTableView->selectRowOnly(static_cast<int>(r));
}

void EditViewController::forgetChosenTag() {
    TagTableScreen::forgetChosenTag();
    commentTextField->setPlainText("");
}

void EditViewController::onStoreReplaced() {
    clearClips();
    TagTableScreen::onStoreReplaced();
}

void EditViewController::onStoreStepped() {
    TagTableScreen::onStoreStepped();
    // The comment editor shows the chosen tag's comment as it now stands.
    const auto& data = myParent->tagDataModel.data;
    const int64_t chosen = tagTableSelectedRowIndex;
    const auto it = std::find_if(data.begin(), data.end(),
                                 [chosen](const auto& t) { return t->index == chosen; });
    if (it == data.end())
        forgetChosenTag();
    else
        commentTextField->setPlainText(QString::fromStdString((*it)->comment));
}

void EditViewController::keyDown(QKeyEvent* event) {
    const uint16_t code = keycodeOf(*event);
    if (code == Keycode::comma)
        mediaClipStart();
    else if (code == Keycode::period)
        mediaClipEnd();
}

void EditViewController::keyPressEvent(QKeyEvent* event) {
    // Keys that reach the screen stop here: only the clip keys act.
    keyDown(event);
    event->accept();
}

void EditViewController::onSelectClipTableRow() {
    const int row = clipTableView->selectedRow();
    if (clipTableView->clickedRow() < 0 || clipTableView->clickedColumn() == 0 || row < 0 ||
        row >= static_cast<int>(clipTableData.size()))
        return;
    const auto& clip = clipTableData[static_cast<size_t>(row)];
    clipTableSelectedRowIndex = clip->index;
    if (myParent)
        mediaView()->seek(clip->startTimeVal, 0.0);
}

void EditViewController::onDblClickClipTableRow() {
    if (clipTableView->clickedColumn() == 0 || clipTableView->clickedRow() < 0)
        return;
    clipConvert(clipTableView->clickedRow());
}

void EditViewController::onClipHeaderClicked(int column) {
    if (std::string(clipModel_->columnIdentifier(column)) != "ClipCheckCol")
        return;
    clipTableCheckAllStatus = !clipTableCheckAllStatus;
    clipModel_->setCheckAllTitle(clipTableCheckAllStatus);
    clipModel_->setAllTicked(clipTableCheckAllStatus);
}

void EditViewController::onClipDelete() {
    if (clipTableData.empty())
        return;
    std::vector<std::shared_ptr<ClipRowData>> kept;
    bool any = false;
    for (size_t r = 0; r < clipTableData.size(); ++r) {
        if (clipModel_->isTicked(static_cast<int>(r)))
            any = true;
        else
            kept.push_back(clipTableData[r]);
    }
    if (!any) {
        AlertBox("削除する項目を選択してください。", "お知らせ", "warning");
        return;
    }
    if (MessageBox("選択された項目を削除しますか？", "削除") != "yes")
        return;
    clipTableData = std::move(kept);
    reloadClipTable();
}

void EditViewController::onClipOutput() {
    const int rows = clipModel_->rowCount();
    if (rows == 0)
        return;
    std::vector<int> checked;
    for (int r = 0; r < rows; ++r)
        if (clipModel_->isTicked(r))
            checked.push_back(r);
    if (checked.empty()) {
        AlertBox("切り取るビデオクリップを選択してください。", "お知らせ", "warning");
        return;
    }
    if (checked.size() > 1) {
        AlertBox("複数を同時に変換できませんので、ひとつだけ選択してください。", "お知らせ",
                 "warning");
        return;
    }
    clipConvert(checked.front());
}

void EditViewController::clipConvert(int row) {
    if (currentPlayer())
        currentPlayer()->pause();
    QPointer<EditViewController> self(this);
    QTimer::singleShot(100, this, [self, row] {
        if (!self || row < 0 || row >= static_cast<int>(self->clipTableData.size()))
            return;
        const std::shared_ptr<ClipRowData> clip = self->clipTableData[static_cast<size_t>(row)];
        QWidget* w = self->window();
        if (!w || w == self)
            return;
        const Player* player = self->currentPlayer();
        DialogProvider::FilePanel panel{"クリップ動画を保存",
                                        {"mp4", "mts", "m2ts"},
                                        "ClipVideo",
                                        folderOf(player ? player->currentPath() : ""),
                                        "動画"};
        dialogProvider().saveFilePanel(w, panel, [self, clip](std::optional<std::string> path) {
            if (!self || !path)
                return;
            MainViewController* parent = self->myParent;
            Player* player = self->currentPlayer();
            if (!player || !player->hasCurrentItem() || player->currentPath().empty())
                return;
            if (const std::string clash = exportTargetClash(*path, player->currentPath());
                !clash.empty()) {
                AlertBox(clash, "お知らせ", "warning");
                return;
            }
            auto* windowController = new ClipWindowController(parent->window());
            ClipViewController* job = windowController->contentViewController();
            job->clipInputUrl = player->currentPath();
            job->clipOutputUrl = *path;
            job->startTime = clip->startTimeVal;
            job->endTime = clip->endTimeVal;
            const double length = player->duration();
            job->duration = static_cast<float>(std::isnan(length) ? 0.0 : length);
            windowController->showWindow();
        });
    });
}

void EditViewController::showComment(const std::string& comment) {
    commentTextField->setPlainText(QString::fromStdString(comment));
}
