// Coding a live recording in the edit screen: the longest the GUI thread is
// held by one round of its event loop (a 5 ms timer's largest gap and its 99th
// percentile, as bench_player and bench_angles measure it), the GUI thread's
// own CPU and how often it lost its core, while a 1080p25 H.264 stream
// arrives over UDP, the recorder writes it, the real player follows the file
// at the live edge and a code key goes to the video every 2 s. And how far
// behind live the picture is: the recorder's edge less the player's position,
// sampled every 40 ms; and the age of the picture on the screen, from the
// frame number bar-coded in it to the time the camera sent that frame.
// The camera is an ffmpeg child that sends a file it made first at its own
// rate (stream copy, so its CPU is small and not an encoder's).
// Usage: bench_live_gui [SECONDS]   (default 30 s of coding). Run it with
// QT_QPA_PLATFORM=offscreen or on X.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "GuiHeartbeat.h"
#include "MainViewController.h"
#include "SubViewClass/MainWindow.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewController/EditViewController.h"
#include "coding/CodePanel.h"
#include "live/LiveSession.h"
#include "player/MpvSoftwareRenderer.h"
#include "video/VideoSurfaces.h"

namespace fs = std::filesystem;

namespace {

constexpr double kFps = 25;
constexpr int kBits = 12; // frame numbers up to 4095: 163 s

// Two point codes, Q for one team and W for the other.
constexpr const char* kCodes =
    R"({"format": "rucktag-codewindow", "version": 1, "name": "bench",
 "codes": [{"name": "スクラム", "color": "#f08000", "keyA": "Q", "keyB": "W"}]}
)";

// Times the GUI thread was made to give up a core it still wanted: its waits
// for a core, not for its own work.
long preempted() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nivcsw;
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// ffmpeg's test picture at 1080p25 with its frame number as a bar code across
// the top sixth, H.264 in MPEG-TS as a camera sends it.
bool makeCamera(const std::string& ts, double seconds) {
    const std::string command =
        "ffmpeg -nostdin -v error -y -filter_complex "
        "\"testsrc2=size=1920x1080:rate=25:duration=" +
        std::to_string(seconds) +
        "[bg];color=black:size=12x1:rate=25,format=yuv444p,"
        "geq=lum='if(mod(floor(N/pow(2\\,X))\\,2)\\,235\\,16)':cb=128:cr=128,"
        "scale=1920:180:flags=neighbor[bar];[bg][bar]overlay=0:0:shortest=1,format=yuv420p[v]\" "
        "-map '[v]' -c:v libx264 -preset ultrafast -tune zerolatency -b:v 8M -g 25 "
        "-f mpegts '" +
        ts + "'";
    return std::system(command.c_str()) == 0;
}

// The frame number in the picture the player shows, read inside the
// letterbox; -1 while there is none.
int shownFrame(MediaPlayerView* view) {
    auto* surface = view->findChild<SoftwareVideoSurface*>("VideoSurface");
    if (!surface || !surface->renderer())
        return -1;
    const QImage& image = surface->renderer()->image();
    const int w = std::min(image.width(), image.height() * 16 / 9), h = w * 9 / 16;
    if (w < kBits * 2 || h < 24)
        return -1;
    const int left = (image.width() - w) / 2, top = (image.height() - h) / 2;
    int number = 0;
    for (int bit = 0; bit < kBits; ++bit)
        if (qGray(image.pixel(left + (2 * bit + 1) * w / (2 * kBits), top + h / 12)) > 128)
            number |= 1 << bit;
    return number;
}

