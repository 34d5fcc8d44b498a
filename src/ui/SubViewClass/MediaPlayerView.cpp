#include "SubViewClass/MediaPlayerView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <cmath>

#include "SubViewClass/CustomAlert.h"
#include "player/MpvPlayer.h"
#include "text/TimeText.h"
#include "video/AngleViews.h"
#include "video/VideoSurfaces.h"

MediaPlayerView::MediaPlayerView(QWidget* parent, std::unique_ptr<Player> player)
    : QWidget(parent), player_(std::move(player)) {
    setObjectName("MediaPlayerView");
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    timer.setSingleShot(true);
    awakeFromNib();
}

MediaPlayerView::~MediaPlayerView() {
    // The surfaces free their render contexts before the players go.
    delete angleViews_;
    angleViews_ = nullptr;
    delete surface_;
    surface_ = nullptr;
}

void MediaPlayerView::awakeFromNib() {
    if (!player_) {
        player_ = std::make_unique<MpvPlayer>();
        createSurface();
    }
    playSlowMode = false;
}

MpvPlayer* MediaPlayerView::mpvPlayer() const {
    return dynamic_cast<MpvPlayer*>(player_.get());
}

void MediaPlayerView::createSurface() {
    MpvPlayer* mpv = mpvPlayer();
    if (!mpv)
        return;
    if (OpenGLVideoSurface::available())
        surface_ = new OpenGLVideoSurface(*mpv, this);
    else
        surface_ = new SoftwareVideoSurface(*mpv, this);
    surface_->setObjectName("VideoSurface");
    // Clicks and keys belong to the view.
    surface_->setAttribute(Qt::WA_TransparentForMouseEvents);
    surface_->setFocusPolicy(Qt::NoFocus);
    surface_->setGeometry(rect());
    angleViews_ = new AngleViews(this, surface_, *mpv);
}

void MediaPlayerView::resizeEvent(QResizeEvent*) {
    if (angleViews_)
        angleViews_->place(rect());
    else if (surface_)
        surface_->setGeometry(rect());
}

void MediaPlayerView::setAngles(const std::vector<MatchAngle>& angles, const std::string& folder) {
    if (angleViews_)
        angleViews_->setAngles(angles, folder);
}

void MediaPlayerView::setupPlayerOption() {
    if (!player_)
        return;
    QPointer<MediaPlayerView> self(this);
    player_->addPeriodicTimeObserver([self](double t) {
        if (self)
            self->periodicTimeUpdate(t);
    });
    timeObserverToken = true;
}

void MediaPlayerView::periodicTimeUpdate(double seconds) {
    const float current = static_cast<float>(seconds);
    const std::string currentText = createTimeString(current);
    if (!player_ || !player_->hasCurrentItem())
        return;
    if (player_->isGrowing()) {
        // The length grows: how far behind live stands where the length would.
        const QString live = liveText(player_->duration() - seconds);
        emit timeTextChanged(QString::fromStdString(currentText) + " / " + live);
        return;
    }
    const float total = static_cast<float>(player_->duration());
    const std::string totalText = createTimeString(total);
    if (current > total) {
        player_->seekToZero();
        player_->pause();
    }
    emit timeTextChanged(QString::fromStdString(currentText + " / " + totalText));
}

std::string MediaPlayerView::createTimeString(float seconds) {
    return ::createTimeString(seconds);
}

QString MediaPlayerView::liveText(double behind) {
    if (!(behind >= kLiveSlack))
        return QStringLiteral("ライブ");
    const auto s = static_cast<long long>(std::llround(behind));
    const QString minutes = s >= 3600
                                ? QString("%1:%2").arg(s / 3600).arg(s / 60 % 60, 2, 10, QChar('0'))
                                : QString::number(s / 60);
    return QString("ライブ −%1:%2").arg(minutes).arg(s % 60, 2, 10, QChar('0'));
}

void MediaPlayerView::goLive() {
    if (!player_ || !player_->hasCurrentItem() || !player_->isGrowing())
        return;
    timer.stop(); // a tag's jump waiting to play on is overtaken
    player_->seekExact(std::max(0.0, player_->duration() - kLiveMargin));
    player_->playImmediatelyAtRate(kNormalRate);
    playSlowMode = false;
}

void MediaPlayerView::open(std::function<void(const std::string&)> callback) {
    callBack = std::move(callback);
    QWidget* w = window();
    if (!w || w == this)
        return;
    // Where the open video is: the next match is usually beside it.
    DialogProvider::FilePanel panel{
        "Choose video file",
        {"avi", "mp4", "mts", "m2ts"},
        {},
        folderOf(player_ && player_->hasCurrentItem() ? player_->currentPath() : ""),
        "動画"};
    QPointer<MediaPlayerView> self(this);
    dialogProvider().openFilePanel(w, panel, [self](std::optional<std::string> path) {
        if (self && path)
            self->openPath(*path);
    });
}

