#include "SubViewController/EditViewController.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>

#include "MainViewController.h"
#include "SubModuleClass/TagFileManager.h"
#include "SubViewClass/Buttons.h"
#include "SubViewClass/CommentTextEdit.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/CustomTableView.h"
#include "SubViewClass/EditableNSTextField.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewClass/Style.h"
#include "SubViewClass/VerticallyCenteredTextFieldCell.h"
#include "SubViewController/PlayViewController.h"
#include "angles/AnglesDialog.h"
#include "import/TagImport.h"
#include "live/LiveRecording.h"
#include "match/MatchPanel.h"
#include "match/Squad.h"
#include "player/Player.h"
#include "playlists/AddToPlaylist.h"
#include "report/MatchReportExport.h"
#include "squads/PlayerNumbers.h"
#include "squads/SquadDialog.h"
#include "tags/TableModels.h"
#include "workspace/Workspace.h"

namespace {

const char* const kCheckOff = "❎";

QLabel* caption(const QString& text, QWidget* parent) {
    auto* label = new VerticallyCenteredTextFieldCell(text, parent);
    label->setStyleSheet(Style::caption());
    return label;
}

} // namespace

EditViewController::EditViewController(MainViewController* parent, QWidget* container)
    : TagTableScreen(parent, container, "Edit"), clipPanel(new ClipPanel(this)),
      clipTableView(clipPanel->clipTableView), clipTableData(clipPanel->clipTableData),
      clipTableSelectedRowIndex(clipPanel->clipTableSelectedRowIndex),
      clipTableCheckAllStatus(clipPanel->clipTableCheckAllStatus),
      // Put in its place below: in the focus chain after the media column.
      codePanel(new CodePanel(
          [this] {
              Player* player = currentPlayer();
              return player ? player->currentTime() : 0.0;
          },
          workspace(), nullptr)),
      teamA_header(codePanel->teamA_header), teamB_header(codePanel->teamB_header),
      UEImageButtonA(codePanel->UEImageButtonA), UEImageButtonB(codePanel->UEImageButtonB),
      import_(new TagImport(this)),
      playerNumbers_(new PlayerNumbers(
          [this](int team) -> const std::vector<MatchPlayer>& {
              return myParent->tagDataModel.match.players[size_t(team)];
          },
          this)) {
    setObjectName("EditViewController");
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(10);
    grid->addWidget(makeMediaColumn(true), 0, 0);
    grid->addWidget(codePanel, 0, 1, 1, 2);
    connect(codePanel, &CodePanel::windowChosen, this, &EditViewController::onCodeWindowChosen);
    connect(codePanel, &CodePanel::tagButtonClicked, this, &EditViewController::onTagButtonClicked);
    connect(codePanel, &CodePanel::labelButtonClicked, this,
            &EditViewController::onLabelButtonClicked);
    connect(codePanel->playersButton, &QPushButton::clicked, this, &EditViewController::openSquads);
    connect(codePanel->anglesButton, &QPushButton::clicked, this, &EditViewController::openAngles);
    connect(playerNumbers_, &PlayerNumbers::chosen, this,
            [this](int64_t tag, const MatchPlayer& p) {
                if (tag == tagTableSelectedRowIndex) // the tag just recorded is still chosen
                    onLabelButtonClicked(std::string(kPlayerGroup), playerLabel(p));
            });
    connect(playerNumbers_, &PlayerNumbers::refused, this, [this](int team, int number) {
        const std::string& name = myParent->tagDataModel.match.teams[size_t(team)];
        QApplication::beep();
        QToolTip::showText(codePanel->mapToGlobal(QPoint(0, 0)),
                           QString("%1に背番号 %2 の選手はいません")
                               .arg(name.empty() ? (team == 0 ? "チームA" : "チームB")
                                                 : QString::fromStdString(name))
                               .arg(number),
                           codePanel, {}, 3000);
    });
    if (parent)
        connect(parent->session, &SessionController::storeChanged, this,
                &EditViewController::followMatch);
    grid->addWidget(makeTagListPanel(), 1, 0);
    grid->addWidget(makeCommentPanel(), 1, 1);
    grid->addWidget(clipPanel, 1, 2);
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
    if (parent)
        liveRecording = new LiveRecording(parent, findChild<QPushButton*>("mediaLive_edit"));
    viewDidLoad();
    // The table and filter exist now: they follow the window chosen above.
    onCodeWindowChosen();
    followChosenWindow();
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
    // The rest of the exchange with other tools behind one button: the
    // filter keeps its width on a 1366-pixel screen.
    auto* exchangeButton = new GeneralButton("交換", "tagExchangeButton", panel);
    exchangeButton->setToolTip("タグのCSV読込、XMLの出力と読込");
    auto* exchange = new QMenu(exchangeButton);
    exchange->setObjectName("tagExchangeMenu");
    const auto item = [&](const char* text, const char* id, auto* to, auto act) {
        QAction* a = exchange->addAction(text);
        a->setObjectName(id);
        connect(a, &QAction::triggered, to, act);
    };
    item("CSV読込", "onTagCSVInput", import_, &TagImport::onTagCSVInput);
    exchange->addSeparator();
    item("XML出力", "onTagXMLOutput", this, &TagTableScreen::onTagXMLOutput);
    item("XML読込", "onTagXMLInput", import_, &TagImport::onTagXMLInput);
    // In the menu too: one more button would narrow the filter.
    exchange->addSeparator();
    item("試合レポート", "onMatchReport", this, [this] { exportMatchReport(*this); });
    // The ticked tags, as タグ削除 takes them.
    item("プレイリストに追加…", "onTagAddToPlaylist", this, [this] {
        std::vector<std::shared_ptr<TagRowData>> ticked;
        for (size_t r = 0; r < tagTableData.size(); ++r)
            if (tagModel_->isTicked(static_cast<int>(r)))
                ticked.push_back(tagTableData[r]);
        addSessionTags(myParent, this, ticked);
    });
    exchangeButton->setMenu(exchange);
    top->addWidget(exchangeButton);
    l->addLayout(top);
    makeTagTable({{"EditTagCheckCol", kCheckOff},
                  {"EditTagTeamCol", "チーム"},
                  {"EditTagIndexCol", "No."},
                  {"EditTagTimeCol", "時間"},
                  {"EditTagNameCol", "タグ"},
                  {"EditTagCommentCol", "コメント"},
                  {"EditTagLabelsCol", "ラベル"}},
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
    // The comment done (or left), the keys code again.
    connect(add, &QPushButton::clicked, this, [this] {
        onCommentAdd();
        focusCoding();
    });
    connect(remove, &QPushButton::clicked, this, [this] {
        onCommentDelete();
        focusCoding();
    });
    row->addWidget(add);
    row->addWidget(remove);
    l->addLayout(row);
    matchPanel = new MatchPanel(this, teamA_header, teamB_header);
    l->addWidget(matchPanel);
    return panel;
}

void EditViewController::viewDidLoad() {
    tagTableSelectedRowIndex = -1;
    tagTableCheckAllStatus = false;
    tagModel_->setCheckAllTitle(false);
    clipPanel->resetTicks();
}

void EditViewController::updateView() {
    TagTableScreen::updateView();
    const double h = height();
    QFont jp("Hiragino Sans GB");
    jp.setPixelSize(std::max(1, static_cast<int>(h * 0.019)));
    commentTextField->setFont(jp);
    clipPanel->scaleRows(std::max(1, static_cast<int>(h * 0.028)));
}

void EditViewController::appendTagTalbeDataRow(std::shared_ptr<TagRowData> rowData) {
    if (myParent)
        myParent->performTagEdit(TagEdit::record(myParent->tagDataModel, rowData),
                                 StoreChange::Kind::Recorded);
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
    for (size_t r = 0; r < tagTableData.size(); ++r)
        if (tagModel_->isTicked(static_cast<int>(r)))
            doomed.push_back(r);
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
}

void EditViewController::setComment() {
    const int row = tagTableView->selectedRow();
    if (row < 0 || row >= static_cast<int>(tagTableData.size()))
        return;
    if (myParent && !myParent->mayChangeTags())
        return;
    const std::string text = commentTextField->toPlainText().toStdString();
    shownComment_ = commentTextField->toPlainText();
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
    showComment({});
    setComment();
}

void EditViewController::onTagCSVOutput() {
    if (tagModel_->rowCount() == 0) {
        AlertBox("出力するデータがありません。", "お知らせ", "warning");
        return;
    }
    exportCsvThroughPanel("save tag csv file", "Brenholt", [this] {
        // With its match times, where the match has periods.
        const MatchInfo* match = myParent ? &myParent->tagDataModel.match : nullptr;
        return TagFileManager::csvText(tagTableData, false, match);
    });
}

void EditViewController::forgetChosenTag() {
    TagTableScreen::forgetChosenTag();
    showComment({});
}

void EditViewController::onStoreReplaced() {
    clipPanel->clearClips();
    TagTableScreen::onStoreReplaced();
}

void EditViewController::onStoreStepped() {
    // A comment being typed stays as typed: the editor changes on a row click
    // or a tag press, not on an undo.
    keepTypedComment_ = commentTextField->toPlainText() != shownComment_;
    TagTableScreen::onStoreStepped();
    keepTypedComment_ = false;
}

void EditViewController::showComment(const std::string& comment) {
    if (keepTypedComment_)
        return;
    shownComment_ = QString::fromStdString(comment);
    commentTextField->setPlainText(shownComment_);
}

void EditViewController::onLabelButtonClicked(const std::string& group, const std::string& text) {
    if (!myParent)
        return;
    const int64_t chosen = tagTableSelectedRowIndex;
    TagEdit change = TagEdit::label(myParent->tagDataModel, chosen, group, text);
    if (chosen < 0 || change.index < 0) {
        showChosenLabels();
        // A word beside the label panel, not a box: a modal question would
        // stop the analyst coding live while the video runs on.
        QWidget* at = codePanel->labelPanel;
        QToolTip::showText(at->mapToGlobal(QPoint(0, 0)), "ラベルを付けるタグを選択してください。",
                           at, {}, 3000);
        return;
    }
    if (!myParent->mayChangeTags()) {
        showChosenLabels();
        return;
    }
    myParent->performTagEdit(std::move(change));
}

void EditViewController::showChosenLabels() {
    if (codePanel->labelButtons.empty() && codePanel->playerButtons.empty())
        return;
    const TagLabels* labels = nullptr;
    int team = -1;
    if (myParent && tagTableSelectedRowIndex >= 0)
        for (const auto& tag : myParent->tagDataModel.data)
            if (tag->index == tagTableSelectedRowIndex) {
                labels = &tag->labels;
                team = tag->team ? 0 : 1;
                break;
            }
    codePanel->showLabels(labels, team);
}

void EditViewController::onCodeWindowChosen() {
    // Both screens list, colour and count by it, the players as its 選手 group.
    static const MatchInfo kNoMatch;
    workspace()->setCodeWindow(
        withPlayers(codeWindow(), myParent ? myParent->tagDataModel.match : kNoMatch));
}

void EditViewController::followMatch() {
    const MatchInfo& match = myParent->tagDataModel.match;
    if (match.players == shownPlayers_)
        return;
    shownPlayers_ = match.players;
    playerNumbers_->disarm();
    codePanel->setPlayers(match.players);
    onCodeWindowChosen();
    showChosenLabels();
}

void EditViewController::openSquads() {
    if (!myParent || !myParent->mayChangeTags())
        return;
    auto* dialog = new SquadDialog(myParent->tagDataModel.match, squadFolder(), window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        if (dialog->match() != myParent->tagDataModel.match)
            myParent->performTagEdit(TagEdit::match(myParent->tagDataModel, dialog->match()));
    });
    dialog->open();
}

