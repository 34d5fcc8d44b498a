#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

#include "playlist/Playlists.h"

class LibraryClient;
class LibrarySequence;
class LibraryWindow;
class MainViewController;
class PublishedBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableWidget;

// The season library's playlists: the list (made, renamed, removed), the
// chosen one's items (reordered by buttons, keys or a drag, removed, their title, note, 前 and 後
// edited), played in order across matches, exported, published. Every
// change is made on the revision shown; one refused because another analyst
// changed the playlist first reloads it and says so, with what was not kept.
class PlaylistPanel : public QWidget {
    Q_OBJECT
public:
    explicit PlaylistPanel(MainViewController* main, QWidget* parent = nullptr);
    ~PlaylistPanel() override;

    QLineEdit* nameEdit = nullptr; // the name 新規 and 名前変更 take
    QPushButton* newButton = nullptr;
    QPushButton* renameButton = nullptr;
    QPushButton* deleteButton = nullptr;
    QListWidget* playlistList = nullptr;
    QLabel* titleLabel = nullptr;
    QLabel* messageLabel = nullptr;
    // タイトル, 試合, 試合時間, コード, チーム, メモ.
    QTableWidget* itemTable = nullptr;
    QPushButton* upButton = nullptr;
    QPushButton* downButton = nullptr;
    QPushButton* removeButton = nullptr;
    QLineEdit* itemTitleEdit = nullptr;
    QLineEdit* noteEdit = nullptr;
    QDoubleSpinBox* leadSpin = nullptr;
    QDoubleSpinBox* lagSpin = nullptr;
    QPushButton* playButton = nullptr;
    QPushButton* exportButton = nullptr;
    QPushButton* exportEachButton = nullptr;
    QPushButton* publishButton = nullptr;
    PublishedBox* published = nullptr;
    LibrarySequence* sequence = nullptr;

    const std::optional<library::Playlist>& playlist() const { return playlist_; }
    // Loads of the chosen playlist done so far (a test waits for the next).
    int loadsDone() const { return loadsDone_; }
    // Shows playlist `id` (the list reloaded first).
    void showPlaylist(qint64 id);

    // What a refused change says: the other's change is shown, and what was
    // not kept (`lost`, empty: nothing typed).
    static QString conflictMessage(const QString& lost);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* makeListColumn();
    QWidget* makeItemColumn();
    QWidget* makeItemForm();
    void reloadList();
    void load(qint64 id);
    void fillItems();
    void fillForm();
    const library::PlaylistItem* chosenItem() const;
    std::vector<qint64> chosenItems() const;
    // Sends a change made on the shown revision; Done reloads, Conflict
    // reloads and says so (`lost`: what the user asked that was not kept).
    using Reply = std::function<void(library::PlaylistResult, const QString&)>;
    void send(const std::function<void(const Reply&)>& change, const QString& lost,
              qint64 keepItem = 0);
    void say(const QString& text);

    void onNew();
    void onRename();
    void onDelete();
    void onMove(int by);
    // The chosen rows dropped at `at` of the table's viewport.
    void onDrop(const QPoint& at);
    void onRemoveItems();
    void onEdited();
    void onPlay();
    void onExport(bool each);
    void onPublish();

    MainViewController* main_;
    LibraryClient* client_;
    std::optional<library::Playlist> playlist_;
    qint64 wanted_ = 0;   // the playlist to show once listed
    qint64 keepItem_ = 0; // the item to choose again after a reload
    int loadsDone_ = 0;
    int loadSerial_ = 0;
    bool filling_ = false; // the form is being filled, not edited
    qint64 formItem_ = 0;  // the item the form shows
    // A change is on its way: an edit meanwhile waits for its reload, and
    // is then made on the revision that brings.
    bool busy_ = false;
    bool pendingEdit_ = false;
};

// The panel's window, made on first use beside `library`, shown and raised.
PlaylistPanel* showPlaylistPanel(MainViewController* main, QWidget* library);
// The library window's playlist buttons: プレイリスト (the panel) and
// プレイリストに追加 (the chosen results), beside its other actions.
void addPlaylistButtons(MainViewController* main, LibraryWindow* window);
