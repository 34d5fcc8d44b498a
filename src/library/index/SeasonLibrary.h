#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Model/DataModel.h"
#include "match/Angles.h"

// The season library: an index of session files (and their videos) under
// folders the user adds, searchable across matches. The session files stay
// the truth: the library never writes one, and a scan rebuilds it.
//
// One schema on two engines through Qt SQL: SQLite embedded (the default, a
// file under $XDG_DATA_HOME/rucktag) and PostgreSQL for a club's server.

namespace library {

class Connection;

// A match: a video and the session file beside it.
struct Match {
    qint64 id = 0;
    std::string video;   // absolute path as indexed
    std::string session; // absolute path of its session file
    QString title;       // from the file name unless edited
    QString date;        // "YYYY-MM-DD" from the file name unless edited; may be empty
    qint64 tagCount = 0;
    // Why its files cannot be read now (its tags are those last read);
    // empty when they can.
    QString unreadable;
    // Why its match file cannot be read (its tags are indexed all the same).
    QString matchProblem;
    // The other cameras of its match file, their files absolute.
    std::vector<MatchAngle> angles;
};

// One tag found by a search.
struct Hit {
    qint64 match = 0;
    std::string video;
    std::string session;
    QString title;
    QString date;
    int position = 0; // the tag's place in its session file, from 0
    double time = 0.0;
    std::optional<double> end;
    bool teamA = true;
    std::string code;
    TagLabels labels;
    std::string comment;
    QString unreadable; // its match's, as in Match
    QString matchProblem;
    // Its match's team names (empty: not named) and whether the match has
    // periods; the tag's time as the analyst reads it ("前半 12:34"; the
    // video time where the match has no periods).
    std::array<QString, 2> teams;
    bool hasPeriods = false;
    QString matchTime;
    // The period holding the tag and the match clock there in seconds; empty
    // and -1 outside every period (and where the match has none).
    std::string period;
    double clock = -1.0;
    // Its match's angles, as in Match.
    std::vector<MatchAngle> angles;
};

// A search takes at most this many words (each is one more condition).
inline constexpr size_t kMaxSearchWords = 32;
QString tooManyWordsText();

// What a search asks; empty parts ask nothing.
struct Query {
    std::string code;                                        // exact code name
    std::optional<bool> teamA;                               // true = A, false = B
    std::vector<std::pair<std::string, std::string>> labels; // group=text, all must hold
    std::string text; // words each found in the comment (any length, Japanese too)
    std::optional<qint64> match;
    QString dateFrom, dateTo; // inclusive "YYYY-MM-DD"
    int limit = 0;            // 0: all
};

// What a scan or an indexing did.
struct ScanReport {
    int added = 0, updated = 0, unchanged = 0, removed = 0;
    // Session files that could not be indexed, with the reason (Japanese).
    std::vector<std::pair<std::string, QString>> skipped;
};

class SeasonLibrary : public QObject {
    Q_OBJECT
public:
    // The database a library opens by default: RUCKTAG_LIBRARY when set, else
    // $XDG_DATA_HOME/rucktag/library.sqlite (~/.local/share when unset).
    static QString defaultDatabase();

    // Opens (and creates or migrates) the library at `database`: a SQLite
    // file path, or a postgresql:// URL. Null with a Japanese reason in
    // `error` when it cannot be reached or is refused (SQLite on a network
    // file system). SQLite waits up to 30 s (RUCKTAG_LIBRARY_BUSY_SECONDS)
    // for another process's write, then names that process.
    // A search alone may open a SQLite library read-only: nothing is made
    // or migrated, and a library on a read-only medium can still be read.
    enum class Access { ReadWrite, ReadOnly };
    static std::unique_ptr<SeasonLibrary> open(const QString& database, QString* error,
                                               Access access = Access::ReadWrite);
    ~SeasonLibrary() override;

    bool isPostgres() const;
    // Whether the last call that failed will fail the same way again (a
    // session the index cannot hold, a constraint): no reason to wait and
    // retry, unlike a server away or a library held by another process.
    bool lastFailureIsPermanent() const;

    // Adds folders (scanned recursively) and indexes them. Adding a folder
    // twice changes nothing.
    bool addFolders(const QStringList& folders, ScanReport& report, QString* error);
    QStringList folders() const;
    // Re-reads the session files of every folder that changed since the last
    // scan (by size, mtime and hash); forgets those gone; finds moved videos
    // again by their identity.
    bool scan(ScanReport& report, QString* error);
    // The application saved `tags` as the session of `video`: index them now.
    // Only sessions inside the library's folders are indexed (true, doing
    // nothing, for others: a scan could never rebuild them). While the server
    // is away it fails at once (connectionLost said it); the caller retries.
    bool indexSaved(const std::string& video, const std::string& session,
                    const std::vector<std::shared_ptr<TagRowData>>& tags, QString* error);

    std::vector<Match> matches(QString* error = nullptr) const;
    bool setMatchInfo(qint64 match, const QString& title, const QString& date, QString* error);

    // Hits ordered by match (date, title) and time.
    std::vector<Hit> search(const Query& query, QString* error) const;

signals:
    // Another process (or this one) changed the library: open searches refresh.
    void changed();
    // The connection was lost (said once) or is back.
    void connectionLost(const QString& reason);
    void connectionRestored();

private:
    friend class PlaylistStore; // writes through the library's connection
    SeasonLibrary();
    Connection& connection() const;
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace library
