#include "playlist/Playlists.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlQuery>
#include <algorithm>
#include <cmath>
#include <set>

#include "codewindow/CodeWindow.h"
#include "index/LibraryConnection.h"
#include "index/LibraryIndex.h"

namespace library {

namespace {

const QString kItemColumns = QStringLiteral(
    "video, session, match_title, match_date, match_time, start_time, end_time, team, code, "
    "lead, lag, title, note");

bool refused(PlaylistResult& result, QString* error, PlaylistResult why, const QString& text) {
    result = why;
    if (error)
        *error = text;
    return true;
}

bool goodSeconds(double lead, double lag) {
    return lead >= 0.0 && lead <= kMaxLeadLag && lag >= 0.0 && lag <= kMaxLeadLag;
}

QString secondsText() {
    return QStringLiteral("前と後は 0 から %1 秒までです").arg(kMaxLeadLag);
}

QString groupsText(const QStringList& groups) {
    return QString::fromUtf8(
        QJsonDocument(QJsonArray::fromStringList(groups)).toJson(QJsonDocument::Compact));
}

QStringList groupsOf(const QString& text) {
    QStringList out;
    for (const QJsonValue& v : QJsonDocument::fromJson(text.toUtf8()).array())
        out << v.toString();
    return out;
}

// The playlist columns every read takes, from the query's first column on.
Playlist playlistOf(const QSqlQuery& q) {
    Playlist p;
    p.id = q.value(0).toLongLong();
    p.name = q.value(1).toString();
    p.revision = q.value(2).toLongLong();
    p.publishedRevision = q.value(3).toLongLong();
    p.publishedAt = q.value(4).toString();
    p.publishedGroups = groupsOf(q.value(5).toString());
    return p;
}

// An item from the query's columns from `at` on: id, kItemColumns, revision.
PlaylistItem itemOf(const QSqlQuery& q, int at) {
    PlaylistItem i;
    i.id = q.value(at).toLongLong();
    i.video = q.value(at + 1).toString().toStdString();
    i.session = q.value(at + 2).toString().toStdString();
    i.matchTitle = q.value(at + 3).toString();
    i.matchDate = q.value(at + 4).toString();
    i.matchTime = q.value(at + 5).toString();
    i.time = q.value(at + 6).toDouble();
    if (!q.value(at + 7).isNull())
        i.end = q.value(at + 7).toDouble();
    i.teamA = q.value(at + 8).toInt() != 0;
    i.code = q.value(at + 9).toString().toStdString();
    i.lead = q.value(at + 10).toDouble();
    i.lag = q.value(at + 11).toDouble();
    i.title = q.value(at + 12).toString();
    i.note = q.value(at + 13).toString();
    i.revision = q.value(at + 14).toLongLong();
    return i;
}

void bindItem(QSqlQuery& q, const PlaylistItem& i) {
    q.addBindValue(QString::fromStdString(i.video));
    q.addBindValue(QString::fromStdString(i.session));
    q.addBindValue(notNull(i.matchTitle));
    q.addBindValue(notNull(i.matchDate));
    q.addBindValue(notNull(i.matchTime));
    q.addBindValue(i.time);
    q.addBindValue(i.end ? QVariant(*i.end) : QVariant(QMetaType::fromType<double>()));
    q.addBindValue(i.teamA ? 1 : 0);
    q.addBindValue(QString::fromStdString(i.code));
    q.addBindValue(i.lead);
    q.addBindValue(i.lag);
    q.addBindValue(notNull(i.title));
    q.addBindValue(notNull(i.note));
}

} // namespace

double PlaylistItem::from() const {
    return std::max(0.0, time - lead);
}

double PlaylistItem::to() const {
    return std::max(0.0, end.value_or(time) + lag);
}

PlaylistItem playlistItem(const Hit& hit, double lead, double lag, const QString& note) {
    PlaylistItem i;
    i.video = hit.video;
    i.session = hit.session;
    i.matchTitle = hit.title;
    i.matchDate = hit.date;
    i.matchTime = hit.matchTime;
    i.time = hit.time;
    i.end = hit.end;
    i.teamA = hit.teamA;
    i.code = hit.code;
    i.lead = lead;
    i.lag = lag;
    i.title = QString::fromStdString(hit.code) + QLatin1Char(' ') + hit.matchTime;
    i.note = note;
    return i;
}

QString conflictText() {
    return QStringLiteral("ほかの人が先にこのプレイリストを変えました。読み直してから、"
                          "もう一度してください。");
}

PlaylistStore::PlaylistStore(SeasonLibrary& library) : c_(library.connection()) {}

std::vector<Playlist> PlaylistStore::list(QString* error) const {
    std::vector<Playlist> out;
    if (!c_.usable(error))
        return out;
    QSqlQuery q(c_.db());
    if (!c_.exec(q,
                 QStringLiteral("SELECT p.id, p.name, p.revision, p.published_revision, "
                                "p.published_at, p.published_groups, (SELECT count(*) FROM "
                                "playlist_items i WHERE i.playlist_id = p.id) FROM playlists p"),
                 error)) {
        c_.fail(error);
        return out;
    }
    while (q.next()) {
        out.push_back(playlistOf(q));
        out.back().itemCount = q.value(6).toLongLong();
    }
    // The same order on both engines, whatever the server's collation.
    std::sort(out.begin(), out.end(),
              [](const Playlist& a, const Playlist& b) { return a.name < b.name; });
    return out;
}

std::optional<Playlist> PlaylistStore::load(const QString& name, QString* error) const {
    return loadWhere(QStringLiteral("p.name = ?"), name, error);
}

std::optional<Playlist> PlaylistStore::load(qint64 playlist, QString* error) const {
    return loadWhere(QStringLiteral("p.id = ?"), playlist, error);
}

// One statement, so the revision and the items are of one moment.
std::optional<Playlist> PlaylistStore::loadWhere(const QString& condition, const QVariant& key,
                                                 QString* error) const {
    if (!c_.usable(error))
        return std::nullopt;
    QSqlQuery q(c_.db());
    q.setForwardOnly(true);
    if (!c_.prepare(
            q,
            QStringLiteral("SELECT p.id, p.name, p.revision, p.published_revision, "
                           "p.published_at, p.published_groups, i.id, i.%1, i.revision FROM "
                           "playlists p LEFT JOIN playlist_items i ON i.playlist_id = p.id "
                           "WHERE %2 ORDER BY i.position, i.id")
                .arg(QString(kItemColumns).replace(QStringLiteral(", "), QStringLiteral(", i.")),
                     condition),
            error)) {
        c_.fail(error);
        return std::nullopt;
    }
    q.addBindValue(key);
    if (!c_.exec(q, error)) {
        c_.fail(error);
        return std::nullopt;
    }
    std::optional<Playlist> out;
    while (q.next()) {
        if (!out)
            out = playlistOf(q);
        if (!q.value(6).isNull())
            out->items.push_back(itemOf(q, 6));
    }
    if (out)
        out->itemCount = static_cast<qsizetype>(out->items.size());
    return out;
}

PlaylistResult PlaylistStore::create(const QString& name, QString* error) {
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty()) {
        if (error)
            *error = QStringLiteral("プレイリストの名前が空です");
        return PlaylistResult::Failed;
    }
    if (!c_.usable(error))
        return PlaylistResult::Failed;
    QSqlQuery q(c_.db());
    if (!c_.begin(error) ||
        !c_.prepare(q,
                    QStringLiteral("INSERT INTO playlists (name) VALUES (?) ON CONFLICT (name) DO "
                                   "NOTHING"),
                    error))
        return failed(error);
    q.addBindValue(trimmed);
    if (!c_.exec(q, error))
        return failed(error);
    if (q.numRowsAffected() != 1) {
        c_.rollback();
        if (error)
            *error = QStringLiteral("同じ名前のプレイリストがもうあります: ") + trimmed;
        return PlaylistResult::Failed;
    }
    if (!c_.commit(error))
        return failed(error);
    return PlaylistResult::Done;
}

