// The season library: indexing 40 matches of 3,000 tags (120,000 tags), and
// a search by code, team and comment text over them, on SQLite and on a
// throwaway PostgreSQL server (tests/tools/pg-server; skipped, saying why,
// where the server binaries are missing). Target: a search within 50 ms.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <random>
#include <unistd.h>

#include "SubModuleClass/TagFileManager.h"
#include "index/SeasonLibrary.h"
#include "match/MatchInfo.h"
#include "text/TimeText.h"

namespace {

constexpr int kMatches = 40;
constexpr int kTags = 3000;

const char* const kWords[] = {"右サイド",   "左サイド", "ラインの裏", "良い判断",   "反則",
                              "ノックオン", "ゲイン",   "ミス",       "接点で勝つ", "速い球出し"};

// The season's folder, written once: VIDEO.mp4 (bytes), VIDEO.csv and for
// half of them VIDEO.match.json.
QString season() {
    static QTemporaryDir dir;
    static bool made = false;
    if (made)
        return dir.path();
    std::mt19937 rng(11);
    for (int m = 0; m < kMatches; ++m) {
        const QString stem = dir.filePath(QStringLiteral("2026-%1-%2 試合%3")
                                              .arg(4 + m / 28, 2, 10, QLatin1Char('0'))
                                              .arg(1 + m % 28, 2, 10, QLatin1Char('0'))
                                              .arg(m));
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
    made = true;
    return dir.path();
}

// The throwaway server; empty with the reason when there is none.
QString serverDir, serverProblem;
int databaseCount = 0;

bool startServer() {
    if (!serverDir.isEmpty())
        return true;
    if (!serverProblem.isEmpty())
        return false;
    if (QDir(QStringLiteral("/usr/lib/postgresql"))
            .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
            .isEmpty()) {
        serverProblem =
            QStringLiteral("PostgreSQL server binaries are missing (install postgresql)");
        return false;
    }
    QByteArray pattern("/tmp/rucktag-pg-bench.XXXXXX");
    if (!mkdtemp(pattern.data())) {
        serverProblem = QStringLiteral("no temporary folder");
        return false;
    }
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(RUCKTAG_PG_SERVER),
            {QStringLiteral("start"), QString::fromLocal8Bit(pattern)});
    p.waitForFinished(120000);
    if (p.exitCode() != 0 || !QFile::exists(QString::fromLocal8Bit(pattern) + "/.s.PGSQL.5432")) {
        serverProblem =
            QStringLiteral("the server did not start: ") + QString::fromLocal8Bit(p.readAll());
        return false;
    }
    serverDir = QString::fromLocal8Bit(pattern);
    return true;
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

QString databaseFor(bool postgres, QTemporaryDir& scratch) {
    return postgres ? newPostgresDatabase() : scratch.filePath(QStringLiteral("library.sqlite"));
}

void Index(benchmark::State& state) {
    const bool postgres = state.range(0) == 1;
    if (postgres && !startServer()) {
        state.SkipWithError(("skipped: " + serverProblem).toStdString().c_str());
        return;
    }
    const QString folder = season();
    for (auto _ : state) {
        QTemporaryDir scratch;
        QString error;
        auto lib = library::SeasonLibrary::open(databaseFor(postgres, scratch), &error);
        library::ScanReport report;
        if (!lib || !lib->addFolders({folder}, report, &error) || report.added != kMatches) {
            state.SkipWithError(error.toStdString().c_str());
            return;
        }
    }
    state.counters["tags"] = kMatches * kTags;
}

void Search(benchmark::State& state) {
    const bool postgres = state.range(0) == 1;
    if (postgres && !startServer()) {
        state.SkipWithError(("skipped: " + serverProblem).toStdString().c_str());
        return;
    }
    QTemporaryDir scratch;
    QString error;
    auto lib = library::SeasonLibrary::open(databaseFor(postgres, scratch), &error);
    library::ScanReport report;
    if (!lib || !lib->addFolders({season()}, report, &error)) {
        state.SkipWithError(error.toStdString().c_str());
        return;
    }
    library::Query query;
    switch (state.range(1)) {
    case 0: // the target: code, team and text
        query.code = "タックル";
        query.teamA = true;
        query.text = "右サイド";
        break;
    case 1: // text alone, three characters and more
        query.text = "ラインの裏";
        break;
    case 2: // text alone, one character
        query.text = "反";
        break;
    default: // a label and a code
        query.code = "スクラム";
        query.labels = {{"結果", "成功"}};
        break;
    }
    size_t hits = 0;
    for (auto _ : state) {
        hits = lib->search(query, &error).size();
        benchmark::DoNotOptimize(hits);
    }
    state.counters["hits"] = static_cast<double>(hits);
}

} // namespace

BENCHMARK(Index)->ArgName("postgres")->Arg(0)->Arg(1)->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(Search)
    ->ArgNames({"postgres", "query"})
    ->ArgsProduct({{0, 1}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!serverDir.isEmpty()) {
        QProcess p;
        p.start(QStringLiteral(RUCKTAG_PG_SERVER), {QStringLiteral("destroy"), serverDir});
        p.waitForFinished(60000);
    }
    return 0;
}
