// A season's report from the library: 40 matches of 3,000 tags (120,000
// tags) found by one search, made into the report's tags, its figures, the
// PDF, its page images and the HTML page, on SQLite and on a throwaway
// PostgreSQL server (skipped, saying why, where the server binaries are
// missing). Target: within 3 s each. The counters give each step's share in
// milliseconds.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <benchmark/benchmark.h>
#include <ctime>

#include "LibraryBenchSeason.h"
#include "codewindow/CodeWindow.h"
#include "index/SeasonLibrary.h"
#include "render/ReportFiles.h"
#include "report/LibraryReportTags.h"

namespace {

using namespace benchseason;

void SeasonReport(benchmark::State& state) {
    const bool postgres = state.range(0) == 1;
    QString problem;
    if (postgres && !startServer(&problem)) {
        state.SkipWithError(("skipped: " + problem).toStdString().c_str());
        return;
    }
    QTemporaryDir scratch;
    QString error;
    auto lib = library::SeasonLibrary::open(database(postgres, scratch), &error);
    library::ScanReport scanned;
    if (!lib || !lib->addFolders({folder()}, scanned, &error)) {
        state.SkipWithError(error.toStdString().c_str());
        return;
    }
    const CodeWindow window = CodeWindow::standard();
    const QString out = scratch.filePath(QStringLiteral("season"));
    const report::Targets targets{out + QStringLiteral(".pdf"), scratch.path(),
                                  out + QStringLiteral(".html")};
    // Per step: wall and this process's CPU time (the machine may be shared).
    double wall[5] = {}, cpu[5] = {}; // search, tags, figures, document, files
    size_t tags = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        std::clock_t used = std::clock();
        int step = 0;
        const auto lap = [&] {
            wall[step] += static_cast<double>(clock.nsecsElapsed()) / 1e6;
            cpu[step++] += 1000.0 * static_cast<double>(std::clock() - used) / CLOCKS_PER_SEC;
            clock.restart();
            used = std::clock();
        };
        const std::vector<library::Hit> hits = lib->search(library::Query{}, &error);
        lap();
        const library::ReportTags found = library::reportTags(hits);
        lap();
        const MatchReport figures = library::reportFigures(found, &window);
        lap();
        const report::Document doc = report::reportDocument(figures, found.title);
        lap();
        if (!report::writeReport(doc, targets, &error)) {
            state.SkipWithError(error.toStdString().c_str());
            return;
        }
        lap();
        tags = found.tags.size();
    }
    const char* names[] = {"search", "tags", "figures", "document", "files"};
    const auto each = [&](double total) { return total / static_cast<double>(state.iterations()); };
    for (int i = 0; i < 5; ++i) {
        state.counters[std::string(names[i]) + "_ms"] = each(wall[i]);
        state.counters[std::string(names[i]) + "_cpu_ms"] = each(cpu[i]);
    }
    state.counters["tags"] = static_cast<double>(tags);
}

} // namespace

BENCHMARK(SeasonReport)
    ->ArgName("postgres")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    // The report paints text: fonts need a GUI application, no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    stopServer();
    return 0;
}
