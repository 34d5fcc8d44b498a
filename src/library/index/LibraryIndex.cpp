#include "index/LibraryIndex.h"

#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <filesystem>
#include <map>

#include "SubModuleClass/TagFileManager.h"
#include "text/TimeText.h"

namespace library {

namespace {

// The float the session file gave, as the shortest double that reads back
// as it (0.1, not 0.10000000149).
double exactSeconds(float value) {
    return readDecimal(floatText(value));
}

QVariant nullDouble() {
    return QVariant(QMetaType::fromType<double>());
}

const QString kDeleteLabels = QStringLiteral(
    "DELETE FROM tag_labels WHERE tag_id IN (SELECT id FROM tags WHERE match_id = ?)");
const QString kDeleteTags = QStringLiteral("DELETE FROM tags WHERE match_id = ?");

// The SELECT of a search with its bound values in `binds`.
QString searchSql(const Query& query, const Dialect& dialect, QVariantList& binds) {
    QString sql = QStringLiteral(
        "SELECT m.id, m.video, m.session, m.title, m.date, t.position, t.start_time, "
        "t.end_time, t.team, t.code, t.labels, t.comment, m.unreadable FROM tags t JOIN matches m "
        "ON m.id = t.match_id WHERE 1 = 1");
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
    QStringList phrases;
    for (const QString& typed : searchWords(query.text)) {
        const QString word = searchKey(typed);
        // Every word by LIKE: trigrams cannot find one or two characters.
        sql += QStringLiteral(" AND t.comment_key LIKE ? ESCAPE '!'");
        binds << likePattern(word);
        if (word.toUcs4().size() >= 3)
            phrases << QLatin1Char('"') +
                           QString(word).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
                           QLatin1Char('"');
    }
    // With nothing narrower to start from, the comment index finds the
    // comments; LIKE above keeps the result exact.
    const QString indexed = dialect.commentIndexCondition();
    if (!indexed.isEmpty() && !phrases.isEmpty() && query.code.empty() && query.labels.empty() &&
        !query.match) {
        sql += indexed;
        binds << phrases.join(QLatin1Char(' '));
    }
    sql += QStringLiteral(" ORDER BY m.date, m.title, m.id, t.start_time, t.position");
    if (query.limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(query.limit);
    return sql;
}

// `before`: the hit read last; its match's columns are taken from it when
// the match is the same (a season's search reads many thousands a match).
Hit hitAt(const QSqlQuery& q, const Hit* before) {
    Hit h;
    h.match = q.value(0).toLongLong();
    if (before && before->match == h.match) {
        h.video = before->video;
        h.session = before->session;
        h.title = before->title;
        h.date = before->date;
        h.unreadable = before->unreadable;
    } else {
        h.video = q.value(1).toString().toStdString();
        h.session = q.value(2).toString().toStdString();
        h.title = q.value(3).toString();
        h.date = q.value(4).toString();
        h.unreadable = q.value(12).toString();
    }
    h.position = q.value(5).toInt();
    h.time = q.value(6).toDouble();
    if (!q.value(7).isNull())
        h.end = q.value(7).toDouble();
    h.teamA = q.value(8).toInt() == 1;
    h.code = q.value(9).toString().toStdString();
    TagFileManager::readLabelsText(q.value(10).toString().toStdString(), h.labels);
    h.comment = q.value(11).toString().toStdString();
    return h;
}

} // namespace

QString notNull(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

bool Index::loadStored(std::vector<Stored>& out, QString* error) {
    QSqlQuery q(c_.db());
    q.setForwardOnly(true);
    if (!c_.exec(q,
                 QStringLiteral("SELECT id, video, session, canonical, video_size, video_mtime, "
                                "session_size, session_mtime, video_identity, session_hash, "
                                "unreadable, session_device, match_size, match_mtime, "
                                "match_hash FROM matches"),
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
        s.matchStamp = {q.value(12).toLongLong(), q.value(13).toLongLong()};
        s.matchHash = q.value(14).toString();
        out.push_back(std::move(s));
    }
    return true;
}

// Inserts rows of `width` values each, as many a statement as the engine
// takes well.
bool Index::insertRows(const QString& head, int width, const QVariantList& values, QString* error,
                       const QString& tail, const std::function<void(QSqlQuery&)>& returned) {
    const qsizetype rows = values.size() / width;
    const qsizetype perStatement = c_.dialect().rowsPerInsert();
    QString one = QStringLiteral("(");
    for (int i = 0; i < width; ++i)
        one += i == 0 ? QStringLiteral("?") : QStringLiteral(", ?");
    one += QLatin1Char(')');
    QSqlQuery q(c_.db());
    qsizetype prepared = 0;
    for (qsizetype start = 0; start < rows; start += perStatement) {
        const qsizetype count = std::min(perStatement, rows - start);
        if (count != prepared) {
            QStringList list;
            for (qsizetype i = 0; i < count; ++i)
                list << one;
            if (!c_.prepare(q, head + list.join(QStringLiteral(", ")) + tail, error))
                return false;
            prepared = count;
        }
        for (qsizetype i = start * width; i < (start + count) * width; ++i)
            q.addBindValue(values[i]);
        if (!c_.exec(q, error))
            return false;
        while (returned && q.next())
            returned(q);
    }
    return true;
}

bool Index::insertTags(qint64 match, const std::vector<std::shared_ptr<TagRowData>>& rows,
                       QString* error) {
    const bool ownIds = c_.dialect().givesTagIds();
    qint64 firstId = 0;
    if (ownIds) {
        QSqlQuery top(c_.db());
        if (!c_.exec(top, QStringLiteral("SELECT coalesce(max(id), 0) FROM tags"), error) ||
            !top.next())
            return false;
        firstId = top.value(0).toLongLong() + 1;
    }
    QVariantList tags, labels;
    tags.reserve(static_cast<qsizetype>(rows.size()) * 10);
    for (size_t i = 0; i < rows.size(); ++i) {
        const TagRowData& t = *rows[i];
        if (ownIds) {
            const qint64 id = firstId + static_cast<qint64>(i);
            tags << id;
            for (const auto& [group, text] : t.labels)
                labels << id << QString::fromStdString(group) << QString::fromStdString(text);
        }
        tags << match << static_cast<qint64>(i) << (t.team ? 1 : 0) << exactSeconds(t.time_val)
             << (t.end.isSet() ? QVariant(exactSeconds(t.end.time)) : nullDouble())
             << QString::fromStdString(t.name)
             << QString::fromStdString(TagFileManager::labelsText(t.labels))
             << QString::fromStdString(t.comment) << searchKey(QString::fromStdString(t.comment));
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
        ownIds ? insertRows(QStringLiteral("INSERT INTO tags (id, match_id, position, team, "
                                           "start_time, end_time, code, labels, comment, "
                                           "comment_key) VALUES "),
                            10, tags, error)
               : insertRows(QStringLiteral("INSERT INTO tags (match_id, position, team, "
                                           "start_time, end_time, code, labels, comment, "
                                           "comment_key) VALUES "),
                            9, tags, error, QStringLiteral(" RETURNING id, position"), labelsOf);
    return inserted &&
           insertRows(QStringLiteral("INSERT INTO tag_labels (tag_id, grp, text) VALUES "), 3,
                      labels, error);
}

bool Index::insertMatch(qint64& id, const Record& r, QString* error) {
    const NameInfo info = infoFromFileName(r.video);
    QSqlQuery q(c_.db());
    if (!c_.prepare(
            q,
            QStringLiteral("INSERT INTO matches (video, canonical, video_size, video_mtime, "
                           "video_identity, session, session_size, session_mtime, "
                           "session_hash, title, date, session_device) VALUES (?, ?, ?, "
                           "?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (canonical) DO NOTHING"),
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
    if (!c_.exec(q, error))
        return false;
    QSqlQuery s(c_.db());
    if (!c_.prepare(s, QStringLiteral("SELECT id FROM matches WHERE canonical = ?"), error))
        return false;
    s.addBindValue(QString::fromStdString(r.canonical));
    if (!c_.exec(s, error))
        return false;
    if (!s.next()) {
        if (error)
            *error = QStringLiteral("試合を記録できませんでした");
        return false;
    }
    id = s.value(0).toLongLong();
    return true;
}

bool Index::updateMatch(qint64 id, const Record& r, QString* error) {
    // Another process writing the same match waits here (a server).
    if (const QString lock = c_.dialect().lockMatchSql(); !lock.isEmpty()) {
        QSqlQuery held(c_.db());
        if (!c_.prepare(held, lock, error))
            return false;
        held.addBindValue(id);
        if (!c_.exec(held, error))
            return false;
    }
    const NameInfo info = infoFromFileName(r.video);
    QSqlQuery u(c_.db());
    if (!c_.prepare(
            u,
            QStringLiteral("UPDATE matches SET video = ?, canonical = ?, video_size = ?, "
                           "video_mtime = ?, video_identity = ?, session = ?, "
                           "session_size = ?, session_mtime = ?, session_hash = ?, "
                           "unreadable = '', session_device = ?, team_a = ?, team_b = ?, "
                           "periods = ?, angles = ?, match_problem = ?, match_hash = ?, match_size "
                           "= ?, match_mtime = ?, title = CASE WHEN "
                           "info_edited = 0 THEN ? ELSE title END, date = CASE WHEN "
                           "info_edited = 0 THEN ? ELSE date END WHERE id = ?"),
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
    for (const QString& text : {r.match.teams[0], r.match.teams[1], r.match.periods, r.match.angles,
                                r.match.problem, r.match.hash})
        u.addBindValue(notNull(text));
    u.addBindValue(static_cast<qint64>(r.match.stamp.size));
    u.addBindValue(static_cast<qint64>(r.match.stamp.mtime));
    u.addBindValue(notNull(info.title));
    u.addBindValue(notNull(info.date));
    u.addBindValue(id);
    return c_.exec(u, error);
}

bool Index::deleteById(const std::initializer_list<QString>& statements, qint64 id,
                       QString* error) {
    for (const QString& sql : statements) {
        QSqlQuery q(c_.db());
        if (!c_.prepare(q, sql, error))
            return false;
        q.addBindValue(id);
        if (!c_.exec(q, error))
            return false;
    }
    return true;
}

bool Index::replaceTags(qint64 id, const std::vector<std::shared_ptr<TagRowData>>& rows,
                        QString* error) {
    if (!deleteById({kDeleteLabels, kDeleteTags}, id, error) || !insertTags(id, rows, error))
        return false;
    QSqlQuery count(c_.db());
    if (!c_.prepare(count, QStringLiteral("UPDATE matches SET tag_count = ? WHERE id = ?"), error))
        return false;
    count.addBindValue(static_cast<qint64>(rows.size()));
    count.addBindValue(id);
    return c_.exec(count, error);
}

bool Index::store(qint64& id, const Record& r, const std::vector<std::shared_ptr<TagRowData>>* rows,
                  QString* error) {
    if (!c_.begin(error))
        return false;
    if (id == 0 && !insertMatch(id, r, error))
        return false;
    if (!updateMatch(id, r, error))
        return false;
    if (rows && !replaceTags(id, *rows, error))
        return false;
    return c_.commit(error);
}

bool Index::forget(qint64 id, QString* error) {
    return c_.begin(error) &&
           deleteById(
               {kDeleteLabels, kDeleteTags, QStringLiteral("DELETE FROM matches WHERE id = ?")}, id,
               error) &&
           c_.commit(error);
}

bool Index::markUnreadable(qint64 id, const QString& why, int64_t device, QString* error) {
    if (!c_.begin(error))
        return false;
    QSqlQuery q(c_.db());
    if (!c_.prepare(
            q, QStringLiteral("UPDATE matches SET unreadable = ?, session_device = ? WHERE id = ?"),
            error))
        return false;
    q.addBindValue(notNull(why));
    q.addBindValue(static_cast<qint64>(device));
    q.addBindValue(id);
    return c_.exec(q, error) && c_.commit(error);
}

bool Index::findMatch(Record& r, qint64& id, QString* error) {
    id = 0;
    QSqlQuery q(c_.db());
    if (!c_.prepare(q,
                    QStringLiteral("SELECT id, video_size, video_mtime, video_identity FROM "
                                   "matches WHERE canonical = ?"),
                    error))
        return false;
    q.addBindValue(QString::fromStdString(r.canonical));
    if (!c_.exec(q, error))
        return false;
    if (q.next()) {
        id = q.value(0).toLongLong();
        if (q.value(1).toLongLong() == r.videoStamp.size &&
            q.value(2).toLongLong() == r.videoStamp.mtime)
            r.identity = q.value(3).toString();
    }
    q.finish();
    if (r.identity.isEmpty())
        r.identity = videoIdentity(r.video);
    if (id != 0)
        return true;
    QSqlQuery m(c_.db());
    if (!c_.prepare(m, QStringLiteral("SELECT id, video FROM matches WHERE video_identity = ?"),
                    error))
        return false;
    m.addBindValue(r.identity);
    if (!c_.exec(m, error))
        return false;
    while (m.next()) {
        std::error_code ec;
        if (!std::filesystem::exists(m.value(1).toString().toStdString(), ec)) {
            id = m.value(0).toLongLong();
            break;
        }
    }
    return true;
}

bool Index::matches(std::vector<Match>& out, QString* error) {
    QSqlQuery q(c_.db());
    q.setForwardOnly(true);
    if (!c_.exec(
            q,
            QStringLiteral(
                "SELECT id, video, session, title, date, tag_count, unreadable, match_problem, "
                "angles FROM matches "
                "ORDER BY date, title, id"),
            error))
        return c_.fail(error);
    while (q.next()) {
        Match m;
        m.id = q.value(0).toLongLong();
        m.video = q.value(1).toString().toStdString();
        m.session = q.value(2).toString().toStdString();
        m.title = q.value(3).toString();
        m.date = q.value(4).toString();
        m.tagCount = q.value(5).toLongLong();
        m.unreadable = q.value(6).toString();
        m.matchProblem = q.value(7).toString();
        m.angles = anglesFrom(q.value(8).toString(), m.session);
        out.push_back(std::move(m));
    }
    return true;
}

bool Index::setMatchInfo(qint64 match, const QString& title, const QString& date, QString* error) {
    if (!c_.begin(error))
        return c_.fail(error);
    QSqlQuery q(c_.db());
    if (!c_.prepare(q,
                    QStringLiteral("UPDATE matches SET title = ?, date = ?, info_edited = 1 "
                                   "WHERE id = ?"),
                    error))
        return c_.fail(error);
    q.addBindValue(title.trimmed());
    q.addBindValue(notNull(date));
    q.addBindValue(match);
    if (!c_.exec(q, error))
        return c_.fail(error);
    if (q.numRowsAffected() != 1) {
        if (error)
            *error = QStringLiteral("その試合はライブラリにありません");
        c_.rollback();
        return false;
    }
    return c_.commit(error) || c_.fail(error);
}

bool Index::search(const Query& query, std::vector<Hit>& out, QString* error) {
    QVariantList binds;
    const QString sql = searchSql(query, c_.dialect(), binds);
    QSqlQuery q(c_.db());
    q.setForwardOnly(true);
    if (!c_.prepare(q, sql, error))
        return c_.fail(error);
    for (const QVariant& v : binds)
        q.addBindValue(v);
    if (!c_.exec(q, error))
        return c_.fail(error);
    const size_t first = out.size();
    while (q.next())
        out.push_back(hitAt(q, out.size() > first ? &out.back() : nullptr));
    return addMatchFacts(out, first, error);
}

// The teams, periods, problem and angles of the hits' matches, read once a match
// (not once a tag), and each hit's match time.
bool Index::addMatchFacts(std::vector<Hit>& hits, size_t first, QString* error) {
    QStringList ids;
    for (size_t i = first; i < hits.size(); ++i)
        if (i == first || hits[i].match != hits[i - 1].match)
            ids << QString::number(hits[i].match);
    if (ids.isEmpty())
        return true;
    ids.removeDuplicates();
    QSqlQuery q(c_.db());
    q.setForwardOnly(true);
    if (!c_.exec(
            q,
            QStringLiteral("SELECT id, team_a, team_b, periods, match_problem, angles, session "
                           "FROM matches "
                           "WHERE id IN (%1)")
                .arg(ids.join(QLatin1Char(','))),
            error))
        return c_.fail(error);
    struct Facts {
        std::array<QString, 2> teams;
        MatchInfo periods;
        QString problem;
        std::vector<MatchAngle> angles;
    };
    std::map<qint64, Facts> facts;
    while (q.next())
        facts[q.value(0).toLongLong()] = {
            {q.value(1).toString(), q.value(2).toString()},
            periodsFrom(q.value(3).toString()),
            q.value(4).toString(),
            anglesFrom(q.value(5).toString(), q.value(6).toString().toStdString())};
    for (size_t i = first; i < hits.size(); ++i) {
        Hit& h = hits[i];
        const Facts& f = facts[h.match];
        h.teams = f.teams;
        h.matchProblem = f.problem;
        h.angles = f.angles;
        h.hasPeriods = !f.periods.periods.empty();
        h.matchTime = QString::fromStdString(matchTimeText(f.periods, h.time));
        if (const int period = periodAt(f.periods, h.time); period >= 0) {
            h.period = f.periods.periods[static_cast<size_t>(period)].name;
            h.clock = matchClock(f.periods, h.time);
        }
    }
    return true;
}

} // namespace library
