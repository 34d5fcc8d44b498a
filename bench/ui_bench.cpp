// The edit screen with 50,000 tags: one tag press until the table lists the
// new row, and a filtered, sorted rebuild of the table; the tag timeline with
// 50,000 marks: painting, hit test and rebuild; switching between two code
// windows of 40 codes per team (80 buttons rebuilt and laid out); the
// import question for 20,000 codes.
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QPushButton>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "MainViewController.h"
#include "SubViewClass/Buttons.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewController/EditViewController.h"
#include "codewindow/CodeWindowFile.h"
#include "import/ImportDialog.h"
#include "support/FakePlayer.h"
#include "tags/TableModels.h"
#include "timeline/TagTimeline.h"

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
    TagButton* button = edit->codePanel->tagButtons[6];
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

// The timeline on its own: 50,000 tags of a 90-minute match at 1920 px.
struct Strip {
    Strip() : strip("BenchTimeline") {
        fake.hasItem = true;
        fake.length = 5400;
        fake.clock = 2000;
        std::mt19937 rng(11);
        for (int i = 0; i < 50000; ++i) {
            auto tag = std::make_shared<TagRowData>();
            tag->index = i;
            tag->team = rng() % 2;
            tag->time_val = static_cast<float>(rng() % 5400000) / 1000.0f;
            tag->time_string = createTimeString(tag->time_val);
            tag->name = MainViewController::TAG_LABEL[rng() % 18];
            rows.push_back(std::move(tag));
        }
        strip.setPlayer(&fake);
        strip.resize(1920, 48);
        strip.setRows(rows);
        strip.setChosen(25000);
    }
    FakePlayer fake;
    std::vector<std::shared_ptr<TagRowData>> rows;
    TagTimeline strip;
};

Strip& strip() {
    static Strip s;
    return s;
}

void BM_TimelinePaint50kMarks(benchmark::State& state) {
    Strip& s = strip();
    QImage image(s.strip.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state)
        s.strip.render(&image);
}
BENCHMARK(BM_TimelinePaint50kMarks)->Unit(benchmark::kMillisecond);

void BM_TimelineHitTest50kMarks(benchmark::State& state) {
    Strip& s = strip();
    std::mt19937 rng(5);
    size_t found = 0;
    for (auto _ : state) {
        const QPoint at(static_cast<int>(rng() % 1920), static_cast<int>(rng() % 48));
        found += s.strip.marksAt(at).size();
        benchmark::DoNotOptimize(found);
    }
    state.counters["marks per hit"] = static_cast<double>(found) / state.iterations();
}
BENCHMARK(BM_TimelineHitTest50kMarks)->Unit(benchmark::kMicrosecond);

// A new list each time (another filter or sort), built in full; the rows are
// in random time order.
void BM_TimelineSetRows50k(benchmark::State& state) {
    Strip& s = strip();
    auto other = s.rows;
    std::reverse(other.begin(), other.end());
    bool flip = false;
    for (auto _ : state) {
        s.strip.setRows(flip ? s.rows : other);
        flip = !flip;
    }
}
BENCHMARK(BM_TimelineSetRows50k)->Unit(benchmark::kMillisecond);

// Two windows of 40 codes each with keys for both teams, in a folder of the
// bench's own (QSettings follows it too, so the analyst's choice is untouched).
void writeFortyCodeWindows() {
    char folder[] = "/tmp/rucktag-bench-XXXXXX";
    if (!::mkdtemp(folder))
        return;
    ::setenv("XDG_CONFIG_HOME", folder, 1);
    for (const char* name : {"40A", "40B"}) {
        CodeWindow w;
        w.name = name;
        for (int i = 0; i < 40; ++i) {
            Code c;
            c.name = std::string(name) + " コード" + std::to_string(i + 1);
            c.color = i % 2 ? "#408bff" : "#ff8b40";
            const std::string f = "F" + std::to_string(i % 35 + 1);
            c.keyA = (i < 35 ? "" : "Alt+") + f;
            c.keyB = (i < 35 ? "Shift+" : "Ctrl+") + f;
            c.mode = i % 3 ? CodeMode::Point : CodeMode::Duration;
            w.codes.push_back(std::move(c));
        }
        const std::string error =
            writeCodeWindowFile(codeWindowFolder() / codeWindowFileName(name), w);
        if (!error.empty())
            std::fprintf(stderr, "%s: %s\n", name, error.c_str());
    }
}

// One switch: the pop-up's choice, the buttons rebuilt, laid out and painted.
void BM_SwitchWindows40CodesPerTeam(benchmark::State& state) {
    Screen& s = screen();
    EditViewController* edit = s.main->editViewController;
    QComboBox* popUp = edit->codePanel->codeWindowPopUp;
    const int a = popUp->findText("40A"), b = popUp->findText("40B");
    if (a < 0 || b < 0) {
        state.SkipWithError("windows not offered");
        return;
    }
    bool flip = false;
    for (auto _ : state) {
        emit popUp->activated(flip ? a : b);
        QApplication::processEvents();
        flip = !flip;
    }
    state.counters["buttons"] = static_cast<double>(edit->codePanel->tagButtons.size());
    emit popUp->activated(0);
    QApplication::processEvents();
}
BENCHMARK(BM_SwitchWindows40CodesPerTeam)->Unit(benchmark::kMillisecond);

// The import question for 20,000 codes without a team, none of them in the
// window: built, shown and painted, 全部をチームB, closed.
void BM_ImportQuestion20kCodes(benchmark::State& state) {
    std::vector<std::string> codes;
    for (int i = 0; i < 20000; ++i)
        codes.push_back("コード" + std::to_string(i));
    for (auto _ : state) {
        ImportDialog dialog(codes, codes, "標準", "標準 (読込)", nullptr);
        dialog.show();
        QApplication::processEvents();
        dialog.findChild<QPushButton*>("allTeamB")->click();
        QApplication::processEvents();
        if (dialog.teams().size() != codes.size() || dialog.teams()[19999])
            state.SkipWithError("teams not set");
        dialog.close();
    }
}
BENCHMARK(BM_ImportQuestion20kCodes)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    writeFortyCodeWindows();
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
