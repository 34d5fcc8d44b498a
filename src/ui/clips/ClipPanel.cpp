#include "clips/ClipPanel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

#include "ClipVideoConvertor/ClipViewController.h"
#include "MainViewController.h"
#include "SubViewClass/Buttons.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/CustomTableView.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewClass/Style.h"
#include "SubViewClass/VerticallyCenteredTextFieldCell.h"
#include "player/Player.h"
#include "tags/TableModels.h"
#include "tags/TagTableScreen.h"

ClipPanel::ClipPanel(TagTableScreen* screen) : QWidget(screen), screen_(screen) {
    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(4);
    auto* title = new VerticallyCenteredTextFieldCell("クリップ", this);
    title->setStyleSheet(Style::caption());
    l->addWidget(title);
    clipTableView = new CustomTableView(this);
    clipTableView->setObjectName("EditClipTableView");
    model_ = new ClipTableModel(
        clipTableData, {{"ClipCheckCol", "❎"}, {"ClipStartCol", "開始"}, {"ClipEndCol", "終了"}},
        this);
    clipTableView->setRowModel(model_);
    clipTableView->setStyleSheet(Style::table());
    clipTableView->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    clipTableView->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    l->addWidget(clipTableView, 1);
    auto* row = new QHBoxLayout();
    auto* remove = new GeneralButton("クリップ削除", "onClipDelete", this);
    connect(remove, &QPushButton::clicked, this, [this] { onClipDelete(); });
    row->addWidget(remove);
    outputButton_ = new GeneralButton("クリップ出力", "onClipOutput", this);
    connect(outputButton_, &QPushButton::clicked, this, [this] { onClipOutput(); });
    row->addWidget(outputButton_);
    l->addLayout(row);
    connect(clipTableView, &CustomTableView::headerClicked, this, &ClipPanel::onClipHeaderClicked);
    connect(clipTableView, &CustomTableView::rowClicked, this, &ClipPanel::onSelectClipTableRow);
    connect(clipTableView, &CustomTableView::rowDoubleClicked, this,
            &ClipPanel::onDblClickClipTableRow);
}

void ClipPanel::resetTicks() {
    clipTableSelectedRowIndex = -1;
    clipTableCheckAllStatus = false;
    model_->setCheckAllTitle(false);
}

void ClipPanel::scaleRows(int row) {
    clipTableView->verticalHeader()->setDefaultSectionSize(row);
    QFont cell("Hiragino Sans GB");
    cell.setPixelSize(std::max(1, row / 2));
    TagTableScreen::setTableFont(clipTableView, cell);
}

bool ClipPanel::videoIsOpen() const {
    const MediaPlayerView* view = screen_->mediaView();
    return view && view->isOpenStatus().value_or(false);
}

void ClipPanel::clearClips() {
    clipTableSelectedRowIndex = -1;
    clipTableData.clear();
    reloadClipTable();
}

void ClipPanel::mediaClipStart() {
    if (!videoIsOpen())
        return;
    if (!clipTableData.empty() && clipTableData.back()->endTimeString.empty()) {
        AlertBox("先に終了位置を決定してください", "warning", "warning");
        return;
    }
    Player* player = screen_->currentPlayer();
    const float now = player ? static_cast<float>(player->currentTime()) : 0.0f;
    auto clip = std::make_shared<ClipRowData>();
    clip->index = nextClipIndex_++;
    clip->startTimeVal = now;
    clip->startTimeString = MediaPlayerView::createTimeString(now);
    clipTableData.push_back(std::move(clip));
    reloadClipTable();
}

