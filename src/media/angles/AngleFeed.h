#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// One angle's file, decoded on a thread of its own and slaved to the instant
// it is asked for. The picture shown is always the decoded frame whose span
// holds that instant, so an angle cannot drift from the main however the two
// are timed: there is no second clock to steer. Frames are scaled to the
// view's size on the decoding thread; the GUI thread only takes them.
//
// Times are the file's seconds from its start (as the player and the export
// count them).
class AngleFeed : public QObject {
    Q_OBJECT
public:
    struct Frame {
        double pts = 0;
        double end = 0; // when the next frame starts
        QImage image;
    };

    // `threads`: the decoder's threads (several angles share the cores).
    AngleFeed(std::string path, int threads, QObject* parent = nullptr);
    ~AngleFeed() override;

    bool isOpen() const { return open_; }
    // Why the file could not be opened (Japanese); empty else.
    std::string error() const;
    double duration() const { return duration_; }
    // Pictures fit inside this size (device pixels), keeping their shape; an
    // empty size keeps the file's own.
    void setSize(QSize size);
    // The instant wanted and the rate it moves at (0: still). Jumps back, or
    // further ahead than decoding through would be quick, seek.
    void want(double t, double rate);
    // The frame to show at `t`: the decoded frame holding it, frames before
    // it let go. False when it is not decoded yet; `out` is then the newest
    // frame before `t`, if any.
    bool frameAt(double t, Frame& out);

    // How long a jump ahead is decoded through rather than sought, in the
    // file's seconds.
    static constexpr double kDecodeThrough = 1.5;

signals:
    void opened(bool ok);
    // New frames are ready (queued; at most one pending).
    void framesArrived();

private:
    struct Decoder;
    void run();
    void receive(Decoder& d, uint64_t run, QSize size);
    // Under mutex_: whether frames are missing within `share` of what is kept
    // ahead.
    bool needsFrames(double share = 1.0) const;
    void nudge();           // under mutex_
    void push(Frame frame); // under mutex_
    void notify();

    const std::string path_;
    const int threads_;
    std::atomic<bool> open_{false};
    std::atomic<double> duration_{0.0};
    std::string error_; // set once before opened()
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    double wantT_ = 0.0;
    double wantRate_ = 0.0;
    QSize size_;
    uint64_t seekAsked_ = 1; // the first run starts with a seek to wantT_
    uint64_t seekDone_ = 0;
    double runFrom_ = 0.0;      // where the current run of decoding started
    double decodedTo_ = -1e300; // end of the newest frame decoded in this run
    bool catchingUp_ = false;   // sought ahead of a steady instant left behind
    bool eof_ = false;
    std::deque<Frame> queue_;
    std::atomic<bool> notifyPending_{false};
    std::thread thread_;
};
