#include "index/SeasonLibrary.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "SubModuleClass/TagFileManager.h"
#include "index/LibraryFiles.h"
#include "index/LibraryStore.h"
#include "text/TimeText.h"

namespace library {

namespace fs = std::filesystem;

namespace {

const QString kChannel = QStringLiteral("rucktag_library");
constexpr int kSqlitePollMs = 500;
constexpr int kServerCheckMs = 2000;
constexpr int kReconnectMs = 1000;
constexpr int kRowsPerInsert = 250;

std::atomic<int> connectionCount{0};

QString lostText() {
    return QStringLiteral("ライブラリのサーバーとの接続が切れています。つながりしだい続けます。");
}

bool isVideoName(const std::string& name) {
    std::string ext = fs::path(name).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".avi" || ext == ".mp4" || ext == ".mts" || ext == ".m2ts";
}

bool startsWithSessionHeader(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::getline(in, line);
    if (line.rfind("\xEF\xBB\xBF", 0) == 0)
        line.erase(0, 3);
    return line.rfind(std::string(TagFileManager::kHeader), 0) == 0;
}

bool isUnder(const std::string& path, const std::string& folder) {
    if (folder == "/")
        return path.size() > 1 && path[0] == '/';
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

std::string canonicalOf(const std::string& path) {
    std::error_code ec;
    const fs::path c = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? fs::absolute(path).lexically_normal().string() : c.string();
}

QString lineList(const std::vector<size_t>& lines, const QString& what = QStringLiteral("行")) {
    QStringList parts;
    for (size_t i = 0; i < lines.size() && i < 5; ++i)
        parts << QString::number(lines[i]);
    if (lines.size() > 5)
        parts << QStringLiteral("…");
    return QStringLiteral(" (") + what + QLatin1Char(' ') + parts.join(QStringLiteral(", ")) +
           QLatin1Char(')');
}

// Times the index cannot hold (NaN, infinities, negative), which older files
// may have: the session is skipped rather than stored wrong.
QString unindexableTimes(const std::vector<std::shared_ptr<TagRowData>>& rows) {
    const auto wrong = [](float v) { return !std::isfinite(v) || v < 0; };
    std::vector<size_t> bad;
    for (size_t i = 0; i < rows.size(); ++i)
        if (wrong(rows[i]->time_val) || (rows[i]->end.isSet() && wrong(rows[i]->end.time)))
            bad.push_back(i + 1);
    if (bad.empty())
        return {};
    return QStringLiteral("時刻が数でないか負のタグがあります") +
           lineList(bad, QStringLiteral("タグ"));
}

// Why a session file is not indexed; empty when it can be.
QString damageReason(const TagFileManager::LoadResult& r) {
    if (!r.error.empty())
        return QStringLiteral("読めません: ") + QString::fromStdString(r.error);
    QStringList why;
    if (r.headerMissing)
        why << QStringLiteral("1 行目に見出しがありません");
    if (!r.shortRows.empty())
        why << QStringLiteral("項目の足りない行があります") + lineList(r.shortRows);
    if (!r.longRows.empty())
        why << QStringLiteral("項目の多すぎる行があります") + lineList(r.longRows);
    if (!r.unreadableTimes.empty())
        why << QStringLiteral("時刻を読めない行があります") + lineList(r.unreadableTimes);
    if (!r.unreadableExtras.empty())
        why << QStringLiteral("終了時刻かラベルを読めない行があります") +
                   lineList(r.unreadableExtras);
    if (!r.badTimes.empty())
        why << QStringLiteral("負か無限大か数でない時刻、または開始より前の終了時刻があります") +
                   lineList(r.badTimes);
    if (!r.unclosedQuotes.empty())
        why << QStringLiteral("閉じていない引用符があります") + lineList(r.unclosedQuotes);
    if (why.isEmpty())
        return unindexableTimes(r.rows);
    return QStringLiteral("壊れたセッションファイルです: ") + why.join(QStringLiteral("、"));
}

bool isSessionName(const std::string& name) {
    return name.size() >= 4 && name.compare(name.size() - 4, 4, ".csv") == 0;
}

// Our own CSV export (a header naming the extras, or lines of five fields),
// which is no session file however alike it begins.
bool isExportFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string head(64 * 1024, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    if (head.rfind("\xEF\xBB\xBF", 0) == 0)
        head.erase(0, 3);
    const size_t eol = head.find('\n');
    if (eol == std::string::npos)
        return false;
    std::string header = head.substr(0, eol);
    if (!header.empty() && header.back() == '\r')
        header.pop_back();
    if (header == std::string(TagFileManager::kHeader) + std::string(TagFileManager::kExtraHeader))
        return true;
    // The first line's fields, quotes (and the line ends inside them) kept.
    int fields = 1;
    bool quoted = false;
    for (size_t i = eol + 1; i < head.size(); ++i) {
        const char c = head[i];
        if (c == '"')
            quoted = !quoted;
        else if (c == ',' && !quoted)
            ++fields;
        else if (c == '\n' && !quoted)
            return fields == 5;
    }
    return false;
}

QString errnoText(int code) {
    switch (code) {
    case EACCES:
    case EPERM:
        return QStringLiteral("読む権限がありません");
    case ENOENT:
        return QStringLiteral("見つかりません");
    case ELOOP:
        return QStringLiteral("リンクが輪になっています");
    case EIO:
        return QStringLiteral("読み出しのエラーです (ディスクかドライブを確かめてください)");
    case ENOTCONN:
    case ESTALE:
    case EHOSTDOWN:
        return QStringLiteral("つながっていないドライブです");
    default:
        return QStringLiteral("読めません (エラー番号 %1)").arg(code);
    }
}

// How long SQLite waits for another process's write (RUCKTAG_LIBRARY_BUSY_SECONDS,
// 1 to 600; 30 by default: as long as someone would wait for a save).
int busySeconds() {
    bool ok = false;
    const int chosen = qEnvironmentVariableIntValue("RUCKTAG_LIBRARY_BUSY_SECONDS", &ok);
    return ok && chosen >= 1 && chosen <= 600 ? chosen : 30;
}

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
        struct stat st {};
        if (::stat(QFile::encodeName(file).constData(), &st) != 0)
            continue;
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
            // On the WAL index the writer's byte is 120.
            const bool writer =
                f[6].toLongLong() <= 120 && (f[7] == "EOF" || f[7].toLongLong() >= 120);
            if (found == 0 || writer)
                found = pid;
            if (writer)
                break;
        }
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

// SQLite's busy timeout ran out: another process holds the library.
bool isBusy(const QString& error) {
    return error.contains(QLatin1String("database is locked"), Qt::CaseInsensitive);
}

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

// The float the session file gave, as the shortest double that reads back
// as it (0.1, not 0.10000000149).
double exactSeconds(float value) {
    return readDecimal(floatText(value));
}

// Qt binds a null QString as SQL NULL; the text columns are NOT NULL.
QString notNull(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

QVariant nullDouble() {
    return QVariant(QMetaType::fromType<double>());
}

// A session file found beside its video.
struct Found {
    std::string video, session, canonical;
};

// A match as the database has it.
struct Stored {
    qint64 id = 0;
    std::string video, session, canonical;
    FileStamp videoStamp, sessionStamp;
    QString identity, sessionHash, unreadable;
    bool seen = false;
};

// What a walk through the folders found.
struct Walk {
    std::vector<Found> found;
    std::set<std::string> listed;              // folders read whole
    std::map<std::string, QString> unreadable; // folders and files not read now, why
};

} // namespace

// What is written for one match.
struct Record {
    std::string video, session, canonical;
    FileStamp videoStamp, sessionStamp;
    QString identity, sessionHash;
};

struct SeasonLibrary::Impl {
    SeasonLibrary* self = nullptr;
    QString name;
    QString target;
    bool postgres = false;
    bool commentIndex = false;
    bool lost = false;
    bool inTransaction = false;
    // The last failure will fail again the same way (bad data, a constraint):
    // not the library being away.
    bool permanent = false;
    QElapsedTimer lastAttempt;
    QTimer watch, reconnect, changedSoon;
    qint64 dataVersion = -1;

