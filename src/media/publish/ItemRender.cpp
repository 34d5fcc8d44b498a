#include "publish/ItemRender.h"

#include <mutex>

#include "export/ExportParts.h"

using namespace exportparts;

namespace publish {

RenderStatus renderItem(const std::string& source, double from, double to,
                        const std::string& target, const RenderSettings& settings,
                        const std::function<void(double)>& progress,
                        const std::atomic<bool>& cancelled, std::string& error) {
    // Errors come back in `error`; the encoders' chatter is not for the
    // terminal.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });
    try {
        Input in(source);
        Output out(target, true);
        VideoPath video(
            in, out, {settings.preset, settings.threads, settings.maxHeight, settings.bitRateKbps});
        AudioPath audio(in, out);
        out.writeHeader();
        cutPiece(in, video, audio, from, to, cancelled, progress);
        if (video.frames() == 0)
            throw ExportError{"範囲に映像がありません（動画の終わりより後など）。"};
        video.finish();
        audio.finish();
        out.finish();
        if (cancelled.load())
            return RenderStatus::Cancelled;
        out.commit();
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
