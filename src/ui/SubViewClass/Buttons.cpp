#include "SubViewClass/Buttons.h"
#include "SubViewClass/Style.h"
#include "codewindow/CodeWindow.h"

#include <QEnterEvent>
#include <charconv>

namespace {
// Transport buttons rest on a light face so their dark icons read on the
// dark panel.
const QColor kRestingTool(223, 230, 234);
} // namespace

HoverButton::HoverButton(QWidget* parent) : QPushButton(parent) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus); // keys belong to the video and the screens
}

void HoverButton::enterEvent(QEnterEvent* event) {
    pointerEntered();
    QPushButton::enterEvent(event);
}

void HoverButton::leaveEvent(QEvent* event) {
    pointerLeft();
    QPushButton::leaveEvent(event);
}

void HoverButton::setBackground(const QColor& color) {
    setStyleSheet(Style::flatButton(color, textColor_));
}

TagButton::TagButton(const QString& title, const QString& identifier, QWidget* parent)
    : HoverButton(parent) {
    setText(title);
    setObjectName(identifier);
    initFlg = false;
}

TagButton::Colors TagButton::colorsFor(uint64_t number) {
    const ButtonColors colors = standardButtonColors(number);
    return {QColor(QRgb(colors.background)), QColor(QRgb(colors.hover))};
}

void TagButton::viewWillDraw() {
    if (initFlg)
        return;
    const std::string id = objectName().toStdString();
    if (!id.empty()) {
        index_type = id[0] == 'A';
        int64_t number = 0;
        const char* first = id.data() + 1;
        const char* last = id.data() + id.size();
        const auto result = std::from_chars(first, last, number);
        if (result.ec == std::errc() && result.ptr == last)
            index_num = number;
    }
    const Colors colors = colorsFor(static_cast<uint64_t>(index_num));
    background_color = colors.background;
    hover_color = colors.hover;
    setBackground(background_color);
    initFlg = true;
}

void TagButton::setColors(const QColor& background, const QColor& hover) {
    background_color = background;
    hover_color = hover;
    setBackground(background_color);
    initFlg = true;
}

void TagButton::paintEvent(QPaintEvent* event) {
    viewWillDraw();
    HoverButton::paintEvent(event);
}

void TagButton::resizeEvent(QResizeEvent* event) {
    QFont f("Hiragino Sans GB");
    // 0.4 of the height, smaller only where the name would not fit across.
    int size = std::max(1, static_cast<int>(height() * 0.4));
    f.setPixelSize(size);
    const int room = width() - 8;
    while (size > 8 && QFontMetrics(f).horizontalAdvance(text()) > room)
        f.setPixelSize(--size);
    setFont(f);
    HoverButton::resizeEvent(event);
}

void TagButton::pointerEntered() {
    setBackground(hover_color);
}
void TagButton::pointerLeft() {
    setBackground(background_color);
}

MediaToolButtonView::MediaToolButtonView(const QString& identifier, QWidget* parent)
    : HoverButton(parent) {
    setObjectName(identifier);
    textColor_ = Qt::black;
    setBackground(kRestingTool);
    setToolTip(toolTipFor(identifier));
}

QString MediaToolButtonView::toolTipFor(const QString& identifier) {
    QString action = identifier;
    if (action.endsWith("_edit") || action.endsWith("_play"))
        action.chop(5);
    else if (action != "mediaClipStart" && action != "mediaClipEnd")
        return {};
    static const std::pair<const char*, const char*> tips[] = {
        {"mediaOpen", "ファイルを開く(cmd + O)"},
        {"mediaPlay", "再生(A)"},
        {"mediaStop", "一時停止(S)"},
        {"mediaBackward", "クイック巻き戻し(<-)"},
        {"mediaForward", "クイック先送り(->)"},
        {"mediaSlow", "スロー再生(D)"},
        {"mediaClipStart", "クリップ開始(<)"},
        {"mediaClipEnd", "クリップ終了(>)"},
    };
    for (const auto& [name, tip] : tips)
        if (action == name)
            return QString::fromUtf8(tip);
    return {};
}

void MediaToolButtonView::pointerEntered() {
    setBackground(hover_color);
    if (const QString tip = toolTipFor(objectName()); !tip.isEmpty())
        setToolTip(tip);
}

void MediaToolButtonView::pointerLeft() {
    setBackground(kRestingTool);
}

GeneralButton::GeneralButton(const QString& title, const QString& identifier, QWidget* parent)
    : HoverButton(parent) {
    setText(title);
    setObjectName(identifier);
    textColor_ = Qt::black;
    setBackground(Qt::white);
}

void GeneralButton::pointerEntered() {
    setBackground(QColor::fromRgbF(0.6f, 0.627f, 0.643f));
}
void GeneralButton::pointerLeft() {
    setBackground(Qt::white);
}

LabelButton::LabelButton(const QString& title, const QString& identifier, QWidget* parent)
    : HoverButton(parent) {
    setText(title);
    setObjectName(identifier);
    setCheckable(true);
    textColor_ = Qt::black;
    connect(this, &QPushButton::toggled, this, [this] { restyle(); });
    restyle();
}

void LabelButton::restyle() {
    setBackground(isChecked() ? onColor() : QColor(Qt::white));
}

void LabelButton::pointerEntered() {
    setBackground(isChecked() ? onColor().darker(115) : QColor::fromRgbF(0.6f, 0.627f, 0.643f));
}

void LabelButton::pointerLeft() {
    restyle();
}
