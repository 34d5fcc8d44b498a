// The live recording tour: the match video sent by ffmpeg as an MPEG-TS
// stream over UDP (as a camera or a broadcast truck would), chosen in the
// ライブ収録… dialog, then coded live a little behind the edge.
#include <QAbstractButton>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "MainViewController.h"
#include "SubViewClass/Buttons.h"
#include "SubViewClass/MainWindow.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewController/EditViewController.h"
#include "coding/CodePanel.h"
#include "live/LiveRecording.h"
#include "live/NewRecordingDialog.h"
#include "player/Player.h"
#include "tour.h"

namespace {

using namespace tours;

constexpr const char* kStream = "udp://127.0.0.1:5640";

void click(QWidget* w) {
    if (w)
        QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
    QTest::qWait(80);
}

// As typed through an input method (Japanese among it).
void retype(QLineEdit* field, const QString& text) {
    field->setFocus();
    field->setText(text);
}

} // namespace

int liveTour(MainWindow& window, const std::string& video) {
    MainViewController* main = window.mainViewController();
    const QString folder = outFolder() + "/live-video";
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    // The demo match, looped and sent at its own pace: packets copied, no encoding.
    QProcess sender;
    sender.start("ffmpeg", {"-hide_banner", "-loglevel", "error", "-nostdin", "-re", "-stream_loop",
                            "-1", "-i", QString::fromStdString(video), "-c", "copy", "-f", "mpegts",
                            QString(kStream) + "?pkt_size=1316"});
    if (!sender.waitForStarted(5000))
        return failed("ffmpeg sent no stream");

    click(main->editViewController->findChild<QPushButton*>("mediaLive_edit"));
    auto* dialog = window.findChild<NewRecordingDialog*>();
    if (!dialog)
        return failed("ライブ収録… opened no dialog");
    dialog->activateWindow();
    click(dialog->streamChoice);
    retype(dialog->urlEdit, kStream);
    retype(dialog->nameEdit, "2026-12-08_東京戦");
    retype(dialog->folderEdit, folder);
    QTest::qWait(400);
    shoot("live-dialog");

    bool opened = false;
    QObject::connect(main->editViewController->liveRecording, &LiveRecording::opened,
                     [&] { opened = true; });
    click(dialog->startButton);
    if (!QTest::qWaitFor([&] { return opened; }, 30000))
        return failed("the recording did not open");
    // Coded at the edge, then a look back at a moment 6 s ago.
    CodePanel* codes = main->editViewController->codePanel;
    for (int i = 0; i < 4; ++i) {
        QTest::qWait(2500);
        click(codes->tagButtons[size_t(i * 5) % codes->tagButtons.size()]);
    }
    QTest::qWait(2000);
    Player* player = main->MediaPlayer->player();
    player->seekExact(player->currentTime() - 6.0);
    QTest::qWait(2500);
    shoot("live-coding");
    sender.kill();
    sender.waitForFinished(3000);
    return 0;
}
