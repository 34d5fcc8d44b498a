#include "SubViewController/PlayViewController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <filesystem>

#include "ClipVideoConvertor/ClipViewController.h"
#include "MainViewController.h"
#include "SubViewClass/Buttons.h"
#include "SubViewClass/CommentTextEdit.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/CustomTableView.h"
#include "SubViewClass/EditableNSTextField.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewClass/Style.h"
#include "SubViewClass/VerticallyCenteredTextFieldCell.h"
#include "exchange/TallyCsv.h"
#include "platform/AtomicFile.h"
#include "playlists/AddToPlaylist.h"
#include "report/MatchReportExport.h"
#include "review/MomentSequence.h"
#include "review/TagTally.h"
#include "tags/TableModels.h"
#include "tags/TallyTableModel.h"
#include "timeline/TagTimeline.h"
#include "workspace/Workspace.h"

namespace {
const QString kPeriodTally = "期間別";
} // namespace

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
    l->addWidget(makeMomentRow());
    // The row number comes first: a click on column 0 never seeks.
    makeTagTable({{"PlayTagIndexCol", "No."},
                  {"PlayTagTeamCol", "チーム"},
                  {"PlayTagTimeCol", "時間"},
                  {"PlayTagNameCol", "タグ"},
                  {"PlayTagCommentCol", "コメント"},
                  {"PlayTagLabelsCol", "ラベル"}},
                 false);
    tagTableView->horizontalHeader()->setSectionResizeMode(3, QHeaderView::Stretch);
    l->addWidget(tagTableView, 1);
    placeTallyPanel(l);
    auto* caption = new VerticallyCenteredTextFieldCell("コメント", list);
    caption->setStyleSheet(Style::caption());
    l->addWidget(caption);
    commentTextView = new CommentTextEdit(list);
    commentTextView->setObjectName("commentTextView");
    commentTextView->setReadOnly(true);
    commentTextView->setStyleSheet(Style::commentView());
    l->addWidget(commentTextView);
    grid->addWidget(list, 0, 1);
    // The list shares its column with the tally.
    grid->setColumnStretch(0, 5);
    grid->setColumnStretch(1, 4);

    connect(tagTableView, &CustomTableView::headerClicked, this,
            &PlayViewController::onTagHeaderClicked);
    connect(tagTableView, &CustomTableView::rowClicked, this,
            &PlayViewController::onSelectTagTableRow);
    // As a row click, a press on the strip ends the sequence.
    connect(tagTimeline, &TagTimeline::pressed, this, &PlayViewController::endSequence);
    viewDidLoad();
    followChosenWindow();
}

void PlayViewController::viewDidLoad() {
    tagTableSelectedRowIndex = -1;
}

void PlayViewController::onSelectTagTableRow() {
    endSequence();
    const int row = tagTableView->selectedRow();
    if (tagTableView->clickedRow() < 0 || tagTableView->clickedColumn() == 0 || row < 0 ||
        row >= static_cast<int>(tagTableData.size()))
        return;
    chooseTag(tagTableData[static_cast<size_t>(row)]);
}

void PlayViewController::forgetChosenTag() {
    // Another video (or none): its moments are gone.
    endSequence();
    TagTableScreen::forgetChosenTag();
    commentTextView->clear();
}

void PlayViewController::hideEvent(QHideEvent* event) {
    // Leaving the play screen leaves its sequence.
    if (!event->spontaneous())
        endSequence();
    TagTableScreen::hideEvent(event);
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
    if (tallyTableView) {
        QFont small("Hiragino Sans GB");
        small.setPixelSize(std::max(1, static_cast<int>(h * 0.014)));
        setTableFont(tallyTableView, small);
        const int row = std::max(1, static_cast<int>(h * 0.02));
        tallyTableView->verticalHeader()->setDefaultSectionSize(row);
        fitTally();
    }
}

void PlayViewController::onTagHeaderClicked(int column) {
    toggleSortFor(tagModel_->columnIdentifier(column));
    reloadTagDataTable(true);
}

void PlayViewController::showComment(const std::string& comment) {
    commentTextView->setPlainText(QString::fromStdString(comment));
}

