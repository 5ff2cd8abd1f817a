#include "Shape.h"

#include <QPainter>

Shape::Shape(Kind kind, const QColor& fill, const QColor& outline, QWidget* parent)
    : QWidget(parent), kind_(kind), fill_(fill), outline_(outline) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

void Shape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(outline_);
    painter.setBrush(fill_);
    QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (kind_ == Kind::Square) {
        const qreal side = qMin(box.width(), box.height());
        box = QRectF(box.center().x() - side / 2, box.center().y() - side / 2, side, side);
    }
    if (kind_ == Kind::RoundedRectangle) {
        // Small corners, so that a box placed a few pixels inside stays within the outline.
        const qreal radius = qMin(12.0, qMin(box.width(), box.height()) / 4.0);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.drawRoundedRect(box, radius, radius);
        return;
    }
    painter.drawRect(box);
}
