// The angles tour: the demo match with a second camera (a tight one, cut from
// the middle of the demo's picture, started 1.2 s after the main), the two side by
// side while the match is coded by keyboard on the angle's view.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <random>

#include "MainViewController.h"
#include "SubViewClass/MainWindow.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewController/EditViewController.h"
#include "angles/AngleSync.h"
#include "player/Player.h"
#include "session/TagEdit.h"
#include "tour.h"
#include "video/AngleViews.h"

namespace {

using namespace tours;

bool makeTightAngle(const QString& video, const QString& out) {
    if (QFile::exists(out))
        return true;
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
                 {"-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-ss", "1.2", "-i", video,
                  "-vf", "crop=iw/2:ih/2:iw/4:ih/4,scale=1280:720", "-an", "-c:v", "libx264",
                  "-preset", "ultrafast", "-g", "50", out + ".tmp.mp4"});
    return ffmpeg.waitForFinished(300000) && ffmpeg.exitCode() == 0 &&
           QFile::rename(out + ".tmp.mp4", out);
}

} // namespace

int anglesTour(MainWindow& window, const std::string& video) {
    MainViewController* main = window.mainViewController();
    EditViewController* edit = main->editViewController;
    const QString folder = outFolder() + "/angles-video";
    QDir().mkpath(folder);
    const QString copy = folder + "/2026-09-13_京都戦.mp4";
    QFile::remove(copy);
    for (const QString& stale : QDir(folder).entryList({"*.csv", "*.json"}))
        QFile::remove(folder + "/" + stale);
    if (!makeTightAngle(QString::fromStdString(video), folder + "/京都戦_タイト.mp4"))
        return failed("the tight angle could not be made");
    if (!QFile::copy(QString::fromStdString(video), copy) || !chooseWindow(edit, "15人制 詳細") ||
        !openAndWait(main, copy.toStdString()))
        return failed("the match video did not open");
    Player* player = main->MediaPlayer->player();
    MatchInfo match = main->tagDataModel.match;
    match.teams = {"東京", "京都"};
    match.angles = {{"タイト", "京都戦_タイト.mp4", -1.2, 1.0}};
    main->performTagEdit(TagEdit::match(main->tagDataModel, match));
    AngleViews* views = main->MediaPlayer->angleViews();
    if (!views || !QTest::qWaitFor([&] { return views->sync().isOpen(0); }, 20000))
        return failed("the angle did not open");
    views->setLayout(AngleViews::Layout::SideBySide, 1);
    // Coded on the angle's view: a click there, then the keys.
    window.activateWindow();
    QTest::qWait(200);
    QTest::mouseClick(views->view(0), Qt::LeftButton);
    const auto focus = [main] {
        QWidget* w = QApplication::focusWidget();
        return w ? w : static_cast<QWidget*>(main->MediaPlayer);
    };
    std::mt19937 rng(13);
    const Qt::Key codes[] = {Qt::Key_1, Qt::Key_3, Qt::Key_5, Qt::Key_7, Qt::Key_8, Qt::Key_F};
    for (double t = 3; t < 40; t += 2.5 + (rng() % 30) / 10.0) {
        player->seekExact(t);
        QTest::qWait(80);
        QTest::keyClick(focus(), codes[rng() % 6], rng() % 3 ? Qt::NoModifier : Qt::ShiftModifier);
    }
    player->seekExact(44);
    player->playImmediatelyAtRate(1.0f);
    QTest::qWait(1500);
    QTest::keyClick(focus(), Qt::Key_3);
    QTest::qWait(400);
    shoot("angles-side-by-side");
    player->pause();
    return 0;
}
