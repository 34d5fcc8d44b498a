#include "video/AngleViews.h"

#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QWidget>
#include <algorithm>

#include "angles/AngleSync.h"
#include "player/MpvPlayer.h"

namespace {

constexpr int kGap = 2;
const char* const kNameStyle =
    "color: white; background: rgba(0, 0, 0, 150); padding: 1px 5px; font-size: 12px;";
const char* const kNoPictureStyle = "color: #d8d8d8; background: #202428; font-size: 15px;";

QLabel* makeLabel(QWidget* parent, const char* style) {
    auto* label = new QLabel(parent);
    label->setStyleSheet(style);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

// An angle's picture: the frame its feed gave, drawn as it is (it was made
// to the widget's size on the decoding thread), centred on black.
class AnglePicture : public QWidget {
public:
    AnglePicture(AngleSync& sync, size_t index, QWidget* parent)
        : QWidget(parent), sync_(sync), index_(index) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QImage& image = sync_.image(index_);
        const QSizeF shown = QSizeF(image.size()) / devicePixelRatioF();
        const QRectF at(QPointF((width() - shown.width()) / 2, (height() - shown.height()) / 2),
                        shown);
        // Black only around the picture: the picture itself is opaque.
        if (image.isNull() || at.toRect() != rect()) {
            painter.fillRect(rect(), Qt::black);
        }
        if (!image.isNull())
            painter.drawImage(at, image);
    }
    void resizeEvent(QResizeEvent*) override {
        sync_.setPictureSize(index_, size() * devicePixelRatioF());
    }

private:
    AngleSync& sync_;
    size_t index_;
};

// Splits `r` into `n` rectangles: side by side (2), a 2×2 grid (3, 4).
std::vector<QRect> grid(QRect r, size_t n) {
    const int w = (r.width() - kGap) / 2, h = (r.height() - kGap) / 2;
    if (n <= 1)
        return {r};
    if (n == 2)
        return {QRect(r.x(), r.y(), w, r.height()), QRect(r.x() + w + kGap, r.y(), w, r.height())};
    std::vector<QRect> cells;
    for (size_t i = 0; i < n; ++i)
        cells.emplace_back(r.x() + static_cast<int>(i % 2) * (w + kGap),
                           r.y() + static_cast<int>(i / 2) * (h + kGap), w, h);
    return cells;
}

} // namespace

AngleViews::AngleViews(QWidget* host, QWidget* mainSurface, MpvPlayer& main)
    : QObject(host), host_(host), mainSurface_(mainSurface),
      sync_(std::make_unique<AngleSync>(main)) {
    mainName_ = makeLabel(host, kNameStyle);
    mainName_->setObjectName("angleName");
    mainName_->setText("メイン");
    mainName_->hide();
    layoutBox_ = new QComboBox(host);
    layoutBox_->setObjectName("angleLayout");
    layoutBox_->addItems({"メイン", "左右", "2×2", "1画面大"});
    layoutBox_->setCurrentIndex(static_cast<int>(layout_));
    chosenBox_ = new QComboBox(host);
    chosenBox_->setObjectName("angleChosen");
    for (QComboBox* box : {layoutBox_, chosenBox_}) {
        // The focus stays on the video, where keys code.
        box->setFocusPolicy(Qt::NoFocus);
        box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        box->hide();
    }
    connect(layoutBox_, &QComboBox::activated, this,
            [this](int index) { setLayout(static_cast<Layout>(index), chosen_); });
    connect(chosenBox_, &QComboBox::activated, this,
            [this](int index) { setLayout(layout_, index); });
    connect(sync_.get(), &AngleSync::pictureChanged, this, &AngleViews::showPicture);
    connect(sync_.get(), &AngleSync::frameChanged, this, [this](int i) {
        if (i >= 0 && static_cast<size_t>(i) < views_.size())
            views_[static_cast<size_t>(i)].surface->update();
    });
    connect(sync_.get(), &AngleSync::anglesAboutToGo, this, &AngleViews::clearViews);
}

AngleViews::~AngleViews() {
    // The views draw the feeds' pictures: they go first.
    clearViews();
}

void AngleViews::clearViews() {
    for (View& v : views_)
        delete v.frame;
    views_.clear();
}

void AngleViews::setAngles(const std::vector<MatchAngle>& angles, const std::string& folder) {
    if (sync_->setAngles(angles, folder) || views_.size() != sync_->count())
        remakeViews();
    for (size_t i = 0; i < views_.size(); ++i)
        views_[i].name->setText(QString::fromStdString(sync_->angle(i).name));
    fillChosenBox();
    place(host_->rect());
}

