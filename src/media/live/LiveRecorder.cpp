#include "live/LiveRecorder.h"

class LiveRecorderWorker {};

QString liveStateText(LiveState state) {
    switch (state) {
    case LiveState::Connecting:
        return QStringLiteral("接続中");
    case LiveState::Recording:
        return QStringLiteral("収録中");
    case LiveState::NoSignal:
        return QStringLiteral("信号なし");
    case LiveState::Reconnecting:
        return QStringLiteral("再接続中");
    case LiveState::Stopped:
        return QStringLiteral("停止");
    case LiveState::Failed:
        return QStringLiteral("失敗");
    }
    return {};
}

LiveRecorder::LiveRecorder(LiveSource, std::string outputTs, QObject* parent)
    : QObject(parent), output_(std::move(outputTs)) {}
LiveRecorder::~LiveRecorder() = default;
void LiveRecorder::start() {}
void LiveRecorder::stop() {}
LiveStatus LiveRecorder::status() const {
    return {};
}
std::vector<LiveGap> LiveRecorder::gaps() const {
    return {};
}
const std::string& LiveRecorder::output() const {
    return output_;
}

std::string liveSidecarPath(const std::string& ts) {
    auto dot = ts.rfind('.');
    auto slash = ts.rfind('/');
    std::string stem = (dot != std::string::npos && (slash == std::string::npos || dot > slash))
                           ? ts.substr(0, dot)
                           : ts;
    return stem + ".live.json";
}
bool readLiveGaps(const std::string&, std::vector<LiveGap>& gaps, std::string&) {
    gaps.clear();
    return true;
}
bool remuxLiveToMp4(const std::string&, const std::string&, const std::atomic<bool>&,
                    std::string& error) {
    error = "未実装";
    return false;
}
