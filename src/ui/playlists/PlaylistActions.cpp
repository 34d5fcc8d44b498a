// What the playlist panel's buttons do, and the panel's way in from the
// library window.
#include <QBoxLayout>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>

#include "ClipVideoConvertor/ClipViewController.h"
#include "MainViewController.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewController/PlayViewController.h"
#include "client/LibraryClient.h"
#include "platform/AtomicFile.h"
#include "playlists/AddToPlaylist.h"
#include "playlists/PlaylistPanel.h"
#include "playlists/PublishDialog.h"
#include "playlists/PublishedBox.h"
#include "season/LibrarySequence.h"
#include "season/LibraryWindow.h"
#include "workspace/Workspace.h"

using namespace library;

namespace {

// The tag an item was made from, as the screens' rows hold one.
std::shared_ptr<TagRowData> rowOf(const PlaylistItem& i) {
    auto row = std::make_shared<TagRowData>();
    row->team = i.teamA;
    row->time_val = static_cast<float>(i.time);
    row->name = i.code;
    if (i.end)
        row->end = TagEnd::at(static_cast<float>(*i.end));
    return row;
}

std::vector<LibraryMoment> momentsOf(const Playlist& p) {
    std::vector<LibraryMoment> moments;
    for (const PlaylistItem& i : p.items) {
        if (i.to() <= i.from())
            continue;
        LibraryMoment m;
        m.video = i.video;
        m.moment = {i.from(), i.to(), {rowOf(i)}};
        m.position = -1;
        m.time = i.time;
        m.code = i.code;
        moments.push_back(std::move(m));
    }
    return moments;
}

// `ids` with the rows `moved` (ascending) taken out and put back in their
// order before row `before` of `ids`.
std::vector<qint64> movedBefore(const std::vector<qint64>& ids, const std::vector<int>& moved,
                                int before) {
    std::vector<qint64> order, block;
    size_t at = 0;
    for (size_t r = 0; r < ids.size(); ++r) {
        const bool taken = std::binary_search(moved.begin(), moved.end(), static_cast<int>(r));
        (taken ? block : order).push_back(ids[r]);
        if (!taken && static_cast<int>(r) < before)
            at = order.size();
    }
    order.insert(order.begin() + static_cast<std::ptrdiff_t>(at), block.begin(), block.end());
    return order;
}

} // namespace

void PlaylistPanel::onNew() {
    const QString name = nameEdit->text().trimmed();
    if (name.isEmpty()) {
        say("新しいプレイリストの名前を入力してください。");
        return;
    }
    QPointer<PlaylistPanel> self(this);
    client_->createPlaylist(name, [self, name](PlaylistResult result, const QString& error) {
        if (!self)
            return;
        if (result != PlaylistResult::Done) {
            self->say(error);
            return;
        }
        self->say({});
        self->nameEdit->clear();
        // The new one is shown: found by its name once listed.
        self->client_->playlists([self, name](const std::vector<Playlist>& lists, const QString&) {
            if (!self)
                return;
            for (const Playlist& p : lists)
                if (p.name == name)
                    self->showPlaylist(p.id);
        });
    });
}

void PlaylistPanel::onRename() {
    const QString name = nameEdit->text().trimmed();
    if (!playlist_ || name.isEmpty()) {
        say("新しい名前を入力してください。");
        return;
    }
    const Playlist& p = *playlist_;
    send([this, p, name](const Reply& r) { client_->renamePlaylist(p.id, p.revision, name, r); },
         "名前「" + name + "」");
    nameEdit->clear();
}

void PlaylistPanel::onDelete() {
    if (!playlist_)
        return;
    const Playlist& p = *playlist_;
    if (MessageBox(QString("プレイリスト「%1」を削除しますか？").arg(p.name).toStdString(),
                   "削除") != "yes")
        return;
    send([this, p](const Reply& r) { client_->removePlaylist(p.id, p.revision, r); },
         "プレイリストの削除");
}

void PlaylistPanel::onMove(int by) {
    const PlaylistItem* item = chosenItem();
    if (!item)
        return;
    std::vector<qint64> order;
    for (const PlaylistItem& i : playlist_->items)
        order.push_back(i.id);
    const auto at = std::find(order.begin(), order.end(), item->id) - order.begin();
    const auto to = at + by;
    if (to < 0 || to >= static_cast<qsizetype>(order.size()))
        return;
    std::swap(order[static_cast<size_t>(at)], order[static_cast<size_t>(to)]);
    const qint64 id = playlist_->id, revision = playlist_->revision;
    send([this, id, revision,
          order](const Reply& r) { client_->reorderPlaylist(id, revision, order, r); },
         "「" + item->title + "」の移動", item->id);
}

void PlaylistPanel::onDrop(const QPoint& at) {
    if (!playlist_)
        return;
    std::vector<int> rows;
    for (const QModelIndex& r : itemTable->selectionModel()->selectedRows())
        rows.push_back(r.row());
    std::sort(rows.begin(), rows.end());
    std::vector<qint64> ids;
    for (const PlaylistItem& i : playlist_->items)
        ids.push_back(i.id);
    // Above or below the row under the mouse by its half, where the table
    // draws the drop line; past the last row, the end.
    const QModelIndex on = itemTable->indexAt(at);
    const int before = !on.isValid() ? static_cast<int>(ids.size())
                       : at.y() < itemTable->visualRect(on).center().y() ? on.row()
                                                                         : on.row() + 1;
    const std::vector<qint64> order = movedBefore(ids, rows, before);
    if (rows.empty() || order == ids)
        return;
    const PlaylistItem& first = playlist_->items[static_cast<size_t>(rows.front())];
    const qint64 id = playlist_->id, revision = playlist_->revision;
    send([this, id, revision,
          order](const Reply& r) { client_->reorderPlaylist(id, revision, order, r); },
         rows.size() == 1 ? "「" + first.title + "」の移動"
                          : QString("%1件の項目の移動").arg(rows.size()),
         first.id);
}

