#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "index/SeasonLibrary.h"
#include "playlist/Playlists.h"

class QThread;

// The application's way to the season library. The library lives on a thread
// of its own: a slow, vanished or frozen server never holds up the window,
// tagging, saving or closing. Requests run there in the order asked; each
// answer comes back on the thread that asked. Saves that could not be indexed
// while the library was away wait in one queue of session files, read again
// from the file once the library is back; a save the library refuses is said
// with its video's name and never holds up the others.
class LibraryClient : public QObject {
    Q_OBJECT
public:
    // How long closing waits for the library's thread; past it the thread
    // is left to end by itself and the next start's scan picks up the saves.
    static constexpr int kCloseWaitMs = 500;
    // How long the process, its windows gone, waits at its very end for such
    // a thread before it ends regardless: short, since every save is in its
    // file and the library's transactions are all or nothing.
    static constexpr int kExitWaitMs = 250;
    // A server request unanswered this long gets the server checked by a
    // fresh connection; no answer to that within kProbeTimeoutS and the
    // server is said to be away.
    static constexpr int kProbeAfterMs = 3000;
    static constexpr int kProbeTimeoutS = 2;

    explicit LibraryClient(QObject* parent = nullptr);
    ~LibraryClient() override;

    // The database opened on first use: SeasonLibrary::defaultDatabase()
    // unless set before.
    void setDatabase(const QString& database);
    QString database() const { return database_; }
    // Opens the library if it is not open (again after a failure).
    void open();
    bool isOpen() const { return open_; }
    // Why the library cannot be used now (Japanese), empty when it can.
    QString problem() const { return problem_; }

    using HitsReply = std::function<void(const std::vector<library::Hit>&, const QString& error)>;
    using MatchesReply =
        std::function<void(const std::vector<library::Match>&, const QString& error)>;
    using ScanReply = std::function<void(const library::ScanReport&, const QString& error)>;
    void search(const library::Query& query, HitsReply reply);
    void matches(MatchesReply reply);
    void folders(std::function<void(const QStringList&)> reply);
    void addFolders(const QStringList& folders, ScanReply reply);
    void scan(ScanReply reply);
    // The application saved `tags` as the session of `video`. Copied here, so
    // the store may change at once.
    void indexSaved(const std::string& video, const std::string& session,
                    const std::vector<std::shared_ptr<TagRowData>>& tags);
    // Playlists (playlist/Playlists.h tells which changes refuse which).
    // A refused change answers Conflict with the reason to show; the caller
    // loads the playlist again.
    using PlaylistsReply =
        std::function<void(const std::vector<library::Playlist>&, const QString& error)>;
    using PlaylistReply =
        std::function<void(const std::optional<library::Playlist>&, const QString& error)>;
    using ChangeReply = std::function<void(library::PlaylistResult, const QString& error)>;
    void playlists(PlaylistsReply reply);
    void loadPlaylist(qint64 playlist, PlaylistReply reply);
    void createPlaylist(const QString& name, ChangeReply reply);
    void appendToPlaylist(qint64 playlist, qint64 revision,
                          const std::vector<library::PlaylistItem>& items, ChangeReply reply);
    void reorderPlaylist(qint64 playlist, qint64 revision, const std::vector<qint64>& order,
                         ChangeReply reply);
    void removePlaylistItems(qint64 playlist, qint64 revision, const std::vector<qint64>& items,
                             ChangeReply reply);
    void editPlaylistItem(qint64 playlist, const library::PlaylistItem& item, ChangeReply reply);
    void renamePlaylist(qint64 playlist, qint64 revision, const QString& name, ChangeReply reply);
    void removePlaylist(qint64 playlist, qint64 revision, ChangeReply reply);

    // Saves still waiting for the library.
    int pendingSaves() const { return pending_; }
    // Waits until everything asked so far is done; false after `ms`.
    bool waitIdle(int ms = 30000);

    // The text the status area shows about the library ("" when all is well).
    static QString lostText(const QString& reason);
    // The status area's text for a save the library refused.
    static QString refusedText(const std::string& video, const QString& reason);
    // What the user reads of a library's error: the server's own words
    // (English) come after a sentence of ours.
    static QString explained(const QString& reason);
    // A PostgreSQL URL with the timeouts and keepalives it leaves unset.
    static QString withTimeouts(const QString& url);

    // Databases whose saves were still waiting when an application closed:
    // they are scanned once opened again.
    static QStringList owedScans();

signals:
    // The library changed (here or in another process): searches refresh.
    void changed();
    // Opened, failed, lost or back: isOpen() and problem() tell.
    void stateChanged();
    // Something to say once in the status area; empty clears it.
    void notice(const QString& text);

private:
    struct Engine;
    // Runs `work` on the library's thread with the library open (or null and
    // a reason).
    void post(std::function<void(Engine&)> work);
    // Runs `work` on the library's thread with its playlists (null, with the
    // reason, when the library cannot be opened); what it returns is run
    // back on the asking thread.
    using PlaylistWork =
        std::function<std::function<void()>(library::PlaylistStore*, const QString& problem)>;
    void postPlaylists(PlaylistWork work);
    void change(std::function<library::PlaylistResult(library::PlaylistStore&, QString*)> make,
                ChangeReply reply);
    // The state the library's thread found; shown unless the server is
    // silent.
    void setState(bool open, const QString& problem);
    void showState();
    void watch();
    void probe();

    QString database_;
    bool open_ = false;
    QString problem_;
    bool engineOpen_ = false;
    QString engineProblem_;
    int asked_ = 0;   // saves handed over
    int pending_ = 0; // of them, not yet in the library
    QThread* thread_;
    QObject* worker_; // lives on thread_
    std::unique_ptr<Engine> engine_;
    // Answers come back only while this holds.
    std::shared_ptr<std::atomic<bool>> alive_;

    // When each request was asked, until the library's thread is done with it.
    std::deque<std::pair<quint64, qint64>> asking_;
    quint64 serial_ = 0;
    QTimer watchdog_;
    std::shared_ptr<std::atomic<int>> probe_; // -1 while running
    qint64 probeStarted_ = 0;
    bool silent_ = false; // the server was found not answering
};
