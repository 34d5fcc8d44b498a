#include "tags/TagTableScreen.h"

#include <algorithm>
#include <cmath>

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QPointer>
#include <QScrollBar>
#include <QVBoxLayout>
#include <array>
#include <unordered_set>
#include <utility>

#include "ClipVideoConvertor/ClipViewController.h"
#include "MainViewController.h"
#include "SubViewClass/Buttons.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/CustomTableView.h"
#include "SubViewClass/EditableNSTextField.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewClass/Style.h"
#include "exchange/XmlEditList.h"
#include "platform/AtomicFile.h"
#include "player/Player.h"
#include "review/Moments.h"
#include "tags/TableModels.h"
#include "timeline/TagTimeline.h"
#include "workspace/Workspace.h"

TagTableScreen::TagTableScreen(MainViewController* parent, QWidget* container, const char* prefix)
    : QWidget(container), myParent(parent), prefix_(prefix) {
    setAttribute(Qt::WA_StyledBackground);
    if (parent)
        connect(parent->session, &SessionController::storeChanged, this,
                &TagTableScreen::onStoreChanged);
}

void TagTableScreen::followCodeWindow(const CodeWindow& window) {
    takeCodeWindow(window, true);
}

void TagTableScreen::followChosenWindow() {
    Workspace* shared = workspace();
    followCodeWindow(shared->codeWindow());
    connect(shared, &Workspace::codeWindowChanged, this,
            [this, shared] { followCodeWindow(shared->codeWindow()); });
}

void TagTableScreen::takeCodeWindow(const CodeWindow& window, bool reload) {
    window_ = window;
    tagTimeline->setCodeWindow(window_);
    const QString filtered = tagFilterCombo ? tagFilterCombo->currentText() : QString();
    refreshFilterItems();
    // The same filter lists the same rows: only the columns may change (a
    // window with labels shows their column). 50,000 rows are not listed again.
    if (reload && tagFilterCombo && tagFilterCombo->currentText() != filtered)
        reloadTagDataTable(true);
    else
        fitShownColumns();
    // Hidden, it is listed again as it is shown.
    if (!reload)
        listStale_ = true;
}

void TagTableScreen::refreshFilterItems() {
    if (!myParent || !tagFilterCombo)
        return;
    QStringList items{MainViewController::TOTAL_ITEM};
    for (const Code& code : window_.codes)
        items << QString::fromStdString(code.name);
    // Names of no code (another window's, a hand-edited file's) after them,
    // in the order met.
    std::vector<std::string> others;
    std::unordered_set<std::string> seen; // each name looked up in the window once
    const std::string* last = nullptr;
    for (const auto& tag : myParent->tagDataModel.data) {
        if (last && *last == tag->name)
            continue;
        last = &tag->name;
        if (seen.insert(tag->name).second && !window_.find(tag->name))
            others.push_back(tag->name);
    }
    for (const std::string& name : others)
        items << QString::fromStdString(name);
    bool same = items.size() == tagFilterCombo->count();
    for (int i = 0; same && i < items.size(); ++i)
        same = tagFilterCombo->itemText(i) == items[i];
    if (same)
        return;
    const QString chosen = tagFilterCombo->currentText();
    const QSignalBlocker quiet(tagFilterCombo);
    tagFilterCombo->clear();
    tagFilterCombo->addItems(items);
    tagFilterCombo->setCurrentIndex(std::max(0, tagFilterCombo->findText(chosen)));
}

void TagTableScreen::makeTagTable(std::vector<TableColumn> columns, bool checkable) {
    tagTableView = new CustomTableView(this);
    tagTableView->setObjectName(QString::fromStdString(prefix_ + "TagTableView"));
    tagModel_ = new TagTableModel(tagTableData, std::move(columns), checkable, this);
    tagTableView->setRowModel(tagModel_);
    tagTableView->setStyleSheet(Style::table());
    tagTableView->horizontalHeader()->setStretchLastSection(false);
    tagTableView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    if (const int labels = tagModel_->columnOf((prefix_ + "TagLabelsCol").c_str()); labels >= 0)
        tagTableView->setColumnHidden(labels, true);
}

