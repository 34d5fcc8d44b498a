#include "SubViewController/PlayViewController.h"

#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "MainViewController.h"
#include "SubViewClass/CustomTableView.h"
#include "SubViewClass/EditableNSTextField.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewClass/TableModels.h"
#include "SubViewClass/VerticallyCenteredTextFieldCell.h"

PlayViewController::PlayViewController(MainViewController* parent, QWidget* container)
    : TagTableScreen(parent, container, "Play") {
    setObjectName("PlayViewController");
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(10);
    grid->addWidget(makeMediaColumn(false), 0, 0);

    auto* list = new QWidget(this);
    auto* l = new QVBoxLayout(list);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(4);
    l->addWidget(makeFilterRow());
    // The row number comes first: a click on column 0 never seeks.
    makeTagTable({{"PlayTagIndexCol", "No."},
                  {"PlayTagTeamCol", "チーム"},
                  {"PlayTagTimeCol", "時間"},
                  {"PlayTagNameCol", "タグ"},
                  {"PlayTagCommentCol", "コメント"}},
                 false);
    tagTableView->horizontalHeader()->setSectionResizeMode(3, QHeaderView::Stretch);
    l->addWidget(tagTableView, 1);
    auto* caption = new VerticallyCenteredTextFieldCell("コメント", list);
    caption->setStyleSheet("color: #c9d3da;");
    l->addWidget(caption);
    commentTextView = new QPlainTextEdit(list);
    commentTextView->setObjectName("commentTextView");
    commentTextView->setReadOnly(true);
    commentTextView->setStyleSheet("QPlainTextEdit { background-color: #27343b; color: white;"
                                   " border: 1px solid #4a5a63; border-radius: 3px; }");
    l->addWidget(commentTextView);
    grid->addWidget(list, 0, 1);
    grid->setColumnStretch(0, 3);
    grid->setColumnStretch(1, 2);

    connect(tagTableView, &CustomTableView::headerClicked, this,
            &PlayViewController::onTagHeaderClicked);
    connect(tagTableView, &CustomTableView::rowClicked, this,
            &PlayViewController::onSelectTagTableRow);
    viewDidLoad();
}

void PlayViewController::viewDidLoad() {
    tagTableSelectedRowIndex = -1;
}

void PlayViewController::onSelectTagTableRow() {
    const int row = tagTableView->selectedRow();
    if (tagTableView->clickedRow() < 0 || tagTableView->clickedColumn() == 0 || row < 0 ||
        row >= static_cast<int>(tagTableData.size()))
        return;
    const auto& tag = tagTableData[static_cast<size_t>(row)];
    commentTextView->setPlainText(QString::fromStdString(tag->comment));
    tagTableSelectedRowIndex = tag->index;
    if (myParent)
        myParent->MediaPlayer->seek(tag->time_val, 2.0);
}

void PlayViewController::forgetChosenTag() {
    TagTableScreen::forgetChosenTag();
    commentTextView->clear();
}

void PlayViewController::updateView() {
    TagTableScreen::updateView();
    const double h = height();
    QFont jp("Hiragino Sans GB");
    jp.setPixelSize(std::max(1, static_cast<int>(h * 0.019)));
    commentTextView->setFont(jp);
    // Three lines of comment without taking the list's room.
    const int line = QFontMetrics(jp).lineSpacing();
    commentTextView->setFixedHeight(3 * line + 12);
}

void PlayViewController::onTagHeaderClicked(int column) {
    toggleSortFor(tagModel_->columnIdentifier(column));
    reloadTagDataTable(true);
}