void PlaylistPanel::onRemoveItems() {
    const std::vector<qint64> doomed = chosenItems();
    if (doomed.empty())
        return;
    if (MessageBox(QString("選択された%1件の項目をプレイリストから削除しますか？")
                       .arg(doomed.size())
                       .toStdString(),
                   "削除") != "yes")
        return;
    const qint64 id = playlist_->id, revision = playlist_->revision;
    send([this, id, revision,
          doomed](const Reply& r) { client_->removePlaylistItems(id, revision, doomed, r); },
         QString("%1件の項目の削除").arg(doomed.size()));
}

void PlaylistPanel::onEdited() {
    const PlaylistItem* item = chosenItem();
    if (filling_ || !item)
        return;
    if (busy_) {
        pendingEdit_ = true;
        return;
    }
    PlaylistItem edited = *item;
    edited.title = itemTitleEdit->text().trimmed();
    edited.note = noteEdit->text();
    edited.lead = leadSpin->value();
    edited.lag = lagSpin->value();
    QStringList lost;
    if (edited.title != item->title)
        lost << "タイトル「" + edited.title + "」";
    if (edited.note != item->note)
        lost << "メモ「" + edited.note + "」";
    if (edited.lead != item->lead || edited.lag != item->lag)
        lost << QString("前 %1 秒・後 %2 秒").arg(edited.lead).arg(edited.lag);
    if (lost.isEmpty())
        return;
    itemTitleEdit->setModified(false);
    noteEdit->setModified(false);
    const qint64 id = playlist_->id;
    send([this, id, edited](const Reply& r) { client_->editPlaylistItem(id, edited, r); },
         lost.join("、"), edited.id);
}

void PlaylistPanel::onPlay() {
    if (sequence->isActive()) {
        sequence->stop();
        return;
    }
    std::vector<LibraryMoment> moments =
        playlist_ ? momentsOf(*playlist_) : std::vector<LibraryMoment>();
    if (moments.empty()) {
        AlertBox("再生する項目がありません。", "お知らせ", "warning");
        return;
    }
    main_->playViewController->endSequence();
    const float rate =
        main_->workspace->slowPlay() ? MediaPlayerView::kSlowRate : MediaPlayerView::kNormalRate;
    if (sequence->start(std::move(moments), rate))
        playButton->setText("停止");
}

void PlaylistPanel::onExport(bool each) {
    sequence->stop();
    const std::vector<LibraryMoment> moments =
        playlist_ ? momentsOf(*playlist_) : std::vector<LibraryMoment>();
    if (moments.empty()) {
        AlertBox("書き出す項目がありません。", "お知らせ", "warning");
        return;
    }
    QPointer<PlaylistPanel> self(this);
    DialogProvider::FilePanel panel{each ? "項目ごとに書き出す" : "ハイライト動画を保存",
                                    {"mp4"},
                                    playlist_->name,
                                    folderOf(moments.front().video)};
    dialogProvider().saveFilePanel(
        this, panel, [self, moments, each](std::optional<std::string> path) {
            if (!self || !path)
                return;
            exportLibraryMoments(self->main_->window(), moments, *path, each);
        });
}

void PlaylistPanel::onPublish() {
    if (!playlist_ || playlist_->items.empty()) {
        AlertBox("公開する項目がありません。", "お知らせ", "warning");
        return;
    }
    auto* dialog = new PublishDialog(*playlist_, client_, this);
    QPointer<PlaylistPanel> self(this);
    connect(dialog, &PublishDialog::published, this, [self](const QString& group) {
        if (!self)
            return;
        self->published->chooseGroup(group);
        self->reloadList();
    });
    dialog->open();
}

PlaylistPanel* showPlaylistPanel(MainViewController* main, QWidget* library) {
    auto* panel = library->findChild<PlaylistPanel*>("playlistPanel");
    if (!panel)
        panel = new PlaylistPanel(main, library);
    panel->show();
    panel->raise();
    panel->activateWindow();
    return panel;
}

void addPlaylistButtons(MainViewController* main, LibraryWindow* window) {
    auto* open = new QPushButton("プレイリスト", window);
    open->setObjectName("libraryPlaylists");
    auto* add = new QPushButton("プレイリストに追加…", window);
    add->setObjectName("libraryAddToPlaylist");
    add->setToolTip("選んだ結果をプレイリストに追加します");
    // Beside 連続再生 and the highlight export.
    QWidget* row = window->exportButton->parentWidget();
    for (QBoxLayout* l : row->findChildren<QBoxLayout*>())
        if (l->indexOf(window->exportButton) >= 0) {
            l->addWidget(add);
            l->addWidget(open);
        }
    window->resultsView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    QObject::connect(open, &QPushButton::clicked, window,
                     [main, window] { showPlaylistPanel(main, window); });
    QObject::connect(add, &QPushButton::clicked, window, [main, window] {
        const auto& hits = window->hitModel()->hits();
        std::vector<PlaylistItem> items;
        QModelIndexList rows = window->resultsView->selectionModel()->selectedRows();
        std::sort(rows.begin(), rows.end());
        for (const QModelIndex& r : rows)
            items.push_back(playlistItem(hits[static_cast<size_t>(r.row())],
                                         main->workspace->lead(), main->workspace->lag(), {}));
        PlaylistChooser* chooser = addToPlaylist(window, main->library(), std::move(items));
        if (chooser)
            QObject::connect(chooser, &PlaylistChooser::added, window, [main, window](qint64 id) {
                showPlaylistPanel(main, window)->showPlaylist(id);
            });
    });
}