QWidget* TagTableScreen::makeFilterRow() {
    auto* row = new QWidget(this);
    auto* l = new QHBoxLayout(row);
    l->setContentsMargins(0, 0, 0, 0);
    tagFilterCombo = new QComboBox(row);
    tagFilterCombo->setObjectName(QString::fromStdString(prefix_ + "TagFilterCombo"));
    if (myParent) {
        tagFilterCombo->addItem(MainViewController::TOTAL_ITEM);
        for (const char* label : MainViewController::TAG_LABEL)
            tagFilterCombo->addItem(label);
    }
    teamA_checkBox = new QCheckBox("チームA", row);
    teamB_checkBox = new QCheckBox("チームB", row);
    for (QCheckBox* c : {teamA_checkBox, teamB_checkBox}) {
        c->setChecked(true);
        c->setStyleSheet(Style::teamCheckBox());
        connect(c, &QCheckBox::toggled, this, [this] { onFilterUpdate(); });
    }
    // Every choice rebuilds, the item already shown included.
    connect(tagFilterCombo, &QComboBox::activated, this, [this] { onFilterUpdate(); });
    tagFilterCombo->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    tagFilterCombo->setMinimumWidth(60);
    l->addWidget(tagFilterCombo, 1);
    l->addWidget(teamA_checkBox);
    l->addWidget(teamB_checkBox);
    l->addWidget(makeMatchTimeSwitch(row));
    return row;
}

QWidget* TagTableScreen::makeMediaColumn(bool withClipButtons) {
    const QString suffix = prefix_ == "Edit" ? "_edit" : "_play";
    auto* column = new QWidget(this);
    auto* l = new QVBoxLayout(column);
    l->setContentsMargins(0, 0, 0, 0);
    mediaPlayerBox = new QFrame(column);
    mediaPlayerBox->setObjectName("mediaPlayerBox");
    mediaPlayerBox->setStyleSheet(Style::mediaBox());
    l->addWidget(mediaPlayerBox, 1);
    l->addWidget(makeTimeline());

    auto* bar = new QWidget(column);
    auto* transportRow = new QHBoxLayout(bar);
    transportRow->setContentsMargins(0, 0, 0, 0);
    mediaTimeLabel = new EditableNSTextField("0:00:00 / 0:00:00", bar);
    mediaTimeLabel->setObjectName("mediaTimeLabel");
    mediaTimeLabel->setReadOnly(true);
    mediaTimeLabel->setFocusPolicy(Qt::NoFocus);
    mediaTimeLabel->setFrame(false);
    mediaTimeLabel->setStyleSheet(Style::timeLabel());
    mediaTimeLabel->font_rate = 0.55;
    mediaTimeLabel->setMinimumHeight(30);
    transportRow->addWidget(mediaTimeLabel, 1);

    struct Action {
        const char* name;
        void (TagTableScreen::*slot)();
    };
    const Action actions[] = {{"mediaOpen", &TagTableScreen::mediaOpen},
                              {"mediaBackward", &TagTableScreen::mediaBackward},
                              {"mediaPlay", &TagTableScreen::mediaPlay},
                              {"mediaStop", &TagTableScreen::mediaStop},
                              {"mediaForward", &TagTableScreen::mediaForward},
                              {"mediaSlow", &TagTableScreen::mediaSlow}};
    for (const Action& a : actions) {
        auto* b = new MediaToolButtonView(a.name + suffix, bar);
        b->setIcon(QIcon(QString(":/images/%1.svg").arg(a.name)));
        b->setIconSize(QSize(22, 22));
        b->setMinimumSize(34, 30);
        connect(b, &QPushButton::clicked, this, a.slot);
        transportRow->addWidget(b);
    }
    if (withClipButtons) {
        // ライブ収録… beside 開く: both bring the match's video in.
        auto* live = new MediaToolButtonView("mediaLive" + suffix, bar);
        live->setIconSize(QSize(22, 22));
        live->setMinimumSize(34, 30);
        transportRow->insertWidget(2, live);
        for (const char* name : {"mediaClipStart", "mediaClipEnd"}) {
            auto* b = new MediaToolButtonView(name, bar);
            b->setIcon(QIcon(QString(":/images/%1.svg").arg(name)));
            b->setIconSize(QSize(22, 22));
            b->setMinimumSize(34, 30);
            transportRow->addWidget(b);
        }
    }
    l->addWidget(bar);
    return column;
}

void TagTableScreen::reloadTagDataTable(bool keepSort) {
    if (!tagFilterCombo || !tagModel_ || tagFilterCombo->currentIndex() < 0)
        return;
    FilterSortData filter;
    filter.filter_tag_name = tagFilterCombo->currentText().toStdString();
    filter.filter_team_A = teamA_checkBox->isChecked();
    filter.filter_team_B = teamB_checkBox->isChecked();
    if (keepSort) {
        filter.sort_tag_comment = filterSortData.sort_tag_comment;
        filter.sort_tag_time = filterSortData.sort_tag_time;
        filter.sort_team = filterSortData.sort_team;
        filter.sort_tag_name = filterSortData.sort_tag_name;
    }
    if (!myParent)
        return;
    tagTableData = myParent->tagDataModel.getFilterData(filter);
    reloadKeepingScroll();
}

