// Drives the real application for scripts/kill-during-tagging: opens VIDEO
// with the real player, chooses to restore when asked about unsaved changes,
// prints the restored tags, then clicks tag buttons at a steady pace and
// prints every recorded tag with the moment its press returned, until killed
// (or PRESSES presses are made). Lines, each flushed:
//   asked TITLE MESSAGE | R INDEX NAME | viewonly | ready COUNT |
//   T INDEX NAME MONOTONIC_NS
// "viewonly" says another process records the video: presses then record
// nothing and print no T line.
// With RUCKTAG_SHOT_DIR set (under a display), the restore question is the
// real message box, photographed and answered with a click on "復元する", and the
// restored window is photographed too.
// Usage: tagging_driver VIDEO [INTERVAL_MS [PRESSES]]
#include <QAbstractButton>
#include <QApplication>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <ctime>

#include "MainViewController.h"
#include "SubViewClass/Buttons.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/MainWindow.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewController/EditViewController.h"

namespace {

long long monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

QString shotDir;

void shoot(const QString& name) {
    QApplication::processEvents();
    QGuiApplication::primaryScreen()->grabWindow(0).save(shotDir + "/" + name + ".png");
    std::printf("saved %s/%s.png\n", qPrintable(shotDir), qPrintable(name));
}

// Restores when asked to, notes every other box and takes its default.
class Answers : public DialogProvider {
public:
    explicit Answers(DialogProvider& real) : real_(real) {}
    int showBox(Kind kind, const std::string& message, const std::string& title,
                const std::string& style, const std::vector<std::string>& buttons) override {
        std::string oneLine = message;
        std::replace(oneLine.begin(), oneLine.end(), '\n', ' ');
        std::printf("asked %s %s\n", title.c_str(), oneLine.c_str());
        std::fflush(stdout);
        if (!shotDir.isEmpty() && title == "復元") {
            QTimer::singleShot(1000, [] {
                shoot("recovery-question");
                if (QWidget* box = QApplication::activeModalWidget())
                    for (QAbstractButton* b : box->findChildren<QAbstractButton*>())
                        if (b->text() == "復元する")
                            QTest::mouseClick(b, Qt::LeftButton);
            });
            return real_.showBox(kind, message, title, style, buttons);
        }
        return 0; // restore, or the only button of a notice
    }
    void openFilePanel(QWidget*, const FilePanel&, PathCallback done) override { done({}); }
    void saveFilePanel(QWidget*, const FilePanel&, PathCallback done) override { done({}); }

private:
    DialogProvider& real_;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    if (argc < 2)
        return 2;
    const int interval = argc > 2 ? std::atoi(argv[2]) : 25;
    const long presses = argc > 3 ? std::atol(argv[3]) : -1;
    shotDir = qEnvironmentVariable("RUCKTAG_SHOT_DIR");
    if (!shotDir.isEmpty()) {
        QFont::insertSubstitutions("Hiragino Sans GB", {"Noto Sans CJK JP"});
        QApplication::setFont(QFont("Hiragino Sans GB"));
    }
    Answers answers(dialogProvider());
    setDialogProvider(&answers);

    MainWindow window;
    MainViewController* main = window.mainViewController();
    window.fitMainView(main->size());
    window.move(20, 20);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    EditViewController* edit = main->editViewController;

    bool opened = false;
    main->openVideo(argv[1], [&] { opened = true; });
    if (!QTest::qWaitFor([&] { return opened; }, 20000))
        return 1;
    for (const auto& tag : main->tagDataModel.data)
        std::printf("R %lld %s\n", static_cast<long long>(tag->index), tag->name.c_str());
    if (main->isViewOnly())
        std::printf("viewonly\n");
    std::printf("ready %zu\n", main->tagDataModel.data.size());
    std::fflush(stdout);
    if (!shotDir.isEmpty() && !main->tagDataModel.data.empty()) {
        QTest::qWait(1500);
        shoot("recovered");
    }

    size_t next = 0;
    for (long n = 0; presses < 0 || n < presses; ++n) {
        TagButton* b = edit->tagButtons[next++ % edit->tagButtons.size()];
        const size_t before = main->tagDataModel.data.size();
        QTest::mouseClick(b, Qt::LeftButton);
        if (main->tagDataModel.data.size() > before) {
            const auto& tag = main->tagDataModel.data.back();
            std::printf("T %lld %s %lld\n", static_cast<long long>(tag->index), tag->name.c_str(),
                        monotonicNs());
            std::fflush(stdout);
        }
        QTest::qWait(interval);
    }
    main->tagJournal.flush();
    return 0;
}
