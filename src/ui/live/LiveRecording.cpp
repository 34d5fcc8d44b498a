#include "live/LiveRecording.h"

#include <QIcon>
#include <QPushButton>
#include <filesystem>

#include "MainViewController.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/MediaPlayerView.h"
#include "live/LiveSession.h"
#include "live/Mp4ConversionDialog.h"
#include "live/NewRecordingDialog.h"

namespace {

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return a == b || std::filesystem::equivalent(a, b, ec);
}

} // namespace

LiveRecording::LiveRecording(MainViewController* main, QPushButton* button)
    : QObject(button), main_(main), button_(button) {
    connect(button_, &QPushButton::clicked, this, [this] { isRecording() ? end() : begin(); });
    showState();
}

LiveRecording::~LiveRecording() {
    // Live coding reads the recorder: it goes first.
    delete coding_;
}

LiveSession* LiveRecording::liveSession() const {
    return coding_;
}

void LiveRecording::showState() {
    const bool on = isRecording();
    button_->setIcon(QIcon(on ? ":/images/mediaLiveEnd.svg" : ":/images/mediaLive.svg"));
    button_->setToolTip(on ? "収録を終了" : "ライブ収録…");
    button_->setEnabled(!stopping_);
}

void LiveRecording::begin() {
    if (isRecording() || !main_->session->mayLeaveVideo())
        return;
    auto* dialog = new NewRecordingDialog(listVideoDevices(), main_->window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this,
            [this, dialog] { record(dialog->source(), dialog->output()); });
    connect(dialog, &QDialog::rejected, this, [this] { main_->session->forgetLeaveAnswer(); });
    dialog->open();
}

void LiveRecording::record(LiveSource source, std::string ts) {
    if (isRecording())
        return;
    MediaPlayerView* view = main_->MediaPlayer;
    if (!guarding_) {
        guarding_ = true;
        // While recording, the session stays on the recording: another video
        // would leave the match being recorded without its tags.
        view->beforeOpen = [this, before = view->beforeOpen](const std::string& path) {
            if (recorder_ && !sameFile(path, recorder_->output())) {
                AlertBox("ライブ収録中は別の動画を開けません。先に「収録を終了」してください。",
                         "ライブ収録", "warning");
                return false;
            }
            return !before || before(path);
        };
    }
    recorder_ = std::make_unique<LiveRecorder>(std::move(source), std::move(ts));
    opened_ = stopping_ = false;
    connect(recorder_.get(), &LiveRecorder::finished, this, &LiveRecording::onFinished);
    // Live coding follows the recorder from its first report and opens the
    // file once it plays.
    coding_ = new LiveSession(*recorder_, main_);
    connect(coding_, &LiveSession::opened, this, [this] {
        opened_ = true;
        emit opened();
    });
    recorder_->start();
    showState();
}

void LiveRecording::end() {
    if (!recorder_ || stopping_)
        return;
    if (MessageBox("ライブ収録を終了しますか？", "収録を終了") != "yes")
        return;
    stopping_ = true;
    showState();
    recorder_->stop();
}

bool LiveRecording::mayQuit() {
    return !recorder_ || MessageBox("ライブ収録中です。収録を終了してRucktagを閉じますか？",
                                    "収録を終了") == "yes";
}

void LiveRecording::onFinished(bool ok, const QString& message) {
    const bool asked = stopping_, wasOpen = opened_;
    delete coding_;
    // The recorder sent this: it goes once the signal is handled.
    const std::string ts = recorder_->output();
    recorder_.release()->deleteLater();
    stopping_ = false;
    showState();
    emit ended(ok, message);
    if (!ok && !asked)
        AlertBox("ライブ収録が止まりました。\n" + message.toStdString(), "ライブ収録", "error");
    if (!wasOpen)
        return;
    const int answer = dialogProvider().showBox(
        DialogProvider::Kind::Message,
        "収録を終了しました。\n" + ts +
            "\nMP4 に変換しますか？映像は作り直さずにコピーし、タグはそのまま引き継ぎます。",
        "収録を終了", "", {"MP4 に変換", "後で"});
    if (answer == 0)
        convert(ts);
}

void LiveRecording::convert(const std::string& ts) {
    const std::string mp4 = std::filesystem::path(ts).replace_extension(".mp4").string();
    std::error_code ec;
    if (std::filesystem::exists(mp4, ec)) {
        AlertBox("同じ名前の MP4 がすでにあるため、変換しませんでした。\n" + mp4, "MP4 に変換",
                 "error");
        return;
    }
    // NAME.mp4 reads its tags from NAME.csv, the file NAME.ts saves to: saved
    // now, none is left behind in this video's journal.
    if (main_->session->isOpenVideo(ts) && main_->m_fSave && !main_->saveTagData())
        return;
    auto* dialog = new Mp4ConversionDialog(ts, mp4, main_->window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, mp4] { main_->openVideo(mp4); });
    dialog->open();
    dialog->start();
}
