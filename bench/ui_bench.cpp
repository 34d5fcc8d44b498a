// The edit screen with 50,000 tags: one tag press until the table lists the
// new row, and a filtered, sorted rebuild of the table.
#include <QApplication>
#include <QComboBox>
#include <benchmark/benchmark.h>
#include <clocale>
#include <random>

#include "MainViewController.h"
#include "Media/FakePlayer.h"
#include "SubViewClass/Buttons.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewClass/TableModels.h"
#include "SubViewController/EditViewController.h"

namespace {

struct Screen {
    Screen() {
        auto owned = std::make_unique<FakePlayer>();
        fake = owned.get();
        main = std::make_unique<MainViewController>(nullptr, std::move(owned));
        main->resize(1600, 930);
        main->show();
        fake->hasItem = true;
        fake->length = 6000;
        std::mt19937 rng(7);
        for (int i = 0; i < 50000; ++i) {
            auto tag = std::make_shared<TagRowData>();
            tag->team = rng() % 2;
            tag->time_val = static_cast<float>(rng() % 5400000) / 1000.0f;
            tag->time_string = createTimeString(tag->time_val);
            tag->name = MainViewController::TAG_LABEL[rng() % 18];
            main->tagDataModel.appent(tag);
        }
        main->editViewController->reloadTagDataTable(true);
        QApplication::processEvents();
    }
    FakePlayer* fake;
    std::unique_ptr<MainViewController> main;
};

Screen& screen() {
    static Screen s;
    return s;
}

void BM_TagPressWith50kTags(benchmark::State& state) {
    Screen& s = screen();
    EditViewController* edit = s.main->editViewController;
    TagButton* button = edit->tagButtons[6];
    for (auto _ : state) {
        s.fake->clock += 0.5;
        edit->onTagButtonClicked(button);
        if (edit->tagModel()->rowCount() != static_cast<int>(edit->tagTableData.size()))
            state.SkipWithError("row not listed");
    }
    edit->reloadTagDataTable(true);
}
BENCHMARK(BM_TagPressWith50kTags)->Unit(benchmark::kMicrosecond)->Iterations(2000);

void BM_FilteredSortedRebuildWith50kTags(benchmark::State& state) {
    Screen& s = screen();
    EditViewController* edit = s.main->editViewController;
    edit->tagFilterCombo->setCurrentText("スクラム");
    edit->filterSortData = {};
    edit->filterSortData.sort_tag_time = -1;
    for (auto _ : state)
        edit->reloadTagDataTable(true);
    state.counters["rows"] = static_cast<double>(edit->tagTableData.size());
}
BENCHMARK(BM_FilteredSortedRebuildWith50kTags)->Unit(benchmark::kMillisecond);

void BM_AllSortedByNameRebuildWith50kTags(benchmark::State& state) {
    Screen& s = screen();
    EditViewController* edit = s.main->editViewController;
    edit->tagFilterCombo->setCurrentIndex(0);
    edit->filterSortData = {};
    edit->filterSortData.sort_tag_name = 1;
    for (auto _ : state)
        edit->reloadTagDataTable(true);
    state.counters["rows"] = static_cast<double>(edit->tagTableData.size());
}
BENCHMARK(BM_AllSortedByNameRebuildWith50kTags)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
