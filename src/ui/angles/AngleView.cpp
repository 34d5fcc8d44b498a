#include "angles/AngleView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "angles/AngleText.h"
#include "player/MediaProbe.h"
#include "player/MpvPlayer.h"
#include "video/VideoSurfaces.h"

std::map<std::string, std::string>& AngleView::playerOptions() {
    static std::map<std::string, std::string> options;
    return options;
}

AngleView::AngleView(const QString& title, const QString& id, QWidget* parent)
    : QWidget(parent), player_(std::make_unique<MpvPlayer>(playerOptions())) {
    setObjectName(id + "View");
    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(4);
    auto* caption = new QLabel(title, this);
    caption->setObjectName(id + "Title");
    l->addWidget(caption);
    if (OpenGLVideoSurface::available())
        surface_ = new OpenGLVideoSurface(*player_, this);
    else
        surface_ = new SoftwareVideoSurface(*player_, this);
    surface_->setObjectName(id + "Picture");
    surface_->setMinimumSize(320, 180);
    surface_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    l->addWidget(surface_, 1);
    l->addWidget(makeControls(id));
    refresh_.setInterval(100);
    connect(&refresh_, &QTimer::timeout, this, &AngleView::refresh);
}

AngleView::~AngleView() {
    // The surface frees its render context before the player goes.
    delete surface_;
    surface_ = nullptr;
}

QWidget* AngleView::makeControls(const QString& id) {
    auto* box = new QWidget(this);
    auto* l = new QVBoxLayout(box);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(2);
    slider = new QSlider(Qt::Horizontal, box);
    slider->setObjectName(id + "Slider");
    slider->setFocusPolicy(Qt::StrongFocus);
    slider->setEnabled(false);
    connect(slider, &QSlider::valueChanged, this, [this](int frame) {
        if (showing_ || !isOpen())
            return;
        player_->seekExact(frame * frameSeconds());
        refresh();
    });
    l->addWidget(slider);
    auto* row = new QHBoxLayout();
    row->setSpacing(4);
    playButton = new QPushButton("再生", box);
    playButton->setObjectName(id + "Play");
    playButton->setAutoDefault(false);
    connect(playButton, &QPushButton::clicked, this, &AngleView::togglePlay);
    row->addWidget(playButton);
    const auto stepButton = [&](const char* text, const char* name, const char* tip, int sign,
                                bool second) {
        auto* b = new QPushButton(text, box);
        b->setObjectName(id + name);
        b->setToolTip(tip);
        b->setAutoDefault(false);
        // A second is as many frames as the video shows in one.
        connect(b, &QPushButton::clicked, this,
                [this, sign, second] { step(sign * (second ? secondFrames() : 1)); });
        row->addWidget(b);
    };
    stepButton("-1秒", "BackSecond", "1秒前へ", -1, true);
    stepButton("-1コマ", "BackFrame", "1コマ前へ", -1, false);
    stepButton("+1コマ", "ForwardFrame", "1コマ後へ", 1, false);
    stepButton("+1秒", "ForwardSecond", "1秒後へ", 1, true);
    row->addStretch(1);
    timeText = new QLabel(box);
    timeText->setObjectName(id + "Time");
    row->addWidget(timeText);
    l->addLayout(row);
    return box;
}

void AngleView::open(const std::string& path, double at,
                     std::function<void(bool, const std::string&)> done) {
    const double rate = videoFrameRate(path);
    fps_ = std::isfinite(rate) && rate > 0 ? rate : 25.0;
    QPointer<AngleView> self(this);
    player_->replaceCurrentItem(path, [self, at, done = std::move(done)](bool ok) {
        if (!self)
            return;
        if (!ok) {
            done(false, self->player_->error());
            return;
        }
        self->player_->pause();
        const double length = self->player_->duration();
        {
            const QSignalBlocker quiet(self->slider);
            self->slider->setRange(0, std::isfinite(length) ? std::max(0, self->frameOf(length) - 1)
                                                            : 0);
            self->slider->setSingleStep(1);
            self->slider->setPageStep(self->secondFrames());
        }
        self->slider->setEnabled(true);
        self->show(at);
        self->refresh_.start();
        done(true, {});
    });
}

bool AngleView::isOpen() const {
    return player_->hasCurrentItem();
}

double AngleView::time() const {
    return player_->currentTime();
}

int AngleView::secondFrames() const {
    return std::max(1, static_cast<int>(std::lround(fps_)));
}

int AngleView::frameOf(double seconds) const {
    return static_cast<int>(std::lround(seconds * fps_));
}

void AngleView::show(double seconds) {
    if (!isOpen())
        return;
    // On a frame's own time: an exact seek lands on the first frame at or
    // after it, and the time read back is that frame's.
    const int last = slider->maximum();
    player_->seekExact(std::clamp(frameOf(seconds), 0, std::max(last, 0)) * frameSeconds());
    refresh();
}

void AngleView::step(int frames) {
    if (!isOpen())
        return;
    player_->pause();
    show((frameOf(time()) + frames) * frameSeconds());
}

void AngleView::togglePlay() {
    if (!isOpen())
        return;
    if (player_->rate() > 0)
        player_->pause();
    else
        player_->playImmediatelyAtRate(1.0f);
    refresh();
}

void AngleView::pause() {
    if (isOpen())
        player_->pause();
}

void AngleView::refresh() {
    const bool playing = player_->rate() > 0;
    playButton->setText(playing ? "一時停止" : "再生");
    if (!isOpen()) {
        timeText->clear();
        return;
    }
    const double t = time();
    if (!slider->isSliderDown()) {
        showing_ = true;
        slider->setValue(frameOf(t));
        showing_ = false;
    }
    timeText->setText(QString("%1 (%2コマ目)").arg(::timeText(t)).arg(frameOf(t)));
}
