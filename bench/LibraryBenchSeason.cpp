#include "LibraryBenchSeason.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <random>
#include <unistd.h>

#include "SubModuleClass/TagFileManager.h"
#include "match/MatchInfo.h"
#include "text/TimeText.h"

namespace benchseason {
namespace {

const char* const kWords[] = {"右サイド",   "左サイド", "ラインの裏", "良い判断",   "反則",
                              "ノックオン", "ゲイン",   "ミス",       "接点で勝つ", "速い球出し"};

QString serverDir, serverProblem;
int databaseCount = 0;

void writeMatch(const QString& stem, int m, std::mt19937& rng) {
    QFile video(stem + QStringLiteral(".mp4"));
    video.open(QIODevice::WriteOnly);
    QByteArray bytes(256 * 1024, static_cast<char>(m));
    bytes.replace(0, 16, QByteArray::number(m).rightJustified(16, '0'));
    video.write(bytes);
    video.close();
    std::vector<std::shared_ptr<TagRowData>> rows;
    float t = 0;
    for (int i = 0; i < kTags; ++i) {
        auto row = std::make_shared<TagRowData>();
        row->index = i;
        row->team = rng() % 2;
        t += static_cast<float>(rng() % 200) / 100.0f;
        row->time_val = t;
        row->time_string = createTimeString(t);
        row->name = kTagLabels[rng() % kTagLabels.size()];
        if (rng() % 2 == 0)
            row->comment = std::string(kWords[rng() % 10]) + " " + kWords[rng() % 10];
        if (rng() % 3 == 0)
            row->labels = {{"結果", rng() % 2 ? "成功" : "失敗"},
                           {"選手", std::to_string(rng() % 15 + 1)}};
        if (rng() % 5 == 0)
            row->end = TagEnd::at(t + 4.0f);
        rows.push_back(std::move(row));
    }
    TagFileManager::saveCSVFile((stem + QStringLiteral(".csv")).toStdString(), rows, true);
    // Every other match has its teams and halves marked.
    if (m % 2 == 0) {
        MatchInfo match;
        match.teams = {"早稲田", "明治"};
        match.periods = {{"前半", 60, t / 2, 0}, {"後半", t / 2 + 600, t, 2400}};
        QFile file(stem + QStringLiteral(".match.json"));
        file.open(QIODevice::WriteOnly);
        file.write(matchJson(match).c_str());
    }
}

QString newPostgresDatabase() {
    const QString name = QStringLiteral("bench_%1").arg(databaseCount++);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), "bench-admin");
        db.setHostName(serverDir);
        db.setDatabaseName(QStringLiteral("postgres"));
        db.setUserName(QStringLiteral("postgres"));
        db.open();
        QSqlQuery(db).exec(QStringLiteral("CREATE DATABASE ") + name);
        db.close();
    }
    QSqlDatabase::removeDatabase("bench-admin");
    return QStringLiteral("postgresql:///%1?host=%2&user=postgres").arg(name, serverDir);
}

} // namespace

QString folder() {
    static QTemporaryDir dir;
    static bool made = false;
    if (made)
        return dir.path();
    std::mt19937 rng(11);
    for (int m = 0; m < kMatches; ++m)
        writeMatch(dir.filePath(QStringLiteral("2026-%1-%2 試合%3")
                                    .arg(4 + m / 28, 2, 10, QLatin1Char('0'))
                                    .arg(1 + m % 28, 2, 10, QLatin1Char('0'))
                                    .arg(m)),
                   m, rng);
    made = true;
    return dir.path();
}

bool startServer(QString* problem) {
    if (!serverDir.isEmpty())
        return true;
    if (serverProblem.isEmpty() && QDir(QStringLiteral("/usr/lib/postgresql"))
                                       .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                                       .isEmpty())
        serverProblem =
            QStringLiteral("PostgreSQL server binaries are missing (install postgresql)");
    QByteArray pattern("/tmp/rucktag-pg-bench.XXXXXX");
    if (serverProblem.isEmpty() && !mkdtemp(pattern.data()))
        serverProblem = QStringLiteral("no temporary folder");
    if (serverProblem.isEmpty()) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(RUCKTAG_PG_SERVER),
                {QStringLiteral("start"), QString::fromLocal8Bit(pattern)});
        p.waitForFinished(120000);
        if (p.exitCode() == 0 && QFile::exists(QString::fromLocal8Bit(pattern) + "/.s.PGSQL.5432"))
            serverDir = QString::fromLocal8Bit(pattern);
        else
            serverProblem =
                QStringLiteral("the server did not start: ") + QString::fromLocal8Bit(p.readAll());
    }
    if (problem)
        *problem = serverProblem;
    return !serverDir.isEmpty();
}

QString database(bool postgres, QTemporaryDir& scratch) {
    return postgres ? newPostgresDatabase() : scratch.filePath(QStringLiteral("library.sqlite"));
}

void stopServer() {
    if (serverDir.isEmpty())
        return;
    QProcess p;
    p.start(QStringLiteral(RUCKTAG_PG_SERVER), {QStringLiteral("destroy"), serverDir});
    p.waitForFinished(60000);
    serverDir.clear();
}

} // namespace benchseason
