// From a double click on a library result to the first frame at its tag,
// against opening the same video plainly and seeking exactly to the tag: the
// real player (software surface), two copies of a fixture as two matches, the
// library a SQLite file in a scratch folder. Rounds alternate the two ways and
// the two matches, so each one replaces the video open before it.
// Usage: bench_library_open VIDEO [ROUNDS]   (e.g. build/fixtures/clip-long.mp4)
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

#include "MainViewController.h"
#include "SubModuleClass/TagFileManager.h"
#include "SubViewClass/MainWindow.h"
#include "SubViewClass/MediaPlayerView.h"
#include "client/LibraryClient.h"
#include "player/MpvPlayer.h"
#include "season/LibraryWindow.h"
#include "support/RecordingDialogs.h"
#include "support/Tags.h"

namespace fs = std::filesystem;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? NAN : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s VIDEO [ROUNDS]\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 6;

    const fs::path dir =
        fs::temp_directory_path() / ("rucktag-libbench-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "season");
    qputenv("RUCKTAG_LIBRARY", (dir / "library.sqlite").string().c_str());
    qputenv("XDG_STATE_HOME", (dir / "state").string().c_str());
    qputenv("XDG_CONFIG_HOME", (dir / "config").string().c_str());
    // Two matches, each a copy of the video with one tag at a whole second
    // (a row click's seek lands on whole seconds) far into it.
    const double at = 137.0;
    std::vector<std::string> videos;
    for (const char* name : {"2026-01-01 一", "2026-01-08 二"}) {
        const fs::path v = dir / "season" / (std::string(name) + ".mp4");
        fs::copy_file(argv[1], v);
        TagFileManager::saveCSVFile(TagFileManager::sessionFilePath(v.string()),
                                    {tag(true, static_cast<float>(at), "トライ")}, true);
        videos.push_back(v.string());
    }

    RecordingDialogs dialogs;
    MainWindow window;
    window.resize(1366, 740);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    MainViewController* main = window.mainViewController();
    MpvPlayer* mpv = main->MediaPlayer->mpvPlayer();
    // The moment the picture at the tag is up: the playback restart that
    // follows the seek there, in the video asked for.
    QElapsedTimer clock;
    std::string wanted;
    double landed = -1;
    QObject::connect(mpv, &MpvPlayer::playbackRestarted, [&] {
        if (landed < 0 && !wanted.empty() && mpv->currentPath() == wanted &&
            std::abs(mpv->currentTime() - at) < 0.05)
            landed = clock.nsecsElapsed() / 1e6;
    });

    main->libraryLink()->showWindow();
    LibraryWindow* library = main->libraryLink()->window();
    (void)QTest::qWaitForWindowExposed(library);
    dialogs.paths = {(dir / "season").string()};
    QTest::mouseClick(library->addFolderButton, Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return library->hitModel()->rowCount() == 2; }, 20000)) {
        std::fprintf(stderr, "the library found no tags: %s\n",
                     qPrintable(library->scanReportLabel->text()));
        return 1;
    }
    main->openVideo(videos[1]);
    (void)QTest::qWaitFor([&] { return mpv->currentPath() == videos[1]; }, 20000);

    std::vector<double> viaLibrary, plain;
    for (int round = 0; round < 2 * rounds; ++round) {
        const size_t target = static_cast<size_t>(round % 2); // the one not open
        wanted = videos[target];
        landed = -1;
        if (round % 4 < 2) {
            QTableView* view = library->resultsView;
            const QRect r = view->visualRect(view->model()->index(static_cast<int>(target), 3));
            clock.start();
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
            QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, r.center());
        } else {
            clock.start();
            main->openVideo(videos[target], [&] {
                mpv->pause();
                mpv->seekExact(at);
            });
        }
        if (!QTest::qWaitFor([&] { return landed >= 0; }, 20000)) {
            std::fprintf(stderr, "no frame at %.0f s in round %d: %s at %.3f\n", at, round,
                         mpv->currentPath().c_str(), mpv->currentTime());
            return 1;
        }
        (round % 4 < 2 ? viaLibrary : plain).push_back(landed);
        wanted.clear();
        mpv->pause();
        QTest::qWait(200);
    }
    const double a = median(viaLibrary), b = median(plain);
    std::printf("double click to the first frame at the tag: median %.1f ms (%zu runs)\n", a,
                viaLibrary.size());
    std::printf("plain open and exact seek:                  median %.1f ms (%zu runs)\n", b,
                plain.size());
    std::printf("ratio: %.2f (target <= 1.2)\n", a / b);

    // A save of a long match's tags: the whole save, and the part the library
    // takes on the GUI thread (the copies handed to its thread).
    std::vector<std::shared_ptr<TagRowData>> many;
    for (int i = 0; i < 3000; ++i)
        many.push_back(tag(i % 2 == 0, static_cast<float>(i % 280), i % 3 ? "スクラム" : "トライ",
                           i % 5 ? "" : "右へ展開して前進"));
    std::vector<double> saves, handOver;
    for (int i = 0; i < 5; ++i) {
        main->tagDataModel.replaceData(many);
        main->m_fSave = true;
        dialogs.answers = {1};
        clock.start();
        main->saveTagData();
        saves.push_back(clock.nsecsElapsed() / 1e6);
        main->library()->waitIdle();
        clock.start();
        main->library()->indexSaved(mpv->currentPath(), main->getCSVFileName(), many);
        handOver.push_back(clock.nsecsElapsed() / 1e6);
        main->library()->waitIdle();
    }
    std::printf("save of 3000 tags, library hook included: median %.1f ms; of it the library's "
                "hand-over: median %.2f ms\n",
                median(saves), median(handOver));
    main->library()->waitIdle();
    fs::remove_all(dir);
    return 0;
}
