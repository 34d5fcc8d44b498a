#include "season/LibraryWindow.h"

#include <QComboBox>
#include <QDate>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "ClipVideoConvertor/ClipViewController.h"
#include "MainViewController.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewClass/Style.h"
#include "SubViewController/PlayViewController.h"
#include "client/LibraryClient.h"
#include "player/MediaProbe.h"
#include "player/Player.h"
#include "playlists/PlaylistPanel.h"
#include "report/LibraryReportTags.h"
#include "report/MatchReportExport.h"
#include "review/MomentSequence.h"
#include "tags/TableModels.h"
#include "text/TimeText.h"
#include "ui_LibraryWindow.h"
#include "workspace/Workspace.h"

using namespace library;

namespace {

constexpr const char* kAllMatches = "すべての試合";
constexpr const char* kAnyCode = "すべてのコード";

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

// For the window's own controls only: the file panels it opens keep Qt's look.
QString darkStyle() {
    return QString("QWidget#libraryBody { background-color: %1; }"
                   "QLabel { color: #e8eef2; }"
                   "QLineEdit, QComboBox, QListWidget { background-color: #27343b;"
                   " color: white; border: 1px solid #4a5a63; border-radius: 3px; padding: 2px; }"
                   "QComboBox QAbstractItemView { background-color: #27343b; color: white;"
                   " selection-background-color: #2f6f9f; }"
                   "QPushButton { background-color: #3d5360; color: white; border: none;"
                   " border-radius: 4px; padding: 4px 8px; }"
                   "QPushButton:hover { background-color: #4b6575; }"
                   "QPushButton:disabled { color: #8a979f; }")
               .arg(Style::panel().name()) +
           Style::table();
}

} // namespace

// ---- The hits

void LibraryHitModel::setHits(std::vector<Hit> hits) {
    beginResetModel();
    hits_ = std::move(hits);
    endResetModel();
}

int LibraryHitModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(hits_.size());
}

int LibraryHitModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 6;
}

QString LibraryHitModel::matchText(const QString& title, const QString& date) {
    return date.isEmpty() ? title : date + " " + title;
}

QVariant LibraryHitModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Hit& h = hits_[static_cast<size_t>(index.row())];
    if (role == Qt::ToolTipRole) {
        if (index.column() == 0)
            return h.matchProblem.isEmpty() ? text(h.video) : text(h.video) + "\n" + h.matchProblem;
        if (index.column() == 4 && !h.labels.empty())
            return TagTableModel::labelPairs(h.labels);
        if (index.column() == 5 && !h.comment.empty())
            return text(h.comment);
        return {};
    }
    if (role == Qt::TextAlignmentRole && (index.column() == 1 || index.column() == 2))
        return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case 0:
        return matchText(h.title, h.date);
    case 1: {
        // Where the match has periods, the time as the analyst reads it.
        if (h.hasPeriods)
            return h.matchTime;
        QString t = text(createTimeString(static_cast<float>(h.time)));
        if (h.end)
            t += "–" + text(createTimeString(static_cast<float>(*h.end)));
        return t;
    }
    case 2:
        if (const QString& name = h.teams[h.teamA ? 0 : 1]; !name.isEmpty())
            return name;
        return h.teamA ? "A" : "B";
    case 3:
        return text(h.code);
    case 4:
        return TagTableModel::labelTexts(h.labels);
    case 5:
        // One line in the table; the whole comment in the tool tip.
        return text(h.comment).simplified();
    }
    return {};
}

QVariant LibraryHitModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const char* const titles[] = {"試合", "時刻", "チーム", "コード", "ラベル", "コメント"};
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 6)
        return QString(titles[section]);
    return {};
}

// ---- The window

