#include "angles/AngleAlignDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <cmath>

#include "SubViewClass/CustomAlert.h"
#include "angles/AngleText.h"
#include "angles/AngleView.h"

namespace {

QPushButton* makeButton(const char* text, const char* id, const char* tip, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(id);
    b->setToolTip(tip);
    b->setAutoDefault(false);
    return b;
}

} // namespace

AngleAlignDialog::AngleAlignDialog(const std::string& mainPath, const std::string& anglePath,
                                   const MatchAngle& angle, double at, QWidget* parent)
    : QDialog(parent), mainPath_(mainPath), anglePath_(anglePath), angle_(angle) {
    setObjectName("angleAlignDialog");
    setWindowTitle("アングルの位置合わせ");
    auto* l = new QVBoxLayout(this);
    auto* views = new QHBoxLayout();
    mainView = new AngleView("本編", "main", this);
    angleView = new AngleView("アングル: " + QString::fromStdString(angle.name), "angle", this);
    views->addWidget(mainView, 1);
    views->addWidget(angleView, 1);
    l->addLayout(views, 1);
    l->addWidget(makeEventRow());
    l->addWidget(makeSoundRow());
    mapText_ = new QLabel(this);
    mapText_->setObjectName("angleMapText");
    l->addWidget(mapText_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("alignOk");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("alignCancel");
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        stopSound();
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &AngleAlignDialog::reject);
    l->addWidget(buttons);
    showMap();
    // Two pictures side by side; never past the screen.
    QRect room(0, 0, 1300, 700);
    if (const QScreen* screen = parent ? parent->screen() : nullptr)
        room = room.intersected(
            screen->availableGeometry().translated(-screen->availableGeometry().topLeft()));
    resize(room.size());

    QPointer<AngleAlignDialog> self(this);
    const auto failed = [self](const char* which) {
        return [self, which](bool ok, const std::string& error) {
            if (self && !ok)
                AlertBox(std::string(which) + "の動画を開けませんでした（" + error + "）", "失敗",
                         "error");
        };
    };
    mainView->open(mainPath_, at, failed("本編"));
    angleView->open(anglePath_, angleTime(angle_, at), failed("アングル"));
}

AngleAlignDialog::~AngleAlignDialog() {
    stopSound();
}

QWidget* AngleAlignDialog::makeEventRow() {
    auto* row = new QWidget(this);
    auto* l = new QHBoxLayout(row);
    l->setContentsMargins(0, 0, 0, 0);
    auto* mark =
        makeButton("この瞬間を合わせる", "angleMarkEvent",
                   "両方の映像が同じ瞬間（キックオフ、笛、拍手など）を映しているとき", row);
    connect(mark, &QPushButton::clicked, this, &AngleAlignDialog::markEvent);
    l->addWidget(mark);
    auto* clear = makeButton("やり直す", "angleClearEvents", "合わせた瞬間を消します", row);
    connect(clear, &QPushButton::clicked, this, &AngleAlignDialog::clearEvents);
    l->addWidget(clear);
    auto* check = makeButton("合わせた位置を表示", "angleShowMatched",
                             "本編が映す瞬間をアングルでも映します", row);
    connect(check, &QPushButton::clicked, this, &AngleAlignDialog::showMatched);
    l->addWidget(check);
    eventsText_ = new QLabel(row);
    eventsText_->setObjectName("angleEventsText");
    eventsText_->setWordWrap(true);
    l->addWidget(eventsText_, 1);
    return row;
}

QWidget* AngleAlignDialog::makeSoundRow() {
    auto* row = new QWidget(this);
    auto* l = new QHBoxLayout(row);
    l->setContentsMargins(0, 0, 0, 0);
    soundButton_ =
        makeButton("音で合わせる", "angleBySound", "両方の音声を比べて、ずれを提案します", row);
    connect(soundButton_, &QPushButton::clicked, this, &AngleAlignDialog::proposeFromSound);
    l->addWidget(soundButton_);
    soundBusy_ = new QProgressBar(row);
    soundBusy_->setObjectName("angleSoundBusy");
    soundBusy_->setRange(0, 0); // how long is not known: it only moves
    soundBusy_->setMaximumWidth(120);
    soundBusy_->hide();
    l->addWidget(soundBusy_);
    soundText_ = new QLabel(row);
    soundText_->setObjectName("angleSoundText");
    soundText_->setWordWrap(true);
    l->addWidget(soundText_, 1);
    useProposal_ = makeButton("提案を使う", "angleUseProposal",
                              "提案されたずれを使い、その瞬間を両方に映します", row);
    useProposal_->setEnabled(false);
    connect(useProposal_, &QPushButton::clicked, this, &AngleAlignDialog::acceptProposal);
    l->addWidget(useProposal_);
    return row;
}

