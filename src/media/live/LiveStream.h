#pragma once

// The FFmpeg side of a live recording: the source as libavformat reads it and
// the MPEG-TS file it goes to. Used by the recorder's thread only.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "live/LiveRecorder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace live {

using Clock = std::chrono::steady_clock;

// Cuts a blocking libavformat call short when a stop is asked or the
// deadline passes (no packet for a while: the signal is gone).
struct Interrupt {
    const std::atomic<bool>* stop = nullptr;
    Clock::time_point deadline = Clock::time_point::max();
    static int callback(void* self);
};

std::string avErrorText(int err);

// Whether a failure to open is worth trying again (a network or a source not
// up yet) rather than a name that can never work.
bool worthRetrying(int err);

struct InputDeleter {
    void operator()(AVFormatContext* c) const;
};
using InputPtr = std::unique_ptr<AVFormatContext, InputDeleter>;

// Opens and probes the source; the interrupt bounds both. Returns 0 or an
// AVERROR with `in` empty. `firstData`: when the source's first bytes were in
// (before the probe that follows them).
int openLiveInput(const LiveSource& source, Interrupt& interrupt, InputPtr& in,
                  Clock::time_point& firstData);

// The first video and audio streams of `in` (-1: none).
int bestStream(AVFormatContext* in, AVMediaType type);

class LiveEncoder;
class LiveAudioEncoder;

// The MPEG-TS file. Compressed video and audio the format carries are
// copied; raw (or MJPEG) video is encoded with libx264, other sound to AAC.
class LiveOutput {
public:
    LiveOutput();
    ~LiveOutput();
    // Streams like `in`'s `video` and `audio` (either may be -1).
    bool open(const std::string& path, AVFormatContext* in, int video, int audio,
              std::string& error);
    // Writes a packet of the input's `video` or `audio` stream (`isVideo`)
    // with its time moved by `offsetUs` onto the recording's clock. False when
    // the file can no longer be written.
    bool write(AVPacket* packet, bool isVideo, AVRational inTimeBase, int64_t offsetUs);
    // Encoder's last frames, then the trailer.
    bool finish();
    bool encoding() const;
    int64_t bytes() const;
    double edgeSeconds() const { return edge_; } // the latest video time written
    double endSeconds() const { return end_; }   // where the last picture or sound ends
    std::string error() const { return error_; }

private:
    bool writeOut(AVPacket* packet, int stream);
    AVFormatContext* out_ = nullptr;
    std::unique_ptr<LiveEncoder> encoder_;
    std::unique_ptr<LiveAudioEncoder> audioEncoder_;
    int videoOut_ = -1, audioOut_ = -1;
    int64_t lastDts_[2] = {INT64_MIN, INT64_MIN};
    int64_t finalBytes_ = 0;
    double edge_ = 0, end_ = 0;
    std::string error_;
};

} // namespace live
