#include "SubViewClass/MenuButton.h"
#include "SubViewClass/Style.h"

#include <QIcon>
#include <QVBoxLayout>

MenuButton::MenuButton(const QString& identifier, const QString& label, QWidget* parent)
    : QToolButton(parent) {
    setObjectName(identifier);
    setText(label);
    setToolTip(label);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setAutoRaise(true);
    setHover(false);
    clearBackImage();
}

void MenuButton::setBackImage() {
    if (objectName() == "menu_edit_mode_button")
        showImage("menu_editMode_mo1");
    else if (objectName() == "menu_play_mode_button")
        showImage("menu_playMode_mo1");
}

void MenuButton::clearBackImage() {
    if (objectName() == "menu_edit_mode_button")
        showImage("menu_editMode");
    else if (objectName() == "menu_play_mode_button")
        showImage("menu_playMode");
}

void MenuButton::showImage(const QString& name) {
    imageName_ = name;
    setIcon(QIcon(QString(":/images/%1.svg").arg(name)));
}

void MenuButton::setHover(bool on) {
    setStyleSheet(Style::menuButton(on));
}

void MenuButton::enterEvent(QEnterEvent* event) {
    setHover(true);
    QToolButton::enterEvent(event);
}

void MenuButton::leaveEvent(QEvent* event) {
    setHover(false);
    QToolButton::leaveEvent(event);
}

void MenuButton::resizeEvent(QResizeEvent* event) {
    const int side = std::min(width(), height()) * 6 / 10;
    setIconSize(QSize(side, side));
    QFont f("Hiragino Sans GB");
    f.setPixelSize(std::max(8, height() / 8));
    setFont(f);
    QToolButton::resizeEvent(event);
}

QWidget* makeMenuColumn(QWidget* parent, int width, MenuButton*& edit, MenuButton*& play) {
    auto* column = new QWidget(parent);
    column->setObjectName("menu_button_panel");
    column->setFixedWidth(width);
    auto* menuLayout = new QVBoxLayout(column);
    menuLayout->setContentsMargins(6, 10, 6, 10);
    menuLayout->setSpacing(12);
    edit = new MenuButton("menu_edit_mode_button", "編集モード", column);
    play = new MenuButton("menu_play_mode_button", "再生モード", column);
    for (MenuButton* b : {edit, play}) {
        b->setFixedSize(width - 12, width);
        menuLayout->addWidget(b);
    }
    menuLayout->addStretch(1);
    // The layout's initial state: edit mode shown and chosen.
    edit->setBackImage();
    return column;
}