void PlayViewController::placeTallyPanel(QVBoxLayout* list) {
    auto* panel = new QWidget(this);
    auto* l = new QVBoxLayout(panel);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(4);
    auto* top = new QHBoxLayout();
    auto* caption = new VerticallyCenteredTextFieldCell("集計", panel);
    caption->setStyleSheet(Style::caption());
    top->addWidget(caption, 1);
    tallyLabelPopUp = new QComboBox(panel);
    tallyLabelPopUp->setObjectName("tallyLabelPopUp");
    tallyLabelPopUp->setToolTip("ラベル別の集計");
    tallyLabelPopUp->addItem("タグ別");
    tallyLabelPopUp->hide();
    connect(tallyLabelPopUp, &QComboBox::activated, this, [this] {
        refreshTally();
        // Settled at once: the matrix may be wider, and the video follows.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    });
    top->addWidget(tallyLabelPopUp);
    auto* csv = new GeneralButton("集計CSV出力", "onTallyCSVOutput", panel);
    connect(csv, &QPushButton::clicked, this, [this] { onTallyCSVOutput(); });
    top->addWidget(csv);
    // The listed tags, for other analysis tools.
    auto* xml = new GeneralButton("XML出力", "onPlayTagXMLOutput", panel);
    connect(xml, &QPushButton::clicked, this, [this] { onTagXMLOutput(); });
    top->addWidget(xml);
    l->addLayout(top);

    tallyTableView = new QTableView(panel);
    tallyTableView->setObjectName("PlayTallyTableView");
    tallyModel_ = new TallyTableModel(this);
    tallyTableView->setModel(tallyModel_);
    tallyTableView->setFocusPolicy(Qt::NoFocus);
    tallyTableView->setSelectionMode(QAbstractItemView::NoSelection);
    tallyTableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tallyTableView->verticalHeader()->hide();
    tallyTableView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tallyTableView->setStyleSheet(Style::table());
    QHeaderView* header = tallyTableView->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Fixed);
    // The total takes the scroll bar's room while there is none.
    header->setStretchLastSection(true);
    header->setSectionsClickable(false);
    tallyTableView->viewport()->setCursor(Qt::PointingHandCursor);
    connect(tallyTableView, &QTableView::clicked, this, &PlayViewController::onTallyClicked);
    // As tall as the list: rows that do not fit scroll.
    l->addWidget(tallyTableView, 1);
    // Under the tally: beside its buttons it would narrow the video.
    auto* matchReport = new GeneralButton("試合レポート", "onPlayMatchReport", panel);
    connect(matchReport, &QPushButton::clicked, this, [this] { exportMatchReport(*this); });
    l->addWidget(matchReport);
    // The chosen row's tag.
    auto* toPlaylist = new GeneralButton("プレイリストに追加", "onPlayAddToPlaylist", panel);
    connect(toPlaylist, &QPushButton::clicked, this, [this] {
        std::vector<std::shared_ptr<TagRowData>> chosen;
        if (const int row = tagTableView->selectedRow();
            row >= 0 && static_cast<size_t>(row) < tagTableData.size())
            chosen.push_back(tagTableData[static_cast<size_t>(row)]);
        addSessionTags(myParent, this, chosen);
    });
    l->addWidget(toPlaylist);
    refreshTally();

    // Beside the list, at the list's full height: the video keeps its width.
    const int at = list->indexOf(tagTableView);
    list->removeWidget(tagTableView);
    auto* row = new QHBoxLayout();
    row->setSpacing(8);
    row->addWidget(tagTableView, 1);
    row->addWidget(panel);
    list->insertLayout(at, row, 1);
}

void PlayViewController::tagListChanged() {
    TagTableScreen::tagListChanged();
    refreshTally();
}

void PlayViewController::refreshTally() {
    if (!tallyModel_)
        return;
    static const std::vector<std::shared_ptr<TagRowData>> kNone;
    std::vector<std::string> order;
    for (const Code& code : window_.codes)
        order.push_back(code.name);
    const auto& rows = myParent ? myParent->tagDataModel.data : kNone;
    refreshTallyChoices(window_);
    const int group = tallyLabelPopUp ? tallyLabelPopUp->currentIndex() - 1 : -1;
    if (tallyLabelPopUp && tallyLabelPopUp->currentData().toBool()) {
        const MatchInfo& match = myParent->tagDataModel.match;
        std::vector<std::string> periods;
        for (const MatchPeriod& p : match.periods)
            periods.push_back(p.name);
        tallyModel_->setLabelTally(tallyPeriods(rows, teamA_checkBox->isChecked(),
                                                teamB_checkBox->isChecked(), order, match),
                                   periods, "期間外");
    } else if (group >= 0 && static_cast<size_t>(group) < window_.labels.size()) {
        const LabelGroup& g = window_.labels[static_cast<size_t>(group)];
        tallyModel_->setLabelTally(tallyLabels(rows, teamA_checkBox->isChecked(),
                                               teamB_checkBox->isChecked(), order, g.group,
                                               g.texts),
                                   g.texts);
    } else {
        tallyModel_->setTally(
            tallyTags(rows, teamA_checkBox->isChecked(), teamB_checkBox->isChecked(), order));
    }
    fitTally();
}

void PlayViewController::fitTally() {
    // Every column as wide as its widest text, a name of no tag button no
    // wider than half again the longest button's; as many rows in sight as
    // the list's height allows, never a reason for the window to grow.
    QStyleOptionViewItem option;
    option.font = tallyTableView->font();
    option.fontMetrics = QFontMetrics(option.font);
    option.widget = tallyTableView;
    QAbstractItemDelegate* delegate = tallyTableView->itemDelegate();
    QHeaderView* header = tallyTableView->horizontalHeader();
    int longestLabel = 0;
    for (const char* label : kTagLabels)
        longestLabel =
            std::max(longestLabel, option.fontMetrics.horizontalAdvance(QString::fromUtf8(label)));
    int width =
        2 * tallyTableView->frameWidth() + tallyTableView->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < tallyModel_->columnCount(); ++c) {
        int w = std::max(header->sectionSizeHint(c), option.fontMetrics.horizontalAdvance("0000"));
        // A cell is its column less the grid line.
        for (int r = 0; r < tallyModel_->rowCount(); ++r)
            w = std::max(w, delegate->sizeHint(option, tallyModel_->index(r, c)).width() + 1);
        if (c == TallyTableModel::NameCol)
            w = std::min(w, std::max(header->sectionSizeHint(c), longestLabel * 3 / 2));
        header->resizeSection(c, w);
        width += w;
    }
    // A matrix of many texts scrolls sideways within a quarter of the screen:
    // the video and the list keep their room.
    const int room = std::max(header->sectionSize(0) + 120, this->width() / 4);
    tallyTableView->setHorizontalScrollBarPolicy(width > room ? Qt::ScrollBarAsNeeded
                                                              : Qt::ScrollBarAlwaysOff);
    tallyTableView->setFixedWidth(std::min(width, room));
    const int row = tallyTableView->verticalHeader()->defaultSectionSize();
    tallyTableView->setMinimumHeight(header->sizeHint().height() + 3 * row +
                                     2 * tallyTableView->frameWidth());
}