void TagTableScreen::reloadKeepingScroll() {
    // The user's place in the list stays put, whatever was added or chosen.
    const int place = tagTableView->verticalScrollBar()->value();
    tagModel_->reload();
    fitShownColumns();
    tagTableView->restoreScroll(place);
    reselectChosenTag();
    tagListChanged();
}

void TagTableScreen::fitShownColumns() {
    // The time column widens while a listed tag shows an end, and narrows back.
    const bool lasting = std::any_of(tagTableData.begin(), tagTableData.end(), [](const auto& t) {
        return t->end.state != TagEnd::State::None;
    });
    const QString sample = timeSample(lasting);
    const int labelsColumn = tagModel_->columnOf((prefix_ + "TagLabelsCol").c_str());
    const bool labelled =
        !window_.labels.empty() || std::any_of(tagTableData.begin(), tagTableData.end(),
                                               [](const auto& t) { return !t->labels.empty(); });
    if (sample != timeSample_ || labelled != labelsShown_) {
        timeSample_ = sample;
        labelsShown_ = labelled;
        tagTableView->setColumnHidden(labelsColumn, !labelled);
        fitColumns(tagTableView, tagTableView->font(), sample, labelsWidth());
    }
}

QWidget* TagTableScreen::makeTimeline() {
    // Inset as the video is in its box, so both have one width.
    auto* holder = new QWidget(this);
    auto* l = new QHBoxLayout(holder);
    l->setContentsMargins(8, 0, 8, 0);
    tagTimeline = new TagTimeline(QString::fromStdString(prefix_ + "TagTimeline"), holder);
    if (myParent)
        tagTimeline->setPlayer(currentPlayer());
    l->addWidget(tagTimeline);
    connect(tagTimeline, &TagTimeline::markClicked, this,
            [this](const std::shared_ptr<TagRowData>& tag) {
                chooseTag(tag);
                // The row follows, where it is: the list is not scrolled.
                reselectChosenTag();
            });
    connect(tagTimeline, &TagTimeline::seekRequested, this, [this](double seconds, bool exact) {
        if (myParent)
            mediaView()->scrub(seconds, exact);
    });
    return holder;
}

void TagTableScreen::exportCsvThroughPanel(const QString& title, const QString& proposedName,
                                           std::function<std::string()> text) {
    exportThroughPanel(title, proposedName, "csv", "CSVファイルが作成されました。",
                       std::move(text));
}

void TagTableScreen::exportThroughPanel(const QString& title, const QString& proposedName,
                                        const QString& extension, const std::string& done,
                                        std::function<std::string()> text) {
    QWidget* w = window();
    if (!w || w == this)
        return;
    const Player* player = currentPlayer();
    const std::string video = player && player->hasCurrentItem() ? player->currentPath() : "";
    DialogProvider::FilePanel panel{title, {extension}, proposedName, folderOf(video)};
    QPointer<TagTableScreen> self(this);
    dialogProvider().saveFilePanel(
        w, panel,
        [self, video, extension, done, text = std::move(text)](std::optional<std::string> path) {
            if (!self || !path || path->empty())
                return;
            std::string target = *path;
            if (!QString::fromStdString(target).endsWith("." + extension, Qt::CaseInsensitive))
                target += "." + extension.toStdString();
            // Over the session file, an export would lose every tag
            // the filter hides and the exact times.
            if (const std::string clash = video.empty() ? "" : exportTargetClash(target, video);
                !clash.empty()) {
                AlertBox(clash, "お知らせ", "warning");
                return;
            }
            const std::string error = writeFileAtomically(target, text());
            if (error.empty())
                AlertBox(done, "成功", "success");
            else
                AlertBox(error, "失敗", "error");
        });
}

