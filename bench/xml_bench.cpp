// The XML edit list: importing 10,000 instances (read, tags made, checked
// against a store of as many) and exporting 50,000 tags (text, and written
// to a file). Targets: 200 ms each. Then the crafted files of
// tests/support/HostileXml.h, each read (or refused) well under a second.
#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

#include "SubModuleClass/TagFileManager.h"
#include "exchange/XmlEditList.h"
#include "platform/AtomicFile.h"
#include "support/HostileXml.h"

namespace {

std::vector<std::shared_ptr<TagRowData>> makeTags(size_t count) {
    std::mt19937 rng(7);
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
        if (rng() % 3 == 0)
            row->comment = "ラインの裏へのキック & <良い判断>";
        if (rng() % 4 == 0)
            row->end = TagEnd::at(t + 5.0f);
        if (rng() % 2 == 0)
            row->labels = {{"結果", "成功"}, {"Player", std::to_string(rng() % 15 + 1)}};
        rows.push_back(std::move(row));
    }
    return rows;
}

void ImportInstances(benchmark::State& state) {
    const auto tags = makeTags(static_cast<size_t>(state.range(0)));
    const std::string text = editListText(tags, 8.0, 4.0);
    for (auto _ : state) {
        const EditListTags read = tagsFromEditList(readEditList(text));
        const std::vector<bool> duplicate = findDuplicates(tags, read.tags);
        benchmark::DoNotOptimize(duplicate.size());
    }
    state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(ImportInstances)->Arg(10000)->Unit(benchmark::kMillisecond);

void ExportText(benchmark::State& state) {
    const auto tags = makeTags(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        const std::string text = editListText(tags, 8.0, 4.0, 3600.0 * 30);
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK(ExportText)->Arg(50000)->Unit(benchmark::kMillisecond);

void ExportFile(benchmark::State& state) {
    const auto tags = makeTags(static_cast<size_t>(state.range(0)));
    const auto file = std::filesystem::temp_directory_path() /
                      ("rucktag-xml-bench-" + std::to_string(::getpid()) + ".xml");
    for (auto _ : state) {
        const std::string error = writeFileAtomically(file, editListText(tags, 8.0, 4.0));
        if (!error.empty())
            state.SkipWithError(error.c_str());
    }
    std::filesystem::remove(file);
}
BENCHMARK(ExportFile)->Arg(50000)->Unit(benchmark::kMillisecond);

// Each crafted file (1 to 2 MB) read and made into tags, or refused: each
// was slow before (a stack, a name list or a label list searched for every
// element); the target is well under a second.
void CraftedFile(benchmark::State& state) {
    const auto files = hostile::craftedEditLists();
    const auto& [name, text] = files[static_cast<size_t>(state.range(0))];
    state.SetLabel(name);
    for (auto _ : state) {
        const EditList list = readEditList(text);
        benchmark::DoNotOptimize(tagsFromEditList(list).tags.size());
    }
    state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(CraftedFile)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);

// A 500 MB file is refused by its size, before it is read.
void HugeFileRefused(benchmark::State& state) {
    const auto file = std::filesystem::temp_directory_path() /
                      ("rucktag-xml-huge-" + std::to_string(::getpid()) + ".xml");
    std::ofstream(file).put('<');
    std::filesystem::resize_file(file, size_t(500) << 20);
    for (auto _ : state)
        benchmark::DoNotOptimize(readEditListFile(file.string()).refused.size());
    std::filesystem::remove(file);
}
BENCHMARK(HugeFileRefused)->Unit(benchmark::kMicrosecond);

// A session line of 100,000 labels (1.4 MB), as the session loader, the
// export and the library read it.
void SessionLineOfManyLabels(benchmark::State& state) {
    const auto file = std::filesystem::temp_directory_path() /
                      ("rucktag-labels-" + std::to_string(::getpid()) + ".csv");
    {
        std::ofstream out(file);
        out << "Team, INDEX, 再生時刻, タグ内容, コメント\nA,1,0:00:01,PG,\"\",1.0,,";
        for (int i = 0; i < 100000; ++i)
            out << (i ? ";g" : "g") << i << "=t";
        out << "\n";
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(TagFileManager::readCSVFile(file).rows.size());
    std::filesystem::remove(file);
}
BENCHMARK(SessionLineOfManyLabels)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
