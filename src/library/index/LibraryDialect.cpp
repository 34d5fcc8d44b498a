#include "index/LibraryDialect.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>
#include <QVariant>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "index/LibraryFiles.h"
#include "index/LibraryStore.h"

namespace library {

qint64 lockHolderOf(const QString& file, const QList<QByteArray>& lines) {
    struct stat st {};
    if (::stat(QFile::encodeName(file).constData(), &st) != 0)
        return 0;
    qint64 found = 0;
    for (const QByteArray& line : lines) {
        // "1: POSIX  ADVISORY  WRITE 4711 08:01:1234 120 120"
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 8 || f[1] != "POSIX" || f[3] != "WRITE")
            continue;
        const QList<QByteArray> id = f[5].split(':');
        if (id.size() != 3 || id[2].toULongLong() != static_cast<qulonglong>(st.st_ino) ||
            makedev(id[0].toUInt(nullptr, 16), id[1].toUInt(nullptr, 16)) != st.st_dev)
            continue;
        const qint64 pid = f[4].toLongLong();
        if (pid <= 0 || pid == ::getpid())
            continue;
        const bool writer = f[6].toLongLong() <= 120 && (f[7] == "EOF" || f[7].toLongLong() >= 120);
        if (found == 0 || writer)
            found = pid;
        if (writer)
            break;
    }
    return found;
}

namespace {

const QString kChannel = QStringLiteral("rucktag_library");
constexpr int kSqlitePollMs = 500;
constexpr int kServerCheckMs = 2000;
constexpr int kRowsPerInsert = 250;

// The process holding a write lock on the SQLite library at `path` (its
// WAL index's writer lock first, else the file's own), as "pid N: name",
// from /proc/locks: opening the files to ask would drop this process's own
// locks on them.
QString sqliteLockHolder(const QString& path) {
    QFile table(QStringLiteral("/proc/locks"));
    if (!table.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QString& file : {path + QStringLiteral("-shm"), path}) {
        const qint64 found = lockHolderOf(file, lines);
        if (found > 0) {
            QFile comm(QStringLiteral("/proc/%1/comm").arg(found));
            const QString name = comm.open(QIODevice::ReadOnly)
                                     ? QString::fromLocal8Bit(comm.readAll()).trimmed()
                                     : QString();
            return QStringLiteral("pid %1").arg(found) +
                   (name.isEmpty() ? QString() : QStringLiteral(": ") + name);
        }
    }
    return {};
}

bool refuse(QString* error, const QString& why) {
    if (error)
        *error = why;
    return false;
}

class SqliteDialect final : public Dialect {
public:
    SqliteDialect(const QString& target, SeasonLibrary::Access access)
        : target_(target), path_(QFileInfo(target).absoluteFilePath()),
          readOnly_(access == SeasonLibrary::Access::ReadOnly) {}

    bool isPostgres() const override { return false; }

    bool connect(const QString& name, QString* error) override {
        if (const QString network = networkFileSystem(path_); !network.isEmpty())
            return refuse(
                error, QStringLiteral("ライブラリのファイル %1 はネットワーク上のファイルシステム "
                                      "(%2) にあります。SQLite のライブラリはネットワーク越しには"
                                      "使えません。クラブで共有するときは PostgreSQL を使って"
                                      "ください (--database postgresql://サーバー/データベース)。")
                           .arg(path_, network));
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
            return refuse(error, QStringLiteral("SQLite のドライバー (libqt6sql6-sqlite) "
                                                "が入っていません。"));
        return readOnly_ ? openReadOnly(name, error) : openReadWrite(name, error);
    }

    bool prepareSchema(QSqlDatabase& db, QString* error) override {
        QString why;
        if (readOnly_) {
            const int version = store::schemaVersion(db, &why);
            if (version != store::kSchemaVersion)
                return refuse(
                    error, QStringLiteral("読むだけで開いたライブラリ %1 の版 (%2) はこの Rucktag "
                                          "の版 (%3) と違います。書き込めるところで一度 rucktag "
                                          "library scan を実行してください。%4")
                               .arg(target_)
                               .arg(version)
                               .arg(store::kSchemaVersion)
                               .arg(why));
        } else if (!store::migrate(db, false, &why)) {
            return refuse(
                error,
                QStringLiteral("ライブラリを準備できません (%1): %2").arg(target_, busyText(why)));
        }
        commentIndex_ = store::hasCommentIndex(db);
        return true;
    }

    void watch(QSqlDatabase& db, QObject*, const std::function<void()>&) override {
        QString reason;
        look(db, reason);
    }
    void listen(QSqlDatabase&) override {}
    int watchMs() const override { return kSqlitePollMs; }