PlaylistResult PlaylistStore::failed(QString* error) {
    c_.fail(error);
    return PlaylistResult::Failed;
}

PlaylistResult PlaylistStore::refuse(qint64 playlist, QString* error) {
    QSqlQuery q(c_.db());
    if (!c_.prepare(q, QStringLiteral("SELECT 1 FROM playlists WHERE id = ?"), error))
        return failed(error);
    q.addBindValue(playlist);
    if (!c_.exec(q, error))
        return failed(error);
    const bool there = q.next();
    q.finish();
    c_.rollback();
    if (error)
        *error = there ? conflictText() : QStringLiteral("プレイリストが見つかりません");
    return there ? PlaylistResult::Conflict : PlaylistResult::NotFound;
}

PlaylistResult PlaylistStore::change(qint64 playlist, qint64 revision, QString* error,
                                     const std::function<bool(QString*, PlaylistResult&)>& body) {
    if (!c_.usable(error))
        return PlaylistResult::Failed;
    // The row's lock holds the playlist against another change until commit;
    // a change waiting for it finds the revision raised.
    QSqlQuery q(c_.db());
    if (!c_.begin(error) ||
        !c_.prepare(q,
                    QStringLiteral("UPDATE playlists SET revision = revision + 1 WHERE id = ? "
                                   "AND revision = ?"),
                    error))
        return failed(error);
    q.addBindValue(playlist);
    q.addBindValue(revision);
    if (!c_.exec(q, error))
        return failed(error);
    if (q.numRowsAffected() != 1)
        return refuse(playlist, error);
    PlaylistResult result = PlaylistResult::Done;
    if (!body(error, result) || (result == PlaylistResult::Done && !c_.commit(error)))
        return failed(error);
    if (result != PlaylistResult::Done)
        c_.rollback();
    return result;
}

