#include "StatusLabel.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>
#include <QTextOption>

#include <cmath>
#include <memory>

namespace {

QTextOption WrapOption() {
    QTextOption option(Qt::AlignLeft | Qt::AlignTop);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
}

// `text` laid out in lines of `width` pixels, one under the other; a line break of the text
// starts a new line.
std::unique_ptr<QTextLayout> Laid(const QString& text, const QFont& font, int width) {
    QString lines = text;
    lines.replace(QLatin1Char('\n'), QChar::LineSeparator);
    auto layout = std::make_unique<QTextLayout>(lines, font);
    layout->setTextOption(WrapOption());
    layout->beginLayout();
    qreal height = 0;
    for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout->endLayout();
    return layout;
}

int HeightOf(const QTextLayout& layout) {
    if (layout.lineCount() == 0)
        return 0;
    const QTextLine last = layout.lineAt(layout.lineCount() - 1);
    return static_cast<int>(std::ceil(last.y() + last.height()));
}

} // namespace

StatusLabel::StatusLabel(QWidget* parent) : QLabel(parent) {}

QSize StatusLabel::sizeHint() const {
    qreal oneLine = 0;
    for (const QString& line : text().split(QLatin1Char('\n')))
        oneLine = std::max(oneLine, QFontMetricsF(font()).horizontalAdvance(line));
    const int width = std::min(static_cast<int>(std::ceil(oneLine)) + 1, maximumWidth());
    return QSize(width, heightForWidth(std::max(width, 1)));
}

QSize StatusLabel::minimumSizeHint() const {
    return QSize(0, fontMetrics().height());
}

int StatusLabel::heightForWidth(int width) const {
    if (text().isEmpty())
        return fontMetrics().height();
    return HeightOf(*Laid(text(), font(), width));
}

void StatusLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.setFont(font());
    const auto layout = Laid(text(), font(), width());
    for (int i = 0; i < layout->lineCount(); ++i) {
        const QTextLine line = layout->lineAt(i);
        const bool lastToFit =
            i + 1 < layout->lineCount() &&
            layout->lineAt(i + 1).y() + layout->lineAt(i + 1).height() > height();
        if (!lastToFit) {
            line.draw(&painter, QPointF(0, 0));
            continue;
        }
        // The rest of the text on one line, cut with "…".
        QString rest = layout->text().mid(line.textStart());
        rest.replace(QChar::LineSeparator, QLatin1Char(' '));
        const QString shown = QFontMetricsF(font()).elidedText(rest, Qt::ElideRight, width());
        painter.drawText(QPointF(0, line.y() + line.ascent()), shown);
        break;
    }
}