LibraryWindow::LibraryWindow(MainViewController* main, QWidget* parent)
    : QWidget(parent, Qt::Window), main_(main), model_(new LibraryHitModel(this)),
      ui_(std::make_unique<Ui::LibraryWindow>()) {
    ui_->setupUi(this);
    folderList = ui_->libraryFolderList;
    addFolderButton = ui_->libraryAddFolder;
    rescanButton = ui_->libraryRescan;
    scanReportLabel = ui_->libraryScanReport;
    codeCombo = ui_->libraryCodeFilter;
    teamCombo = ui_->libraryTeamFilter;
    labelEdit = ui_->libraryLabelFilter;
    commentEdit = ui_->libraryCommentFilter;
    matchCombo = ui_->libraryMatchFilter;
    dateFromEdit = ui_->libraryDateFrom;
    dateToEdit = ui_->libraryDateTo;
    problemLabel = ui_->libraryProblem;
    resultsView = ui_->libraryResults;
    countLabel = ui_->libraryCount;
    sequenceButton = ui_->librarySequencePlay;
    exportButton = ui_->libraryHighlightExport;
    reportButton = ui_->libraryMatchReport;
    ui_->libraryBody->setAttribute(Qt::WA_StyledBackground);
    ui_->libraryBody->setStyleSheet(darkStyle());
    codeCombo->lineEdit()->setPlaceholderText(kAnyCode);
    matchCombo->addItem(kAllMatches);
    problemLabel->hide();
    resultsView->setModel(model_);
    QHeaderView* header = resultsView->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    const int widths[] = {220, 110, 56, 130, 150};
    for (int c = 0; c < 5; ++c)
        resultsView->setColumnWidth(c, widths[c]);
    // A range ("1:00:00–1:00:04") whole, however long the match.
    header->setSectionResizeMode(1, QHeaderView::ResizeToContents);

    sequence = new LibrarySequence(main_, this);
    connect(sequence, &LibrarySequence::ended, this,
            [this] { sequenceButton->setText("連続再生"); });
    connect(sequence, &LibrarySequence::momentStarted, this, [this](int index) {
        const auto& m = sequence->moments()[static_cast<size_t>(index)];
        if (!m.hits.empty())
            resultsView->selectRow(static_cast<int>(m.hits.front()));
    });

    searchDelay_.setSingleShot(true);
    searchDelay_.setInterval(kSearchDelayMs);
    connect(&searchDelay_, &QTimer::timeout, this, &LibraryWindow::search);
    connect(codeCombo, &QComboBox::currentTextChanged, this, &LibraryWindow::searchSoon);
    connect(teamCombo, &QComboBox::currentIndexChanged, this, &LibraryWindow::searchSoon);
    connect(matchCombo, &QComboBox::currentIndexChanged, this, &LibraryWindow::searchSoon);
    connect(labelEdit, &QLineEdit::textChanged, this, &LibraryWindow::searchSoon);
    connect(commentEdit, &QLineEdit::textChanged, this, &LibraryWindow::searchSoon);
    connect(dateFromEdit, &QLineEdit::textChanged, this, &LibraryWindow::searchSoon);
    connect(dateToEdit, &QLineEdit::textChanged, this, &LibraryWindow::searchSoon);
    connect(addFolderButton, &QPushButton::clicked, this, &LibraryWindow::onAddFolder);
    connect(rescanButton, &QPushButton::clicked, this, &LibraryWindow::onRescan);
    connect(sequenceButton, &QPushButton::clicked, this, &LibraryWindow::onSequencePlay);
    connect(exportButton, &QPushButton::clicked, this, &LibraryWindow::onHighlightExport);
    connect(reportButton, &QPushButton::clicked, this, &LibraryWindow::onMatchReport);
    connect(resultsView, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { openResult(index.row()); });
    addPlaylistButtons(main_, this);

    LibraryClient* lib = main_->library();
    connect(lib, &LibraryClient::changed, this, [this] {
        if (isVisible()) {
            refreshLists();
            search();
        }
    });
    connect(lib, &LibraryClient::stateChanged, this, [this, lib] {
        showProblem(lib->problem());
        if (lib->isOpen() && isVisible())
            refreshLists();
    });
}

LibraryWindow::~LibraryWindow() = default;

void LibraryWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!opened_) {
        opened_ = true;
        main_->library()->open();
    }
    showProblem(main_->library()->problem());
    refreshLists();
    search();
}

void LibraryWindow::showProblem(const QString& text) {
    problemLabel->setText(text);
    problemLabel->setVisible(!text.isEmpty());
}

