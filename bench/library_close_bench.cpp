// Closing the main window while the library's PostgreSQL server is frozen
// (every process of it stopped, as a hung machine or a cut link leaves it):
// from the close to the window gone, with a save made while frozen. A
// throwaway server of tests/tools/pg-server; each round a new window.
// Usage: bench_library_close [ROUNDS]
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "MainViewController.h"
#include "SubModuleClass/TagFileManager.h"
#include "SubViewClass/MainWindow.h"
#include "client/LibraryClient.h"
#include "library/LibraryTestSupport.h"
#include "support/RecordingDialogs.h"
#include "support/Tags.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc > 1 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::printf("usage: %s [ROUNDS]\n", argv[0]);
        return 0;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    if (!librarytest::serverBinariesPresent()) {
        std::fprintf(stderr, "%s\n", librarytest::kNoServerBinaries);
        return 1;
    }
    const fs::path dir =
        fs::temp_directory_path() / ("rucktag-closebench-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "season");
    qputenv("XDG_STATE_HOME", (dir / "state").string().c_str());
    qputenv("XDG_CONFIG_HOME", (dir / "config").string().c_str());
    const QString server = QString::fromStdString((dir / "pg").string());
    QString why;
    if (!librarytest::pgServer("start", server, &why)) {
        std::fprintf(stderr, "server: %s\n", qPrintable(why));
        return 1;
    }
    const QString url = librarytest::newDatabaseOn(server, &why);
    if (url.isEmpty()) {
        std::fprintf(stderr, "database: %s\n", qPrintable(why));
        librarytest::pgServer("destroy", server, nullptr);
        return 1;
    }
    qputenv("RUCKTAG_LIBRARY", url.toUtf8());
    const std::string video = (dir / "season" / "2026-01-01 一.mp4").string();
    const std::string session = TagFileManager::sessionFilePath(video);
    std::vector<std::shared_ptr<TagRowData>> tags{tag(true, 1, "トライ")};
    TagFileManager::saveCSVFile(session, tags, true);
    { std::ofstream(video) << "not a video"; }

    std::vector<double> closes;
    for (int round = 0; round < rounds; ++round) {
        RecordingDialogs dialogs;
        auto window = std::make_unique<MainWindow>();
        window->show();
        (void)QTest::qWaitForWindowExposed(window.get());
        MainViewController* main = window->mainViewController();
        main->library()->waitIdle();

        librarytest::signalServer(server, SIGSTOP);
        // Let go after 60 s whatever happens, so a close that waits ends.
        std::atomic<bool> closed{false};
        std::thread guard([&] {
            for (int i = 0; i < 600 && !closed; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            librarytest::signalServer(server, SIGCONT);
        });
        tags.push_back(tag(false, 2.0f + static_cast<float>(round), "スクラム"));
        TagFileManager::saveCSVFile(session, tags, true);
        main->library()->indexSaved(video, session, tags);
        QTest::qWait(300);

        QElapsedTimer clock;
        clock.start();
        window->close();
        window.reset();
        closes.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        closed = true;
        guard.join();
        std::printf("round %d: closing with the server frozen took %.1f ms\n", round + 1,
                    closes.back());
        std::fflush(stdout);
    }
    std::sort(closes.begin(), closes.end());
    std::printf("closing with a frozen server: median %.1f ms, worst %.1f ms (%d rounds, target "
                "< 1000 ms)\n",
                closes[closes.size() / 2], closes.back(), rounds);
    librarytest::pgServer("destroy", server, nullptr);
    fs::remove_all(dir);
    return closes.back() < 1000 ? 0 : 1;
}
