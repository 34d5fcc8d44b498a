#pragma once

#include <QDialog>
#include <atomic>

#include "playlist/Playlists.h"
#include "publish/PublishJob.h"

class LibraryClient;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QThread;

// The publish folder and the links' base URL, remembered in the settings.
QString publishFolder();
QString linkBase();

// 公開…: a playlist published to a group (FW, BK, 全員, or one typed) into
// the publish folder, its items rendered for phones on a thread of the
// dialog's own with a progress bar and キャンセル; once done, the library
// records it as published.
class PublishDialog : public QDialog {
    Q_OBJECT
public:
    PublishDialog(library::Playlist playlist, LibraryClient* client, QWidget* parent = nullptr);
    ~PublishDialog() override;

    QComboBox* groupCombo = nullptr;
    QLineEdit* folderEdit = nullptr;
    QPushButton* folderButton = nullptr;
    QLineEdit* baseUrlEdit = nullptr;
    QSpinBox* heightSpin = nullptr;
    QSpinBox* bitRateSpin = nullptr;
    QProgressBar* progressBar = nullptr;
    QLabel* statusLabel = nullptr;
    QPushButton* publishButton = nullptr;
    QPushButton* cancelButton = nullptr;

    bool isRunning() const { return thread_ != nullptr; }
    void reject() override;

signals:
    // Published to `group` and recorded in the library.
    void published(const QString& group);

private:
    void onPublish();
    void finished();
    void setBusy(bool busy);

    library::Playlist playlist_;
    LibraryClient* client_;
    QThread* thread_ = nullptr;
    std::atomic<bool> cancelled_{false};
    publish::PublishResult result_;
    QString group_;
};