Query LibraryWindow::query(QString* problem) const {
    Query q;
    const QString code = codeCombo->currentText().trimmed();
    if (code != kAnyCode)
        q.code = code.toStdString();
    if (teamCombo->currentIndex() > 0)
        q.teamA = teamCombo->currentIndex() == 1;
    // Conditions are apart by spaces; a word with no = after one continues
    // its text, so a player's "選手=12 山田" is typed as it reads.
    static const QRegularExpression spaces("[\\s\\x{3000}]+");
    bool continues = false; // the last word began a condition or continued one
    for (const QString& pair : labelEdit->text().split(spaces, Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf(QRegularExpression("[=＝]"));
        if (eq < 0 && continues) {
            q.labels.back().second += " " + pair.toStdString();
            continue;
        }
        continues = eq > 0 && eq < pair.size() - 1;
        if (!continues) {
            if (problem)
                *problem = "ラベルは「グループ=テキスト」の形で入力してください: " + pair;
            continue;
        }
        q.labels.emplace_back(pair.left(eq).toStdString(), pair.mid(eq + 1).toStdString());
    }
    q.text = commentEdit->text().trimmed().toStdString();
    if (matchCombo->currentIndex() > 0)
        q.match = matchCombo->currentData().toLongLong();
    for (auto [box, into] :
         {std::pair{dateFromEdit, &q.dateFrom}, std::pair{dateToEdit, &q.dateTo}}) {
        *into = dateOf(box->text());
        if (into->isNull() && problem)
            *problem = "日付は 2026-09-06 の形で入力してください: " + box->text().trimmed();
    }
    return q;
}

QString LibraryWindow::dateOf(const QString& typed) {
    const QString t = typed.trimmed();
    if (t.isEmpty())
        return QString("");
    for (const char* format : {"yyyy-MM-dd", "yyyy/MM/dd", "yyyyMMdd", "yyyy-M-d", "yyyy/M/d"}) {
        const QDate d = QDate::fromString(t, format);
        if (d.isValid())
            return d.toString("yyyy-MM-dd");
    }
    return {};
}

void LibraryWindow::searchSoon() {
    searchDelay_.start();
}

void LibraryWindow::search() {
    searchDelay_.stop();
    QString problem;
    const Query q = query(&problem);
    const int serial = ++searchSerial_;
    QPointer<LibraryWindow> self(this);
    main_->library()->search(
        q, [self, serial, problem](const std::vector<Hit>& hits, const QString& error) {
            if (!self || serial != self->searchSerial_)
                return; // a newer search is on its way
            self->model_->setHits(hits);
            self->countLabel->setText(QString("%1件").arg(hits.size()));
            self->showProblem(!error.isEmpty() ? error : problem);
            ++self->searchesDone_;
        });
}

void LibraryWindow::refreshLists() {
    QPointer<LibraryWindow> self(this);
    LibraryClient* lib = main_->library();
    lib->folders([self](const QStringList& folders) {
        if (!self)
            return;
        self->folderList->clear();
        self->folderList->addItems(folders);
    });
    lib->matches([self](const std::vector<Match>& matches, const QString&) {
        if (!self)
            return;
        QComboBox* combo = self->matchCombo;
        const QVariant chosen = combo->currentData();
        const QSignalBlocker quiet(combo);
        combo->clear();
        combo->addItem(kAllMatches);
        for (const Match& m : matches)
            combo->addItem(LibraryHitModel::matchText(m.title, m.date), m.id);
        combo->setCurrentIndex(std::max(0, combo->findData(chosen)));
    });
    // The codes found anywhere in the library, for the code filter's list.
    lib->search(Query{}, [self](const std::vector<Hit>& hits, const QString&) {
        if (!self)
            return;
        std::set<std::string> codes;
        for (const Hit& h : hits)
            codes.insert(h.code);
        QComboBox* combo = self->codeCombo;
        const QString typed = combo->currentText();
        const QSignalBlocker quiet(combo);
        combo->clear();
        combo->addItem(kAnyCode);
        for (const std::string& c : codes)
            combo->addItem(text(c));
        const int at = combo->findText(typed);
        if (at >= 0)
            combo->setCurrentIndex(at);
        else
            combo->setEditText(typed);
    });
}

QString LibraryWindow::scanReportText(const ScanReport& r) {
    QString t = QString("追加 %1件、更新 %2件、変更なし %3件、削除 %4件、スキップ %5件")
                    .arg(r.added)
                    .arg(r.updated)
                    .arg(r.unchanged)
                    .arg(r.removed)
                    .arg(r.skipped.size());
    for (const auto& [path, reason] : r.skipped)
        t += "\n・" + QFileInfo(text(path)).fileName() + ": " + reason;
    return t;
}

void LibraryWindow::scanned(const ScanReport& report, const QString& error) {
    scanReportLabel->setText(error.isEmpty() ? scanReportText(report) : error);
    addFolderButton->setEnabled(true);
    rescanButton->setEnabled(true);
    refreshLists();
    search();
}

void LibraryWindow::onAddFolder() {
    QPointer<LibraryWindow> self(this);
    DialogProvider::FilePanel panel{"ライブラリに追加するフォルダー", {}, {}};
    panel.chooseFolder = true;
    dialogProvider().openFilePanel(this, panel, [self](std::optional<std::string> path) {
        if (!self || !path)
            return;
        self->addFolderButton->setEnabled(false);
        self->rescanButton->setEnabled(false);
        self->scanReportLabel->setText("スキャンしています…");
        self->main_->library()->addFolders({text(*path)},
                                           [self](const ScanReport& report, const QString& error) {
                                               if (self)
                                                   self->scanned(report, error);
                                           });
    });
}

void LibraryWindow::onRescan() {
    QPointer<LibraryWindow> self(this);
    addFolderButton->setEnabled(false);
    rescanButton->setEnabled(false);
    scanReportLabel->setText("スキャンしています…");
    main_->library()->scan([self](const ScanReport& report, const QString& error) {
        if (self)
            self->scanned(report, error);
    });
}

void LibraryWindow::openResult(int row) {
    const auto& hits = model_->hits();
    if (row < 0 || row >= static_cast<int>(hits.size()))
        return;
    sequence->stop();
    const Hit& h = hits[static_cast<size_t>(row)];
    main_->libraryLink()->openAtTag(h.video, h.position, h.time, h.code);
}

std::vector<LibraryMoment> LibraryWindow::resultMoments(bool lengths) const {
    // 前 and 後, and the chosen code window's own.
    const Workspace* shared = main_->workspace;
    const CodeWindow* window = &shared->codeWindow();
    std::function<double(const std::string&)> length;
    if (lengths)
        length = [](const std::string& video) { return mediaLength(video); };
    return libraryMoments(model_->hits(), shared->lead(), shared->lag(), window, length);
}

void LibraryWindow::onSequencePlay() {
    if (sequence->isActive()) {
        sequence->stop();
        return;
    }
    std::vector<LibraryMoment> moments = resultMoments(false);
    if (moments.empty()) {
        AlertBox(model_->hits().empty()
                     ? "再生するタグがありません。"
                     : "一覧のタグの場面は、どれも長さが0です。再生モードの前と後の秒数を確かめて"
                       "ください。",
                 "お知らせ", "warning");
        return;
    }
    main_->playViewController->endSequence();
    const float rate =
        main_->workspace->slowPlay() ? MediaPlayerView::kSlowRate : MediaPlayerView::kNormalRate;
    if (sequence->start(std::move(moments), rate))
        sequenceButton->setText("停止");
}

void LibraryWindow::onHighlightExport() {
    sequence->stop();
    if (model_->hits().empty()) {
        AlertBox("出力するタグがありません。", "お知らせ", "warning");
        return;
    }
    QPointer<LibraryWindow> self(this);
    DialogProvider::FilePanel panel{
        "ハイライト動画を保存", {"mp4"}, "Highlight", folderOf(model_->hits().front().video)};
    dialogProvider().saveFilePanel(this, panel, [self](std::optional<std::string> path) {
        if (!self || !path)
            return;
        const std::vector<LibraryMoment> moments = self->resultMoments(true);
        if (moments.empty()) {
            AlertBox("一覧のタグの場面は、どれも長さが0です。再生モードの前と後の秒数を確かめて"
                     "ください。",
                     "お知らせ", "warning");
            return;
        }
        exportLibraryMoments(self->main_->window(), moments, *path, false);
    });
}

void LibraryWindow::onMatchReport() {
    if (model_->hits().empty()) {
        AlertBox("出力するデータがありません。", "お知らせ", "warning");
        return;
    }
    QPointer<LibraryWindow> self(this);
    const Query q = query();
    DialogProvider::FilePanel panel{
        "試合レポートを保存", {"pdf"}, "試合レポート", folderOf(model_->hits().front().video)};
    dialogProvider().saveFilePanel(this, panel, [self, q](std::optional<std::string> path) {
        if (!self || !path || path->empty())
            return;
        // The tags afresh, off this thread as every search.
        self->reportButton->setEnabled(false);
        self->main_->library()->search(q, [self, chosen = *path](const std::vector<Hit>& hits,
                                                                 const QString& error) {
            if (!self)
                return;
            self->reportButton->setEnabled(true);
            if (!error.isEmpty()) {
                AlertBox(error.toStdString(), "失敗", "error");
                return;
            }
            if (hits.empty()) {
                AlertBox("出力するデータがありません。", "お知らせ", "warning");
                return;
            }
            std::set<std::string> videos;
            for (const Hit& h : hits)
                videos.insert(h.video);
            const QString pdf = reportPdfPath(chosen, {videos.begin(), videos.end()});
            if (pdf.isEmpty())
                return;
            const ReportTags found = reportTags(hits);
            const MatchReport figures = reportFigures(found, &self->main_->workspace->codeWindow());
            writeReportFiles(report::reportDocument(figures, found.title), pdf);
        });
    });
}