void TagTableScreen::onTagXMLOutput() {
    if (tagModel_->rowCount() == 0) {
        AlertBox("出力するデータがありません。", "お知らせ", "warning");
        return;
    }
    const Workspace* shared = workspace();
    const double lead = shared ? shared->lead() : kDefaultLead;
    const double lag = shared ? shared->lag() : kDefaultLag;
    const Player* player = currentPlayer();
    const double length = player && player->hasCurrentItem() ? player->duration() : NAN;
    exportThroughPanel("タグXMLを保存", "Brenholt", "xml", "XMLファイルが作成されました。",
                       [rows = tagTableData, lead, lag, length,
                        window = shared ? shared->codeWindow() : CodeWindow(),
                        match = myParent ? myParent->tagDataModel.match : MatchInfo()] {
                           return editListText(rows, lead, lag, length, &window, &match);
                       });
}

MediaPlayerView* TagTableScreen::mediaView() const {
    return myParent ? myParent->MediaPlayer : nullptr;
}

Workspace* TagTableScreen::workspace() const {
    return myParent ? myParent->workspace : nullptr;
}

QString TagTableScreen::matchName() const {
    return myParent ? myParent->session->matchName() : QString();
}

Player* TagTableScreen::currentPlayer() const {
    MediaPlayerView* view = mediaView();
    return view ? view->player() : nullptr;
}

void TagTableScreen::tagListChanged() {
    tagTimeline->setRows(tagTableData);
    tagTimeline->setChosen(tagTableSelectedRowIndex);
}

void TagTableScreen::chooseTag(const std::shared_ptr<TagRowData>& tag) {
    showComment(tag->comment);
    tagTableSelectedRowIndex = tag->index;
    tagTimeline->setChosen(tag->index);
    chosenTagChanged();
    if (myParent)
        mediaView()->seek(tag->time_val, 2.0);
}

void TagTableScreen::showTag(const std::shared_ptr<TagRowData>& tag, bool seek) {
    auto listed = [&] {
        return std::find(tagTableData.begin(), tagTableData.end(), tag) != tagTableData.end();
    };
    if (!listed()) {
        tagFilterCombo->setCurrentIndex(0);
        teamA_checkBox->setChecked(true);
        teamB_checkBox->setChecked(true);
        reloadTagDataTable(true);
    }
    if (seek) {
        chooseTag(tag);
    } else {
        showComment(tag->comment);
        tagTableSelectedRowIndex = tag->index;
        tagTimeline->setChosen(tag->index);
        chosenTagChanged();
    }
    reselectChosenTag();
    const auto row = std::find(tagTableData.begin(), tagTableData.end(), tag);
    if (row != tagTableData.end()) {
        // Rows just loaded are laid out later, and a scroll before that stops
        // at the old, shorter length.
        tagTableView->doItemsLayout();
        tagTableView->scrollTo(tagModel_->index(static_cast<int>(row - tagTableData.begin()), 0));
    }
}

void TagTableScreen::forgetChosenTag() {
    tagTableSelectedRowIndex = -1;
    tagTableView->selectRowOnly(-1);
    tagTimeline->setChosen(-1);
    chosenTagChanged();
}

void TagTableScreen::reselectChosenTag() {
    for (size_t r = 0; r < tagTableData.size(); ++r)
        if (tagTableSelectedRowIndex >= 0 && tagTableData[r]->index == tagTableSelectedRowIndex) {
            tagTableView->selectRowOnly(static_cast<int>(r));
            return;
        }
    tagTableView->selectRowOnly(-1);
}

void TagTableScreen::onFilterUpdate() {
    reloadTagDataTable(true);
}

void TagTableScreen::toggleSortFor(const std::string& identifier) {
    int64_t* field = nullptr;
    if (identifier == prefix_ + "TagTeamCol")
        field = &filterSortData.sort_team;
    else if (identifier == prefix_ + "TagTimeCol")
        field = &filterSortData.sort_tag_time;
    else if (identifier == prefix_ + "TagNameCol")
        field = &filterSortData.sort_tag_name;
    else if (identifier == prefix_ + "TagCommentCol")
        field = &filterSortData.sort_tag_comment;
    if (!field)
        return;
    const int64_t next = *field == 1 ? -1 : 1;
    filterSortData.sort_team = filterSortData.sort_tag_time = filterSortData.sort_tag_name =
        filterSortData.sort_tag_comment = 0;
    *field = next;
}

void TagTableScreen::focusCoding() {
    if (myParent)
        myParent->focusCoding();
}

void TagTableScreen::mediaOpen() {
    if (myParent)
        mediaView()->open([p = myParent](const std::string& url) { p->afterOpenMedia(url); });
}

void TagTableScreen::mediaPlay() {
    if (myParent)
        mediaView()->play();
}

void TagTableScreen::mediaStop() {
    if (currentPlayer())
        currentPlayer()->pause();
}

