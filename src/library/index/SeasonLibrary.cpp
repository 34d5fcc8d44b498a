#include "index/SeasonLibrary.h"

#include <QDir>
#include <QSqlQuery>
#include <algorithm>
#include <atomic>
#include <filesystem>

#include "index/LibraryConnection.h"
#include "index/LibraryIndex.h"
#include "index/LibraryScanner.h"

namespace library {

namespace fs = std::filesystem;

namespace {

std::atomic<int> connectionCount{0};

} // namespace

struct SeasonLibrary::Impl {
    Impl(SeasonLibrary* self, const QString& name)
        : connection(self, name), index(connection), scanner(connection, index) {}

    Connection connection;
    Index index;
    Scanner scanner;
};

SeasonLibrary::SeasonLibrary()
    : d(std::make_unique<Impl>(this, QStringLiteral("rucktag-library-%1").arg(++connectionCount))) {
}

SeasonLibrary::~SeasonLibrary() = default;

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
    std::unique_ptr<SeasonLibrary> lib(new SeasonLibrary());
    const QString target = database.isEmpty() ? defaultDatabase() : database;
    if (!lib->d->connection.open(dialectFor(target, access), error))
        return nullptr;
    return lib;
}

Connection& SeasonLibrary::connection() const {
    return d->connection;
}

bool SeasonLibrary::isPostgres() const {
    return d->connection.dialect().isPostgres();
}

bool SeasonLibrary::lastFailureIsPermanent() const {
    return d->connection.permanent();
}

bool SeasonLibrary::addFolders(const QStringList& folders, ScanReport& report, QString* error) {
    Connection& c = d->connection;
    if (!c.usable(error))
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
    if (!c.begin(error))
        return c.fail(error);
    for (const std::string& root : roots) {
        QSqlQuery q(c.db());
        if (!c.prepare(q,
                       QStringLiteral("INSERT INTO folders (path) VALUES (?) ON CONFLICT (path) "
                                      "DO NOTHING"),
                       error))
            return c.fail(error);
        q.addBindValue(QString::fromStdString(root));
        if (!c.exec(q, error))
            return c.fail(error);
    }
    if (!c.commit(error))
        return c.fail(error);
    return d->scanner.scan(roots, report, error);
}

QStringList SeasonLibrary::folders() const {
    QStringList out;
    if (!d->connection.usable(nullptr))
        return out;
    QSqlQuery q(d->connection.db());
    QString error;
    if (!d->connection.exec(q, QStringLiteral("SELECT path FROM folders ORDER BY path"), &error)) {
        d->connection.fail(&error);
        return out;
    }
    while (q.next())
        out << q.value(0).toString();
    return out;
}

bool SeasonLibrary::scan(ScanReport& report, QString* error) {
    Connection& c = d->connection;
    if (!c.usable(error))
        return false;
    QSqlQuery q(c.db());
    if (!c.exec(q, QStringLiteral("SELECT path FROM folders ORDER BY path"), error))
        return c.fail(error);
    std::vector<std::string> roots;
    while (q.next())
        roots.push_back(q.value(0).toString().toStdString());
    q.finish();
    return d->scanner.scan(roots, report, error);
}

bool SeasonLibrary::indexSaved(const std::string& video, const std::string& session,
                               const std::vector<std::shared_ptr<TagRowData>>& tags,
                               QString* error) {
    Connection& c = d->connection;
    const std::string absVideo = fs::absolute(video).lexically_normal().string();
    const std::string absSession = fs::absolute(session).lexically_normal().string();
    if (!c.usable(error))
        return false;
    // Only what lies in the library's folders: a scan rebuilds nothing else.
    const std::string canonicalSession = canonicalOf(absSession);
    const QStringList roots = folders();
    if (c.lost()) {
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
        c.setPermanent(true);
        if (error)
            *error = QStringLiteral("索引に入れられません: ") + QString::fromStdString(absSession) +
                     QStringLiteral(": ") + why;
        return false;
    }
    const std::optional<FileStamp> videoStamp = fileStamp(absVideo);
    const std::optional<FileStamp> sessionStamp = fileStamp(absSession);
    if (!videoStamp || !sessionStamp) {
        c.setPermanent(false);
        if (error)
            *error = QStringLiteral("動画かセッションファイルを読めません: ") +
                     QString::fromStdString(absSession);
        return false;
    }
    Record r{absVideo,      absSession, canonicalOf(absVideo),   *videoStamp,
             *sessionStamp, QString(),  contentHash(absSession), readMatchFacts(absSession)};
    qint64 id = 0;
    if (!d->index.findMatch(r, id, error) || !d->index.store(id, r, &tags, error))
        return c.fail(error);
    return true;
}

std::vector<Match> SeasonLibrary::matches(QString* error) const {
    std::vector<Match> out;
    if (d->connection.usable(error))
        d->index.matches(out, error);
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
    return d->connection.usable(error) && d->index.setMatchInfo(match, title, date, error);
}

QString tooManyWordsText() {
    return QStringLiteral("探す言葉が多すぎます。%1 語までにしてください / at most %1 words")
        .arg(kMaxSearchWords);
}

std::vector<Hit> SeasonLibrary::search(const Query& query, QString* error) const {
    std::vector<Hit> out;
    const auto refuse = [&](const QString& why) {
        d->connection.setPermanent(true);
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
    if (d->connection.usable(error))
        d->index.search(query, out, error);
    return out;
}

} // namespace library
