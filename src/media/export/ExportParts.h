#pragma once

// The parts of an export, shared by the clip export and the highlight export:
// the input (opening and seeking), the video path (decode, deinterlace,
// encode), the audio path (decode, resample, 1024-sample frames, encode) and
// the output (a temporary file renamed over the target). Everything here runs
// on an export's worker thread and reports errors by throwing ExportError.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
}

namespace exportparts {

struct ExportError {
    std::string text;
};
std::string errorString(int err);
int check(int err, const char* what);

using FramePtr = std::unique_ptr<AVFrame, void (*)(AVFrame*)>;
FramePtr newFrame();
using PacketPtr = std::unique_ptr<AVPacket, void (*)(AVPacket*)>;
PacketPtr newPacket();

struct CodecContext {
    AVCodecContext* ctx = nullptr;
    CodecContext() = default;
    CodecContext(const CodecContext&) = delete;
    CodecContext& operator=(const CodecContext&) = delete;
    ~CodecContext() { avcodec_free_context(&ctx); }
};

struct Graph {
    AVFilterGraph* graph = nullptr;
    AVFilterContext* src = nullptr;
    AVFilterContext* sink = nullptr;
    Graph() = default;
    Graph(const Graph&) = delete;
    Graph& operator=(const Graph&) = delete;
    ~Graph() { avfilter_graph_free(&graph); }
    void build(const char* srcName, const std::string& srcArgs, const char* sinkName,
               const std::string& chain, const char* what);
};

// The source file, its decoders, and the clock conversion: times given to
// the parts are the player's (seconds from the file's start); fileTime()
// turns them into the streams' clock.
class Input {
public:
    explicit Input(const std::string& path);
    ~Input();
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    double fileTime(double playerSeconds) const { return playerSeconds + offset; }
    double playerTime(double fileSeconds) const { return fileSeconds - offset; }
    // Where the streams end, in the streams' clock.
    double end() const { return fileEnd; }
    // Positions reading before `start` (streams' clock) so that decoding from
    // the key frame before it reaches its first frame intact; decoders are
    // reset.
    void seekBefore(double start);
    // The next packet; false at the end (or a damaged tail). Video packets
    // before the first key frame after a seek are skipped.
    bool read(AVPacket* pkt);

    AVFormatContext* ctx = nullptr;
    int vIndex = -1, aIndex = -1;
    AVStream* vIn = nullptr;
    AVStream* aIn = nullptr; // null when there is no usable audio
    CodecContext vDec, aDec;
    AVRational frameRate{25, 1};

private:
    double offset = 0.0;
    double fileEnd = 0.0;
    bool sawKeyFrame = false;
    bool sought_ = false;
};

// The file being written: a temporary name beside the target, renamed over
// it by commit(); removed if never committed. Leftovers of earlier exports to
// the same target that were cut short are removed first.
class Output {
public:
    Output(const std::string& target, bool fastStart);
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    AVStream* addStream(AVCodecContext* enc);
    void writeHeader();
    void write(AVPacket* pkt, AVCodecContext* enc, AVStream* st);
    // The same for a packet timed in `tb` (one copied, not encoded).
    void write(AVPacket* pkt, AVRational tb, AVStream* st);
    // Sends what `enc` gives for `frame` (null: the end) to stream `st`.
    void encode(AVCodecContext* enc, AVStream* st, AVFrame* frame);
    // Trailer and close; the file is complete under its temporary name.
    void finish();
    // Renames the finished file over the target.
    void commit();
    bool globalHeader() const;

    AVFormatContext* ctx = nullptr;

private:
    // Throws for a failed write: the file system's failures (a full disk, no
    // permission) in the user's words, others as FFmpeg says them.
    int checkWrite(int err, const char* what) const;