void PlayViewController::refreshTallyChoices(const CodeWindow& window) {
    if (!tallyLabelPopUp)
        return;
    QStringList items{"タグ別"};
    for (const LabelGroup& g : window.labels)
        items << QString::fromStdString(g.group);
    // Last, when the match has periods: the tally per period.
    const bool periods = myParent && !myParent->tagDataModel.match.periods.empty();
    if (periods)
        items << kPeriodTally;
    bool same = items.size() == tallyLabelPopUp->count();
    for (int i = 0; same && i < items.size(); ++i)
        same = tallyLabelPopUp->itemText(i) == items[i];
    if (same)
        return;
    const QString chosen = tallyLabelPopUp->currentText();
    const QSignalBlocker quiet(tallyLabelPopUp);
    tallyLabelPopUp->clear();
    tallyLabelPopUp->addItems(items);
    if (periods) // a label group of that name is still the group
        tallyLabelPopUp->setItemData(static_cast<int>(items.size()) - 1, true);
    tallyLabelPopUp->setCurrentIndex(std::max(0, tallyLabelPopUp->findText(chosen)));
    tallyLabelPopUp->setVisible(items.size() > 1);
}

void PlayViewController::followCodeWindow(const CodeWindow& window) {
    refreshTallyChoices(window);
    // Hidden, it is listed again as it is shown: a switch of windows on the
    // edit screen need not rebuild it.
    takeCodeWindow(window, isVisible());
}