void EditViewController::openAngles() {
    const MediaPlayerView* view = mediaView();
    if (!myParent || !view || !view->isOpenStatus().value_or(false) || !myParent->mayChangeTags())
        return;
    auto* dialog = new AnglesDialog(myParent->tagDataModel.match, view->player()->currentPath(),
                                    view->player()->currentTime(), window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        if (dialog->match() != myParent->tagDataModel.match)
            myParent->performTagEdit(TagEdit::match(myParent->tagDataModel, dialog->match()));
    });
    dialog->open();
}

void EditViewController::typePlayerDigit(int digit) {
    // Only for the tag just recorded, while it is the one chosen.
    if (playerNumbers_->tag() != tagTableSelectedRowIndex)
        playerNumbers_->disarm();
    if (digit >= 0)
        playerNumbers_->digit(digit);
}

void EditViewController::closePlayerNumber() {
    playerNumbers_->close();
}

void EditViewController::tagListChanged() {
    TagTableScreen::tagListChanged();
    showChosenLabels();
}

void EditViewController::chosenTagChanged() {
    showChosenLabels();
}

void EditViewController::followCodeWindow(const CodeWindow& window) {
    TagTableScreen::followCodeWindow(window);
    showChosenLabels();
}

void EditViewController::onTagButtonClicked(TagButton* sender) {
    if (!myParent || !sender)
        return;
    MediaPlayerView* view = mediaView();
    if (!view || !view->isOpenStatus().value_or(false) || !myParent->mayChangeTags())
        return;
    recordCode(codePanel->press(myParent->tagDataModel, *sender));
}

