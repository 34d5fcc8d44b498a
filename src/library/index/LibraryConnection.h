#pragma once

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QTimer>
#include <memory>

#include "index/LibraryDialect.h"

// The library's one database connection: its transactions, its failures
// (said in Japanese, the transaction undone) and, on a server, its loss and
// reconnection, told through the owning SeasonLibrary's signals.

namespace library {

QString lostText();

class Connection {
public:
    Connection(SeasonLibrary* owner, const QString& name);
    ~Connection();

    // Connects through `dialect` and readies the schema; false with the
    // Japanese reason.
    bool open(std::unique_ptr<Dialect> dialect, QString* error);

    QSqlDatabase db() const { return QSqlDatabase::database(name_, false); }
    const Dialect& dialect() const { return *dialect_; }

    bool exec(QSqlQuery& q, QString* error);
    bool exec(QSqlQuery& q, const QString& sql, QString* error);
    bool prepare(QSqlQuery& q, const QString& sql, QString* error);

    bool begin(QString* error);
    bool commit(QString* error);
    void rollback();

    // Every failure ends here: the transaction is undone, and on a server
    // whose connection is gone the loss is said once.
    bool fail(QString* error);
    // False (with the reason) while the server is away; a call then tries to
    // reconnect at most once a second, so it never waits long.
    bool usable(QString* error);

    bool lost() const { return lost_; }
    // The last failure will fail again the same way (bad data, a constraint):
    // not the library being away.
    bool permanent() const { return permanent_; }
    void setPermanent(bool permanent) { permanent_ = permanent; }

private:
    void markLost(const QString& reason);
    void tryReconnect();
    void look();

    SeasonLibrary* owner_;
    QString name_;
    std::unique_ptr<Dialect> dialect_;
    bool lost_ = false;
    bool inTransaction_ = false;
    bool permanent_ = false;
    QElapsedTimer lastAttempt_;
    QTimer watch_, reconnect_, changedSoon_;
};

} // namespace library