    std::string target_;
    std::string temp_;
    int lockFd_ = -1; // holds the temporary file's lock until the rename
    bool fastStart_;
    bool committed_ = false;
};

// How the H.264 stream is made.
struct VideoSettings {
    std::string preset = "superfast"; // x264's
    int threads = 0;                  // 0: x264 chooses
    // Above this height the picture is scaled down, its aspect kept and both
    // sides even; 0 keeps the input's size.
    int maxHeight = 0;
    // An average bit rate (peaks to one and a half times it); 0 is constant
    // quality (CRF 18).
    int bitRateKbps = 0;
    // The size of a composed picture (see VideoPath::compose); 0 keeps the
    // input's.
    int width = 0, height = 0;
};

// Decode, deinterlace, encode. A piece is a range of the streams' clock:
// the frames from the first at or after its start to the last before its end
// go out, back to back with the previous piece's.
class VideoPath {
public:
    // The encoder takes `in`'s picture size (see VideoSettings::maxHeight)
    // and frame rate; pieces of other inputs are scaled and timed to them.
    VideoPath(Input& in, Output& out, const VideoSettings& settings);
    // The input the next pieces come from.
    void setInput(Input& in) { in_ = &in; }

    void beginPiece(double start, double end);
    // A packet of the video stream, or null at the end of the input.
    void decode(const AVPacket* pkt);
    bool pieceDone() const { return pieceDone_; }
    int64_t pieceFrames() const { return pieceFrames_; }
    int64_t frames() const { return frames_; }
    // The output time after the last frame sent, in timeBase().
    int64_t endPts() const;
    // The time of the first frame of the piece (the streams' clock), once known.
    std::function<void(double origin)> onOrigin;
    // Each frame sent, with its time (the streams' clock).
    std::function<void(double t)> onFrame;
    AVRational timeBase() const { return encTb_; }
    int width() const { return enc_.ctx->width; }
    int height() const { return enc_.ctx->height; }
    // When set, the picture sent for each frame of a piece (at `t`, the
    // streams' clock) instead of the frame: a composite of angles, at the
    // encoder's size. The frame is then not scaled.
    std::function<FramePtr(const AVFrame& frame, double t)> compose;
    void finish();

private:
    void drain();

    Input* in_;
    Output& out_;
    CodecContext enc_;
    AVStream* st_ = nullptr;
    AVRational encTb_{1, 25};
    Graph graph_;
    FramePtr frame_;
    double start_ = 0, end_ = 0;
    bool pieceDone_ = false;
    bool originKnown_ = false;
    double origin_ = 0;
    int64_t pieceBase_ = 0; // output pts of the piece's first frame
    int64_t nextPts_ = 0;
    int64_t pieceFrames_ = 0;
    int64_t frames_ = 0;
};

// Decode, resample, 1024-sample frames, encode. Audio before a piece's first
// video frame waits for it; each piece's audio is made exactly as long as its
// video (a few samples trimmed, or silence at a file's end), so the joins stay
// in sync and the sound runs on without gaps.
class AudioPath {
public:
    // The encoder takes `in`'s sample rate and channels (none without sound);
    // pieces of other inputs are resampled to them, and a piece of an input
    // without sound is silence.
    AudioPath(Input& in, Output& out);
    ~AudioPath();
    bool active() const { return enc_.ctx != nullptr; }
    void setInput(Input& in) { in_ = &in; }

    void beginPiece(double end);
    // The piece's first video frame is at `origin`, its video runs `length`
    // seconds.
    void setOrigin(double origin, double length);
    void decode(const AVPacket* pkt);
    bool pieceDone() const { return !active() || !in_->aIn || pieceDone_; }
    // Completes the piece at `samples` samples in all.
    void endPiece(int64_t totalSamples);
    int sampleRate() const { return enc_.ctx ? enc_.ctx->sample_rate : 48000; }
    void finish();

private:
    void feed(AVFrame* f);
    void drainGraph();
    void encodeFull(bool all);
    // Encodes the FIFO's next `samples` as one frame.
    void encodeFromFifo(int samples);

    Input* in_;
    Output& out_;
    CodecContext enc_;
    AVStream* st_ = nullptr;
    Graph graph_;
    bool graphReady_ = false;
    std::deque<FramePtr> pending_;
    AVAudioFifo* fifo_ = nullptr;
    double end_ = 0;
    bool pieceDone_ = false;
    int64_t queued_ = 0;  // samples into the FIFO, in all
    int64_t encoded_ = 0; // samples sent to the encoder, in all
};

// Cuts one piece of `in` (player's seconds; end infinite = to the end of the
// streams) through both paths, which take `in` as their input. `progress` gets the share of the
// piece done (0 to 1); `cancelled` is polled between packets.
void cutPiece(Input& in, VideoPath& video, AudioPath& audio, double start, double end,
              const std::atomic<bool>& cancelled, const std::function<void(double)>& progress);

} // namespace exportparts
