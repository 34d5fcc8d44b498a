#pragma once

#include <QSqlDatabase>
#include <QString>

// The library's schema on both engines: one version table and the steps that
// bring a database from any older version to the newest.

namespace library::store {

inline constexpr int kSchemaVersion = 5;

// The version a database is at (0 when it has no schema yet); -1 with the
// reason in `error` when it cannot be read.
int schemaVersion(QSqlDatabase& db, QString* error);

// Creates or upgrades the schema in one transaction, held against another
// process doing the same. A database newer than this program is refused.
bool migrate(QSqlDatabase& db, bool postgres, QString* error);

// SQLite only: whether the comment index (FTS5, trigram) is there.
bool hasCommentIndex(QSqlDatabase& db);

} // namespace library::store