// Chooses the bench's code window in the pop-up, by the mouse.
void chooseCodes(QComboBox* combo) {
    QAbstractItemView* list = combo->view();
    const QModelIndex item = list->model()->index(combo->findText("bench"), 0);
    for (int attempt = 0; attempt < 5 && combo->currentText() != "bench"; ++attempt) {
        QTest::mouseClick(combo, Qt::LeftButton);
        (void)QTest::qWaitFor([&] { return list->isVisible(); }, 2000);
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        list->scrollTo(item);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(item).center());
        (void)QTest::qWaitFor([&] { return !list->isVisible(); }, 1000);
    }
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 30;
    const fs::path dir =
        fs::temp_directory_path() / ("rucktag-live-gui-bench-" + std::to_string(getpid()));
    fs::create_directories(dir / "config" / "rucktag" / "codewindows");
    std::ofstream(dir / "config" / "rucktag" / "codewindows" / "bench.json") << kCodes;
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    TimedApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setlocale(LC_NUMERIC, "C");

    const std::string camera = (dir / "camera.ts").string();
    if (!makeCamera(camera, seconds + 20)) {
        std::fprintf(stderr, "ffmpeg could not make the stream\n");
        return 1;
    }
    std::printf("load average before: %s\n", loadAverage().c_str());

    auto window = std::make_unique<MainWindow>();
    MainViewController* main = window->mainViewController();
    window->resize(1366, 740);
    window->show();
    (void)QTest::qWaitForWindowExposed(window.get());
    chooseCodes(main->editViewController->codePanel->codeWindowPopUp);

    const std::string url = "udp://127.0.0.1:" + std::to_string(30000 + ::getpid() % 4000 * 2 + 1);
    auto recorder = std::make_unique<LiveRecorder>(LiveSource{url, "", {}}, dir / "match.ts");
    auto session = std::make_unique<LiveSession>(*recorder, main);
    recorder->start();
    QTest::qWait(500); // the recorder's socket is open
    QProcess source;
    QElapsedTimer clock; // the camera's clock: frame n goes at n / 25 s
    source.start("ffmpeg",
                 {"-nostdin", "-v", "error", "-re", "-i", QString::fromStdString(camera), "-c",
                  "copy", "-f", "mpegts", QString::fromStdString(url + "?pkt_size=1316")});
    clock.start();
    if (!source.waitForStarted(5000) ||
        !QTest::qWaitFor([&] { return session->isOpen(); }, 30000)) {
        std::fprintf(stderr, "the recording did not open\n");
        return 1;
    }
    Player* player = main->MediaPlayer->player();
    QTest::qWait(3000); // at the live edge, playing
    QTest::mouseClick(main->MediaPlayer, Qt::LeftButton);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
    QTest::qWait(2000);

    // Behind live and the picture's age, sampled; each frame number's first
    // sight only.
    std::vector<double> behind, age;
    int lastFrame = -1;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        behind.push_back(recorder->status().edge - player->currentTime());
        const int n = shownFrame(main->MediaPlayer);
        if (n > lastFrame) {
            age.push_back(clock.nsecsElapsed() / 1e6 - n * 1000 / kFps);
            lastFrame = n;
        }
    });
    // A code's key every 2 s, to the widget with the focus, as the analyst types.
    int keys = 0;
    QTimer typist;
    QObject::connect(&typist, &QTimer::timeout, [&] {
        if (QWidget* focus = QApplication::focusWidget()) {
            QTest::keyClick(focus, keys % 2 ? Qt::Key_W : Qt::Key_Q);
            ++keys;
        }
    });
    const size_t tagsBefore = main->tagDataModel.data.size();
    const double cpu0 = cpuSeconds(), gui0 = cpuSeconds(RUSAGE_THREAD);
    const long preempted0 = preempted();
    QElapsedTimer wall;
    wall.start();
    Heartbeat heartbeat;
    sampler.start(40);
    typist.start(2000);
    app.timing = true;
    runEventLoopFor(static_cast<int>(seconds * 1000));
    app.timing = false;
    typist.stop();
    sampler.stop();
    const double elapsed = wall.nsecsElapsed() / 1e9;
    const double gui = cpuSeconds(RUSAGE_THREAD) - gui0, cpu = cpuSeconds() - cpu0;
    const long preemptions = preempted() - preempted0;

    std::printf("live 1080p25 coded %.0f s, %d keys, %zu tags: GUI thread held at most %.1f ms "
                "(99th percentile of the 5 ms ticks' gaps %.1f ms); GUI thread busy %.0f %% of "
                "the time; process %.0f %% of a core\n",
                elapsed, keys, main->tagDataModel.data.size() - tagsBefore, heartbeat.worstGapMs,
                percentile(heartbeat.gaps, 0.99), 100 * gui / elapsed, 100 * cpu / elapsed);
    const auto over = [&](double ms) {
        return std::count_if(heartbeat.gaps.begin(), heartbeat.gaps.end(),
                             [ms](double gap) { return gap > ms; });
    };
    std::printf("  ticks' gaps over 20 ms: %ld, over 50 ms: %ld (of %zu); the GUI thread was "
                "preempted %ld times\n",
                static_cast<long>(over(20)), static_cast<long>(over(50)), heartbeat.gaps.size(),
                preemptions);
    std::printf("  longest event on the GUI thread %.1f ms; the most of it the GUI thread's own "
                "work %.1f ms, waiting for a core %.1f ms, blocked %.1f ms (%s, %ld sleeps)\n",
                app.worstEventMs, app.worstWorkMs, app.worstQueuedMs, app.worstBlockedMs,
                app.worstBlockedIn.c_str(), app.worstBlockedSleeps);
    std::printf("recorder's edge less the player's position, every 40 ms: median %.2f s, 5th "
                "%.2f s, 95th %.2f s (%zu samples)\n",
                percentile(behind, 0.5), percentile(behind, 0.05), percentile(behind, 0.95),
                behind.size());
    std::printf("age of the picture shown (now less the time its frame was sent), at each new "
                "frame number seen: median %.0f ms, 5th %.0f ms, 95th %.0f ms, worst %.0f ms "
                "(%zu frames seen)\n",
                percentile(age, 0.5), percentile(age, 0.05), percentile(age, 0.95),
                percentile(age, 1.0), age.size());
    std::printf("load average after: %s\n", loadAverage().c_str());

    session.reset();
    source.kill();
    source.waitForFinished(5000);
    recorder.reset();
    main->tagJournal.flush();
    window.reset();
    fs::remove_all(dir);
    return 0;
}
