#include "playlists/PlaylistPanel.h"

#include <QBoxLayout>
#include <QDoubleSpinBox>
#include <QDropEvent>
#include <QFormLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <algorithm>
#include <set>

#include "MainViewController.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/Style.h"
#include "client/LibraryClient.h"
#include "playlists/AddToPlaylist.h"
#include "playlists/PublishDialog.h"
#include "playlists/PublishedBox.h"
#include "season/LibrarySequence.h"
#include "season/LibraryWindow.h"

using namespace library;

namespace {

QPushButton* button(const char* text, const char* id, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(id);
    return b;
}

QDoubleSpinBox* secondsBox(const char* id, QWidget* parent) {
    auto* box = new QDoubleSpinBox(parent);
    box->setObjectName(id);
    box->setRange(0.0, 60.0);
    box->setDecimals(1);
    box->setSingleStep(0.5);
    box->setSuffix(" 秒");
    box->setKeyboardTracking(false);
    return box;
}

// The library window's look, for the panel's own controls only: the dialogs
// it opens keep Qt's.
QString darkStyle() {
    return QString("QWidget#playlistBody { background-color: %1; }"
                   "QLabel { color: #e8eef2; }"
                   "QLineEdit, QPlainTextEdit, QComboBox, QListWidget {"
                   " background-color: #27343b; color: white; border: 1px solid #4a5a63;"
                   " border-radius: 3px; padding: 2px; }"
                   "QLineEdit:disabled { color: #8a979f; }"
                   "QListWidget::item:selected { background-color: #2f6f9f; }"
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

PlaylistPanel::PlaylistPanel(MainViewController* main, QWidget* parent)
    : QWidget(parent, Qt::Window), main_(main), client_(main->library()) {
    setObjectName("playlistPanel");
    setWindowTitle("プレイリスト");
    resize(1260, 680);
    auto* body = new QWidget(this);
    body->setObjectName("playlistBody");
    body->setAttribute(Qt::WA_StyledBackground);
    body->setStyleSheet(darkStyle());
    auto* split = new QSplitter(body);
    split->addWidget(makeListColumn());
    split->addWidget(makeItemColumn());
    published = new PublishedBox(this);
    split->addWidget(published);
    split->setSizes({250, 710, 300});
    auto* inner = new QHBoxLayout(body);
    inner->addWidget(split);
    auto* l = new QHBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(body);

    sequence = new LibrarySequence(main_, this);
    connect(sequence, &LibrarySequence::ended, this, [this] { playButton->setText("連続再生"); });
    connect(sequence, &LibrarySequence::momentStarted, this,
            [this](int index) { itemTable->selectRow(index); });
    connect(client_, &LibraryClient::changed, this, [this] {
        if (isVisible())
            reloadList();
    });
    connect(published, &PublishedBox::revoked, this, [this](const QString& text) { say(text); });
}

QWidget* PlaylistPanel::makeListColumn() {
    auto* column = new QWidget(this);
    auto* l = new QVBoxLayout(column);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(new QLabel("プレイリスト", column));
    playlistList = new QListWidget(column);
    playlistList->setObjectName("playlistList");
    playlistList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    l->addWidget(playlistList, 1);
    nameEdit = new QLineEdit(column);
    nameEdit->setObjectName("playlistName");
    nameEdit->setPlaceholderText("プレイリストの名前");
    l->addWidget(nameEdit);
    auto* row = new QHBoxLayout;
    newButton = button("新規", "playlistNew", column);
    renameButton = button("名前変更", "playlistRename", column);
    deleteButton = button("削除", "playlistDelete", column);
    for (QPushButton* b : {newButton, renameButton, deleteButton})
        row->addWidget(b);
    l->addLayout(row);
    connect(newButton, &QPushButton::clicked, this, &PlaylistPanel::onNew);
    connect(renameButton, &QPushButton::clicked, this, &PlaylistPanel::onRename);
    connect(deleteButton, &QPushButton::clicked, this, &PlaylistPanel::onDelete);
    connect(nameEdit, &QLineEdit::returnPressed, this, &PlaylistPanel::onNew);
    connect(playlistList, &QListWidget::currentRowChanged, this, [this](int row) {
        if (QListWidgetItem* item = playlistList->item(row))
            load(item->data(Qt::UserRole).toLongLong());
    });
    return column;
}

QWidget* PlaylistPanel::makeItemColumn() {
    auto* column = new QWidget(this);
    auto* l = new QVBoxLayout(column);
    l->setContentsMargins(0, 0, 0, 0);
    titleLabel = new QLabel(column);
    titleLabel->setStyleSheet("font-weight: bold; font-size: 15px;");
    l->addWidget(titleLabel);
    messageLabel = new QLabel(column);
    messageLabel->setObjectName("playlistMessage");
    messageLabel->setWordWrap(true);
    messageLabel->setStyleSheet("color: #ffd27a;");
    messageLabel->hide();
    l->addWidget(messageLabel);
    itemTable = new QTableWidget(0, 6, column);
    itemTable->setObjectName("playlistItems");
    itemTable->setHorizontalHeaderLabels(
        {"タイトル", "試合", "試合時間", "コード", "チーム", "メモ"});
    itemTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    itemTable->setSelectionMode(QAbstractItemView::ExtendedSelection);
    itemTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    itemTable->verticalHeader()->hide();
    itemTable->horizontalHeader()->setStretchLastSection(true);
    itemTable->setStyleSheet(Style::table());
    const int widths[] = {150, 150, 80, 90, 60};
    for (int c = 0; c < 5; ++c)
        itemTable->setColumnWidth(c, widths[c]);
    itemTable->installEventFilter(this);
    // Rows are dragged to their place: the drop becomes a reorder
    // (eventFilter), the table moves nothing itself.
    itemTable->setDragEnabled(true);
    itemTable->setDragDropMode(QAbstractItemView::InternalMove);
    itemTable->setDragDropOverwriteMode(false);
    itemTable->setDropIndicatorShown(true);
    itemTable->viewport()->installEventFilter(this);
    l->addWidget(itemTable, 1);
    connect(itemTable, &QTableWidget::itemSelectionChanged, this, &PlaylistPanel::fillForm);

    auto* row = new QHBoxLayout;
    upButton = button("↑", "playlistUp", column);
    downButton = button("↓", "playlistDown", column);
    upButton->setToolTip("上へ (Ctrl+↑)");
    upButton->setFixedWidth(44);
    downButton->setFixedWidth(44);
    downButton->setToolTip("下へ (Ctrl+↓)");
    removeButton = button("項目を削除", "playlistRemoveItems", column);
    playButton = button("連続再生", "playlistPlay", column);
    exportButton = button("ハイライト書き出し…", "playlistExport", column);
    exportEachButton = button("項目ごとに書き出し…", "playlistExportEach", column);
    publishButton = button("公開…", "playlistPublish", column);
    for (QPushButton* b : {upButton, downButton, removeButton})
        row->addWidget(b);
    row->addStretch(1);
    for (QPushButton* b : {playButton, exportButton, exportEachButton, publishButton})
        row->addWidget(b);
    l->addLayout(row);
    l->addWidget(makeItemForm());
    connect(upButton, &QPushButton::clicked, this, [this] { onMove(-1); });
    connect(downButton, &QPushButton::clicked, this, [this] { onMove(1); });
    connect(removeButton, &QPushButton::clicked, this, &PlaylistPanel::onRemoveItems);
    connect(playButton, &QPushButton::clicked, this, &PlaylistPanel::onPlay);
    connect(exportButton, &QPushButton::clicked, this, [this] { onExport(false); });
    connect(exportEachButton, &QPushButton::clicked, this, [this] { onExport(true); });
    connect(publishButton, &QPushButton::clicked, this, &PlaylistPanel::onPublish);
    return column;
}

QWidget* PlaylistPanel::makeItemForm() {
    auto* form = new QWidget(this);
    auto* f = new QFormLayout(form);
    f->setContentsMargins(0, 0, 0, 0);
    itemTitleEdit = new QLineEdit(form);
    itemTitleEdit->setObjectName("playlistItemTitle");
    noteEdit = new QLineEdit(form);
    noteEdit->setObjectName("playlistItemNote");
    noteEdit->setPlaceholderText("コーチングポイント");
    leadSpin = secondsBox("playlistItemLead", form);
    lagSpin = secondsBox("playlistItemLag", form);
    auto* seconds = new QHBoxLayout;
    seconds->addWidget(new QLabel("前", form));
    seconds->addWidget(leadSpin);
    seconds->addWidget(new QLabel("後", form));
    seconds->addWidget(lagSpin);
    seconds->addStretch(1);
    f->addRow("タイトル", itemTitleEdit);
    f->addRow("メモ", noteEdit);
    f->addRow("場面", seconds);
    for (QLineEdit* e : {itemTitleEdit, noteEdit})
        connect(e, &QLineEdit::editingFinished, this, &PlaylistPanel::onEdited);
    for (QDoubleSpinBox* s : {leadSpin, lagSpin})
        connect(s, &QDoubleSpinBox::valueChanged, this, &PlaylistPanel::onEdited);
    return form;
}

// Destroyed with its parent (the application closing), a field's focus
// leaves as the window closes: its edit must not reach this half-destroyed
// panel nor the library client, which may already be gone.
PlaylistPanel::~PlaylistPanel() {
    for (QObject* field : {static_cast<QObject*>(itemTitleEdit), static_cast<QObject*>(noteEdit),
                           static_cast<QObject*>(leadSpin), static_cast<QObject*>(lagSpin)})
        if (field)
            disconnect(field, nullptr, this, nullptr);
}

void PlaylistPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    client_->open();
    reloadList();
}

bool PlaylistPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Drop && watched == itemTable->viewport()) {
        auto* drop = static_cast<QDropEvent*>(event);
        if (drop->source() == itemTable)
            onDrop(drop->position().toPoint());
        // Not a move for the view, which would take the dragged rows out:
        // the reload shows the new order.
        drop->setDropAction(Qt::IgnoreAction);
        drop->accept();
        return true;
    }
    if (watched == itemTable && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() == Qt::ControlModifier &&
            (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down)) {
            onMove(key->key() == Qt::Key_Up ? -1 : 1);
            return true;
        }
        if (key->key() == Qt::Key_Delete) {
            onRemoveItems();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void PlaylistPanel::say(const QString& text) {
    messageLabel->setText(text);
    messageLabel->setVisible(!text.isEmpty());
}

QString PlaylistPanel::conflictMessage(const QString& lost) {
    QString t = "ほかの人が先にこのプレイリストを変えたため、この変更は保存されませんでした。"
                "最新の内容を読み直して表示しています。";
    if (!lost.isEmpty())
        t += "\n保存されなかった変更: " + lost;
    return t;
}

void PlaylistPanel::showPlaylist(qint64 id) {
    wanted_ = id;
    reloadList();
}

void PlaylistPanel::reloadList() {
    QPointer<PlaylistPanel> self(this);
    client_->playlists([self](const std::vector<Playlist>& lists, const QString& error) {
        if (!self)
            return;
        if (!error.isEmpty())
            self->say(error);
        const qint64 shown = self->wanted_     ? self->wanted_
                             : self->playlist_ ? self->playlist_->id
                                               : 0;
        self->wanted_ = 0;
        QListWidget* list = self->playlistList;
        const QSignalBlocker quiet(list);
        list->clear();
        int chosen = lists.empty() ? -1 : 0;
        for (const Playlist& p : lists) {
            auto* item =
                new QListWidgetItem(QString("%1（%2）").arg(p.name).arg(p.itemCount), list);
            item->setData(Qt::UserRole, p.id);
            if (p.id == shown)
                chosen = list->count() - 1;
        }
        list->setCurrentRow(chosen);
        if (chosen >= 0)
            self->load(lists[static_cast<size_t>(chosen)].id);
        else {
            self->busy_ = false;
            self->playlist_.reset();
            self->fillItems();
        }
    });
}

void PlaylistPanel::load(qint64 id) {
    QPointer<PlaylistPanel> self(this);
    const int serial = ++loadSerial_;
    client_->loadPlaylist(id,
                          [self, serial](const std::optional<Playlist>& p, const QString& error) {
                              if (!self || serial != self->loadSerial_)
                                  return;
                              if (!error.isEmpty())
                                  self->say(error);
                              self->playlist_ = p;
                              self->busy_ = false;
                              self->fillItems();
                              ++self->loadsDone_;
                              if (std::exchange(self->pendingEdit_, false))
                                  self->onEdited();
                          });
}

void PlaylistPanel::fillItems() {
    const qint64 keep = keepItem_ ? keepItem_ : chosenItem() ? chosenItem()->id : 0;
    keepItem_ = 0;
    const QSignalBlocker quiet(itemTable);
    itemTable->setRowCount(0);
    titleLabel->setText(playlist_ ? playlist_->name : QString());
    int chosen = -1;
    if (playlist_) {
        itemTable->setRowCount(static_cast<int>(playlist_->items.size()));
        for (int r = 0; r < itemTable->rowCount(); ++r) {
            const PlaylistItem& i = playlist_->items[static_cast<size_t>(r)];
            const QString cells[] = {i.title,
                                     LibraryHitModel::matchText(i.matchTitle, i.matchDate),
                                     i.matchTime,
                                     QString::fromStdString(i.code),
                                     i.teamA ? "A" : "B",
                                     i.note.simplified()};
            for (int c = 0; c < 6; ++c) {
                auto* cell = new QTableWidgetItem(cells[c]);
                // Dropped between rows, never onto one.
                cell->setFlags(cell->flags() & ~Qt::ItemIsDropEnabled);
                itemTable->setItem(r, c, cell);
            }
            if (i.id == keep)
                chosen = r;
        }
    }
    if (chosen >= 0)
        itemTable->selectRow(chosen);
    for (QWidget* w : std::initializer_list<QWidget*>{
             renameButton, deleteButton, playButton, exportButton, exportEachButton, publishButton})
        w->setEnabled(playlist_.has_value());
    published->setPlaylist(playlist_);
    fillForm();
}

const PlaylistItem* PlaylistPanel::chosenItem() const {
    const QModelIndexList rows = itemTable->selectionModel()->selectedRows();
    if (!playlist_ || rows.size() != 1)
        return nullptr;
    const auto r = static_cast<size_t>(rows.front().row());
    return r < playlist_->items.size() ? &playlist_->items[r] : nullptr;
}

std::vector<qint64> PlaylistPanel::chosenItems() const {
    std::vector<qint64> ids;
    if (!playlist_)
        return ids;
    for (const QModelIndex& r : itemTable->selectionModel()->selectedRows())
        if (static_cast<size_t>(r.row()) < playlist_->items.size())
            ids.push_back(playlist_->items[static_cast<size_t>(r.row())].id);
    return ids;
}

void PlaylistPanel::fillForm() {
    const PlaylistItem* item = chosenItem();
    // What is typed and not yet sent stays, whatever reload comes.
    const bool same = item && item->id == formItem_;
    formItem_ = item ? item->id : 0;
    filling_ = true;
    for (QWidget* w : std::initializer_list<QWidget*>{itemTitleEdit, noteEdit, leadSpin, lagSpin,
                                                      upButton, downButton})
        w->setEnabled(item != nullptr);
    removeButton->setEnabled(!chosenItems().empty());
    if (!(same && (pendingEdit_ || itemTitleEdit->isModified())))
        itemTitleEdit->setText(item ? item->title : QString());
    if (!(same && (pendingEdit_ || noteEdit->isModified())))
        noteEdit->setText(item ? item->note : QString());
    if (!(same && pendingEdit_)) {
        leadSpin->setValue(item ? item->lead : 0.0);
        lagSpin->setValue(item ? item->lag : 0.0);
    }
    filling_ = false;
}

void PlaylistPanel::send(const std::function<void(const Reply&)>& change, const QString& lost,
                         qint64 keepItem) {
    QPointer<PlaylistPanel> self(this);
    busy_ = true;
    change([self, lost, keepItem](PlaylistResult result, const QString& error) {
        if (!self)
            return;
        self->keepItem_ = keepItem;
        if (result == PlaylistResult::Done)
            self->say({});
        else
            self->say(result == PlaylistResult::Conflict ? conflictMessage(lost) : error);
        self->reloadList();
    });
}