    Look look(QSqlDatabase& db, QString&) override {
        QSqlQuery q(db);
        Look seen = Look::Same;
        if (q.exec(QStringLiteral("PRAGMA data_version")) && q.next()) {
            const qint64 version = q.value(0).toLongLong();
            if (dataVersion_ >= 0 && version != dataVersion_)
                seen = Look::Changed;
            dataVersion_ = version;
        }
        return seen;
    }
    bool canBeLost() const override { return false; }

    QString beginSql() const override { return QStringLiteral("BEGIN IMMEDIATE"); }
    QString announceSql() const override { return {}; }
    // One row a statement, prepared once: its Qt driver looks bound values
    // up one by one, which grows with the square of a statement's values.
    qsizetype rowsPerInsert() const override { return 1; }
    // The transaction holds the only write lock: the ids are ours to give.
    bool givesTagIds() const override { return true; }
    QString lockMatchSql() const override { return {}; }
    QString statisticsSql() const override { return QStringLiteral("PRAGMA optimize"); }
    QString commentIndexCondition() const override {
        return commentIndex_
                   ? QStringLiteral(
                         " AND t.id IN (SELECT rowid FROM tags_fts WHERE tags_fts MATCH ?)")
                   : QString();
    }

    // SQLite waited its whole busy timeout: say who holds the library.
    QString busyText(const QString& detail) const override {
        if (!isBusy(detail))
            return detail;
        const QString holder = sqliteLockHolder(path_);
        return (holder.isEmpty()
                    ? QStringLiteral("ライブラリ %1 は別のプロセスが %2 秒より長く書き込みに使って"
                                     "いるので、使えませんでした。")
                          .arg(path_)
                          .arg(busySeconds())
                    : QStringLiteral("ライブラリ %1 は別のプロセス (%3) が %2 秒より長く書き込み"
                                     "に使っているので、使えませんでした。")
                          .arg(path_)
                          .arg(busySeconds())
                          .arg(holder)) +
               QStringLiteral("そのプロセスが終わってから、もう一度試してください。 (") +
               detail.trimmed() + QLatin1Char(')');
    }

private:
    QString busyOption() const {
        return QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busySeconds() * 1000);
    }

    // Searching a library on a read-only medium or of another user: nothing
    // is made or changed.
    bool openReadOnly(const QString& name, QString* error) {
        if (!QFileInfo(path_).isFile())
            return refuse(error, QStringLiteral("ライブラリのファイルがありません: ") + path_);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path_);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;") + busyOption());
        QString readError;
        const auto readable = [&] {
            QSqlQuery probe(db);
            if (db.open() && probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
                return true;
            readError = probe.lastError().text().isEmpty() ? db.lastError().text()
                                                           : probe.lastError().text();
            db.close();
            return false;
        };
        if (readable())
            return true;
        // A WAL library in a folder we cannot write has no shared memory
        // file to read through: read it as a file that does not change.
        db.setDatabaseName(QUrl::fromLocalFile(path_).toString(QUrl::FullyEncoded) +
                           QStringLiteral("?immutable=1"));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI;") +
                             busyOption());
        if (readable())
            return true;
        return refuse(error, QStringLiteral("ライブラリのファイルを開けません (%1): %2")
                                 .arg(path_, busyText(readError)));
    }

    bool openReadWrite(const QString& name, QString* error) {
        if (!QDir().mkpath(QFileInfo(path_).absolutePath()))
            return refuse(error, QStringLiteral("ライブラリのフォルダーを作れません: ") +
                                     QFileInfo(path_).absolutePath());
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path_);
        db.setConnectOptions(busyOption());
        if (!db.open())
            return refuse(error, QStringLiteral("ライブラリのファイルを開けません (%1): %2")
                                     .arg(path_, db.lastError().text()));
        QSqlQuery q(db);
        // SQLite answers a change of journal mode with "locked" at once,
        // without its busy handler, while another process opens the same
        // new file: wait here as long as the handler would.
        QElapsedTimer waited;
        waited.start();
        bool wal = false;
        while (!(wal = q.exec(QStringLiteral("PRAGMA journal_mode = WAL"))) &&
               isBusy(q.lastError().text()) && waited.elapsed() < busySeconds() * 1000)
            QThread::msleep(20);
        if (!wal || !q.next() ||
            q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
            return refuse(error, QStringLiteral("ライブラリのファイルを開けません (%1): %2")
                                     .arg(path_, q.lastError().text().isEmpty()
                                                     ? QStringLiteral("WAL にできません")
                                                     : busyText(q.lastError().text())));
        q.exec(QStringLiteral("PRAGMA synchronous = NORMAL"));
        q.exec(QStringLiteral("PRAGMA foreign_keys = ON"));
        return true;
    }

    QString target_, path_;
    bool readOnly_ = false;
    bool commentIndex_ = false;
    qint64 dataVersion_ = -1;
};

