// The season library: indexing 40 matches of 3,000 tags (120,000 tags), and
// a search by code, team and comment text over them, on SQLite and on a
// throwaway PostgreSQL server (tests/tools/pg-server; skipped, saying why,
// where the server binaries are missing). Target: a search within 50 ms.
#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include "LibraryBenchSeason.h"
#include "index/SeasonLibrary.h"

namespace {

using namespace benchseason;

QString serverProblem;

void Index(benchmark::State& state) {
    const bool postgres = state.range(0) == 1;
    if (postgres && !startServer(&serverProblem)) {
        state.SkipWithError(("skipped: " + serverProblem).toStdString().c_str());
        return;
    }
    const QString season = folder();
    for (auto _ : state) {
        QTemporaryDir scratch;
        QString error;
        auto lib = library::SeasonLibrary::open(database(postgres, scratch), &error);
        library::ScanReport report;
        if (!lib || !lib->addFolders({season}, report, &error) || report.added != kMatches) {
            state.SkipWithError(error.toStdString().c_str());
            return;
        }
    }
    state.counters["tags"] = kMatches * kTags;
}

void Search(benchmark::State& state) {
    const bool postgres = state.range(0) == 1;
    if (postgres && !startServer(&serverProblem)) {
        state.SkipWithError(("skipped: " + serverProblem).toStdString().c_str());
        return;
    }
    QTemporaryDir scratch;
    QString error;
    auto lib = library::SeasonLibrary::open(database(postgres, scratch), &error);
    library::ScanReport report;
    if (!lib || !lib->addFolders({folder()}, report, &error)) {
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
    stopServer();
    return 0;
}
