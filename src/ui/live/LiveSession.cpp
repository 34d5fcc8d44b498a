#include "live/LiveSession.h"

#include <QBoxLayout>
#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <cmath>

#include "MainViewController.h"
#include "SubViewClass/EditableNSTextField.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewController/EditViewController.h"
#include "SubViewController/PlayViewController.h"
#include "player/MpvPlayer.h"
#include "text/TimeText.h"
#include "timeline/TagTimeline.h"

namespace {

// Hatches the recording's gaps over a timeline, following its size and view;
// clicks go through to the timeline.
class GapMarks : public QWidget {
public:
    explicit GapMarks(TagTimeline* timeline) : QWidget(timeline), timeline_(timeline) {
        setObjectName("liveGaps");
        setAttribute(Qt::WA_TransparentForMouseEvents);
        timeline->installEventFilter(this);
        setGeometry(timeline->rect());
        show();
    }
    void setGaps(std::vector<LiveGap> gaps) {
        gaps_ = std::move(gaps);
        update();
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Resize)
            setGeometry(timeline_->rect());
        return false;
    }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QBrush hatch(QColor(90, 90, 90), Qt::BDiagPattern);
        for (const LiveGap& gap : gaps_) {
            const double from = timeline_->xOf(gap.from);
            const double to = timeline_->xOf(gap.to);
            if (to < 0 || from > width())
                continue;
            const int left = static_cast<int>(std::floor(from));
            p.fillRect(left, 0, std::max(1, static_cast<int>(std::ceil(to)) - left), height(),
                       hatch);
        }
    }

private:
    TagTimeline* timeline_;
    std::vector<LiveGap> gaps_;
};

} // namespace

LiveSession::LiveSession(LiveRecorder& recorder, MainViewController* main)
    : QObject(main), recorder_(recorder), main_(main), view_(main->MediaPlayer) {
    makeWidgets();
    connect(&recorder, &LiveRecorder::statusChanged, this, &LiveSession::refresh);
    connect(&recorder, &LiveRecorder::gapsChanged, this, &LiveSession::refreshGaps);
    connect(&recorder, &LiveRecorder::finished, this, &LiveSession::refresh);
    if (MpvPlayer* mpv = main_->MediaPlayer->mpvPlayer())
        connect(mpv, &MpvPlayer::endReached, this, [this] {
            if (isOpen())
                stalled_ = true;
        });
    refresh();
    refreshGaps();
}

LiveSession::~LiveSession() {
    delete row_; // the button and the state with it
    for (QWidget* marks : gapMarks_)
        delete marks;
    if (Player* player = view_ ? view_->player() : nullptr)
        player->setGrowingFile({}, NAN);
}

void LiveSession::makeWidgets() {
    EditViewController* edit = main_->editViewController;
    // A line of their own under the player bar: beside the time they left the
    // time and the state cut on a laptop's screen.
    QWidget* bar = edit->mediaTimeLabel->parentWidget();
    auto* lines = qobject_cast<QBoxLayout*>(bar->parentWidget()->layout());
    row_ = new QWidget(bar->parentWidget());
    auto* row = new QHBoxLayout(row_);
    row->setContentsMargins(0, 0, 0, 0);
    button_ = new QPushButton(QStringLiteral("ライブへ"), row_);
    button_->setObjectName("liveButton");
    button_->setFocusPolicy(Qt::NoFocus); // the keys stay on the video
    button_->setToolTip(QStringLiteral("収録中の最新の場面へ（End）"));
    connect(button_, &QPushButton::clicked, this, [this] {
        stalled_ = false;
        main_->MediaPlayer->goLive();
    });
    state_ = new QLabel(row_);
    state_->setObjectName("liveState");
    state_->setWordWrap(true); // a failure's message is long
    row->addWidget(button_);
    row->addWidget(state_, 1);
    lines->insertWidget(lines->indexOf(bar) + 1, row_);
    for (TagTimeline* timeline : {edit->tagTimeline, main_->playViewController->tagTimeline})
        gapMarks_.emplace_back(new GapMarks(timeline));
}

bool LiveSession::isOpen() const {
    const Player* player = main_->MediaPlayer->player();
    return player && player->hasCurrentItem() && player->currentPath() == path();
}

void LiveSession::open() {
    opening_ = true;
    QPointer<LiveSession> self(this);
    main_->openVideo(path(), [self] {
        if (!self)
            return;
        self->opening_ = false;
        self->main_->MediaPlayer->goLive();
        emit self->opened();
    });
}

void LiveSession::refresh() {
    const LiveStatus status = recorder_.status();
    const bool writing = status.state != LiveState::Stopped && status.state != LiveState::Failed;
    MediaPlayerView* view = main_->MediaPlayer;
    Player* player = view->player();
    // Once finished the file is an ordinary one, its end the match's.
    player->setGrowingFile(writing ? path() : std::string(), status.edge);
    if (!opening_ && !isOpen() && writing && status.edge >= kOpenAfter &&
        player->currentPath() != path())
        open();
    if (state_) {
        state_->setText(stateText(status));
        state_->setStyleSheet(needsAttention(status) ? "color: #d02020;" : "");
    }
    if (!isOpen())
        return;
    if (stalled_ && status.state == LiveState::Recording &&
        status.edge > player->currentTime() + MediaPlayerView::kLiveSlack) {
        stalled_ = false;
        view->goLive();
    }
    view->periodicTimeUpdate(player->currentTime());
}

void LiveSession::refreshGaps() {
    const std::vector<LiveGap> gaps = recorder_.gaps();
    for (QWidget* marks : gapMarks_)
        if (marks)
            static_cast<GapMarks*>(marks)->setGaps(gaps);
}

QString LiveSession::stateText(const LiveStatus& status) {
    QString text = liveStateText(status.state);
    if (status.state == LiveState::NoSignal && status.noSignalSince >= 0)
        text += QString("（%1から）")
                    .arg(QString::fromStdString(
                        createTimeString(static_cast<float>(status.noSignalSince))));
    if (status.state == LiveState::Failed && !status.message.empty())
        text += "：" + QString::fromStdString(status.message);
    if (status.minutesLeft >= 0)
        text += QString("　ディスク残り %1 分").arg(std::floor(status.minutesLeft));
    return text;
}

bool LiveSession::needsAttention(const LiveStatus& status) {
    return status.state == LiveState::NoSignal || status.state == LiveState::Reconnecting ||
           status.state == LiveState::Failed ||
           (status.minutesLeft >= 0 && status.minutesLeft < kDiskWarningMinutes);
}