PlaylistResult PlaylistStore::rename(qint64 playlist, qint64 revision, const QString& name,
                                     QString* error) {
    const QString trimmed = name.trimmed();
    return change(playlist, revision, error, [&](QString* why, PlaylistResult& result) {
        if (trimmed.isEmpty())
            return refused(result, why, PlaylistResult::Failed,
                           QStringLiteral("プレイリストの名前が空です"));
        QSqlQuery q(c_.db());
        if (!c_.prepare(q, QStringLiteral("SELECT 1 FROM playlists WHERE name = ? AND id <> ?"),
                        why))
            return false;
        q.addBindValue(trimmed);
        q.addBindValue(playlist);
        if (!c_.exec(q, why))
            return false;
        if (q.next())
            return refused(result, why, PlaylistResult::Failed,
                           QStringLiteral("同じ名前のプレイリストがもうあります: ") + trimmed);
        QSqlQuery u(c_.db());
        if (!c_.prepare(u, QStringLiteral("UPDATE playlists SET name = ? WHERE id = ?"), why))
            return false;
        u.addBindValue(trimmed);
        u.addBindValue(playlist);
        return c_.exec(u, why);
    });
}

PlaylistResult PlaylistStore::remove(qint64 playlist, qint64 revision, QString* error) {
    return change(playlist, revision, error, [&](QString* why, PlaylistResult&) {
        QSqlQuery q(c_.db());
        if (!c_.prepare(q, QStringLiteral("DELETE FROM playlists WHERE id = ?"), why))
            return false;
        q.addBindValue(playlist);
        return c_.exec(q, why);
    });
}

