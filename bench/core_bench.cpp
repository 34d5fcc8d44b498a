// Session file load/save, the filtered, sorted view and the tally at 100,000
// tags; a press through a code window's rules at 50,000.
#include <benchmark/benchmark.h>
#include <filesystem>
#include <random>
#include <unistd.h>

#include "SubModuleClass/TagFileManager.h"
#include "codewindow/CodeRecorder.h"
#include "review/TagTally.h"
#include "text/UnicodeText.h"

namespace {

std::vector<std::shared_ptr<TagRowData>> makeTags(size_t count) {
    std::mt19937 rng(42);
    std::vector<std::shared_ptr<TagRowData>> rows;
    rows.reserve(count);
    float t = 0;
    for (size_t i = 0; i < count; ++i) {
        auto row = std::make_shared<TagRowData>();
        row->index = static_cast<int64_t>(i);
        row->team = rng() % 2;
        t += static_cast<float>(rng() % 2000) / 100.0f;
        row->time_val = t;
        row->time_string = createTimeString(t);
        row->name = kTagLabels[rng() % 18];
        switch (rng() % 6) { // mixed comment lengths, some awkward
        case 0:
            row->comment = "ラインの裏へのキック、\"良い判断\"";
            break;
        case 1:
            row->comment = "1行目\n2行目";
            break;
        case 2:
            row->comment = std::string(static_cast<size_t>(rng() % 200), 'c');
            break;
        default:
            break;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::filesystem::path benchFile() {
    return std::filesystem::temp_directory_path() /
           ("rucktag-bench-" + std::to_string(::getpid()) + ".csv");
}

void BM_SaveSession100k(benchmark::State& state) {
    const auto rows = makeTags(100000);
    const auto file = benchFile();
    for (auto _ : state) {
        const std::string err = TagFileManager::saveCSVFile(file, rows, true);
        if (!err.empty())
            state.SkipWithError(err.c_str());
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(file));
    std::filesystem::remove(file);
}
BENCHMARK(BM_SaveSession100k)->Unit(benchmark::kMillisecond);

void BM_FormatSession100k(benchmark::State& state) {
    const auto rows = makeTags(100000);
    for (auto _ : state)
        benchmark::DoNotOptimize(TagFileManager::csvText(rows, true));
}
BENCHMARK(BM_FormatSession100k)->Unit(benchmark::kMillisecond);

void BM_LoadSession100k(benchmark::State& state) {
    const auto file = benchFile();
    TagFileManager::saveCSVFile(file, makeTags(100000), true);
    for (auto _ : state) {
        auto rows = TagFileManager::loadCSVFile(file);
        state.PauseTiming(); // freeing the records is not part of loading
        if (rows.size() != 100000)
            state.SkipWithError("wrong row count");
        rows.clear();
        state.ResumeTiming();
    }
    std::filesystem::remove(file);
}
BENCHMARK(BM_LoadSession100k)->Unit(benchmark::kMillisecond);

// arg 0: no sort, 1 name, 2 time, 3 comment, 4 team; always filtered by name.
void BM_FilterSort100k(benchmark::State& state) {
    TagDataModel model;
    for (auto& row : makeTags(100000))
        model.appent(row);
    FilterSortData filter;
    filter.filter_tag_name = "ラック";
    switch (state.range(0)) {
    case 1:
        filter.sort_tag_name = -1;
        break;
    case 2:
        filter.sort_tag_time = -1;
        break;
    case 3:
        filter.sort_tag_comment = 1;
        break;
    case 4:
        filter.sort_team = 1;
        break;
    default:
        break;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(model.getFilterData(filter));
}
BENCHMARK(BM_FilterSort100k)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

// No name filter: every tag passes, sorted by name (the costliest view).
void BM_AllSortedByName100k(benchmark::State& state) {
    TagDataModel model;
    for (auto& row : makeTags(100000))
        model.appent(row);
    FilterSortData filter;
    filter.sort_tag_name = 1;
    for (auto _ : state)
        benchmark::DoNotOptimize(model.getFilterData(filter));
}
BENCHMARK(BM_AllSortedByName100k)->Unit(benchmark::kMillisecond);

// The play screen's tally of the store; arg 1: team A's box only.
void BM_Tally100k(benchmark::State& state) {
    const auto rows = makeTags(100000);
    const bool teamB = state.range(0) == 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(tallyTags(rows, true, teamB));
}
BENCHMARK(BM_Tally100k)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Canonical composition of 100,000 tag names as the tally and the name filter
// do it; arg 0: the labels as the buttons write them (already composed), 1:
// names of a hand-edited file written decomposed (ド as ト + U+3099).
void BM_ComposeNames100k(benchmark::State& state) {
    const char* const decomposed[] = {"\u30C8\u3099\u30ED\u30C3\u30D5\u309A\u30A2\u30A6\u30C8",
                                      "\u30D8\u309A\u30CA\u30EB\u30C6\u30A3",
                                      "\u30AF\u3099\u30E9\u30A6\u30F3\u30C8\u3099",
                                      "\u30CF\u3099\u30A4\u30F3\u30C8\u3099"};
    std::vector<std::string> names;
    names.reserve(100000);
    for (size_t i = 0; i < 100000; ++i)
        names.emplace_back(state.range(0) == 0 ? kTagLabels[i % kTagLabels.size()]
                                               : decomposed[i % std::size(decomposed)]);
    std::string storage;
    for (auto _ : state)
        for (const std::string& name : names)
            benchmark::DoNotOptimize(nfcView(name, storage));
}
BENCHMARK(BM_ComposeNames100k)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A press through the recording rules with 50,000 tags, applied as an undo
// step (the rules' share of a press; the table, strip and journal come on
// top). Arg 0: the standard window (a point, no scan); 1: a duration code
// that starts and ends its tag in turn (each press scans the store for the
// open tag); 2: two duration codes of one group in turn (each press ends the
// other's tag and starts its own).
void BM_CodePressWith50kTags(benchmark::State& state) {
    CodeWindow window = CodeWindow::standard().duplicate("bench");
    window.codes[0].mode = CodeMode::Duration;
    window.codes[1].mode = CodeMode::Duration;
    if (state.range(0) == 2)
        window.codes[0].group = window.codes[1].group = "局面";
    double now = 60000;
    CodeRecorder recorder(window, [&now] { return now; });
    TagDataModel store;
    for (auto& row : makeTags(50000))
        store.appent(row);
    TagHistory history;
    const size_t standardCode = 6;
    size_t presses = 0;
    for (auto _ : state) {
        now += 0.5;
        const size_t code = state.range(0) == 0   ? standardCode
                            : state.range(0) == 1 ? 0
                                                  : presses % 2;
        ++presses;
        history.perform(store, recorder.press(store, code, true));
    }
    state.counters["tags"] = static_cast<double>(store.data.size());
}
BENCHMARK(BM_CodePressWith50kTags)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(2000);

} // namespace

BENCHMARK_MAIN();