void MediaPlayerView::openPath(const std::string& path) {
    if (!player_)
        return;
    if (beforeOpen && !beforeOpen(path))
        return;
    timer.stop();
    QPointer<MediaPlayerView> self(this);
    player_->replaceCurrentItem(path, [self, path](bool ok) {
        if (!self)
            return;
        if (!ok) {
            emit self->openFailed(QString::fromStdString(path),
                                  QString::fromStdString(self->player_->error()));
            return;
        }
        self->player_->playImmediatelyAtRate(kNormalRate);
        if (self->callBack)
            self->callBack(path);
    });
}

// Seek targets are whole seconds, the nearest to the time asked for.
void MediaPlayerView::exactSeek(double seconds) {
    player_->seekExact(std::round(seconds));
}

void MediaPlayerView::rewindIfAtEnd() {
    if (player_->isGrowing())
        return; // its end is where the recording has got to, not the match's
    const double current = player_->currentTime();
    const double length = player_->duration();
    if (!std::isnan(length) && current >= length)
        player_->seekToZero();
}

void MediaPlayerView::play() {
    if (!player_ || !player_->hasCurrentItem())
        return;
    rewindIfAtEnd();
    player_->playImmediatelyAtRate(kNormalRate);
    playSlowMode = false;
}

void MediaPlayerView::resume() {
    if (!player_ || !player_->hasCurrentItem())
        return;
    rewindIfAtEnd();
    player_->playImmediatelyAtRate(playSlowMode ? kSlowRate : kNormalRate);
}

void MediaPlayerView::forward() {
    if (!player_ || !player_->hasCurrentItem())
        return;
    const double current = player_->currentTime();
    const double length = player_->duration();
    const double target = length <= current + kForwardStep ? length : current + kForwardStep;
    exactSeek(target);
}

void MediaPlayerView::backward() {
    if (!player_ || !player_->hasCurrentItem())
        return;
    exactSeek(std::max(0.0, player_->currentTime() - kForwardStep));
}

void MediaPlayerView::playSlow() {
    if (!player_)
        return;
    player_->playImmediatelyAtRate(kSlowRate);
    playSlowMode = true;
}

void MediaPlayerView::scrub(double seconds, bool exact) {
    if (!player_ || !player_->hasCurrentItem())
        return;
    // A tag's jump waiting to play on is overtaken.
    timer.stop();
    if (exact)
        player_->seekExact(seconds);
    else
        player_->seekFast(seconds);
}

void MediaPlayerView::seek(float seconds, double delay) {
    if (!player_ || !player_->hasCurrentItem())
        return;
    player_->pause();
    exactSeek(static_cast<double>(seconds));
    if (delay != 0.0) {
        timer.stop();
        timer.disconnect();
        QPointer<MediaPlayerView> self(this);
        connect(&timer, &QTimer::timeout, this, [self] {
            if (!self || !self->player_)
                return;
            // Not behind a question the user is still reading: once it is
            // answered.
            if (QApplication::activeModalWidget()) {
                self->timer.start(kModalRecheckMs);
                return;
            }
            self->player_->playImmediatelyAtRate(self->playSlowMode ? kSlowRate : kNormalRate);
        });
        timer.start(static_cast<int>(std::lround(delay * 1000.0)));
    } else {
        player_->playImmediatelyAtRate(playSlowMode ? kSlowRate : kNormalRate);
    }
}

void MediaPlayerView::volumnUp() {
    if (player_)
        player_->setVolume(std::min(player_->volume() + kVolumeStep, 1.0f));
}

void MediaPlayerView::volumnDown() {
    if (player_)
        player_->setVolume(std::max(player_->volume() - kVolumeStep, 0.0f));
}

bool MediaPlayerView::isPlaying() const {
    return player_ && player_->rate() != 0.0f && player_->error().empty();
}

std::optional<bool> MediaPlayerView::isOpenStatus() const {
    return player_ && player_->hasCurrentItem();
}

void MediaPlayerView::setFullScreenMode(bool on) {
    if (on == fullScreen_)
        return;
    if (on) {
        QScreen* screen = QGuiApplication::primaryScreen();
        if (!screen)
            return;
        homeParent_ = parentWidget();
        homeGeometry_ = geometry();
        setParent(nullptr);
        setWindowFlag(Qt::Window, true);
        setGeometry(screen->geometry());
        showFullScreen();
    } else {
        setWindowState(windowState() & ~Qt::WindowFullScreen);
        setParent(homeParent_);
        setWindowFlag(Qt::Window, false);
        setGeometry(homeGeometry_);
        show();
    }
    fullScreen_ = on;
    setFocus();
}

void MediaPlayerView::closeEvent(QCloseEvent* event) {
    if (!fullScreen_) {
        QWidget::closeEvent(event);
        return;
    }
    // In full screen the view is a window of its own, which the desktop can
    // close (Alt+F4): leave full screen as Escape does instead. Later, not
    // from inside the window's own close handling, as leaving destroys it.
    event->ignore();
    QMetaObject::invokeMethod(
        this, [this] { setFullScreenMode(false); }, Qt::QueuedConnection);
}

void MediaPlayerView::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    event->accept(); // single clicks go no further
}

void MediaPlayerView::mouseDoubleClickEvent(QMouseEvent* event) {
    setFullScreenMode(!fullScreen_);
    event->accept();
}
