#pragma once

#include <QColor>
#include <QString>

// The look of the window's own controls, in one place: the colours and the
// style sheets the screens and controls set.
namespace Style {

// The dark panel behind the screens and the window header.
QColor panel();
// Captions beside controls ("コメント", "前", ...).
QString caption();
// Tag, clip and tally tables on the panel.
QString table();
// Team filter check boxes (and the play screen's other one).
QString teamCheckBox();
// The check boxes' look for `widget` ("QCheckBox", "QTableView").
QString checkIndicator(const QString& widget);
// The frame the video sits in.
QString mediaBox();
// The "current / total" time text.
QString timeLabel();
// The play screen's read-only comment.
QString commentView();
// The header over a team's tag buttons.
QString teamHeader(bool teamA);
// The note that a code's key went into a text field: light on the panel.
QString typingHint();
// A flat rounded push button.
QString flatButton(const QColor& background, const QColor& text);
// A menu button, lit while the pointer is over it.
QString menuButton(bool hovered);
// The window's title.
QString windowTitle();

} // namespace Style