void ClipPanel::mediaClipEnd() {
    if (!videoIsOpen() || clipTableData.empty())
        return;
    Player* player = screen_->currentPlayer();
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

void ClipPanel::reloadClipTable() {
    const int place = clipTableView->verticalScrollBar()->value();
    model_->reload();
    clipTableView->restoreScroll(place);
    for (size_t r = 0; r < clipTableData.size(); ++r)
        if (clipTableData[r]->index == clipTableSelectedRowIndex)
            clipTableView->selectRowOnly(static_cast<int>(r));
}

void ClipPanel::onSelectClipTableRow() {
    const int row = clipTableView->selectedRow();
    if (clipTableView->clickedRow() < 0 || clipTableView->clickedColumn() == 0 || row < 0 ||
        row >= static_cast<int>(clipTableData.size()))
        return;
    const auto& clip = clipTableData[static_cast<size_t>(row)];
    clipTableSelectedRowIndex = clip->index;
    if (MediaPlayerView* view = screen_->mediaView())
        view->seek(clip->startTimeVal, 0.0);
}

void ClipPanel::onDblClickClipTableRow() {
    if (clipTableView->clickedColumn() == 0 || clipTableView->clickedRow() < 0)
        return;
    clipConvert(clipTableView->clickedRow());
}

void ClipPanel::onClipHeaderClicked(int column) {
    if (std::string(model_->columnIdentifier(column)) != "ClipCheckCol")
        return;
    clipTableCheckAllStatus = !clipTableCheckAllStatus;
    model_->setCheckAllTitle(clipTableCheckAllStatus);
    model_->setAllTicked(clipTableCheckAllStatus);
}

void ClipPanel::onClipDelete() {
    if (clipTableData.empty())
        return;
    std::vector<std::shared_ptr<ClipRowData>> kept;
    bool any = false;
    for (size_t r = 0; r < clipTableData.size(); ++r) {
        if (model_->isTicked(static_cast<int>(r)))
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

void ClipPanel::onClipOutput() {
    const int rows = model_->rowCount();
    if (rows == 0)
        return;
    std::vector<int> checked;
    for (int r = 0; r < rows; ++r)
        if (model_->isTicked(r))
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

namespace {

// Opens the export window for `clip` of the video `player` plays into `target`.
void startClipExport(QWidget* owner, Player* player, const ClipRowData& clip,
                     const std::string& target, const MatchInfo& match) {
    if (const std::string clash = exportTargetClash(target, player->currentPath());
        !clash.empty()) {
        AlertBox(clash, "お知らせ", "warning");
        return;
    }
    auto* windowController = new ClipWindowController(owner);
    ClipViewController* job = windowController->contentViewController();
    job->clipInputUrl = player->currentPath();
    job->clipOutputUrl = target;
    job->addAnglesOf(player->currentPath(), &match);
    job->startTime = clip.startTimeVal;
    job->endTime = clip.endTimeVal;
    const double length = player->duration();
    job->duration = static_cast<float>(std::isnan(length) ? 0.0 : length);
    windowController->showWindow();
}

} // namespace

void ClipPanel::clipConvert(int row) {
    if (screen_->currentPlayer())
        screen_->currentPlayer()->pause();
    QPointer<ClipPanel> self(this);
    QTimer::singleShot(100, this, [self, row] {
        if (!self || row < 0 || row >= static_cast<int>(self->clipTableData.size()))
            return;
        const std::shared_ptr<ClipRowData> clip = self->clipTableData[static_cast<size_t>(row)];
        QWidget* w = self->window();
        if (!w || w == self)
            return;
        const Player* player = self->screen_->currentPlayer();
        DialogProvider::FilePanel panel{"save tag video clip file",
                                        {"mp4", "mts", "m2ts"},
                                        "ClipVideo",
                                        folderOf(player ? player->currentPath() : ""),
                                        "動画"};
        dialogProvider().saveFilePanel(w, panel, [self, clip](std::optional<std::string> path) {
            if (!self || !path)
                return;
            Player* player = self->screen_->currentPlayer();
            if (!player || !player->hasCurrentItem() || player->currentPath().empty())
                return;
            startClipExport(self->window(), player, *clip, *path,
                            self->screen_->myParent->tagDataModel.match);
        });
    });
}
