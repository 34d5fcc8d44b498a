#include "SubViewClass/VerticallyCenteredTextFieldCell.h"

#include <QPainter>

QRectF VerticallyCenteredTextFieldCell::drawingRectForBounds(QRectF base, qreal naturalHeight,
                                                             bool editing) {
    if (editing)
        return base;
    const qreal spare = base.height() - naturalHeight;
    if (spare <= 0)
        return base;
    return {base.x(), base.y() + spare * 0.5, base.width(), base.height() - spare};
}

void VerticallyCenteredTextFieldCell::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QRectF base = contentsRect();
    const QRectF r = drawingRectForBounds(base, fontMetrics().height(), mIsEditingOrSelecting);
    painter.drawText(r, (alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignTop, text());
}