    QString sqlitePath;

    QSqlDatabase db() const { return QSqlDatabase::database(name, false); }

    // SQLite waited its whole busy timeout: say who holds the library.
    QString busyText(const QString& detail) const {
        if (postgres || !isBusy(detail))
            return detail;
        const QString holder = sqliteLockHolder(sqlitePath);
        return (holder.isEmpty()
                    ? QStringLiteral("ライブラリ %1 は別のプロセスが %2 秒より長く書き込みに使って"
                                     "いるので、使えませんでした。")
                          .arg(sqlitePath)
                          .arg(busySeconds())
                    : QStringLiteral("ライブラリ %1 は別のプロセス (%3) が %2 秒より長く書き込み"
                                     "に使っているので、使えませんでした。")
                          .arg(sqlitePath)
                          .arg(busySeconds())
                          .arg(holder)) +
               QStringLiteral("そのプロセスが終わってから、もう一度試してください。 (") +
               detail.trimmed() + QLatin1Char(')');
    }

    bool exec(QSqlQuery& q, QString* error) {
        if (q.exec())
            return true;
        if (error)
            *error = q.lastError().text();
        return false;
    }
    bool exec(QSqlQuery& q, const QString& sql, QString* error) {
        if (q.exec(sql))
            return true;
        if (error)
            *error = q.lastError().text();
        return false;
    }
    bool prepare(QSqlQuery& q, const QString& sql, QString* error) {
        if (q.prepare(sql))
            return true;
        if (error)
            *error = q.lastError().text();
        return false;
    }

    // Every failure ends here: the transaction is undone, and on a server
    // whose connection is gone the loss is said once.
    bool fail(QString* error) {
        if (inTransaction) {
            QSqlQuery r(db());
            r.exec(QStringLiteral("ROLLBACK"));
            inTransaction = false;
        }
        const QString detail = error ? *error : QString();
        if (postgres && !lost) {
            QSqlQuery ping(db());
            if (!ping.exec(QStringLiteral("SELECT 1")))
                markLost(detail);
        }
        permanent = !lost && !isPassing(detail);
        if (error)
            *error =
                lost ? lostText() + QStringLiteral(" (") + detail + QLatin1Char(')')
                : isBusy(detail)
                    ? busyText(detail)
                    : QStringLiteral("ライブラリのデータベースでエラーが起きました: ") + detail;
        return false;
    }

    // False (with the reason) while the server is away; a call then tries to
    // reconnect at most once a second, so it never waits long.
    bool usable(QString* error) {
        if (lost && (!lastAttempt.isValid() || lastAttempt.elapsed() >= kReconnectMs))
            tryReconnect();
        if (!lost)
            return true;
        permanent = false;
        if (error)
            *error = lostText();
        return false;
    }

    void markLost(const QString& reason) {
        if (lost)
            return;
        lost = true;
        inTransaction = false;
        {
            QSqlDatabase d = db();
            d.close();
        }
        lastAttempt.start();
        reconnect.start(kReconnectMs);
        emit self->connectionLost(
            lostText() + (reason.isEmpty()
                              ? QString()
                              : QStringLiteral(" (") + reason.trimmed() + QLatin1Char(')')));
    }

    void tryReconnect() {
        lastAttempt.start();
        QSqlDatabase d = db();
        if (!d.open())
            return;
        QSqlQuery ping(d);
        if (!ping.exec(QStringLiteral("SELECT 1"))) {
            d.close();
            return;
        }
        lost = false;
        reconnect.stop();
        listen();
        emit self->connectionRestored();
        changedSoon.start();
    }

    void listen() {
        if (!postgres)
            return;
        QSqlDriver* driver = db().driver();
        if (!driver->subscribedToNotifications().contains(kChannel))
            driver->subscribeToNotification(kChannel);
    }

    void poll() {
        if (lost)
            return;
        QSqlQuery q(db());
        if (postgres) {
            if (!q.exec(QStringLiteral("SELECT 1")))
                markLost(q.lastError().text());
            return;
        }
        if (q.exec(QStringLiteral("PRAGMA data_version")) && q.next()) {
            const qint64 version = q.value(0).toLongLong();
            if (dataVersion >= 0 && version != dataVersion)
                changedSoon.start();
            dataVersion = version;
        }
    }