void AngleViews::remakeViews() {
    clearViews();
    for (size_t i = 0; i < sync_->count(); ++i) {
        View v;
        v.frame = new QWidget(host_);
        v.frame->setObjectName(QString("angleView%1").arg(i + 1));
        // Clicks go on to the video view: focus and keys as on the main picture.
        v.frame->setAttribute(Qt::WA_TransparentForMouseEvents);
        v.frame->setAutoFillBackground(true);
        QPalette p = v.frame->palette();
        p.setColor(QPalette::Window, Qt::black);
        v.frame->setPalette(p);
        v.surface = new AnglePicture(*sync_, i, v.frame);
        v.noPicture = makeLabel(v.frame, kNoPictureStyle);
        v.noPicture->setObjectName("angleNoPicture");
        v.noPicture->setAlignment(Qt::AlignCenter);
        v.noPicture->hide();
        v.name = makeLabel(v.frame, kNameStyle);
        v.name->setObjectName("angleName");
        views_.push_back(v);
    }
    for (size_t i = 0; i < views_.size(); ++i)
        showPicture(static_cast<int>(i));
}

void AngleViews::showPicture(int i) {
    if (i < 0 || static_cast<size_t>(i) >= views_.size())
        return;
    const View& v = views_[static_cast<size_t>(i)];
    const size_t at = static_cast<size_t>(i);
    const bool failed = !sync_->error(at).empty();
    const bool open = sync_->isOpen(at);
    if (failed)
        v.noPicture->setText("映像を開けません");
    else
        v.noPicture->setText("この時刻の映像なし");
    v.noPicture->setVisible(failed || (open && !sync_->hasPicture(at)));
    v.noPicture->raise();
    v.name->raise();
}

void AngleViews::fillChosenBox() {
    chosenBox_->clear();
    chosenBox_->addItem("メイン");
    for (size_t i = 0; i < sync_->count(); ++i)
        chosenBox_->addItem(QString::fromStdString(sync_->angle(i).name));
    chosen_ = std::clamp(chosen_, 0, static_cast<int>(sync_->count()));
    chosenBox_->setCurrentIndex(chosen_);
}

void AngleViews::setLayout(Layout layout, int chosen) {
    layout_ = layout;
    chosen_ = std::clamp(chosen, 0, static_cast<int>(sync_->count()));
    layoutBox_->setCurrentIndex(static_cast<int>(layout_));
    chosenBox_->setCurrentIndex(chosen_);
    place(host_->rect());
}

std::vector<int> AngleViews::shownPictures() const {
    const int angles = static_cast<int>(views_.size());
    if (angles == 0 || layout_ == Layout::Main)
        return {0};
    if (layout_ == Layout::SideBySide)
        return {0, chosen_ > 0 ? chosen_ : 1};
    std::vector<int> all;
    for (int p = 0; p <= angles; ++p)
        all.push_back(p);
    if (layout_ == Layout::OneLarge)
        std::rotate(all.begin(), all.begin() + chosen_, all.begin() + chosen_ + 1);
    return all;
}

QWidget* AngleViews::pictureWidget(int picture) const {
    return picture == 0 ? mainSurface_ : views_[static_cast<size_t>(picture - 1)].frame;
}

void AngleViews::placeFrame(QWidget* frame, QRect r) {
    frame->setGeometry(r);
    if (frame == mainSurface_)
        return;
    for (const View& v : views_) {
        if (v.frame != frame)
            continue;
        v.surface->setGeometry(frame->rect());
        v.noPicture->setGeometry(frame->rect());
        v.name->adjustSize();
        v.name->move(4, 4);
    }
}

void AngleViews::place(QRect area) {
    const std::vector<int> shown = shownPictures();
    std::vector<QRect> cells;
    if (layout_ == Layout::OneLarge && shown.size() > 1) {
        // The chosen picture large, the others in a column on its right.
        const int small = area.width() / 4;
        cells.emplace_back(area.x(), area.y(), area.width() - small - kGap, area.height());
        const int h = area.height() / 3;
        for (size_t i = 1; i < shown.size(); ++i)
            cells.emplace_back(area.right() + 1 - small,
                               area.y() + static_cast<int>(i - 1) * (h + kGap), small, h);
    } else {
        // 2×2 is quarters, however many pictures there are.
        cells = grid(area, layout_ == Layout::Grid ? 4 : shown.size());
    }
    for (size_t p = 0; p < views_.size(); ++p)
        views_[p].frame->setVisible(
            std::find(shown.begin(), shown.end(), static_cast<int>(p + 1)) != shown.end());
    for (size_t i = 0; i < shown.size(); ++i) {
        QWidget* w = pictureWidget(shown[i]);
        if (w)
            placeFrame(w, cells[i]);
        if (shown[i] == 0) {
            mainName_->adjustSize();
            mainName_->move(cells[i].topLeft() + QPoint(4, 4));
        }
    }
    const bool any = !views_.empty();
    mainName_->setVisible(any && shown.size() > 1);
    mainName_->raise();
    int right = area.right() - 4;
    for (QComboBox* box : {chosenBox_, layoutBox_}) {
        box->setVisible(any);
        box->adjustSize();
        right -= box->width();
        box->move(right, area.y() + 4);
        box->raise();
        right -= 4;
    }
}