void PlayViewController::onTallyClicked(const QModelIndex& index) {
    // The matrix's counts choose nothing: the filter has no label.
    if (!index.isValid() || index.column() == TallyTableModel::NameCol ||
        tallyModel_->showsLabels())
        return;
    const auto& tally = tallyModel_->tally();
    if (index.row() >= static_cast<int>(tally.size()))
        return;
    const int item = tagFilterCombo->findText(
        QString::fromStdString(tally[static_cast<size_t>(index.row())].name));
    if (item < 0)
        return; // a name of no tag button is not in the filter
    {
        // One rebuild for the three changes, as one choice of the user.
        const QSignalBlocker a(teamA_checkBox), b(teamB_checkBox);
        tagFilterCombo->setCurrentIndex(item);
        teamA_checkBox->setChecked(index.column() != TallyTableModel::TeamBCol);
        teamB_checkBox->setChecked(index.column() != TallyTableModel::TeamACol);
    }
    onFilterUpdate();
}

void PlayViewController::onTallyCSVOutput() {
    refreshTally();
    // What is shown: the tally by tag, or the matrix of the label group chosen.
    int64_t counted = 0;
    std::string text;
    if (tallyModel_->showsLabels()) {
        for (const LabelTallyRow& row : tallyModel_->labelTally())
            counted += row.total();
        text = labelTallyCsvText(tallyModel_->labelTally(), tallyModel_->labelTexts());
    } else {
        for (const TallyRow& row : tallyModel_->tally())
            counted += row.total();
        text = tallyCsvText(tallyModel_->tally());
    }
    if (counted == 0) {
        AlertBox("出力するデータがありません。", "お知らせ", "warning");
        return;
    }
    exportCsvThroughPanel("集計CSVを保存", matchFileName("集計"),
                          [text = std::move(text)] { return text; });
}

QString PlayViewController::matchFileName(const QString& what) const {
    const QString match = matchName();
    return match.isEmpty() ? what : match + "_" + what;
}

QWidget* PlayViewController::makeMomentRow() {
    auto* row = new QWidget(this);
    auto* l = new QHBoxLayout(row);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(6);
    const QString style = Style::caption();
    // 前 and 後 are the workspace's (remembered between runs): the boxes set
    // them and show them.
    Workspace* shared = workspace();
    auto spin = [&](const char* id, const char* label, int value, void (Workspace::*set)(int),
                    void (Workspace::*changed)(int)) {
        auto* caption = new QLabel(QString::fromUtf8(label), row);
        caption->setStyleSheet(style);
        auto* box = new QSpinBox(row);
        box->setObjectName(id);
        box->setRange(0, Workspace::kMaxSeconds);
        box->setSuffix(" s");
        box->setValue(value);
        connect(box, &QSpinBox::valueChanged, shared, set);
        connect(shared, changed, box, &QSpinBox::setValue);
        l->addWidget(caption);
        l->addWidget(box);
        return box;
    };
    momentLeadSpinBox = spin("momentLeadSpinBox", "前", shared->lead(), &Workspace::setLead,
                             &Workspace::leadChanged);
    momentLagSpinBox =
        spin("momentLagSpinBox", "後", shared->lag(), &Workspace::setLag, &Workspace::lagChanged);
    auto* playButton = new QPushButton("連続再生", row);
    playButton->setObjectName("onSequencePlay");
    connect(playButton, &QPushButton::clicked, this, &PlayViewController::onSequencePlay);
    auto* outputButton = new QPushButton("ハイライト出力", row);
    outputButton->setObjectName("onHighlightOutput");
    connect(outputButton, &QPushButton::clicked, this, &PlayViewController::onHighlightOutput);
    highlightPerTagCheckBox = new QCheckBox("タグごとに別ファイル", row);
    highlightPerTagCheckBox->setObjectName("highlightPerTagCheckBox");
    highlightPerTagCheckBox->setStyleSheet(Style::teamCheckBox());
    for (QWidget* w : {static_cast<QWidget*>(playButton), static_cast<QWidget*>(outputButton)})
        w->setFocusPolicy(Qt::NoFocus);
    l->addWidget(playButton);
    l->addWidget(outputButton);
    l->addWidget(highlightPerTagCheckBox);
    l->addStretch(1);

    sequence = new MomentSequence(this);
    sequence->onMoment = [this](const Moment& m) { chooseTagOf(m); };
    // Any transport button of this screen ends the sequence.
    for (auto* b : findChildren<QAbstractButton*>())
        if (b->objectName().startsWith("media"))
            connect(b, &QAbstractButton::clicked, this, &PlayViewController::endSequence);
    return row;
}