void EditViewController::pressCode(size_t code, bool teamA, bool showPress) {
    if (showPress)
        codePanel->showPress(code, teamA);
    MediaPlayerView* view = mediaView();
    if (!myParent || !view || !view->isOpenStatus().value_or(false) || !myParent->mayChangeTags())
        return;
    recordCode(codePanel->press(myParent->tagDataModel, code, teamA));
}

void EditViewController::pressLabel(size_t group, size_t text) {
    const auto& labels = workspace()->codeWindow().labels;
    if (group < labels.size() && text < labels[group].texts.size())
        onLabelButtonClicked(labels[group].group, labels[group].texts[text]);
}

void EditViewController::recordCode(TagEdit edit) {
    if (edit.kind == TagEdit::Kind::Steps && edit.steps.empty())
        return;
    // The tag it starts, if any, takes a shirt number typed next.
    std::shared_ptr<TagRowData> started;
    const auto starts = [&started](const TagEdit& e) {
        if (e.kind == TagEdit::Kind::Insert && !e.rows.empty())
            started = e.rows.back().second;
    };
    starts(edit);
    std::for_each(edit.steps.begin(), edit.steps.end(), starts);
    // A number begun is the tag's before, while that one is still chosen.
    playerNumbers_->close();
    // Both screens list the new tags (the edit screen at the end, chosen).
    myParent->performTagEdit(std::move(edit), StoreChange::Kind::Recorded);
    if (started)
        playerNumbers_->arm(started->index, started->team ? 0 : 1);
}