class PostgresDialect final : public Dialect {
public:
    explicit PostgresDialect(const QString& target) : target_(target) {}

    bool isPostgres() const override { return true; }

    bool connect(const QString& name, QString* error) override {
        PostgresTarget pg;
        QString why;
        if (!parsePostgresUrl(target_, pg, &why))
            return refuse(error, why);
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
            return refuse(error, QStringLiteral("PostgreSQL のドライバー (libqt6sql6-psql) "
                                                "が入っていません。"));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        // All of it in one quoted connection string (Qt would join the
        // options unquoted). No password: libpq reads ~/.pgpass or
        // PGPASSWORD itself.
        db.setConnectOptions(postgresConnectOptions(
            pg, {QStringLiteral("connect_timeout=3"), QStringLiteral("application_name=rucktag")}));
        if (!db.open())
            return refuse(error, QStringLiteral("ライブラリのサーバーにつながりません (%1): %2")
                                     .arg(target_, db.lastError().text().trimmed()));
        return true;
    }

    bool prepareSchema(QSqlDatabase& db, QString* error) override {
        QString why;
        if (!store::migrate(db, true, &why))
            return refuse(error,
                          QStringLiteral("ライブラリを準備できません (%1): %2").arg(target_, why));
        // Trigram index for comment searches where the server has pg_trgm;
        // searches work without it.
        QSqlQuery q(db);
        if (q.exec(QStringLiteral(
                "SELECT 1 FROM pg_indexes WHERE indexname = 'tags_comment_key_trgm'")) &&
            !q.next() && q.exec(QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm")))
            q.exec(QStringLiteral("CREATE INDEX IF NOT EXISTS tags_comment_key_trgm ON tags "
                                  "USING gin (comment_key gin_trgm_ops)"));
        return true;
    }

    void watch(QSqlDatabase& db, QObject* context,
               const std::function<void()>& changedElsewhere) override {
        listen(db);
        QObject::connect(db.driver(), &QSqlDriver::notification, context,
                         [changedElsewhere](const QString& channel,
                                            QSqlDriver::NotificationSource source,
                                            const QVariant&) {
                             if (channel == kChannel && source != QSqlDriver::SelfSource)
                                 changedElsewhere();
                         });
    }
    void listen(QSqlDatabase& db) override {
        QSqlDriver* driver = db.driver();
        if (!driver->subscribedToNotifications().contains(kChannel))
            driver->subscribeToNotification(kChannel);
    }
    int watchMs() const override { return kServerCheckMs; }

    Look look(QSqlDatabase& db, QString& reason) override {
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("SELECT 1")))
            return Look::Same;
        reason = q.lastError().text();
        return Look::Lost;
    }
    bool canBeLost() const override { return true; }

    QString beginSql() const override { return QStringLiteral("BEGIN"); }
    QString announceSql() const override { return QStringLiteral("NOTIFY ") + kChannel; }
    // Many rows a statement: a round trip per row is slow.
    qsizetype rowsPerInsert() const override { return kRowsPerInsert; }
    bool givesTagIds() const override { return false; }
    QString lockMatchSql() const override {
        return QStringLiteral("SELECT id FROM matches WHERE id = ? FOR UPDATE");
    }
    // The server's autovacuum comes later.
    QString statisticsSql() const override {
        return QStringLiteral("ANALYZE matches, tags, tag_labels");
    }
    QString commentIndexCondition() const override { return {}; }
    QString busyText(const QString& detail) const override { return detail; }

private:
    QString target_;
};

} // namespace

int busySeconds() {
    bool ok = false;
    const int chosen = qEnvironmentVariableIntValue("RUCKTAG_LIBRARY_BUSY_SECONDS", &ok);
    return ok && chosen >= 1 && chosen <= 600 ? chosen : 30;
}

bool isBusy(const QString& error) {
    return error.contains(QLatin1String("database is locked"), Qt::CaseInsensitive);
}

std::unique_ptr<Dialect> dialectFor(const QString& target, SeasonLibrary::Access access) {
    if (isPostgresUrl(target))
        return std::make_unique<PostgresDialect>(target);
    return std::make_unique<SqliteDialect>(target, access);
}

} // namespace library
