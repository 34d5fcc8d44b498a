#pragma once

#include <QLabel>
#include <QRectF>

// A caption whose text sits in the vertical middle of its rectangle, however
// tall the rectangle is.
class VerticallyCenteredTextFieldCell : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    // While true the text is drawn where the base rectangle puts it.
    bool mIsEditingOrSelecting = false;

    // The rectangle to draw text of `naturalHeight` in, given the base
    // drawing rectangle: moved down by half the spare height and as tall as
    // the text.
    static QRectF drawingRectForBounds(QRectF base, qreal naturalHeight, bool editing);

protected:
    void paintEvent(QPaintEvent* event) override;
};
