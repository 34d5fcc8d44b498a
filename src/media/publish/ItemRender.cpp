#include "publish/ItemRender.h"

#include <mutex>

#include "export/ExportParts.h"
#include "publish/SmartCut.h"

using namespace exportparts;

namespace publish {

namespace {

// Renders by a smart cut when the source allows; false when it does not
// (nothing is left of the attempt then).
bool copyItem(const std::string& source, double from, double to, const std::string& target,
              const RenderSettings& settings, const std::function<void(double)>& progress,
              const std::atomic<bool>& cancelled) {
    Input in(source);
    if (!copyable(in, settings))
        return false;
    try {
        Output out(target, true);
        smartCut(in, out, from, to, settings, cancelled, progress);
        out.finish();
        if (!cancelled.load())
            out.commit();
        return true;
    } catch (const SmartCutUnfit&) {
        return false;
    }
}

void encodeItem(const std::string& source, double from, double to, const std::string& target,
                const RenderSettings& settings, const std::function<void(double)>& progress,
                const std::atomic<bool>& cancelled) {
    Input in(source);
    Output out(target, true);
    VideoPath video(in, out,
                    {settings.preset, settings.threads, settings.maxHeight, settings.bitRateKbps});
    AudioPath audio(in, out);
    out.writeHeader();
    cutPiece(in, video, audio, from, to, cancelled, progress);
    if (video.frames() == 0)
        throw ExportError{"範囲に映像がありません（動画の終わりより後など）。"};
    video.finish();
    audio.finish();
    out.finish();
    if (!cancelled.load())
        out.commit();
}

} // namespace

RenderStatus renderItem(const std::string& source, double from, double to,
                        const std::string& target, const RenderSettings& settings,
                        const std::function<void(double)>& progress,
                        const std::atomic<bool>& cancelled, std::string& error, RenderPath* path) {
    // Errors come back in `error`; the encoders' chatter is not for the
    // terminal.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });
    try {
        const bool copied = copyItem(source, from, to, target, settings, progress, cancelled);
        if (!copied)
            encodeItem(source, from, to, target, settings, progress, cancelled);
        if (cancelled.load())
            return RenderStatus::Cancelled;
        if (path)
            *path = copied ? RenderPath::Copied : RenderPath::Encoded;
        return RenderStatus::Done;
    } catch (const ExportError& e) {
        if (cancelled.load())
            return RenderStatus::Cancelled;
        error = e.text;
    } catch (const std::exception& e) {
        error = e.what();
    }
    return RenderStatus::Failed;
}

bool renderForPublish(const QString& source, double from, double to, const QString& target,
                      int maxHeight, int bitRateKbps, const std::function<void(double)>& progress,
                      const std::atomic<bool>& cancelled, QString* error) {
    RenderSettings settings;
    settings.maxHeight = maxHeight;
    settings.bitRateKbps = bitRateKbps;
    std::string why;
    const RenderStatus status = renderItem(source.toStdString(), from, to, target.toStdString(),
                                           settings, progress, cancelled, why);
    if (error && status == RenderStatus::Failed)
        *error = QString::fromStdString(why);
    return status == RenderStatus::Done;
}

} // namespace publish