std::vector<Moment> PlayViewController::listedMoments() const {
    Player* player = currentPlayer();
    const double length = player ? player->duration() : NAN;
    return makeMoments(tagTableData, momentLeadSpinBox->value(), momentLagSpinBox->value(), length);
}

void PlayViewController::onSequencePlay() {
    Player* player = currentPlayer();
    if (!player || !player->hasCurrentItem())
        return;
    std::vector<Moment> moments = listedMoments();
    if (moments.empty()) {
        AlertBox(noMomentsReason("再生するタグがありません。"), "お知らせ", "warning");
        return;
    }
    // The speed chosen: slow play stays slow.
    const float rate = player->rate() > 0        ? player->rate()
                       : workspace()->slowPlay() ? MediaPlayerView::kSlowRate
                                                 : MediaPlayerView::kNormalRate;
    sequence->start(player, std::move(moments), rate);
}

std::string PlayViewController::noMomentsReason(const std::string& noTags) const {
    if (tagTableData.empty())
        return noTags;
    if (momentLeadSpinBox->value() == 0 && momentLagSpinBox->value() == 0)
        return "前と後が0秒のため、場面の長さが0です。前か後の秒数を増やしてください。";
    // Tags at the very start or past the end of the video, with the one
    // side that would give them length set to 0.
    return "一覧のタグの場面は、どれも長さが0です。前と後の秒数を確かめてください。";
}

bool PlayViewController::sequenceStep(int direction) {
    return sequence && sequence->step(direction);
}

void PlayViewController::endSequence() {
    if (sequence)
        sequence->stop();
}

void PlayViewController::chooseTagOf(const Moment& moment) {
    if (moment.tags.empty())
        return;
    const auto& tag = moment.tags.front();
    tagTableSelectedRowIndex = tag->index;
    reselectChosenTag();
    tagTimeline->setChosen(tag->index);
    showComment(tag->comment);
}

void PlayViewController::onHighlightOutput() {
    endSequence();
    Player* player = currentPlayer();
    if (!player || !player->hasCurrentItem())
        return;
    player->pause();
    if (listedMoments().empty()) {
        AlertBox(noMomentsReason("出力するタグがありません。"), "お知らせ", "warning");
        return;
    }
    const bool perTag = highlightPerTagCheckBox->isChecked();
    QWidget* w = window();
    if (!w || w == this)
        return;
    QPointer<PlayViewController> self(this);
    DialogProvider::FilePanel panel{"ハイライト動画を保存",
                                    {"mp4"},
                                    matchFileName("ハイライト"),
                                    folderOf(player->currentPath())};
    dialogProvider().saveFilePanel(w, panel, [self, perTag](std::optional<std::string> path) {
        if (self && path)
            self->exportHighlight(*path, perTag);
    });
}

void PlayViewController::exportHighlight(const std::string& path, bool perTag) {
    Player* player = currentPlayer();
    if (!player || !player->hasCurrentItem() || player->currentPath().empty())
        return;
    const std::vector<Moment> moments = listedMoments();
    if (moments.empty())
        return;
    if (const std::string clash = exportTargetClash(path, player->currentPath()); !clash.empty()) {
        AlertBox(clash, "お知らせ", "warning");
        return;
    }
    // One file per moment goes in a folder named as the chosen file.
    std::optional<MomentFolder> folder;
    if (perTag && !(folder = momentFolderFor(path, "ハイライト出力")))
        return;
    auto* windowController = new ClipWindowController(window());
    ClipViewController* job = windowController->contentViewController();
    job->setJobName("ハイライト出力");
    job->clipInputUrl = player->currentPath();
    job->clipOutputUrl = path;
    job->addAnglesOf(player->currentPath(), &myParent->tagDataModel.match);
    for (const Moment& m : moments)
        job->ranges.emplace_back(m.start, m.end);
    if (folder) {
        // The job removes a folder it made again if it does not complete.
        if (folder->made)
            job->madeFolder = folder->path.string();
        job->replacedFiles = folder->replaced;
        // Leftovers of per-moment exports into this folder that were killed:
        // their names follow the moments of that export, not of this one.
        removeStaleTemporaries(folder->path, isMomentFileName);
        const size_t limit = fileNameLimit(folder->path);
        for (size_t i = 0; i < moments.size(); ++i)
            job->separateOutputs.push_back(
                (folder->path / momentFileName(i + 1, *moments[i].tags.front(), limit)).string());
    }
    windowController->showWindow();
}
