#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Where a live recording reads from.
struct LiveSource {
    std::string url;    // "udp://127.0.0.1:5000", "srt://…", "rtsp://…", "/dev/video0",
                        // "testsrc2=size=1920x1080:rate=25"
    std::string format; // "" (probe), "v4l2", "lavfi" (ffmpeg's test device: a raw source)
    std::map<std::string, std::string> options; // extra demuxer options (video_size, framerate…)
};

enum class LiveState { Connecting, Recording, NoSignal, Reconnecting, Stopped, Failed };

// 接続中 / 収録中 / 信号なし / 再接続中 / 停止 / 失敗
QString liveStateText(LiveState state);

// An interval without signal, in video seconds of the recording's timeline.
struct LiveGap {
    double from = 0, to = 0;
};

struct LiveStatus {
    LiveState state = LiveState::Connecting;
    double edge = 0;   // video time of the last frame written (the live edge)
    int64_t bytes = 0; // written so far
    double bytesPerSecond = 0;
    int64_t freeBytes = -1;    // on the output's file system
    double minutesLeft = -1;   // at the current rate; -1 unknown
    bool encoding = false;     // raw source being encoded
    std::string message;       // Japanese, for failures
    double noSignalSince = -1; // video time the signal was lost at; -1 while there is signal
};

class LiveRecorderWorker;

// Records a live source to an MPEG-TS file on a thread of its own. The file's
// timeline is wall time since the recording began, so a drop-out leaves a hole
// as long as the gap; the gaps also go to NAME.live.json beside the file.
// Signals are queued to the thread that owns the recorder.
class LiveRecorder : public QObject {
    Q_OBJECT
public:
    LiveRecorder(LiveSource source, std::string outputTs, QObject* parent = nullptr);
    ~LiveRecorder() override; // stops and joins
    void start();
    void stop();               // finishes the file; finished() follows
    LiveStatus status() const; // thread-safe snapshot
    std::vector<LiveGap> gaps() const;
    const std::string& output() const;

signals:
    void statusChanged(); // at most a few times a second
    void gapsChanged();
    void finished(bool ok, QString message);

private:
    std::string output_;
    std::unique_ptr<LiveRecorderWorker> worker_;
};

// NAME.live.json beside NAME.ts:
// {"gaps":[[from,to],…],"started":"ISO time","source":"…"}; written atomically.
std::string liveSidecarPath(const std::string& ts);
bool readLiveGaps(const std::string& ts, std::vector<LiveGap>& gaps, std::string& error);

// After the match: stream copy to MP4 (+faststart), off the GUI thread; false
// with a Japanese message.
bool remuxLiveToMp4(const std::string& ts, const std::string& mp4, const std::atomic<bool>& cancel,
                    std::string& error);
