#include "playlists/AddToPlaylist.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "MainViewController.h"
#include "SubViewClass/CustomAlert.h"
#include "client/LibraryClient.h"
#include "workspace/Workspace.h"

using namespace library;

namespace {

constexpr const char* kNewPlaylist = "新しいプレイリスト";

QString canonical(const std::string& path) {
    const QFileInfo f(QString::fromStdString(path));
    return f.exists() ? f.canonicalFilePath() : f.absoluteFilePath();
}

} // namespace

PlaylistChooser::PlaylistChooser(QWidget* parent, LibraryClient* client,
                                 std::vector<PlaylistItem> items)
    : QDialog(parent), client_(client), items_(std::move(items)) {
    setObjectName("playlistChooser");
    setWindowTitle("プレイリストに追加");
    setAttribute(Qt::WA_DeleteOnClose);
    auto* l = new QVBoxLayout(this);
    l->addWidget(new QLabel(QString("%1件の場面を追加します。").arg(items_.size()), this));
    auto* form = new QFormLayout;
    playlistCombo = new QComboBox(this);
    playlistCombo->setObjectName("playlistChooserCombo");
    playlistCombo->addItem(kNewPlaylist);
    form->addRow("追加先", playlistCombo);
    nameEdit = new QLineEdit(this);
    nameEdit->setObjectName("playlistChooserName");
    nameEdit->setPlaceholderText("新しいプレイリストの名前");
    form->addRow("名前", nameEdit);
    l->addLayout(form);
    problemLabel = new QLabel(this);
    problemLabel->setWordWrap(true);
    problemLabel->setStyleSheet("color: #c03030;");
    problemLabel->hide();
    l->addWidget(problemLabel);
    auto* buttons = new QDialogButtonBox(this);
    addButton = buttons->addButton("追加", QDialogButtonBox::AcceptRole);
    addButton->setObjectName("playlistChooserAdd");
    buttons->addButton("キャンセル", QDialogButtonBox::RejectRole);
    l->addWidget(buttons);
    connect(addButton, &QPushButton::clicked, this, &PlaylistChooser::onAdd);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(playlistCombo, &QComboBox::currentIndexChanged, this,
            [this](int at) { nameEdit->setEnabled(at == playlistCombo->count() - 1); });

    // The playlists come from the library's thread; the newest first offered.
    QPointer<PlaylistChooser> self(this);
    client_->playlists([self](const std::vector<Playlist>& lists, const QString& error) {
        if (!self)
            return;
        if (!error.isEmpty())
            self->fail(error);
        for (const Playlist& p : lists)
            self->playlistCombo->insertItem(self->playlistCombo->count() - 1, p.name);
        self->playlistCombo->setCurrentIndex(0);
    });
}

void PlaylistChooser::fail(const QString& text) {
    problemLabel->setText(text);
    problemLabel->show();
    addButton->setEnabled(true);
}

void PlaylistChooser::onAdd() {
    const bool fresh = playlistCombo->currentIndex() == playlistCombo->count() - 1;
    const QString name = fresh ? nameEdit->text().trimmed() : playlistCombo->currentText();
    if (name.isEmpty()) {
        fail("新しいプレイリストの名前を入力してください。");
        return;
    }
    addButton->setEnabled(false);
    if (!fresh) {
        appendTo(name, 3);
        return;
    }
    QPointer<PlaylistChooser> self(this);
    client_->createPlaylist(name, [self, name](PlaylistResult result, const QString& error) {
        if (!self)
            return;
        if (result != PlaylistResult::Done)
            self->fail(error);
        else
            self->appendTo(name, 3);
    });
}

void PlaylistChooser::appendTo(const QString& name, int attempts) {
    QPointer<PlaylistChooser> self(this);
    client_->playlists([self, name, attempts](const std::vector<Playlist>& lists,
                                              const QString& error) {
        if (!self)
            return;
        const auto p = std::find_if(lists.begin(), lists.end(),
                                    [&](const Playlist& l) { return l.name == name; });
        if (p == lists.end()) {
            self->fail(error.isEmpty() ? "プレイリスト「" + name + "」が見つかりません。" : error);
            return;
        }
        const qint64 id = p->id;
        self->client_->appendToPlaylist(
            id, p->revision, self->items_,
            [self, name, attempts, id](PlaylistResult result, const QString& error) {
                if (!self)
                    return;
                if (result == PlaylistResult::Conflict && attempts > 1)
                    self->appendTo(name, attempts - 1);
                else if (result != PlaylistResult::Done)
                    self->fail(error);
                else {
                    emit self->client_->notice(QString("プレイリスト「%1」に%2件追加しました。")
                                                   .arg(name)
                                                   .arg(self->items_.size()));
                    emit self->added(id);
                    self->accept();
                }
            });
    });
}

PlaylistChooser* addToPlaylist(QWidget* parent, LibraryClient* client,
                               std::vector<PlaylistItem> items) {
    if (items.empty()) {
        AlertBox("プレイリストに追加するタグを選んでください。", "お知らせ", "warning");
        return nullptr;
    }
    auto* chooser = new PlaylistChooser(parent, client, std::move(items));
    chooser->setWindowModality(Qt::WindowModal);
    chooser->show();
    chooser->raise();
    chooser->activateWindow();
    return chooser;
}

void addSessionTags(MainViewController* main, QWidget* parent,
                    const std::vector<std::shared_ptr<TagRowData>>& tags) {
    const std::string session = main->getCSVFileName();
    if (tags.empty() || session.empty()) {
        AlertBox("プレイリストに追加するタグを選んでください。", "お知らせ", "warning");
        return;
    }
    if (main->m_fSave) {
        AlertBox("タグが保存されていません。保存してから、もう一度してください。", "お知らせ",
                 "warning");
        return;
    }
    LibraryClient* client = main->library();
    client->open();
    const Workspace* shared = main->workspace;
    const double lead = shared->lead(), lag = shared->lag();
    QPointer<QWidget> where(parent);
    client->matches([=](const std::vector<Match>& matches, const QString& error) {
        const QString mine = canonical(session);
        const auto m = std::find_if(matches.begin(), matches.end(),
                                    [&](const Match& x) { return canonical(x.session) == mine; });
        if (!where)
            return;
        if (m == matches.end()) {
            AlertBox((error.isEmpty()
                          ? QString("この試合はシーズンライブラリにありません。ライブラリの"
                                    "フォルダーに保存してから、もう一度してください。")
                          : error)
                         .toStdString(),
                     "お知らせ", "warning");
            return;
        }
        Query q;
        q.match = m->id;
        client->search(q, [=](const std::vector<Hit>& hits, const QString&) {
            std::vector<PlaylistItem> items;
            for (const auto& t : tags)
                for (const Hit& h : hits)
                    if (h.code == t->name && h.teamA == t->team &&
                        std::abs(h.time - t->time_val) < 0.01) {
                        items.push_back(playlistItem(h, lead, lag, {}));
                        break;
                    }
            if (where)
                addToPlaylist(where, client, std::move(items));
        });
    });
}