void AngleAlignDialog::markEvent() {
    if (!mainView->isOpen() || !angleView->isOpen())
        return;
    mainView->pause();
    angleView->pause();
    const Event e{mainView->time(), angleView->time()};
    if (!events_[0]) {
        alignByEvent(angle_, e.main, e.angle);
        events_[0] = e;
    } else {
        // A later mark replaces the second moment: the first one stays.
        MatchAngle two = angle_;
        if (!alignByEvents(two, events_[0]->main, events_[0]->angle, e.main, e.angle)) {
            AlertBox("2つ目の瞬間は1つ目から離して（できれば試合の終わり近くで）合わせてください。"
                     "近すぎるか、時計のずれが大きすぎます（1 % まで）。",
                     "お知らせ", "warning");
            return;
        }
        angle_ = two;
        events_[1] = e;
    }
    showMap();
}

void AngleAlignDialog::clearEvents() {
    events_[0].reset();
    events_[1].reset();
    showMap();
}

void AngleAlignDialog::showMatched() {
    if (mainView->isOpen() && angleView->isOpen())
        angleView->show(angleTime(angle_, mainView->time()));
}

void AngleAlignDialog::proposeFromSound() {
    if (soundRunning_) {
        stopSound();
        soundText_->setText("中止しました。");
        return;
    }
    stopSound();
    soundRunning_ = true;
    cancel_ = false;
    proposed_.reset();
    useProposal_->setEnabled(false);
    soundButton_->setText("中止");
    soundBusy_->show();
    soundText_->setText("音声を比べています…");
    // Reading both sound tracks takes seconds: never on the GUI thread, nor
    // on Qt's pool, which the painting uses. The dialog waits for the thread
    // before it goes, so the answer always finds it.
    sound_ = std::thread([this, main = mainPath_, angle = anglePath_] {
        const AudioOffsetGuess guess = proposeAudioOffset(main, angle, &cancel_);
        if (!cancel_)
            QMetaObject::invokeMethod(
                this, [this, guess] { soundDone(guess); }, Qt::QueuedConnection);
    });
}

void AngleAlignDialog::stopSound() {
    cancel_ = true;
    if (sound_.joinable())
        sound_.join();
    soundRunning_ = false;
    soundButton_->setText("音で合わせる");
    soundBusy_->hide();
}

void AngleAlignDialog::soundDone(const AudioOffsetGuess& guess) {
    stopSound();
    if (!guess.ok) {
        soundText_->setText(
            QString::fromStdString(guess.error.empty() ? "提案できませんでした。" : guess.error));
        return;
    }
    proposed_ = guess.offset;
    useProposal_->setEnabled(true);
    soundText_->setText(proposalText(guess));
}

void AngleAlignDialog::acceptProposal() {
    if (!proposed_)
        return;
    clearEvents();
    angle_.offset = *proposed_;
    angle_.scale = 1.0;
    showMap();
    // The matched instant in both, where both have a picture: the analyst
    // checks it by eye.
    if (mainView->isOpen() && angleView->isOpen()) {
        const double at = std::max(mainView->time(), mainTimeOf(angle_, 0.0));
        mainView->show(at);
        angleView->show(angleTime(angle_, at));
    }
}

void AngleAlignDialog::showMap() {
    QStringList marked;
    for (int i = 0; i < 2; ++i)
        if (events_[i])
            marked << QString("%1つ目: 本編 %2 = アングル %3")
                          .arg(i + 1)
                          .arg(timeText(events_[i]->main), timeText(events_[i]->angle));
    if (events_[0] && !events_[1])
        marked << "試合の終わり近くでもう一度合わせると、時計のずれも直せます。";
    eventsText_->setText(marked.isEmpty()
                             ? "両方を同じ瞬間へ動かして「この瞬間を合わせる」を押してください。"
                             : marked.join("\n"));
    mapText_->setText(mapText(angle_));
}

void AngleAlignDialog::reject() {
    stopSound();
    QDialog::reject();
}