    bool begin(QString* error) {
        QSqlQuery q(db());
        if (!exec(q, postgres ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"), error))
            return false;
        inTransaction = true;
        return true;
    }

    bool commit(QString* error) {
        QSqlQuery q(db());
        if (postgres && !exec(q, QStringLiteral("NOTIFY ") + kChannel, error))
            return false;
        if (!exec(q, QStringLiteral("COMMIT"), error))
            return false;
        inTransaction = false;
        changedSoon.start();
        return true;
    }

    bool loadStored(std::vector<Stored>& out, QString* error) {
        QSqlQuery q(db());
        q.setForwardOnly(true);
        if (!exec(q,
                  QStringLiteral("SELECT id, video, session, canonical, video_size, video_mtime, "
                                 "session_size, session_mtime, video_identity, session_hash, "
                                 "unreadable, session_device FROM matches"),
                  error))
            return false;
        while (q.next()) {
            Stored s;
            s.id = q.value(0).toLongLong();
            s.video = q.value(1).toString().toStdString();
            s.session = q.value(2).toString().toStdString();
            s.canonical = q.value(3).toString().toStdString();
            s.videoStamp = {q.value(4).toLongLong(), q.value(5).toLongLong()};
            s.sessionStamp = {q.value(6).toLongLong(), q.value(7).toLongLong()};
            s.identity = q.value(8).toString();
            s.sessionHash = q.value(9).toString();
            s.unreadable = q.value(10).toString();
            s.sessionStamp.device = q.value(11).toLongLong();
            out.push_back(std::move(s));
        }
        return true;
    }

    // Inserts rows of `width` values each. A server gets many rows a
    // statement (a round trip per row is slow); SQLite one row a statement,
    // prepared once (its Qt driver looks bound values up one by one, which
    // grows with the square of a statement's values).
    bool insertRows(const QString& head, int width, const QVariantList& values, QString* error,
                    const QString& tail = QString(),
                    const std::function<void(QSqlQuery&)>& returned = nullptr) {
        const qsizetype rows = values.size() / width;
        const qsizetype perStatement = postgres ? kRowsPerInsert : 1;
        QString one = QStringLiteral("(");
        for (int i = 0; i < width; ++i)
            one += i == 0 ? QStringLiteral("?") : QStringLiteral(", ?");
        one += QLatin1Char(')');
        QSqlQuery q(db());
        qsizetype prepared = 0;
        for (qsizetype start = 0; start < rows; start += perStatement) {
            const qsizetype count = std::min(perStatement, rows - start);
            if (count != prepared) {
                QStringList list;
                for (qsizetype i = 0; i < count; ++i)
                    list << one;
                if (!prepare(q, head + list.join(QStringLiteral(", ")) + tail, error))
                    return false;
                prepared = count;
            }
            for (qsizetype i = start * width; i < (start + count) * width; ++i)
                q.addBindValue(values[i]);
            if (!exec(q, error))
                return false;
            while (returned && q.next())
                returned(q);
        }
        return true;
    }

    bool insertTags(qint64 match, const std::vector<std::shared_ptr<TagRowData>>& rows,
                    QString* error) {
        // SQLite: this transaction holds the only write lock, so the ids are
        // ours to give (no row to read back per tag). A server returns them.
        qint64 firstId = 0;
        if (!postgres) {
            QSqlQuery top(db());
            if (!exec(top, QStringLiteral("SELECT coalesce(max(id), 0) FROM tags"), error) ||
                !top.next())
                return false;
            firstId = top.value(0).toLongLong() + 1;
        }
        QVariantList tags, labels;
        tags.reserve(static_cast<qsizetype>(rows.size()) * 10);
        for (size_t i = 0; i < rows.size(); ++i) {
            const TagRowData& t = *rows[i];
            if (!postgres) {
                const qint64 id = firstId + static_cast<qint64>(i);
                tags << id;
                for (const auto& [group, text] : t.labels)
                    labels << id << QString::fromStdString(group) << QString::fromStdString(text);
            }
            tags << match << static_cast<qint64>(i) << (t.team ? 1 : 0) << exactSeconds(t.time_val)
                 << (t.end.isSet() ? QVariant(exactSeconds(t.end.time)) : nullDouble())
                 << QString::fromStdString(t.name)
                 << QString::fromStdString(TagFileManager::labelsText(t.labels))
                 << QString::fromStdString(t.comment)
                 << searchKey(QString::fromStdString(t.comment));
        }
        // The labels point at their tag's id (a label filter is then one
        // semi-join the planners handle well).
        const auto labelsOf = [&](QSqlQuery& q) {
            const qint64 id = q.value(0).toLongLong();
            const size_t position = static_cast<size_t>(q.value(1).toLongLong());
            if (position < rows.size())
                for (const auto& [group, text] : rows[position]->labels)
                    labels << id << QString::fromStdString(group) << QString::fromStdString(text);
        };
        const bool inserted =
            postgres
                ? insertRows(QStringLiteral("INSERT INTO tags (match_id, position, team, "
                                            "start_time, end_time, code, labels, comment, "
                                            "comment_key) VALUES "),
                             9, tags, error, QStringLiteral(" RETURNING id, position"), labelsOf)
                : insertRows(QStringLiteral("INSERT INTO tags (id, match_id, position, team, "
                                            "start_time, end_time, code, labels, comment, "
                                            "comment_key) VALUES "),
                             10, tags, error);
        return inserted &&
               insertRows(QStringLiteral("INSERT INTO tag_labels (tag_id, grp, text) VALUES "), 3,
                          labels, error);
    }

    // Writes one match (inserted when `id` is 0) and, when `rows` is given,
    // its tags in place of those it had; one transaction.
    bool store(qint64& id, const Record& r, const std::vector<std::shared_ptr<TagRowData>>* rows,
               QString* error) {
        if (!begin(error))
            return false;
        QSqlQuery q(db());
        if (id == 0) {
            const NameInfo info = infoFromFileName(r.video);
            if (!prepare(q,
                         QStringLiteral(
                             "INSERT INTO matches (video, canonical, video_size, video_mtime, "
                             "video_identity, session, session_size, session_mtime, "
                             "session_hash, title, date, session_device) VALUES (?, ?, ?, ?, ?, "
                             "?, ?, ?, ?, ?, ?, ?) ON CONFLICT (canonical) DO NOTHING"),
                         error))
                return false;
            q.addBindValue(QString::fromStdString(r.video));
            q.addBindValue(QString::fromStdString(r.canonical));
            q.addBindValue(static_cast<qint64>(r.videoStamp.size));
            q.addBindValue(static_cast<qint64>(r.videoStamp.mtime));
            q.addBindValue(r.identity);
            q.addBindValue(QString::fromStdString(r.session));
            q.addBindValue(static_cast<qint64>(r.sessionStamp.size));
            q.addBindValue(static_cast<qint64>(r.sessionStamp.mtime));
            q.addBindValue(r.sessionHash);
            q.addBindValue(notNull(info.title));
            q.addBindValue(notNull(info.date));
            q.addBindValue(static_cast<qint64>(r.sessionStamp.device));
            if (!exec(q, error))
                return false;
            QSqlQuery s(db());
            if (!prepare(s, QStringLiteral("SELECT id FROM matches WHERE canonical = ?"), error))
                return false;
            s.addBindValue(QString::fromStdString(r.canonical));
            if (!exec(s, error))
                return false;
            if (!s.next()) {
                if (error)
                    *error = QStringLiteral("試合を記録できませんでした");
                return false;
            }
            id = s.value(0).toLongLong();
        }
        // Another process writing the same match waits here (a server).
        if (postgres) {
            QSqlQuery lock(db());
            if (!prepare(lock, QStringLiteral("SELECT id FROM matches WHERE id = ? FOR UPDATE"),
                         error))
                return false;
            lock.addBindValue(id);
            if (!exec(lock, error))
                return false;
        }
        const NameInfo info = infoFromFileName(r.video);
        QSqlQuery u(db());
        if (!prepare(u,
                     QStringLiteral(
                         "UPDATE matches SET video = ?, canonical = ?, video_size = ?, "
                         "video_mtime = ?, video_identity = ?, session = ?, session_size = ?, "
                         "session_mtime = ?, session_hash = ?, unreadable = '', session_device = "
                         "?, title = CASE WHEN "
                         "info_edited = 0 "
                         "THEN ? ELSE title END, date = CASE WHEN info_edited = 0 THEN ? ELSE "
                         "date END WHERE id = ?"),
                     error))
            return false;
        u.addBindValue(QString::fromStdString(r.video));
        u.addBindValue(QString::fromStdString(r.canonical));
        u.addBindValue(static_cast<qint64>(r.videoStamp.size));
        u.addBindValue(static_cast<qint64>(r.videoStamp.mtime));
        u.addBindValue(r.identity);
        u.addBindValue(QString::fromStdString(r.session));
        u.addBindValue(static_cast<qint64>(r.sessionStamp.size));
        u.addBindValue(static_cast<qint64>(r.sessionStamp.mtime));
        u.addBindValue(r.sessionHash);
        u.addBindValue(static_cast<qint64>(r.sessionStamp.device));
        u.addBindValue(notNull(info.title));
        u.addBindValue(notNull(info.date));
        u.addBindValue(id);
        if (!exec(u, error))
            return false;
        if (rows) {
            for (const QString& sql :
                 {QStringLiteral("DELETE FROM tag_labels WHERE tag_id IN (SELECT id FROM tags "
                                 "WHERE match_id = ?)"),
                  QStringLiteral("DELETE FROM tags WHERE match_id = ?")}) {
                QSqlQuery del(db());
                if (!prepare(del, sql, error))
                    return false;
                del.addBindValue(id);
                if (!exec(del, error))
                    return false;
            }
            if (!insertTags(id, *rows, error))
                return false;
            QSqlQuery count(db());
            if (!prepare(count, QStringLiteral("UPDATE matches SET tag_count = ? WHERE id = ?"),
                         error))
                return false;
            count.addBindValue(static_cast<qint64>(rows->size()));
            count.addBindValue(id);
            if (!exec(count, error))
                return false;
        }
        return commit(error);
    }

    bool forget(qint64 id, QString* error) {
        if (!begin(error))
            return false;
        for (const QString& sql : {QStringLiteral("DELETE FROM tag_labels WHERE tag_id IN (SELECT "
                                                  "id FROM tags WHERE match_id = ?)"),
                                   QStringLiteral("DELETE FROM tags WHERE match_id = ?"),
                                   QStringLiteral("DELETE FROM matches WHERE id = ?")}) {
            QSqlQuery q(db());
            if (!prepare(q, sql, error))
                return false;
            q.addBindValue(id);
            if (!exec(q, error))
                return false;
        }
        return commit(error);
    }

    // The session files under `roots`, each beside its video. Links are
    // followed, each folder read once (a link back up is no loop); what
    // cannot be read now is said in `report` and noted in `w.unreadable`.
    void walk(const std::vector<std::string>& roots, Walk& w, ScanReport& report) {
        const auto cannot = [&](const std::string& path, const QString& why) {
            report.skipped.emplace_back(path, why);
            w.unreadable.emplace(path, why);
        };
        std::map<std::string, std::vector<std::string>> byFolder;
        std::set<std::pair<dev_t, ino_t>> visited;
        struct Dir {
            std::string path;
            bool viaLink = false;
        };
        std::vector<Dir> todo;
        for (auto root = roots.rbegin(); root != roots.rend(); ++root) {
            std::error_code ec;
            if (!fs::is_directory(*root, ec))
                cannot(*root, QStringLiteral("フォルダーが見つかりません"));
            else
                todo.push_back({*root, false});
        }
        while (!todo.empty()) {
            const Dir dir = std::move(todo.back());
            todo.pop_back();
            struct stat st {};
            if (::stat(dir.path.c_str(), &st) != 0) {
                cannot(dir.path, QStringLiteral("フォルダーを読めません: ") + errnoText(errno));
                continue;
            }
            if (!visited.insert({st.st_dev, st.st_ino}).second) {
                if (dir.viaLink)
                    report.skipped.emplace_back(
                        dir.path, QStringLiteral("読んだフォルダーへのリンクなので、もう一度は"
                                                 "読みません (輪になったリンクかもしれません)"));
                continue;
            }
            std::vector<std::string>& names = byFolder[dir.path];
            std::vector<Dir> below;
            std::error_code ec;
            fs::directory_iterator it(dir.path, ec), end;
            for (; !ec && it != end; it.increment(ec)) {
                const fs::path& path = it->path();
                const std::string name = path.filename().string();
                std::error_code linkError, typeError;
                const bool link = it->is_symlink(linkError);
                const fs::file_status target = fs::status(path, typeError);
                switch (target.type()) {
                case fs::file_type::directory:
                    below.push_back({path.string(), link});
                    break;
                case fs::file_type::regular:
                    names.push_back(name);
                    break;
                case fs::file_type::not_found:
                    if (link)
                        cannot(path.string(),
                               QStringLiteral("リンク先が見つかりません (つながっていない"
                                              "ドライブかもしれません)"));
                    break;
                case fs::file_type::none:
                case fs::file_type::unknown:
                    cannot(path.string(),
                           QStringLiteral("読めません: ") + errnoText(typeError.value()));
                    break;
                default: // FIFO, socket, device: never opened
                    if (isSessionName(name) || isVideoName(name))
                        report.skipped.emplace_back(
                            path.string(), QStringLiteral("普通のファイルではないので開きません "
                                                          "(FIFO・ソケット・デバイス)"));
                    break;
                }
            }
            if (ec)
                cannot(dir.path,
                       QStringLiteral("フォルダーを読めません: ") + errnoText(ec.value()));
            else
                w.listed.insert(dir.path);
            todo.insert(todo.end(), below.rbegin(), below.rend());
        }
        std::set<std::string> canonicals;
        for (auto& [folder, names] : byFolder) {
            std::sort(names.begin(), names.end());
            // The session-path rule, from the video's side: VIDEO.csv.
            std::map<std::string, std::string> videoOf;
            for (const std::string& name : names)
                if (isVideoName(name))
                    videoOf.emplace(fs::path(TagFileManager::sessionFilePath(name)).string(), name);
            for (const std::string& name : names) {
                if (!isSessionName(name))
                    continue;
                const std::string session = (fs::path(folder) / name).string();
                const auto video = videoOf.find(name);
                if (video == videoOf.end()) {
                    // Other CSV files (exports, tallies) are no concern of ours.
                    if (startsWithSessionHeader(session) && !isExportFile(session))
                        report.skipped.emplace_back(
                            session, QStringLiteral("同じ名前の動画 (avi, mp4, mts, m2ts) "
                                                    "が横にありません"));
                    continue;
                }
                Found f;
                f.video = (fs::path(folder) / video->second).string();
                f.session = session;
                f.canonical = canonicalOf(f.video);
                if (canonicals.insert(f.canonical).second)
                    w.found.push_back(std::move(f));
            }
        }
    }

    // A match whose files cannot be read now keeps its tags and edits, and
    // says why until they can be read again.
    bool mark(Stored& s, const QString& why, ScanReport& report, QString* error,
              int64_t device = 0) {
        if (!why.isEmpty())
            report.skipped.emplace_back(
                s.session, QStringLiteral("今は読めないので、前の索引のまま残します: ") + why);
        if (device == 0)
            device = s.sessionStamp.device;
        if (s.unreadable == why && s.sessionStamp.device == device)
            return true;
        if (!begin(error))
            return false;
        QSqlQuery q(db());
        if (!prepare(q,
                     QStringLiteral("UPDATE matches SET unreadable = ?, session_device = ? WHERE "
                                    "id = ?"),
                     error))
            return false;
        q.addBindValue(notNull(why));
        q.addBindValue(static_cast<qint64>(device));
        q.addBindValue(s.id);
        if (!exec(q, error))
            return false;
        s.unreadable = why;
        s.sessionStamp.device = device;
        return commit(error);
    }

    // A write for one file failed: a server gone (or a library held too
    // long) ends the scan; anything else skips that file alone.
    bool skipOrStop(const std::string& session, ScanReport& report, QString* error) {
        QString why = error ? *error : QString();
        fail(&why);
        if (!permanent) {
            if (error)
                *error = why;
            return false;
        }
        report.skipped.emplace_back(session, QStringLiteral("索引に入れられません: ") + why);
        return true;
    }

    bool scanFolders(const std::vector<std::string>& roots, ScanReport& report, QString* error) {
        Walk w;
        walk(roots, w, report);
        std::vector<Stored> stored;
        if (!loadStored(stored, error))
            return fail(error);
        std::map<std::string, size_t> byCanonical;
        for (size_t i = 0; i < stored.size(); ++i)
            byCanonical[stored[i].canonical] = i;
        // Marking a match is one small write: a failure ends the scan as any
        // other would.
        const auto marked = [&](Stored& s, const QString& why) {
            return mark(s, why, report, error) || skipOrStop(s.session, report, error);
        };

        std::vector<Found> fresh;
        for (const Found& f : w.found) {
            const auto at = byCanonical.find(f.canonical);
            if (at == byCanonical.end()) {
                fresh.push_back(f);
                continue;
            }
            Stored& s = stored[at->second];
            s.seen = true;
            const std::optional<FileStamp> sessionStamp = fileStamp(f.session);
            const std::optional<FileStamp> videoStamp = fileStamp(f.video);
            if (!sessionStamp || !videoStamp) {
                if (!marked(s, QStringLiteral("ファイルの情報を読めません")))
                    return false;
                continue;
            }
            const bool sameVideo =
                videoStamp->size == s.videoStamp.size && videoStamp->mtime == s.videoStamp.mtime;
            if (f.session == s.session && f.video == s.video && sameVideo &&
                sessionStamp->size == s.sessionStamp.size &&
                sessionStamp->mtime == s.sessionStamp.mtime) {
                if ((!s.unreadable.isEmpty() || s.sessionStamp.device != sessionStamp->device) &&
                    !(mark(s, QString(), report, error, sessionStamp->device) ||
                      skipOrStop(s.session, report, error)))
                    return false;
                ++report.unchanged;
                continue;
            }
            Record r{f.video,       f.session,  f.canonical,           *videoStamp,
                     *sessionStamp, s.identity, contentHash(f.session)};
            if (!sameVideo)
                r.identity = videoIdentity(f.video);
            if (r.sessionHash.isEmpty() || r.identity.isEmpty()) {
                if (!marked(s, r.sessionHash.isEmpty()
                                   ? QStringLiteral("セッションファイルを読めません")
                                   : QStringLiteral("動画を読めません")))
                    return false;
                continue;
            }
            if (r.sessionHash == s.sessionHash) {
                // Touched, not changed: the stamps are noted, the tags stay.
                qint64 id = s.id;
                if (!store(id, r, nullptr, error)) {
                    if (!skipOrStop(f.session, report, error))
                        return false;
                    continue;
                }
                ++report.unchanged;
                continue;
            }
            TagFileManager::LoadResult loaded = TagFileManager::readCSVFile(f.session);
            if (!loaded.error.empty()) {
                if (!marked(s,
                            QStringLiteral("読めません: ") + QString::fromStdString(loaded.error)))
                    return false;
                continue;
            }
            if (const QString why = damageReason(loaded); !why.isEmpty()) {
                report.skipped.emplace_back(f.session, why);
                if (!forget(s.id, error)) {
                    if (!skipOrStop(f.session, report, error))
                        return false;
                    continue;
                }
                ++report.removed;
                continue;
            }
            qint64 id = s.id;
            if (!store(id, r, &loaded.rows, error)) {
                if (!skipOrStop(f.session, report, error))
                    return false;
                continue;
            }
            ++report.updated;
        }

        for (const Found& f : fresh) {
            const std::optional<FileStamp> sessionStamp = fileStamp(f.session);
            const std::optional<FileStamp> videoStamp = fileStamp(f.video);
            if (!sessionStamp || !videoStamp) {
                report.skipped.emplace_back(f.session, QStringLiteral("読めません"));
                continue;
            }
            TagFileManager::LoadResult loaded = TagFileManager::readCSVFile(f.session);
            if (const QString why = damageReason(loaded); !why.isEmpty()) {
                report.skipped.emplace_back(f.session, why);
                continue;
            }
            Record r{f.video,
                     f.session,
                     f.canonical,
                     *videoStamp,
                     *sessionStamp,
                     videoIdentity(f.video),
                     contentHash(f.session)};
            if (r.identity.isEmpty()) {
                report.skipped.emplace_back(f.session, QStringLiteral("動画を読めません: ") +
                                                           QString::fromStdString(f.video));
                continue;
            }
            // A video moved or renamed: the match whose video is gone and
            // whose identity it has.
            qint64 id = 0;
            for (Stored& s : stored) {
                std::error_code ec;
                if (!s.seen && s.identity == r.identity && !fs::exists(s.video, ec)) {
                    s.seen = true;
                    id = s.id;
                    break;
                }
            }
            const bool moved = id != 0;
            if (!store(id, r, &loaded.rows, error)) {
                if (!skipOrStop(f.session, report, error))
                    return false;
                continue;
            }
            ++(moved ? report.updated : report.added);
        }

        // Gone from a folder that was read whole: forgotten. One that could
        // not be read now (no permission, a drive not mounted, a file that
        // cannot be opened) keeps its matches, marked.
        for (Stored& s : stored) {
            if (s.seen)
                continue;
            const bool walked =
                std::any_of(roots.begin(), roots.end(),
                            [&](const std::string& root) { return isUnder(s.session, root); });
            if (!walked)
                continue;
            QString why;
            for (const std::string& path : {s.session, s.video})
                if (const auto it = w.unreadable.find(path); it != w.unreadable.end())
                    why = it->second;
            const std::string folder = fs::path(s.session).parent_path().string();
            if (why.isEmpty() && !w.listed.count(folder)) {
                why = QStringLiteral("フォルダーを読めません: ") + QString::fromStdString(folder);
                for (const auto& [path, reason] : w.unreadable)
                    if (folder == path || isUnder(folder, path))
                        why = reason + QStringLiteral(": ") + QString::fromStdString(path);
            }
            // Its folder is there but on another file system than the file
            // was: a drive not mounted leaves its empty mount point.
            if (struct stat st{}; why.isEmpty() && s.sessionStamp.device != 0 &&
                                  ::stat(folder.c_str(), &st) == 0 &&
                                  static_cast<int64_t>(st.st_dev) != s.sessionStamp.device)
                why = QStringLiteral("フォルダーが索引を作ったときと別のドライブにあります "
                                     "(ドライブがつながっていないかもしれません): ") +
                      QString::fromStdString(folder);
            if (!why.isEmpty()) {
                if (!marked(s, why))
                    return false;
                continue;
            }
            if (!forget(s.id, error)) {
                if (!skipOrStop(s.session, report, error))
                    return false;
                continue;
            }
            ++report.removed;
        }
        // Fresh statistics after many rows, or the planner guesses (the
        // server's autovacuum comes later).
        if (report.added + report.updated + report.removed > 0) {
            QSqlQuery stats(db());
            stats.exec(postgres ? QStringLiteral("ANALYZE matches, tags, tag_labels")
                                : QStringLiteral("PRAGMA optimize"));
        }
        return true;
    }
};

SeasonLibrary::SeasonLibrary() : d(std::make_unique<Impl>()) {
    d->self = this;
    d->name = QStringLiteral("rucktag-library-%1").arg(++connectionCount);
    d->changedSoon.setSingleShot(true);
    d->changedSoon.setInterval(50);
    connect(&d->changedSoon, &QTimer::timeout, this, &SeasonLibrary::changed);
    connect(&d->watch, &QTimer::timeout, this, [this] { d->poll(); });
    connect(&d->reconnect, &QTimer::timeout, this, [this] {
        if (d->lost)
            d->tryReconnect();
    });
}

SeasonLibrary::~SeasonLibrary() {
    d->watch.stop();
    d->reconnect.stop();
    {
        QSqlDatabase db = d->db();
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(d->name);
}

QString SeasonLibrary::defaultDatabase() {
    const QString chosen = qEnvironmentVariable("RUCKTAG_LIBRARY");
    if (!chosen.isEmpty())
        return chosen;
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || !QDir::isAbsolutePath(data))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return data + QStringLiteral("/rucktag/library.sqlite");
}

std::unique_ptr<SeasonLibrary> SeasonLibrary::open(const QString& database, QString* error,
                                                   Access access) {
    auto set = [error](const QString& why) {
        if (error)
            *error = why;
        return nullptr;
    };
    std::unique_ptr<SeasonLibrary> lib(new SeasonLibrary());
    Impl& d = *lib->d;
    d.target = database.isEmpty() ? defaultDatabase() : database;
    QString why;
    if (isPostgresUrl(d.target)) {
        PostgresTarget pg;
        if (!parsePostgresUrl(d.target, pg, &why))
            return set(why);
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
            return set(QStringLiteral("PostgreSQL のドライバー (libqt6sql6-psql) "
                                      "が入っていません。"));
        d.postgres = true;
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), d.name);
        // All of it in one quoted connection string (Qt would join the
        // options unquoted). No password: libpq reads ~/.pgpass or
        // PGPASSWORD itself.
        db.setConnectOptions(postgresConnectOptions(
            pg, {QStringLiteral("connect_timeout=3"), QStringLiteral("application_name=rucktag")}));
        if (!db.open())
            return set(QStringLiteral("ライブラリのサーバーにつながりません (%1): %2")
                           .arg(d.target, db.lastError().text().trimmed()));
    } else {
        const QString path = QFileInfo(d.target).absoluteFilePath();
        d.sqlitePath = path;
        if (const QString network = networkFileSystem(path); !network.isEmpty())
            return set(QStringLiteral("ライブラリのファイル %1 はネットワーク上のファイルシステム "
                                      "(%2) にあります。SQLite のライブラリはネットワーク越しには"
                                      "使えません。クラブで共有するときは PostgreSQL を使って"
                                      "ください (--database postgresql://サーバー/データベース)。")
                           .arg(path, network));
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
            return set(QStringLiteral("SQLite のドライバー (libqt6sql6-sqlite) "
                                      "が入っていません。"));
        const QString busy = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busySeconds() * 1000);
        if (access == Access::ReadOnly) {
            // Searching a library on a read-only medium or of another user:
            // nothing is made or changed.
            if (!QFileInfo(path).isFile())
                return set(QStringLiteral("ライブラリのファイルがありません: ") + path);
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), d.name);
            db.setDatabaseName(path);
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;") + busy);
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
            if (!readable()) {
                // A WAL library in a folder we cannot write has no shared
                // memory file to read through: read it as a file that does
                // not change.
                db.setDatabaseName(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) +
                                   QStringLiteral("?immutable=1"));
                db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI;") +
                                     busy);
                if (!readable())
                    return set(QStringLiteral("ライブラリのファイルを開けません (%1): %2")
                                   .arg(path, d.busyText(readError)));
            }
        } else {
            if (!QDir().mkpath(QFileInfo(path).absolutePath()))
                return set(QStringLiteral("ライブラリのフォルダーを作れません: ") +
                           QFileInfo(path).absolutePath());
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), d.name);
            db.setDatabaseName(path);
            db.setConnectOptions(busy);
            if (!db.open())
                return set(QStringLiteral("ライブラリのファイルを開けません (%1): %2")
                               .arg(path, db.lastError().text()));
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
                return set(QStringLiteral("ライブラリのファイルを開けません (%1): %2")
                               .arg(path, q.lastError().text().isEmpty()
                                              ? QStringLiteral("WAL にできません")
                                              : d.busyText(q.lastError().text())));
            q.exec(QStringLiteral("PRAGMA synchronous = NORMAL"));
            q.exec(QStringLiteral("PRAGMA foreign_keys = ON"));
        }
    }
    QSqlDatabase db = d.db();
    if (access == Access::ReadOnly && !d.postgres) {
        const int version = store::schemaVersion(db, &why);
        if (version != store::kSchemaVersion)
            return set(QStringLiteral("読むだけで開いたライブラリ %1 の版 (%2) はこの Rucktag "
                                      "の版 (%3) と違います。書き込めるところで一度 rucktag "
                                      "library scan を実行してください。%4")
                           .arg(d.target)
                           .arg(version)
                           .arg(store::kSchemaVersion)
                           .arg(why));
    } else if (!store::migrate(db, d.postgres, &why)) {
        return set(
            QStringLiteral("ライブラリを準備できません (%1): %2").arg(d.target, d.busyText(why)));
    }
    if (d.postgres) {
        // Trigram index for comment searches where the server has pg_trgm;
        // searches work without it.
        QSqlQuery q(db);
        if (q.exec(QStringLiteral(
                "SELECT 1 FROM pg_indexes WHERE indexname = 'tags_comment_key_trgm'")) &&
            !q.next() && q.exec(QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm")))
            q.exec(QStringLiteral("CREATE INDEX IF NOT EXISTS tags_comment_key_trgm ON tags "
                                  "USING gin (comment_key gin_trgm_ops)"));
        d.listen();
        SeasonLibrary* self = lib.get();
        connect(
            db.driver(), &QSqlDriver::notification, self,
            [self](const QString& channel, QSqlDriver::NotificationSource source, const QVariant&) {
                if (channel == kChannel && source != QSqlDriver::SelfSource)
                    self->d->changedSoon.start();
            });
        d.watch.start(kServerCheckMs);
    } else {
        d.commentIndex = store::hasCommentIndex(db);
        d.poll();
        d.watch.start(kSqlitePollMs);
    }
    return lib;
}

bool SeasonLibrary::isPostgres() const {
    return d->postgres;
}

bool SeasonLibrary::lastFailureIsPermanent() const {
    return d->permanent;
}

bool SeasonLibrary::addFolders(const QStringList& folders, ScanReport& report, QString* error) {
    if (!d->usable(error))
        return false;
    std::vector<std::string> roots;
    for (const QString& folder : folders) {
        std::error_code ec;
        const fs::path path = fs::canonical(fs::absolute(folder.toStdString(), ec), ec);
        if (ec || !fs::is_directory(path, ec)) {
            if (error)
                *error = QStringLiteral("フォルダーが見つかりません: ") + folder;
            return false;
        }
        roots.push_back(path.string());
    }
    if (!d->begin(error))
        return d->fail(error);
    for (const std::string& root : roots) {
        QSqlQuery q(d->db());
        if (!d->prepare(q,
                        QStringLiteral("INSERT INTO folders (path) VALUES (?) ON CONFLICT (path) "
                                       "DO NOTHING"),
                        error))
            return d->fail(error);
        q.addBindValue(QString::fromStdString(root));
        if (!d->exec(q, error))
            return d->fail(error);
    }
    if (!d->commit(error))
        return d->fail(error);
    return d->scanFolders(roots, report, error);
}

QStringList SeasonLibrary::folders() const {
    QStringList out;
    if (!d->usable(nullptr))
        return out;
    QSqlQuery q(d->db());
    if (!q.exec(QStringLiteral("SELECT path FROM folders ORDER BY path"))) {
        QString error = q.lastError().text();
        d->fail(&error);
        return out;
    }
    while (q.next())
        out << q.value(0).toString();
    return out;
}

bool SeasonLibrary::scan(ScanReport& report, QString* error) {
    if (!d->usable(error))
        return false;
    QSqlQuery q(d->db());
    if (!d->exec(q, QStringLiteral("SELECT path FROM folders ORDER BY path"), error))
        return d->fail(error);
    std::vector<std::string> roots;
    while (q.next())
        roots.push_back(q.value(0).toString().toStdString());
    q.finish();
    return d->scanFolders(roots, report, error);
}

bool SeasonLibrary::indexSaved(const std::string& video, const std::string& session,
                               const std::vector<std::shared_ptr<TagRowData>>& tags,
                               QString* error) {
    const std::string absVideo = fs::absolute(video).lexically_normal().string();
    const std::string absSession = fs::absolute(session).lexically_normal().string();
    if (!d->usable(error))
        return false;
    // Only what lies in the library's folders: a scan rebuilds nothing else.
    const std::string canonicalSession = canonicalOf(absSession);
    const QStringList roots = folders();
    if (d->lost) {
        if (error)
            *error = lostText();
        return false;
    }
    const bool inside = std::any_of(roots.begin(), roots.end(), [&](const QString& root) {
        return isUnder(canonicalSession, root.toStdString());
    });
    if (!inside)
        return true;
    if (const QString why = unindexableTimes(tags); !why.isEmpty()) {
        d->permanent = true;
        if (error)
            *error = QStringLiteral("索引に入れられません: ") + QString::fromStdString(absSession) +
                     QStringLiteral(": ") + why;
        return false;
    }
    const std::optional<FileStamp> videoStamp = fileStamp(absVideo);
    const std::optional<FileStamp> sessionStamp = fileStamp(absSession);
    if (!videoStamp || !sessionStamp) {
        d->permanent = false;
        if (error)
            *error = QStringLiteral("動画かセッションファイルを読めません: ") +
                     QString::fromStdString(absSession);
        return false;
    }
    Record r{absVideo,      absSession, canonicalOf(absVideo),  *videoStamp,
             *sessionStamp, QString(),  contentHash(absSession)};
    // Known by its path; else a video moved here, known by its identity.
    qint64 id = 0;
    QSqlQuery q(d->db());
    if (!d->prepare(q,
                    QStringLiteral("SELECT id, video_size, video_mtime, video_identity FROM "
                                   "matches WHERE canonical = ?"),
                    error))
        return d->fail(error);
    q.addBindValue(QString::fromStdString(r.canonical));
    if (!d->exec(q, error))
        return d->fail(error);
    if (q.next()) {
        id = q.value(0).toLongLong();
        if (q.value(1).toLongLong() == videoStamp->size &&
            q.value(2).toLongLong() == videoStamp->mtime)
            r.identity = q.value(3).toString();
    }
    q.finish();
    if (r.identity.isEmpty())
        r.identity = videoIdentity(absVideo);
    if (id == 0) {
        QSqlQuery m(d->db());
        if (!d->prepare(m, QStringLiteral("SELECT id, video FROM matches WHERE video_identity = ?"),
                        error))
            return d->fail(error);
        m.addBindValue(r.identity);
        if (!d->exec(m, error))
            return d->fail(error);
        while (m.next()) {
            std::error_code ec;
            if (!fs::exists(m.value(1).toString().toStdString(), ec)) {
                id = m.value(0).toLongLong();
                break;
            }
        }
    }
    if (!d->store(id, r, &tags, error))
        return d->fail(error);
    return true;
}

std::vector<Match> SeasonLibrary::matches(QString* error) const {
    std::vector<Match> out;
    if (!d->usable(error))
        return out;
    QSqlQuery q(d->db());
    q.setForwardOnly(true);
    if (!d->exec(q,
                 QStringLiteral(
                     "SELECT id, video, session, title, date, tag_count, unreadable FROM matches "
                     "ORDER BY date, title, id"),
                 error)) {
        d->fail(error);
        return out;
    }
    while (q.next()) {
        Match m;
        m.id = q.value(0).toLongLong();
        m.video = q.value(1).toString().toStdString();
        m.session = q.value(2).toString().toStdString();
        m.title = q.value(3).toString();
        m.date = q.value(4).toString();
        m.tagCount = q.value(5).toLongLong();
        m.unreadable = q.value(6).toString();
        out.push_back(std::move(m));
    }
    return out;
}

bool SeasonLibrary::setMatchInfo(qint64 match, const QString& title, const QString& date,
                                 QString* error) {
    if (!isDateText(date)) {
        if (error)
            *error = QStringLiteral("日付は 2026-04-12 のように書いてください: ") + date;
        return false;
    }
    if (title.trimmed().isEmpty()) {
        if (error)
            *error = QStringLiteral("試合の名前が空です");
        return false;
    }
    if (!d->usable(error))
        return false;
    if (!d->begin(error))
        return d->fail(error);
    QSqlQuery q(d->db());
    if (!d->prepare(q,
                    QStringLiteral("UPDATE matches SET title = ?, date = ?, info_edited = 1 "
                                   "WHERE id = ?"),
                    error))
        return d->fail(error);
    q.addBindValue(title.trimmed());
    q.addBindValue(notNull(date));
    q.addBindValue(match);
    if (!d->exec(q, error))
        return d->fail(error);
    if (q.numRowsAffected() != 1) {
        if (error)
            *error = QStringLiteral("その試合はライブラリにありません");
        QSqlQuery r(d->db());
        r.exec(QStringLiteral("ROLLBACK"));
        d->inTransaction = false;
        return false;
    }
    return d->commit(error) || d->fail(error);
}

QString tooManyWordsText() {
    return QStringLiteral("探す言葉が多すぎます。%1 語までにしてください / at most %1 words")
        .arg(kMaxSearchWords);
}

std::vector<Hit> SeasonLibrary::search(const Query& query, QString* error) const {
    std::vector<Hit> out;
    const auto refuse = [&](const QString& why) {
        d->permanent = true;
        if (error)
            *error = why;
        return out;
    };
    if (searchWords(query.text).size() > kMaxSearchWords)
        return refuse(tooManyWordsText());
    for (const QString& date : {query.dateFrom, query.dateTo})
        if (!isDateText(date))
            return refuse(QStringLiteral("日付は 2026-04-12 の形で、ある日を書いてください: ") +
                          date);
    if (!d->usable(error))
        return out;
    QString sql = QStringLiteral(
        "SELECT m.id, m.video, m.session, m.title, m.date, t.position, t.start_time, "
        "t.end_time, t.team, t.code, t.labels, t.comment, m.unreadable FROM tags t JOIN matches m "
        "ON m.id = "
        "t.match_id WHERE 1 = 1");
    QVariantList binds;
    if (!query.code.empty()) {
        sql += QStringLiteral(" AND t.code = ?");
        binds << QString::fromStdString(query.code);
    }
    if (query.teamA) {
        sql += QStringLiteral(" AND t.team = ?");
        binds << (*query.teamA ? 1 : 0);
    }
    for (const auto& [group, text] : query.labels) {
        sql += QStringLiteral(" AND t.id IN (SELECT l.tag_id FROM tag_labels l WHERE l.grp = ? "
                              "AND l.text = ?)");
        binds << QString::fromStdString(group) << QString::fromStdString(text);
    }
    if (query.match) {
        sql += QStringLiteral(" AND t.match_id = ?");
        binds << *query.match;
    }
    if (!query.dateFrom.isEmpty()) {
        sql += QStringLiteral(" AND m.date <> '' AND m.date >= ?");
        binds << query.dateFrom;
    }
    if (!query.dateTo.isEmpty()) {
        sql += QStringLiteral(" AND m.date <> '' AND m.date <= ?");
        binds << query.dateTo;
    }
    const std::vector<QString> words = searchWords(query.text);
    QStringList phrases;
    for (const QString& typed : words) {
        const QString word = searchKey(typed);
        // Every word by LIKE: trigrams cannot find one or two characters.
        sql += QStringLiteral(" AND t.comment_key LIKE ? ESCAPE '!'");
        binds << likePattern(word);
        if (word.toUcs4().size() >= 3)
            phrases << QLatin1Char('"') +
                           QString(word).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
                           QLatin1Char('"');
    }
    // With nothing narrower to start from, the trigram index finds the
    // comments; LIKE above keeps the result exact.
    if (!d->postgres && d->commentIndex && !phrases.isEmpty() && query.code.empty() &&
        query.labels.empty() && !query.match) {
        sql += QStringLiteral(" AND t.id IN (SELECT rowid FROM tags_fts WHERE tags_fts MATCH ?)");
        binds << phrases.join(QLatin1Char(' '));
    }
    sql += QStringLiteral(" ORDER BY m.date, m.title, m.id, t.start_time, t.position");
    if (query.limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(query.limit);
    QSqlQuery q(d->db());
    q.setForwardOnly(true);
    if (!d->prepare(q, sql, error)) {
        d->fail(error);
        return out;
    }
    for (const QVariant& v : binds)
        q.addBindValue(v);
    if (!d->exec(q, error)) {
        d->fail(error);
        return out;
    }
    while (q.next()) {
        Hit h;
        h.match = q.value(0).toLongLong();
        h.video = q.value(1).toString().toStdString();
        h.session = q.value(2).toString().toStdString();
        h.title = q.value(3).toString();
        h.date = q.value(4).toString();
        h.position = q.value(5).toInt();
        h.time = q.value(6).toDouble();
        if (!q.value(7).isNull())
            h.end = q.value(7).toDouble();
        h.teamA = q.value(8).toInt() == 1;
        h.code = q.value(9).toString().toStdString();
        TagFileManager::readLabelsText(q.value(10).toString().toStdString(), h.labels);
        h.comment = q.value(11).toString().toStdString();
        h.unreadable = q.value(12).toString();
        out.push_back(std::move(h));
    }
    return out;
}

} // namespace library
