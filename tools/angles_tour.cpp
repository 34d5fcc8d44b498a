// The angles dialog tour: the demo match with a second camera (the match cut
// 3.2 s later and mirrored, made here by ffmpeg), added with アングル…, one
// moment marked in both views and the offset proposed from the sound.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include "MainViewController.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/MainWindow.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewController/EditViewController.h"
#include "angles/AngleAlignDialog.h"
#include "angles/AngleView.h"
#include "angles/AnglesDialog.h"
#include "tour.h"

namespace {

using namespace tours;

// Answers the file panel with the angle's file; everything else as before.
class AngleFile : public DialogProvider {
public:
    explicit AngleFile(std::string file) : file_(std::move(file)) {
        previous_ = setDialogProvider(this);
    }
    ~AngleFile() override { setDialogProvider(previous_); }
    int showBox(Kind kind, const std::string& message, const std::string& title,
                const std::string& style, const std::vector<std::string>& buttons) override {
        return previous_->showBox(kind, message, title, style, buttons);
    }
    void openFilePanel(QWidget*, const FilePanel&, PathCallback done) override { done(file_); }
    void saveFilePanel(QWidget* w, const FilePanel& panel, PathCallback done) override {
        previous_->saveFilePanel(w, panel, std::move(done));
    }

private:
    std::string file_;
    DialogProvider* previous_ = nullptr;
};

void click(QWidget* w) {
    if (w)
        QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
    QTest::qWait(80);
}

} // namespace

int anglesDialogTour(MainWindow& window, const std::string& video) {
    MainViewController* main = window.mainViewController();
    const QString folder = outFolder() + "/angles-video";
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const QString copy = folder + "/2026-09-06_東京戦.mp4";
    const QString angle = folder + "/エンド.mp4";
    if (!QFile::copy(QString::fromStdString(video), copy))
        return failed("the match video could not be copied");
    if (QProcess::execute("ffmpeg", {"-hide_banner", "-loglevel", "error", "-nostdin", "-y",
                                     "-ss",          "3.2",       "-i",    copy,       "-t",
                                     "60",           "-vf",       "hflip", "-c:v",     "libx264",
                                     "-preset",      "veryfast",  "-crf",  "30",       "-c:a",
                                     "aac",          "-b:a",      "64k",   angle}) != 0)
        return failed("ffmpeg made no angle");
    if (!openAndWait(main, copy.toStdString()))
        return failed("the match video did not open");
    main->MediaPlayer->player()->pause();
    main->MediaPlayer->player()->seekExact(20.0);
    QTest::qWait(400);

    AngleFile answer(angle.toStdString());
    click(main->editViewController->findChild<QPushButton*>("matchAnglesButton"));
    auto* list = window.findChild<AnglesDialog*>();
    if (!list)
        return failed("アングル… opened no dialog");
    click(list->findChild<QPushButton*>("angleAdd"));
    auto* align = list->findChild<AngleAlignDialog*>();
    if (!align ||
        !QTest::qWaitFor([&] { return align->mainView->isOpen() && align->angleView->isOpen(); },
                         20000))
        return failed("the alignment did not open both videos");
    // The moment as the analyst finds it: the angle a second late, then
    // stepped by frames.
    align->angleView->show(16.0);
    QTest::qWait(300);
    for (int i = 0; i < 20; ++i)
        click(align->findChild<QPushButton*>("angleForwardFrame"));
    click(align->findChild<QPushButton*>("angleMarkEvent"));
    click(align->findChild<QPushButton*>("angleBySound"));
    auto* sound = align->findChild<QLabel*>("angleSoundText");
    (void)QTest::qWaitFor(
        [&] { return !align->findChild<QWidget*>("angleSoundBusy")->isVisible(); }, 120000);
    QTest::qWait(600);
    shoot("angles-dialog");
    const bool answered = sound && sound->text().startsWith("音による提案");
    click(align->findChild<QPushButton*>("alignCancel"));
    click(list->findChild<QPushButton*>("anglesCancel"));
    return answered ? 0 : failed("the sound gave no answer");
}
