#include "SubViewClass/Style.h"

namespace Style {

QColor panel() {
    return QColor::fromRgbF(0.2f, 0.253f, 0.285f);
}

QString caption() {
    return "color: #c9d3da;";
}

QString checkIndicator(const QString& widget) {
    // A light outline and a white tick on green: the style's own box and tick
    // take the dark panel's colours and vanish on it.
    return QString("%1::indicator { width: 12px; height: 12px; border: 2px solid #c9d3da;"
                   " border-radius: 3px; background: #27343b; }"
                   "%1::indicator:checked { background: #2f8f5b; border-color: #e8eef2;"
                   " image: url(:/images/check.svg); }")
        .arg(widget);
}

QString table() {
    return QString("QTableView { background-color: %1; color: white; gridline-color: #4a5a63;"
                   " selection-background-color: #2f6f9f; }"
                   "QHeaderView::section { background-color: #27343b; color: #e8eef2;"
                   " border: none; padding: 2px; }")
               .arg(panel().name()) +
           checkIndicator("QTableView");
}

QString teamCheckBox() {
    return "QCheckBox { color: white; }" + checkIndicator("QCheckBox");
}

QString mediaBox() {
    return "QFrame#mediaPlayerBox { background-color: #11181c; border: 1px solid #4a5a63;"
           " border-radius: 4px; }";
}

QString timeLabel() {
    return "QLineEdit { background: transparent; color: white; }";
}

QString commentView() {
    return "QPlainTextEdit { background-color: #27343b; color: white;"
           " border: 1px solid #4a5a63; border-radius: 3px; }";
}

QString teamHeader(bool teamA) {
    return QString("QLineEdit { background-color: %1; color: white; border: none;"
                   " border-radius: 4px; font-weight: bold; }")
        .arg(teamA ? "#1f5f8b" : "#8b2f2f");
}

QString typingHint() {
    return "QLabel { background-color: #f2d45c; color: #1b1b1b; border-radius: 4px;"
           " padding: 3px 8px; }";
}

QString flatButton(const QColor& background, const QColor& text) {
    return QString("QPushButton { background-color: %1; color: %2; border: none;"
                   " border-radius: 4px; padding: 2px; }")
        .arg(background.isValid() ? background.name(QColor::HexArgb) : "transparent", text.name());
}

QString menuButton(bool hovered) {
    return QString("QToolButton { background-color: %1; color: white; border: none;"
                   " border-radius: 6px; }")
        .arg(hovered ? QColor::fromRgbF(0.361f, 0.404f, 0.427f).name() : "transparent");
}

QString windowTitle() {
    return "color: #e8eef2; font-weight: bold;";
}

} // namespace Style
