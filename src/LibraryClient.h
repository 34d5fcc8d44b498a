#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Library/SeasonLibrary.h"

class QThread;

// The application's way to the season library. The library lives on a thread
// of its own: a slow or vanished server never holds up the window, tagging or
// saving. Requests run there in the order asked; each answer comes back on the
// thread that asked. Saves that could not be indexed are kept and indexed
// again once the library is back.
class LibraryClient : public QObject {
    Q_OBJECT
public:
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
    // Saves still waiting for the library.
    int pendingSaves() const { return pending_; }
    // Waits until everything asked so far is done; false after `ms`.
    bool waitIdle(int ms = 30000);

    // The text the status area shows about the library ("" when all is well).
    static QString lostText(const QString& reason);

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
    void setState(bool open, const QString& problem);

    QString database_;
    bool open_ = false;
    QString problem_;
    int pending_ = 0;
    QThread* thread_;
    QObject* worker_; // lives on thread_
    std::unique_ptr<Engine> engine_;
};
