#include "workspace/Workspace.h"

#include <algorithm>

#include "review/Moments.h"
#include "settings/AppSettings.h"

namespace {

const char* const kWindowKey = "codeWindow";
const char* const kLeadKey = "moments/lead";
const char* const kLagKey = "moments/lag";
const char* const kMatchTimeKey = "matchTime/show";

int seconds(int value) {
    return std::clamp(value, 0, Workspace::kMaxSeconds);
}

} // namespace

Workspace::Workspace(QObject* parent)
    : QObject(parent), lead_(seconds(appSettings().value(kLeadKey, kDefaultLead).toInt())),
      lag_(seconds(appSettings().value(kLagKey, kDefaultLag).toInt())),
      showMatchTime_(appSettings().value(kMatchTimeKey, true).toBool()) {}

void Workspace::setCodeWindow(const CodeWindow& window) {
    codeWindow_ = window;
    emit codeWindowChanged();
}

QString Workspace::rememberedCodeWindow() const {
    return appSettings().value(kWindowKey).toString();
}

void Workspace::rememberCodeWindow(const QString& name) {
    appSettings().setValue(kWindowKey, name);
}

void Workspace::setLead(int value) {
    if (seconds(value) == lead_)
        return;
    lead_ = seconds(value);
    appSettings().setValue(kLeadKey, lead_);
    emit leadChanged(lead_);
}

void Workspace::setLag(int value) {
    if (seconds(value) == lag_)
        return;
    lag_ = seconds(value);
    appSettings().setValue(kLagKey, lag_);
    emit lagChanged(lag_);
}

void Workspace::setSlowPlay(bool on) {
    if (on == slowPlay_)
        return;
    slowPlay_ = on;
    emit slowPlayChanged(on);
}

void Workspace::setShowMatchTime(bool on) {
    if (on == showMatchTime_)
        return;
    showMatchTime_ = on;
    appSettings().setValue(kMatchTimeKey, on);
    emit showMatchTimeChanged(on);
}

SlowPlayMode& SlowPlayMode::operator=(bool on) {
    if (workspace_)
        workspace_->setSlowPlay(on);
    else
        own_ = on;
    return *this;
}

void SlowPlayMode::keepIn(Workspace* workspace) {
    workspace->setSlowPlay(own_);
    workspace_ = workspace;
}
