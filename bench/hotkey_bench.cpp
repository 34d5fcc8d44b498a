// The edit screen with 50,000 tags and a code window of 25 codes with keys
// and two label groups: a code's key press until the table lists its row, a
// label key until its row shows it, and switching windows (80 buttons and the
// label panel built again).
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <benchmark/benchmark.h>
#include <clocale>
#include <filesystem>
#include <random>

#include "MainViewController.h"
#include "SubViewClass/CustomTableView.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewController/EditViewController.h"
#include "codewindow/CodeWindow.h"
#include "codewindow/CodeWindowFile.h"
#include "support/FakePlayer.h"
#include "tags/TableModels.h"

namespace {

const char kKeys[] = "1234567890FGHJKLQWERTYUIO";

// 40 codes: the first 25 with a key per team, every fifth one lasting.
CodeWindow benchWindow() {
    CodeWindow w;
    w.name = "ベンチ";
    for (int i = 0; i < 40; ++i) {
        Code c;
        c.name = "コード" + std::to_string(i + 1);
        c.color = i % 2 ? "#f08000" : "#2060c0";
        if (i < 25) {
            c.keyA = std::string(1, kKeys[i]);
            c.keyB = "Shift+" + c.keyA;
        }
        if (i % 5 == 4)
            c.mode = CodeMode::Duration;
        w.codes.push_back(c);
    }
    w.labels.push_back({"結果", {"成功", "失敗"}, {"Z", "X"}});
    w.labels.push_back({"位置", {"自陣", "中盤", "敵陣"}, {"C", "V", "B"}});
    return w;
}

struct Screen {
    Screen() {
        const auto config = std::filesystem::temp_directory_path() / "rucktag-hotkey-bench";
        std::filesystem::remove_all(config);
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        ::setenv("XDG_STATE_HOME", (config / "state").c_str(), 1);
        std::filesystem::create_directories(codeWindowFolder());
        if (!writeCodeWindowFile(codeWindowFolder() / "bench.json", benchWindow()).empty())
            std::abort();
        auto owned = std::make_unique<FakePlayer>();
        fake = owned.get();
        main = std::make_unique<MainViewController>(nullptr, std::move(owned));
        main->resize(1600, 930);
        main->show();
        fake->hasItem = true;
        fake->length = 6000;
        EditViewController* edit = main->editViewController;
        custom = edit->codePanel->codeWindowPopUp->findText("ベンチ");
        choose(custom);
        std::mt19937 rng(7);
        const CodeWindow& w = edit->codeWindow();
        for (int i = 0; i < 50000; ++i) {
            auto tag = std::make_shared<TagRowData>();
            tag->team = rng() % 2;
            tag->time_val = static_cast<float>(rng() % 5400000) / 1000.0f;
            tag->time_string = createTimeString(tag->time_val);
            tag->name = w.codes[rng() % 4].name; // point codes only: none left open
            main->tagDataModel.appent(tag);
        }
        edit->reloadTagDataTable(true);
        QApplication::processEvents();
    }
    void choose(int which) {
        EditViewController* edit = main->editViewController;
        edit->codePanel->codeWindowPopUp->setCurrentIndex(which);
        emit edit->codePanel->codeWindowPopUp->activated(which);
    }
    // A key pressed with the tag list holding the focus.
    void key(Qt::Key k, Qt::KeyboardModifiers mods = {}) {
        QKeyEvent press(QEvent::KeyPress, k, mods);
        QApplication::sendEvent(main->editViewController->tagTableView->viewport(), &press);
    }
    FakePlayer* fake;
    std::unique_ptr<MainViewController> main;
    int custom = -1;
};

Screen& screen() {
    static Screen s;
    return s;
}

void BM_HotkeyPressWith50kTags(benchmark::State& state) {
    Screen& s = screen();
    EditViewController* edit = s.main->editViewController;
    for (auto _ : state) {
        s.fake->clock += 0.5;
        s.key(Qt::Key_1);
        if (edit->tagModel()->rowCount() != static_cast<int>(edit->tagTableData.size()) ||
            edit->tagTableData.back()->name != "コード1")
            state.SkipWithError("row not listed");
    }
    state.counters["tags"] = static_cast<double>(s.main->tagDataModel.data.size());
}
BENCHMARK(BM_HotkeyPressWith50kTags)->Unit(benchmark::kMicrosecond)->Iterations(2000);

void BM_LabelKeyWith50kTags(benchmark::State& state) {
    Screen& s = screen();
    EditViewController* edit = s.main->editViewController;
    const auto tag = edit->tagTableData.back(); // the chosen one: the last recorded
    bool on = false;
    for (auto _ : state) {
        s.key(Qt::Key_Z); // on, then off again
        on = !on;
        if (tag->labels.empty() == on)
            state.SkipWithError("label not changed");
    }
}
BENCHMARK(BM_LabelKeyWith50kTags)->Unit(benchmark::kMicrosecond)->Iterations(2000);

void BM_SwitchWindowsWith50kTags(benchmark::State& state) {
    Screen& s = screen();
    EditViewController* edit = s.main->editViewController;
    bool custom = true;
    for (auto _ : state) {
        custom = !custom;
        s.choose(custom ? s.custom : 0);
        if (edit->codePanel->tagButtons.size() != (custom ? 80u : 36u))
            state.SkipWithError("buttons not built");
    }
    s.choose(s.custom);
}
BENCHMARK(BM_SwitchWindowsWith50kTags)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    screen().main.reset();
    return 0;
}
