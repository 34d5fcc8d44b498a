#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <functional>
#include <memory>

#include "index/SeasonLibrary.h"

// What differs between SQLite and PostgreSQL, in one place: the library
// chooses its dialect once when it opens, and the rest of it asks the
// dialect instead of asking which engine it runs on.

namespace library {

// How long SQLite waits for another process's write (RUCKTAG_LIBRARY_BUSY_SECONDS,
// 1 to 600; 30 by default: as long as someone would wait for a save).
int busySeconds();

// SQLite's busy timeout ran out: another process holds the library.
bool isBusy(const QString& error);

// The process holding a write lock on `file` (on the WAL index the writer's
// byte, 120, first), read from the lines of /proc/locks; 0 when none.
qint64 lockHolderOf(const QString& file, const QList<QByteArray>& lines);

class Dialect {
public:
    virtual ~Dialect() = default;

    virtual bool isPostgres() const = 0;
    // Makes the connection `name` to the library and opens it; false with
    // the Japanese reason in `error`.
    virtual bool connect(const QString& name, QString* error) = 0;
    // Creates, migrates or (read-only) checks the schema, then adds what the
    // engine finds searches by; false with the Japanese reason.
    virtual bool prepareSchema(QSqlDatabase& db, QString* error) = 0;
    // Tells `changedElsewhere` when another process changed the library.
    virtual void watch(QSqlDatabase& db, QObject* context,
                       const std::function<void()>& changedElsewhere) = 0;
    // Subscribes again after a reconnection (a server's notifications).
    virtual void listen(QSqlDatabase& db) = 0;
    // How often the library is looked at (milliseconds).
    virtual int watchMs() const = 0;
    enum class Look { Same, Changed, Lost };
    // Looks at the library once: whether it changed, or (a server) is gone,
    // the reason then in `reason`.
    virtual Look look(QSqlDatabase& db, QString& reason) = 0;
    // Whether its connection can be lost (a server): a failure then asks.
    virtual bool canBeLost() const = 0;

    virtual QString beginSql() const = 0;
    // Said inside a transaction before it commits (empty: nothing).
    virtual QString announceSql() const = 0;
    // Rows a single INSERT statement carries.
    virtual qsizetype rowsPerInsert() const = 0;
    // Whether the tags' ids are given by this process (no row to read back
    // per tag) rather than returned by the database.
    virtual bool givesTagIds() const = 0;
    // Holds a match (one bound id) against another process writing it;
    // empty when the transaction holds the whole library already.
    virtual QString lockMatchSql() const = 0;
    virtual QString statisticsSql() const = 0;
    // A search's extra condition (one bound value: the phrases) that lets a
    // comment index find the comments first; empty when there is none.
    virtual QString commentIndexCondition() const = 0;
    // A busy timeout's error said as who holds the library.
    virtual QString busyText(const QString& detail) const = 0;
};

// The dialect for `target` (a postgresql:// URL, else a SQLite file).
std::unique_ptr<Dialect> dialectFor(const QString& target, SeasonLibrary::Access access);

} // namespace library
