#include "LibraryTestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

#include "SubModuleClass/TagFileManager.h"
#include "index/LibraryFiles.h"
#include "support/Tags.h"

namespace librarytest {

std::shared_ptr<TagRowData> tag(bool teamA, float time, const std::string& code,
                                const std::string& comment, TagLabels labels,
                                std::optional<float> end) {
    auto t = ::tag(teamA, time, code, comment);
    t->labels = std::move(labels);
    if (end)
        t->end = TagEnd::at(*end);
    return t;
}

std::string sessionOf(const QString& folder, const QString& stem) {
    return (folder + QLatin1Char('/') + stem + QStringLiteral(".csv")).toStdString();
}

std::string videoOf(const QString& folder, const QString& stem) {
    return (folder + QLatin1Char('/') + stem + QStringLiteral(".mp4")).toStdString();
}

void writeFile(const QString& path, const QByteArray& bytes, bool append) {
    QFile f(path);
    if (!f.open(append ? QIODevice::Append : QIODevice::WriteOnly) ||
        f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

void writeMatch(const QString& folder, const QString& stem,
                const std::vector<std::shared_ptr<TagRowData>>& tags, int seed) {
    QDir().mkpath(folder);
    QRandomGenerator random(static_cast<quint32>(seed));
    QByteArray bytes(96 * 1024, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random.bounded(256));
    writeFile(QString::fromStdString(videoOf(folder, stem)), bytes);
    writeSession(folder, stem, tags);
}

void writeSession(const QString& folder, const QString& stem,
                  const std::vector<std::shared_ptr<TagRowData>>& tags) {
    std::vector<std::shared_ptr<TagRowData>> rows = tags;
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i]->index = static_cast<int64_t>(i);
    if (!TagFileManager::saveCSVFile(sessionOf(folder, stem), rows, true).empty())
        throw std::runtime_error("cannot write the session file");
}

bool serverBinariesPresent() {
    const QDir versions(QStringLiteral("/usr/lib/postgresql"));
    for (const QString& v : versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (QFile::exists(versions.filePath(v + QStringLiteral("/bin/initdb"))) &&
            QFile::exists(versions.filePath(v + QStringLiteral("/bin/pg_ctl"))))
            return true;
    return false;
}

bool pgServer(const QString& action, const QString& dir, QString* output) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(RUCKTAG_PG_SERVER), {action, dir});
    const bool done = p.waitForFinished(120000);
    if (output)
        *output = QString::fromLocal8Bit(p.readAll());
    return done && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

void signalServer(const QString& dir, int sig) {
    std::ifstream pidFile((dir + QStringLiteral("/data/postmaster.pid")).toStdString());
    pid_t postmaster = 0;
    pidFile >> postmaster;
    if (postmaster <= 0)
        return;
    // The postmaster first: stopped, it starts no new process.
    std::vector<pid_t> pids{postmaster};
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(')') == std::string::npos)
            continue;
        // "pid (name) state ppid ...": the name may hold anything.
        std::istringstream rest(line.substr(line.rfind(')') + 1));
        std::string state;
        pid_t parent = 0;
        if (rest >> state >> parent && parent == postmaster)
            pids.push_back(static_cast<pid_t>(std::stol(entry.path().filename().string())));
    }
    for (pid_t pid : pids)
        ::kill(pid, sig);
}

QString execOn(const QString& url, const QStringList& sql) {
    QString why;
    {
        const bool postgres = library::isPostgresUrl(url);
        QSqlDatabase db = QSqlDatabase::addDatabase(
            postgres ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"), "plain");
        library::PostgresTarget target;
        if (!postgres)
            db.setDatabaseName(url);
        else if (library::parsePostgresUrl(url, target, &why))
            db.setConnectOptions(library::postgresConnectOptions(target));
        if (why.isEmpty() && !db.open())
            why = db.lastError().text();
        for (qsizetype i = 0; why.isEmpty() && i < sql.size(); ++i)
            if (QSqlQuery q(db); !q.exec(sql[i]))
                why = q.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase("plain");
    return why;
}

namespace {

QString ownServer;
std::atomic<int> databases{0};

QString suiteServer(QString* why) {
    const QString fixture = qEnvironmentVariable("RUCKTAG_TEST_PG");
    if (!fixture.isEmpty()) {
        if (!QFile::exists(fixture + QStringLiteral("/.s.PGSQL.5432")))
            *why = QStringLiteral("the PostgreSQL fixture's server is not running in ") + fixture;
        return fixture;
    }
    if (ownServer.isEmpty()) {
        QByteArray pattern("/tmp/rucktag-pg-run.XXXXXX");
        if (!mkdtemp(pattern.data())) {
            *why = QStringLiteral("no temporary folder for a server");
            return {};
        }
        QString output;
        if (!pgServer(QStringLiteral("start"), QString::fromLocal8Bit(pattern), &output)) {
            *why = QStringLiteral("the throwaway server did not start: ") + output;
            return {};
        }
        ownServer = QString::fromLocal8Bit(pattern);
    }
    return ownServer;
}

bool adminExec(const QString& socketDir, const QString& sql, QString* why) {
    const QString name = QStringLiteral("pg-admin-%1").arg(++databases);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(socketDir);
        db.setDatabaseName(QStringLiteral("postgres"));
        db.setUserName(QStringLiteral("postgres"));
        const bool open = db.open();
        QSqlQuery q(db);
        ok = open && q.exec(sql);
        if (!ok)
            *why = open ? q.lastError().text() : db.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

} // namespace

QString newDatabaseOn(const QString& socketDir, QString* why) {
    const QString database =
        QStringLiteral("library_%1_%2").arg(::getpid()).arg(databases.fetch_add(1));
    if (!adminExec(socketDir, QStringLiteral("CREATE DATABASE ") + database, why))
        return {};
    return QStringLiteral("postgresql:///%1?host=%2&user=postgres").arg(database, socketDir);
}

QString newDatabase(QString* why) {
    if (!serverBinariesPresent()) {
        *why = QString::fromLatin1(kNoServerBinaries);
        return {};
    }
    const QString dir = suiteServer(why);
    if (dir.isEmpty() || !why->isEmpty())
        return {};
    return newDatabaseOn(dir, why);
}

void dropDatabase(const QString& url) {
    const QUrl u(url);
    const QString dir = QUrlQuery(u).queryItemValue(QStringLiteral("host"));
    QString why;
    adminExec(dir,
              QStringLiteral("DROP DATABASE IF EXISTS ") + u.path().mid(1) +
                  QStringLiteral(" WITH (FORCE)"),
              &why);
}

void stopOwnServer() {
    if (!ownServer.isEmpty())
        pgServer(QStringLiteral("destroy"), ownServer, nullptr);
    ownServer.clear();
}

} // namespace librarytest
