#pragma once

#include <QObject>
#include <QPointer>
#include <memory>
#include <string>

#include "live/LiveRecorder.h"

class LiveSession;
class MainViewController;
class QPushButton;

// Starting and ending a live recording from the edit screen's ライブ収録…
// button: the dialog, the recorder writing NAME.ts, the session opened on
// NAME.ts once it holds a picture and handed to live coding; then 収録を終了
// and the offer of MP4 に変換, after which the session follows NAME.mp4
// (whose session file is NAME.csv as well, so every tag stays).
class LiveRecording : public QObject {
    Q_OBJECT
public:
    LiveRecording(MainViewController* main, QPushButton* button);
    ~LiveRecording() override;

    bool isRecording() const { return recorder_ != nullptr; }
    LiveRecorder* recorder() const { return recorder_.get(); }
    // The live coding of the recording, while it is recorded.
    LiveSession* liveSession() const;

    // ライブ収録…: the unsaved tags asked about, then the dialog.
    void begin();
    // Records `source` to `ts` (a new file); live coding opens it once it
    // plays.
    void record(LiveSource source, std::string ts);
    // 収録を終了, once confirmed; MP4 に変換 is offered when the file is done.
    void end();
    // MP4 に変換 of the finished recording `ts`: the tags saved first, then
    // NAME.mp4 made beside it and opened in its place.
    void convert(const std::string& ts);
    // Asked before the application closes: a recording ends only when the
    // user says so.
    bool mayQuit();

signals:
    // The recording's video is open in the session.
    void opened();
    // The recorder finished (`ok` false: it failed, `message` says why).
    void ended(bool ok, const QString& message);

private:
    void showState();
    void onFinished(bool ok, const QString& message);

    MainViewController* main_;
    QPushButton* button_;
    std::unique_ptr<LiveRecorder> recorder_;
    QPointer<LiveSession> coding_;
    bool opened_ = false, stopping_ = false, guarding_ = false;
};
