#include "index/LibraryStore.h"

#include "index/LibraryFiles.h"
#include "index/LibraryMatchFile.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <vector>

namespace library::store {

namespace {

struct Step {
    int version;
    QStringList sqlite;
    QStringList postgres;
};

QStringList matchFileColumns(const QString& integer) {
    const QString add = QStringLiteral("ALTER TABLE matches ADD COLUMN ");
    return {add + QStringLiteral("team_a TEXT NOT NULL DEFAULT ''"),
            add + QStringLiteral("team_b TEXT NOT NULL DEFAULT ''"),
            add + QStringLiteral("periods TEXT NOT NULL DEFAULT ''"),
            add + QStringLiteral("match_problem TEXT NOT NULL DEFAULT ''"),
            add + QStringLiteral("match_hash TEXT NOT NULL DEFAULT ''"),
            add + QStringLiteral("match_size %1 NOT NULL DEFAULT %2")
                      .arg(integer)
                      .arg(kMatchFileNotLooked),
            add + QStringLiteral("match_mtime %1 NOT NULL DEFAULT 0").arg(integer)};
}

QStringList playlistTables(bool postgres) {
    const QString key =
        postgres ? QStringLiteral("BIGSERIAL PRIMARY KEY") : QStringLiteral("INTEGER PRIMARY KEY");
    const QString integer = postgres ? QStringLiteral("BIGINT") : QStringLiteral("INTEGER");
    const QString real = postgres ? QStringLiteral("DOUBLE PRECISION") : QStringLiteral("REAL");
    return {
        QStringLiteral("CREATE TABLE playlists (id %1, name TEXT NOT NULL UNIQUE, revision %2 NOT "
                       "NULL DEFAULT 1, published_revision %2 NOT NULL DEFAULT 0, published_at "
                       "TEXT NOT NULL DEFAULT '', published_groups TEXT NOT NULL DEFAULT '')")
            .arg(key, integer),
        QStringLiteral(
            "CREATE TABLE playlist_items (id %1, playlist_id %2 NOT NULL REFERENCES playlists (id) "
            "ON DELETE CASCADE, position %2 NOT NULL, video TEXT NOT NULL, session TEXT NOT NULL, "
            "match_title TEXT NOT NULL, match_date TEXT NOT NULL, match_time TEXT NOT NULL, "
            "start_time %3 NOT NULL, end_time %3, team SMALLINT NOT NULL, code TEXT NOT NULL, "
            "lead %3 NOT NULL, lag %3 NOT NULL, title TEXT NOT NULL, note TEXT NOT NULL, "
            "revision %2 NOT NULL DEFAULT 1)")
            .arg(key, integer, real),
        QStringLiteral(
            "CREATE INDEX playlist_items_order ON playlist_items (playlist_id, position)"),
    };
}

// Step 5: the angles of each match, from its match file; the match files
// read before are read again at the next scan.
QStringList anglesColumn() {
    return {QStringLiteral("ALTER TABLE matches ADD COLUMN angles TEXT NOT NULL DEFAULT ''"),
            QStringLiteral("UPDATE matches SET match_size = %1 WHERE match_size >= 0")
                .arg(kMatchFileNotLooked)};
}

// Appended to, never edited: a database at version N runs the steps after N.
const std::vector<Step>& steps() {
    static const std::vector<Step> all = {
        {1,
         {
             QStringLiteral("CREATE TABLE folders (id INTEGER PRIMARY KEY, path TEXT NOT NULL "
                            "UNIQUE)"),
             QStringLiteral(
                 "CREATE TABLE matches (id INTEGER PRIMARY KEY, video TEXT NOT NULL, canonical "
                 "TEXT NOT NULL UNIQUE, video_size INTEGER NOT NULL, video_mtime INTEGER NOT "
                 "NULL, video_identity TEXT NOT NULL, session TEXT NOT NULL, session_size "
                 "INTEGER NOT NULL, session_mtime INTEGER NOT NULL, session_hash TEXT NOT NULL, "
                 "title TEXT NOT NULL, date TEXT NOT NULL, info_edited INTEGER NOT NULL DEFAULT "
                 "0, tag_count INTEGER NOT NULL DEFAULT 0)"),
             QStringLiteral("CREATE INDEX matches_identity ON matches (video_identity)"),
             QStringLiteral(
                 "CREATE TABLE tags (id INTEGER PRIMARY KEY, match_id INTEGER NOT NULL "
                 "REFERENCES matches (id) ON DELETE CASCADE, position INTEGER NOT NULL, team "
                 "INTEGER NOT NULL, start_time REAL NOT NULL, end_time REAL, code TEXT NOT NULL, "
                 "labels TEXT NOT NULL, comment TEXT NOT NULL)"),
             QStringLiteral("CREATE INDEX tags_match ON tags (match_id, position)"),
             QStringLiteral("CREATE INDEX tags_code ON tags (code, team)"),
             QStringLiteral("CREATE TABLE tag_labels (tag_id INTEGER NOT NULL REFERENCES tags "
                            "(id) ON DELETE CASCADE, grp TEXT NOT NULL, text TEXT NOT NULL)"),
             QStringLiteral("CREATE INDEX tag_labels_tag ON tag_labels (tag_id)"),
             QStringLiteral("CREATE INDEX tag_labels_text ON tag_labels (grp, text, tag_id)"),
         },
         {
             QStringLiteral("CREATE TABLE folders (id BIGSERIAL PRIMARY KEY, path TEXT NOT NULL "
                            "UNIQUE)"),
             QStringLiteral(
                 "CREATE TABLE matches (id BIGSERIAL PRIMARY KEY, video TEXT NOT NULL, "
                 "canonical TEXT NOT NULL UNIQUE, video_size BIGINT NOT NULL, video_mtime "
                 "BIGINT NOT NULL, video_identity TEXT NOT NULL, session TEXT NOT NULL, "
                 "session_size BIGINT NOT NULL, session_mtime BIGINT NOT NULL, session_hash "
                 "TEXT NOT NULL, title TEXT NOT NULL, date TEXT NOT NULL, info_edited INTEGER "
                 "NOT NULL DEFAULT 0, tag_count BIGINT NOT NULL DEFAULT 0)"),
             QStringLiteral("CREATE INDEX matches_identity ON matches (video_identity)"),
             QStringLiteral(
                 "CREATE TABLE tags (id BIGSERIAL PRIMARY KEY, match_id BIGINT NOT NULL "
                 "REFERENCES matches (id) ON DELETE CASCADE, position INTEGER NOT NULL, team "
                 "SMALLINT NOT NULL, start_time DOUBLE PRECISION NOT NULL, end_time DOUBLE "
                 "PRECISION, code TEXT NOT NULL, labels TEXT NOT NULL, comment TEXT NOT NULL)"),
             QStringLiteral("CREATE INDEX tags_match ON tags (match_id, position)"),
             QStringLiteral("CREATE INDEX tags_code ON tags (code, team)"),
             QStringLiteral("CREATE TABLE tag_labels (tag_id BIGINT NOT NULL REFERENCES tags "
                            "(id) ON DELETE CASCADE, grp TEXT NOT NULL, text TEXT NOT NULL)"),
             QStringLiteral("CREATE INDEX tag_labels_tag ON tag_labels (tag_id)"),
             QStringLiteral("CREATE INDEX tag_labels_text ON tag_labels (grp, text, tag_id)"),
         }},
        // Matches that cannot be read now are kept and marked; comments are
        // searched by a key (NFKC, case folded) the same on both engines.
        {2,
         {
             QStringLiteral("ALTER TABLE matches ADD COLUMN unreadable TEXT NOT NULL DEFAULT ''"),
             QStringLiteral("ALTER TABLE tags ADD COLUMN comment_key TEXT NOT NULL DEFAULT ''"),
             QStringLiteral(
                 "ALTER TABLE matches ADD COLUMN session_device INTEGER NOT NULL DEFAULT 0"),
             QStringLiteral("DROP TRIGGER IF EXISTS tags_fts_insert"),
             QStringLiteral("DROP TRIGGER IF EXISTS tags_fts_delete"),
             QStringLiteral("DROP TRIGGER IF EXISTS tags_fts_update_old"),
             QStringLiteral("DROP TRIGGER IF EXISTS tags_fts_update_new"),
             QStringLiteral("DROP TABLE IF EXISTS tags_fts"),
         },
         {
             QStringLiteral("ALTER TABLE matches ADD COLUMN unreadable TEXT NOT NULL DEFAULT ''"),
             QStringLiteral("ALTER TABLE tags ADD COLUMN comment_key TEXT NOT NULL DEFAULT ''"),
             QStringLiteral(
                 "ALTER TABLE matches ADD COLUMN session_device BIGINT NOT NULL DEFAULT 0"),
             QStringLiteral("DROP INDEX IF EXISTS tags_comment_trgm"),
         }},
        // The match file beside each session: its teams and periods, and its
        // stamp (matches indexed before are read at the next scan).
        {3, matchFileColumns(QStringLiteral("INTEGER")),
         matchFileColumns(QStringLiteral("BIGINT"))},
        // Playlists, each item a copy of its tag (a scan rebuilds the tags).
        {4, playlistTables(false), playlistTables(true)},
        {5, anglesColumn(), anglesColumn()},
    };
    return all;
}

// Step 2's keys for the comments already there: all read first (a server
// connection reads one statement at a time), then written.
bool fillCommentKeys(QSqlDatabase& db, QString* error) {
    std::vector<std::pair<qint64, QString>> rows;
    {
        QSqlQuery read(db);
        read.setForwardOnly(true);
        if (!read.exec(QStringLiteral("SELECT id, comment FROM tags WHERE comment <> ''"))) {
            if (error)
                *error = read.lastError().text();
            return false;
        }
        while (read.next())
            rows.emplace_back(read.value(0).toLongLong(), searchKey(read.value(1).toString()));
    }
    if (rows.empty())
        return true;
    QSqlQuery write(db);
    if (!write.prepare(QStringLiteral("UPDATE tags SET comment_key = ? WHERE id = ?"))) {
        if (error)
            *error = write.lastError().text();
        return false;
    }
    for (const auto& [id, key] : rows) {
        write.addBindValue(key);
        write.addBindValue(id);
        if (!write.exec()) {
            if (error)
                *error = write.lastError().text();
            return false;
        }
    }
    return true;
}

// The comment index of SQLite: FTS5 with trigrams, kept by triggers. Left
// out where SQLite was built without FTS5 (searches then use LIKE alone).
const QStringList& sqliteCommentIndexV1() {
    static const QStringList sql = {
        QStringLiteral("CREATE VIRTUAL TABLE tags_fts USING fts5 (comment, content='tags', "
                       "content_rowid='id', tokenize='trigram')"),
        // Most tags have no comment: only those with one are indexed.
        QStringLiteral("CREATE TRIGGER tags_fts_insert AFTER INSERT ON tags WHEN new.comment <> "
                       "'' BEGIN INSERT INTO tags_fts (rowid, comment) VALUES (new.id, "
                       "new.comment); END"),
        QStringLiteral("CREATE TRIGGER tags_fts_delete AFTER DELETE ON tags WHEN old.comment <> "
                       "'' BEGIN INSERT INTO tags_fts (tags_fts, rowid, comment) VALUES "
                       "('delete', old.id, old.comment); END"),
        QStringLiteral("CREATE TRIGGER tags_fts_update_old AFTER UPDATE OF comment ON tags WHEN "
                       "old.comment <> '' BEGIN INSERT INTO tags_fts (tags_fts, rowid, comment) "
                       "VALUES ('delete', old.id, old.comment); END"),
        QStringLiteral("CREATE TRIGGER tags_fts_update_new AFTER UPDATE OF comment ON tags WHEN "
                       "new.comment <> '' BEGIN INSERT INTO tags_fts (rowid, comment) VALUES "
                       "(new.id, new.comment); END"),
    };
    return sql;
}

const QStringList& sqliteCommentIndex() {
    static const QStringList sql = {
        QStringLiteral("CREATE VIRTUAL TABLE tags_fts USING fts5 (comment_key, content='tags', "
                       "content_rowid='id', tokenize='trigram')"),
        QStringLiteral("CREATE TRIGGER tags_fts_insert AFTER INSERT ON tags WHEN new.comment_key "
                       "<> '' BEGIN INSERT INTO tags_fts (rowid, comment_key) VALUES (new.id, "
                       "new.comment_key); END"),
        QStringLiteral("CREATE TRIGGER tags_fts_delete AFTER DELETE ON tags WHEN old.comment_key "
                       "<> '' BEGIN INSERT INTO tags_fts (tags_fts, rowid, comment_key) VALUES "
                       "('delete', old.id, old.comment_key); END"),
        QStringLiteral("CREATE TRIGGER tags_fts_update_old AFTER UPDATE OF comment_key ON tags "
                       "WHEN old.comment_key <> '' BEGIN INSERT INTO tags_fts (tags_fts, rowid, "
                       "comment_key) VALUES ('delete', old.id, old.comment_key); END"),
        QStringLiteral("CREATE TRIGGER tags_fts_update_new AFTER UPDATE OF comment_key ON tags "
                       "WHEN new.comment_key <> '' BEGIN INSERT INTO tags_fts (rowid, "
                       "comment_key) VALUES (new.id, new.comment_key); END"),
        QStringLiteral("INSERT INTO tags_fts (tags_fts) VALUES ('rebuild')"),
    };
    return sql;
}

bool run(QSqlQuery& q, const QString& sql, QString* error) {
    if (q.exec(sql))
        return true;
    if (error)
        *error = q.lastError().text();
    return false;
}

} // namespace

int schemaVersion(QSqlDatabase& db, QString* error) {
    QSqlQuery q(db);
    if (!db.tables().contains(QStringLiteral("schema_version")))
        return 0;
    if (!q.exec(QStringLiteral("SELECT max(version) FROM schema_version"))) {
        if (error)
            *error = q.lastError().text();
        return -1;
    }
    return q.next() ? q.value(0).toInt() : 0;
}

bool migrate(QSqlDatabase& db, bool postgres, QString* error) {
    QString why;
    const int before = schemaVersion(db, &why);
    if (before < 0) {
        if (error)
            *error = why;
        return false;
    }
    if (before == kSchemaVersion)
        return true;
    QSqlQuery q(db);
    // One process migrates; another waits and then finds the work done.
    if (!run(q, postgres ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"), error))
        return false;
    auto rollback = [&] {
        QSqlQuery r(db);
        r.exec(QStringLiteral("ROLLBACK"));
        return false;
    };
    if (postgres) {
        // The server's notices ("... does not exist, skipping") are no news.
        if (!run(q, QStringLiteral("SET LOCAL client_min_messages = warning"), error) ||
            !run(q, QStringLiteral("SELECT pg_advisory_xact_lock(7346128)"), error) ||
            !run(q,
                 QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER "
                                "NOT NULL)"),
                 error))
            return rollback();
    } else if (!run(q,
                    QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version "
                                   "INTEGER NOT NULL)"),
                    error)) {
        return rollback();
    }
    int version = 0;
    if (!run(q, QStringLiteral("SELECT max(version) FROM schema_version"), error))
        return rollback();
    if (q.next())
        version = q.value(0).toInt();
    q.finish();
    if (version > kSchemaVersion) {
        if (error)
            *error = QStringLiteral("このライブラリは新しい版の Rucktag で作られています "
                                    "(スキーマ %1、この版は %2 まで)。")
                         .arg(version)
                         .arg(kSchemaVersion);
        return rollback();
    }
    for (const Step& step : steps()) {
        if (step.version <= version)
            continue;
        for (const QString& sql : postgres ? step.postgres : step.sqlite)
            if (!run(q, sql, error))
                return rollback();
        if (step.version == 2 && !fillCommentKeys(db, error))
            return rollback();
        if (!postgres && (step.version == 1 || step.version == 2)) {
            // A savepoint keeps the schema when FTS5 is missing.
            QSqlQuery fts(db);
            fts.exec(QStringLiteral("SAVEPOINT fts"));
            bool ok = true;
            for (const QString& sql :
                 step.version == 1 ? sqliteCommentIndexV1() : sqliteCommentIndex())
                ok = ok && fts.exec(sql);
            fts.exec(ok ? QStringLiteral("RELEASE fts") : QStringLiteral("ROLLBACK TO fts"));
        }
        if (!run(q,
                 QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)")
                     .arg(step.version),
                 error))
            return rollback();
    }
    if (!run(q, QStringLiteral("COMMIT"), error))
        return rollback();
    return true;
}

bool hasCommentIndex(QSqlDatabase& db) {
    QSqlQuery q(db);
    return q.exec(QStringLiteral(
               "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'tags_fts'")) &&
           q.next() && q.value(0).toInt() == 1;
}

} // namespace library::store