PlaylistResult PlaylistStore::append(qint64 playlist, qint64 revision,
                                     const std::vector<PlaylistItem>& items, QString* error) {
    return change(playlist, revision, error, [&](QString* why, PlaylistResult& result) {
        for (const PlaylistItem& i : items)
            if (!goodSeconds(i.lead, i.lag) || !std::isfinite(i.time))
                return refused(result, why, PlaylistResult::Failed, secondsText());
        QSqlQuery last(c_.db());
        if (!c_.prepare(last,
                        QStringLiteral("SELECT COALESCE(MAX(position), -1) FROM playlist_items "
                                       "WHERE playlist_id = ?"),
                        why))
            return false;
        last.addBindValue(playlist);
        if (!c_.exec(last, why) || !last.next())
            return false;
        qint64 position = last.value(0).toLongLong();
        last.finish();
        QSqlQuery q(c_.db());
        if (!c_.prepare(q,
                        QStringLiteral("INSERT INTO playlist_items (playlist_id, position, %1) "
                                       "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                            .arg(kItemColumns),
                        why))
            return false;
        for (const PlaylistItem& i : items) {
            q.addBindValue(playlist);
            q.addBindValue(++position);
            bindItem(q, i);
            if (!c_.exec(q, why))
                return false;
        }
        return true;
    });
}

PlaylistResult PlaylistStore::reorder(qint64 playlist, qint64 revision,
                                      const std::vector<qint64>& order, QString* error) {
    return change(playlist, revision, error, [&](QString* why, PlaylistResult& result) {
        QSqlQuery q(c_.db());
        if (!c_.prepare(q, QStringLiteral("SELECT id FROM playlist_items WHERE playlist_id = ?"),
                        why))
            return false;
        q.addBindValue(playlist);
        if (!c_.exec(q, why))
            return false;
        std::set<qint64> there;
        while (q.next())
            there.insert(q.value(0).toLongLong());
        q.finish();
        if (std::set<qint64>(order.begin(), order.end()) != there || order.size() != there.size())
            return refused(result, why, PlaylistResult::Failed,
                           QStringLiteral("並べ替えにはプレイリストの項目をどれも一度ずつ"
                                          "挙げてください"));
        QSqlQuery u(c_.db());
        if (!c_.prepare(u, QStringLiteral("UPDATE playlist_items SET position = ? WHERE id = ?"),
                        why))
            return false;
        for (size_t at = 0; at < order.size(); ++at) {
            u.addBindValue(static_cast<qint64>(at));
            u.addBindValue(order[at]);
            if (!c_.exec(u, why))
                return false;
        }
        return true;
    });
}

PlaylistResult PlaylistStore::removeItems(qint64 playlist, qint64 revision,
                                          const std::vector<qint64>& items, QString* error) {
    return change(playlist, revision, error, [&](QString* why, PlaylistResult& result) {
        QSqlQuery q(c_.db());
        if (!c_.prepare(q,
                        QStringLiteral("DELETE FROM playlist_items WHERE id = ? AND playlist_id = "
                                       "?"),
                        why))
            return false;
        for (const qint64 id : items) {
            q.addBindValue(id);
            q.addBindValue(playlist);
            if (!c_.exec(q, why))
                return false;
            if (q.numRowsAffected() != 1)
                return refused(result, why, PlaylistResult::Failed,
                               QStringLiteral("プレイリストにない項目です"));
        }
        return true;
    });
}

PlaylistResult PlaylistStore::editItem(qint64 playlist, const PlaylistItem& item, QString* error) {
    if (!goodSeconds(item.lead, item.lag)) {
        if (error)
            *error = secondsText();
        return PlaylistResult::Failed;
    }
    if (!c_.usable(error))
        return PlaylistResult::Failed;
    QSqlQuery q(c_.db());
    if (!c_.begin(error) ||
        !c_.prepare(q,
                    QStringLiteral("UPDATE playlist_items SET title = ?, note = ?, lead = ?, lag = "
                                   "?, revision = revision + 1 WHERE id = ? AND playlist_id = ? "
                                   "AND revision = ?"),
                    error))
        return failed(error);
    for (const QVariant& v :
         {QVariant(notNull(item.title)), QVariant(notNull(item.note)), QVariant(item.lead),
          QVariant(item.lag), QVariant(item.id), QVariant(playlist), QVariant(item.revision)})
        q.addBindValue(v);
    if (!c_.exec(q, error))
        return failed(error);
    if (q.numRowsAffected() != 1)
        return refuse(playlist, error);
    QSqlQuery p(c_.db());
    if (!c_.prepare(p, QStringLiteral("UPDATE playlists SET revision = revision + 1 WHERE id = ?"),
                    error))
        return failed(error);
    p.addBindValue(playlist);
    if (!c_.exec(p, error) || !c_.commit(error))
        return failed(error);
    return PlaylistResult::Done;
}

PlaylistResult PlaylistStore::markPublished(qint64 playlist, qint64 revision,
                                            const QStringList& groups, QString* error) {
    if (!c_.usable(error))
        return PlaylistResult::Failed;
    QSqlQuery q(c_.db());
    if (!c_.begin(error) ||
        !c_.prepare(q,
                    QStringLiteral("UPDATE playlists SET published_revision = ?, published_at = "
                                   "?, published_groups = ? WHERE id = ? AND published_revision "
                                   "<= ? AND revision >= ?"),
                    error))
        return failed(error);
    const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    for (const QVariant& v : {QVariant(revision), QVariant(now), QVariant(groupsText(groups)),
                              QVariant(playlist), QVariant(revision), QVariant(revision)})
        q.addBindValue(v);
    if (!c_.exec(q, error))
        return failed(error);
    if (q.numRowsAffected() != 1)
        return refuse(playlist, error);
    if (!c_.commit(error))
        return failed(error);
    return PlaylistResult::Done;
}

} // namespace library
