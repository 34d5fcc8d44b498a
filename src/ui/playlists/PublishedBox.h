#pragma once

#include <QWidget>
#include <optional>

#include "playlist/Playlists.h"

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// A playlist's published state (公開済み, 未公開, 公開後に変更あり), and for
// each group it went to, the group's link (the remembered base URL and
// /g/TOKEN/ of the publish folder) with its QR code; the link can be made
// anew, and the old one then opens nothing.
class PublishedBox : public QWidget {
    Q_OBJECT
public:
    explicit PublishedBox(QWidget* parent = nullptr);

    QLabel* stateLabel = nullptr;
    // After changes: what they are against the published version.
    QLabel* changesLabel = nullptr;
    QComboBox* groupCombo = nullptr;
    // The whole link, wrapped anywhere: a token has no place to break.
    QPlainTextEdit* linkText = nullptr;
    QPushButton* copyButton = nullptr;
    QLabel* qrLabel = nullptr;
    QPushButton* revokeButton = nullptr;

    void setPlaylist(const std::optional<library::Playlist>& playlist);
    // The group shown first from now on (the one just published to).
    void chooseGroup(const QString& group) { chosen_ = group; }
    static QString stateText(const library::Playlist& playlist);

signals:
    // A link was made anew (or could not be): what to say.
    void revoked(const QString& text);

private:
    void showLink();
    void onRevoke();

    QString chosen_;
};
