// Start-up with a code window folder holding a window file of the largest
// size read (1 MB): without one, with thousands of keyed codes, with an
// object of tens of thousands of members. Then the folder read alone, and
// choosing the large window (its buttons built in the scrolling panel).
#include <QApplication>
#include <QComboBox>
#include <benchmark/benchmark.h>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "MainViewController.h"
#include "SubViewController/EditViewController.h"
#include "codewindow/CodeWindowFile.h"
#include "support/FakePlayer.h"

namespace fs = std::filesystem;

namespace {

// Config folders of the bench's own: 0 none, 1 keyed codes, 2 members.
fs::path folders[3];

void writeFolders() {
    char base[] = "/tmp/rucktag-bench-XXXXXX";
    if (!::mkdtemp(base))
        std::abort();
    for (int i = 0; i < 3; ++i) {
        folders[i] = fs::path(base) / std::to_string(i);
        fs::create_directories(folders[i] / "rucktag" / "codewindows");
    }
    CodeWindow keyed;
    keyed.name = "千";
    // About 1 MB (the file is refused if not under): the most codes a window
    // holds, with long names.
    for (size_t i = 0; i < kMaxCodes; ++i) {
        const std::string n = std::to_string(i);
        keyed.codes.push_back({"コード" + n + std::string(3900, 'x'),
                               "#3f8a3f",
                               "F" + n,
                               "Shift+F" + n,
                               {},
                               {},
                               CodeMode::Point,
                               ""});
    }
    const std::string error =
        writeCodeWindowFile(folders[1] / "rucktag" / "codewindows" / "keyed.json", keyed);
    if (!error.empty())
        std::fprintf(stderr, "keyed: %s\n", error.c_str());
    std::string members = R"({"format": "rucktag-codewindow", "version": 1, "name": "m",
 "codes": [{"name": "a"}])";
    for (int i = 0; members.size() < kMaxCodeWindowFileBytes - 40; ++i)
        members += ",\n \"x" + std::to_string(i) + "\": " + std::to_string(i);
    std::ofstream(folders[2] / "rucktag" / "codewindows" / "members.json") << members << "}\n";
}

void use(int folder) {
    ::setenv("XDG_CONFIG_HOME", folders[folder].c_str(), 1);
}

// The main view made and shown, its folder read, until the events settle.
void BM_StartUp(benchmark::State& state) {
    use(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto main = std::make_unique<MainViewController>(nullptr, std::make_unique<FakePlayer>());
        main->resize(1366, 728);
        main->show();
        QApplication::processEvents();
        state.counters["windows"] = main->editViewController->codePanel->codeWindowPopUp->count();
    }
}
BENCHMARK(BM_StartUp)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReadFolder(benchmark::State& state) {
    use(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(listCodeWindows(codeWindowFolder()));
}
BENCHMARK(BM_ReadFolder)->DenseRange(1, 2)->Unit(benchmark::kMillisecond);

// Choosing the window of thousands of codes: both teams' buttons built.
void BM_ChooseLargeWindow(benchmark::State& state) {
    use(1);
    auto main = std::make_unique<MainViewController>(nullptr, std::make_unique<FakePlayer>());
    main->resize(1366, 728);
    main->show();
    QApplication::processEvents();
    QComboBox* popUp = main->editViewController->codePanel->codeWindowPopUp;
    for (auto _ : state) {
        emit popUp->activated(1);
        QApplication::processEvents();
        state.PauseTiming();
        state.counters["buttons"] =
            static_cast<double>(main->editViewController->codePanel->tagButtons.size());
        emit popUp->activated(0);
        QApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ChooseLargeWindow)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    writeFolders();
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
