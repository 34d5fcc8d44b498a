#pragma once

#include <QDialog>
#include <memory>
#include <vector>

#include "playlist/Playlists.h"

class LibraryClient;
class MainViewController;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
struct TagRowData;

// Asks which playlist the chosen moments go to: one of the library's, or a
// new one named here. Window-modal, and returns at once.
class PlaylistChooser : public QDialog {
    Q_OBJECT
public:
    PlaylistChooser(QWidget* parent, LibraryClient* client,
                    std::vector<library::PlaylistItem> items);

    QComboBox* playlistCombo = nullptr; // the playlists, then 新しいプレイリスト
    QLineEdit* nameEdit = nullptr;      // the new one's name
    QPushButton* addButton = nullptr;
    QLabel* problemLabel = nullptr;

signals:
    // The items are in playlist `id`.
    void added(qint64 id);

private:
    void onAdd();
    // Appends to the playlist called `name`; a change that came first is
    // no reason to give up, since an append overwrites nothing.
    void appendTo(const QString& name, int attempts);
    void fail(const QString& text);

    LibraryClient* client_;
    std::vector<library::PlaylistItem> items_;
};

// Opens the chooser for `items` (none: said, nothing opens).
PlaylistChooser* addToPlaylist(QWidget* parent, LibraryClient* client,
                               std::vector<library::PlaylistItem> items);

// The open session's `tags` to a playlist, as the library knows them (the
// session saved inside a library folder), with the workspace's 前 and 後.
// Whatever stands in the way is said.
void addSessionTags(MainViewController* main, QWidget* parent,
                    const std::vector<std::shared_ptr<TagRowData>>& tags);