void TagTableScreen::mediaBackward() {
    if (myParent)
        mediaView()->backward();
}

void TagTableScreen::mediaForward() {
    if (myParent)
        mediaView()->forward();
}

void TagTableScreen::mediaSlow() {
    if (myParent)
        mediaView()->playSlow();
}

void TagTableScreen::updateView() {
    const double h = height();
    QFont arial("Arial");
    arial.setPixelSize(std::max(1, static_cast<int>(h * 0.017)));
    teamA_checkBox->setFont(arial);
    teamB_checkBox->setFont(arial);
    QFont jp("Hiragino Sans GB");
    jp.setPixelSize(std::max(1, static_cast<int>(h * 0.014)));
    tagFilterCombo->setFont(jp);
    setTableFont(tagTableView, jp);
    tagTableView->verticalHeader()->setDefaultSectionSize(std::max(1, static_cast<int>(h * 0.028)));
    fitColumns(tagTableView, jp, timeSample_, labelsWidth());
    // Transport buttons and the time grow with the screen like the text.
    const int icon = std::max(16, static_cast<int>(h * 0.026));
    for (MediaToolButtonView* b : findChildren<MediaToolButtonView*>()) {
        b->setIconSize(QSize(icon, icon));
        b->setMinimumSize(icon + 12, icon + 8);
    }
    mediaTimeLabel->setMinimumHeight(icon + 8);
    tagTimeline->setFixedHeight(std::max(30, static_cast<int>(h * 0.045)));
}

int TagTableScreen::labelsWidth() const {
    if (!labelsShown_)
        return 0;
    // Room for one text of each of the first two groups.
    const QFontMetrics fm(tagTableView->font());
    int widest = fm.horizontalAdvance("成功");
    for (const LabelGroup& g : window_.labels)
        for (const std::string& t : g.texts)
            widest = std::max(widest, fm.horizontalAdvance(QString::fromStdString(t)));
    const int groups = std::clamp(static_cast<int>(window_.labels.size()), 1, 2);
    return groups * widest + (groups - 1) * fm.horizontalAdvance("・") + 16;
}

void TagTableScreen::fitColumns(CustomTableView* table, const QFont& font,
                                const QString& timeSample, int labelsWidth) {
    // Narrow columns fit their title or widest value; the stretching one
    // takes the rest, and the list is never too narrow for the name of any
    // tag button.
    const QFontMetrics fm(font);
    QHeaderView* header = table->horizontalHeader();
    auto widest = [&fm](auto texts) {
        int w = 0;
        for (const char* t : texts)
            w = std::max(w, fm.horizontalAdvance(QString::fromUtf8(t)) + 16);
        return w;
    };
    // While labels show, their column takes the rest in place of the name's:
    // labels of many groups never make the list (and the window) wider than
    // the screen; they are cut, whole in the row's tool tip.
    const char* stretching = labelsWidth > 0 ? "LabelsCol" : "NameCol";
    int total = 0;
    for (int c = 0; c < header->count(); ++c) {
        const std::string id = table->rowModel()->columnIdentifier(c);
        const int content = id.ends_with("TimeCol")     ? fm.horizontalAdvance(timeSample) + 16
                            : id.ends_with("IndexCol")  ? widest(std::array{"00000"})
                            : id.ends_with("NameCol")   ? widest(kTagLabels)
                            : id.ends_with("LabelsCol") ? widest(std::array{"成功"})
                                                        : 0;
        if (header->isSectionHidden(c))
            continue;
        const int w = std::max({header->sectionSizeHint(c), content, 28});
        total += w;
        if (id.ends_with(stretching)) {
            header->setSectionResizeMode(c, QHeaderView::Stretch);
            continue;
        }
        header->setSectionResizeMode(c, QHeaderView::Fixed);
        header->resizeSection(c, w);
    }
    table->setMinimumWidth(total + table->verticalScrollBar()->sizeHint().width() +
                           2 * table->frameWidth());
}

void TagTableScreen::setTableFont(QTableView* table, const QFont& font) {
    table->setFont(font);
    table->horizontalHeader()->setFont(font);
    table->horizontalHeader()->viewport()->setFont(font);
    // Rows are never lower than the row header's text: in this font, not the
    // application's.
    table->verticalHeader()->setFont(font);
}

void TagTableScreen::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateView();
}

void TagTableScreen::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    updateView();
    if (std::exchange(listStale_, false))
        reloadTagDataTable(true);
}
