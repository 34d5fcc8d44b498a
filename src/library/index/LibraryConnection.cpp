#include "index/LibraryConnection.h"

#include <QSqlError>
#include <algorithm>
#include <iterator>

namespace library {

namespace {

constexpr int kReconnectMs = 1000;

// Errors that may be gone on the next try: a held library, a disk or a
// server in trouble. Any other (a constraint, bad data) fails the same way.
bool isPassing(const QString& error) {
    static const char* const passing[] = {"database is locked",       "database table is locked",
                                          "disk I/O error",           "unable to open",
                                          "database or disk is full", "readonly database",
                                          "statement timeout",        "deadlock detected",
                                          "could not serialize",      "terminating connection"};
    return std::any_of(std::begin(passing), std::end(passing), [&](const char* text) {
        return error.contains(QLatin1String(text), Qt::CaseInsensitive);
    });
}

} // namespace

QString lostText() {
    return QStringLiteral("ライブラリのサーバーとの接続が切れています。つながりしだい続けます。");
}

Connection::Connection(SeasonLibrary* owner, const QString& name) : owner_(owner), name_(name) {
    changedSoon_.setSingleShot(true);
    changedSoon_.setInterval(50);
    QObject::connect(&changedSoon_, &QTimer::timeout, owner, &SeasonLibrary::changed);
    QObject::connect(&watch_, &QTimer::timeout, owner, [this] { look(); });
    QObject::connect(&reconnect_, &QTimer::timeout, owner, [this] {
        if (lost_)
            tryReconnect();
    });
}

Connection::~Connection() {
    watch_.stop();
    reconnect_.stop();
    {
        QSqlDatabase d = db();
        if (d.isValid())
            d.close();
    }
    QSqlDatabase::removeDatabase(name_);
}

bool Connection::open(std::unique_ptr<Dialect> dialect, QString* error) {
    dialect_ = std::move(dialect);
    if (!dialect_->connect(name_, error))
        return false;
    QSqlDatabase d = db();
    if (!dialect_->prepareSchema(d, error))
        return false;
    dialect_->watch(d, owner_, [this] { changedSoon_.start(); });
    watch_.start(dialect_->watchMs());
    return true;
}

bool Connection::exec(QSqlQuery& q, QString* error) {
    if (q.exec())
        return true;
    if (error)
        *error = q.lastError().text();
    return false;
}

bool Connection::exec(QSqlQuery& q, const QString& sql, QString* error) {
    if (q.exec(sql))
        return true;
    if (error)
        *error = q.lastError().text();
    return false;
}

bool Connection::prepare(QSqlQuery& q, const QString& sql, QString* error) {
    if (q.prepare(sql))
        return true;
    if (error)
        *error = q.lastError().text();
    return false;
}

bool Connection::begin(QString* error) {
    QSqlQuery q(db());
    if (!exec(q, dialect_->beginSql(), error))
        return false;
    inTransaction_ = true;
    return true;
}

bool Connection::commit(QString* error) {
    QSqlQuery q(db());
    if (const QString announce = dialect_->announceSql();
        !announce.isEmpty() && !exec(q, announce, error))
        return false;
    if (!exec(q, QStringLiteral("COMMIT"), error))
        return false;
    inTransaction_ = false;
    changedSoon_.start();
    return true;
}

void Connection::rollback() {
    QSqlQuery r(db());
    r.exec(QStringLiteral("ROLLBACK"));
    inTransaction_ = false;
}

bool Connection::fail(QString* error) {
    if (inTransaction_)
        rollback();
    const QString detail = error ? *error : QString();
    if (dialect_->canBeLost() && !lost_) {
        QSqlQuery ping(db());
        if (!ping.exec(QStringLiteral("SELECT 1")))
            markLost(detail);
    }
    permanent_ = !lost_ && !isPassing(detail);
    if (error)
        *error = lost_ ? lostText() + QStringLiteral(" (") + detail + QLatin1Char(')')
                 : isBusy(detail)
                     ? dialect_->busyText(detail)
                     : QStringLiteral("ライブラリのデータベースでエラーが起きました: ") + detail;
    return false;
}

bool Connection::usable(QString* error) {
    if (lost_ && (!lastAttempt_.isValid() || lastAttempt_.elapsed() >= kReconnectMs))
        tryReconnect();
    if (!lost_)
        return true;
    permanent_ = false;
    if (error)
        *error = lostText();
    return false;
}

void Connection::markLost(const QString& reason) {
    if (lost_)
        return;
    lost_ = true;
    inTransaction_ = false;
    {
        QSqlDatabase d = db();
        d.close();
    }
    lastAttempt_.start();
    reconnect_.start(kReconnectMs);
    emit owner_->connectionLost(lostText() +
                                (reason.isEmpty()
                                     ? QString()
                                     : QStringLiteral(" (") + reason.trimmed() + QLatin1Char(')')));
}

void Connection::tryReconnect() {
    lastAttempt_.start();
    QSqlDatabase d = db();
    if (!d.open())
        return;
    QSqlQuery ping(d);
    if (!ping.exec(QStringLiteral("SELECT 1"))) {
        d.close();
        return;
    }
    lost_ = false;
    reconnect_.stop();
    dialect_->listen(d);
    emit owner_->connectionRestored();
    changedSoon_.start();
}

void Connection::look() {
    if (lost_)
        return;
    QSqlDatabase d = db();
    QString reason;
    switch (dialect_->look(d, reason)) {
    case Dialect::Look::Changed:
        changedSoon_.start();
        break;
    case Dialect::Look::Lost:
        markLost(reason);
        break;
    case Dialect::Look::Same:
        break;
    }
}

} // namespace library
