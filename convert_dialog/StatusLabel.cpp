#include "StatusLabel.h"

#include <QPainter>
#include <QTextLayout>
#include <QTextOption>

#include <cmath>

namespace {

QTextOption WrapOption() {
    QTextOption option(Qt::AlignLeft | Qt::AlignTop);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
}

// The height of `text` laid out in lines of `width` pixels.
int WrappedHeight(const QString& text, const QFont& font, int width) {
    QTextLayout layout(text, font);
    layout.setTextOption(WrapOption());
    layout.beginLayout();
    qreal height = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        height += line.height();
    }
    layout.endLayout();
    return static_cast<int>(std::ceil(height));
}

} // namespace

StatusLabel::StatusLabel(QWidget* parent) : QLabel(parent) {}

QSize StatusLabel::sizeHint() const {
    const int oneLine = fontMetrics().horizontalAdvance(text()) + 1;
    const int width = std::min(oneLine, maximumWidth());
    return QSize(width, heightForWidth(std::max(width, 1)));
}

QSize StatusLabel::minimumSizeHint() const {
    return QSize(0, fontMetrics().height());
}

int StatusLabel::heightForWidth(int width) const {
    if (text().isEmpty())
        return fontMetrics().height();
    return WrappedHeight(text(), font(), width);
}

void StatusLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.setFont(font());
    painter.drawText(QRectF(rect()), text(), WrapOption());
}
