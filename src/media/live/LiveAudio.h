#pragma once

// Sound the MPEG-TS file cannot carry as it comes (PCM from a camera or a
// device, G.711 from RTSP) made into AAC, in frames of the encoder's size, on
// the recording's clock.
#include <cstdint>
#include <functional>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

namespace live {

// Every packet the encoder has ready goes to `sink` (false: stop); true when
// the encoder is only waiting for input or has ended.
bool drainEncoder(AVCodecContext* enc, AVPacket* out, const std::function<bool(AVPacket*)>& sink);

class LiveAudioEncoder {
public:
    LiveAudioEncoder() = default;
    LiveAudioEncoder(const LiveAudioEncoder&) = delete;
    LiveAudioEncoder& operator=(const LiveAudioEncoder&) = delete;
    ~LiveAudioEncoder();

    bool open(const AVStream* in, std::string& error);
    const AVCodecContext* context() const { return enc_; }
    // Decodes `packet`, encodes its sound at its time moved by `offsetUs`
    // (times in the encoder's 1/rate); each packet made goes to `sink`.
    bool encode(AVPacket* packet, AVRational inTimeBase, int64_t offsetUs,
                const std::function<bool(AVPacket*)>& sink);
    bool flush(const std::function<bool(AVPacket*)>& sink);

private:
    bool queue(int64_t atSample);
    bool sendFrames(int least, const std::function<bool(AVPacket*)>& sink);
    bool drain(const std::function<bool(AVPacket*)>& sink);

    AVCodecContext* dec_ = nullptr;
    AVCodecContext* enc_ = nullptr;
    SwrContext* swr_ = nullptr;
    AVAudioFifo* fifo_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVFrame* converted_ = nullptr;
    AVPacket* out_ = nullptr;
    int64_t next_ = AV_NOPTS_VALUE; // the time of the first sample queued
};

} // namespace live
