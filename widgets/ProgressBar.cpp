#include "ProgressBar.h"

#include <QAccessibleWidget>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <limits>

namespace {
constexpr qreal kRadius = 3.0;
const QColor kTrackTop(0xE4, 0xE4, 0xE4);
const QColor kTrackBottom(0xF7, 0xF7, 0xF7);
const QColor kTrackBorder(0x9C, 0x9C, 0x9C);
const QColor kCaptionOnTrack(0x30, 0x30, 0x30);
// Over the orange bar the caption stays dark, on a light halo: white on orange read at about
// 2.5:1, this at better than 5:1 down to the bar's darker foot.
const QColor kCaptionOnBar(0x10, 0x10, 0x10);
const QColor kCaptionHalo(0xFF, 0xFF, 0xFF, 0xB0);
// The busy block: a quarter of the bar, crossing it in 40 steps of 40 ms.
constexpr double kSweepWidth = 0.25;
constexpr int kSweepSteps = 40;
constexpr int kSweepStepMs = 40;

// Heard as a progress bar whose value is its value text where it has one.
class AccessibleProgressBar : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit AccessibleProgressBar(ProgressBar* bar)
        : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value)
            return bar()->valueText().isEmpty() ? bar()->text() : bar()->valueText();
        return QAccessibleWidget::text(kind);
    }
    QVariant currentValue() const override { return bar()->value(); }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return bar()->maximum(); }
    QVariant minimumValue() const override { return bar()->minimum(); }
    QVariant minimumStepSize() const override { return 0; }

private:
    ProgressBar* bar() const { return static_cast<ProgressBar*>(widget()); }
};

QAccessibleInterface* accessibleProgressBar(const QString& className, QObject* object) {
    auto* bar = qobject_cast<ProgressBar*>(object);
    if (className != QLatin1String("ProgressBar") || !bar)
        return nullptr;
    return new AccessibleProgressBar(bar);
}

QPainterPath roundedPath(const QRectF& rect, qreal radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}
} // namespace

ProgressBar::ProgressBar(QWidget* parent) : QProgressBar(parent) {
    static const bool heard = [] {
        QAccessible::installFactory(&accessibleProgressBar);
        return true;
    }();
    Q_UNUSED(heard);
    setRange(0, 100);
    setValue(0);
    setTextVisible(true);
    setFormat(QStringLiteral("%v"));
    setBarColor(QColor(255, 128, 0));
    sweep_.setInterval(kSweepStepMs);
    connect(&sweep_, &QTimer::timeout, this, [this] {
        sweepStep_ = (sweepStep_ + 1) % kSweepSteps;
        update();
    });
}

void ProgressBar::setBusy(bool busy) {
    if (busy == isBusy())
        return;
    sweepStep_ = 0;
    if (busy)
        sweep_.start();
    else
        sweep_.stop();
    update();
}

void ProgressBar::setBarColor(const QColor& color) {
    barColor_ = color;
    QPalette pal = palette();
    pal.setColor(QPalette::Highlight, color);
    setPalette(pal);
    update();
}

void ProgressBar::setValue(int value) {
    QProgressBar::setValue(std::clamp(value, minimum(), maximum()));
}

void ProgressBar::setMinimum(int minimum) {
    setRange(minimum, std::max(minimum, maximum()));
}

// A maximum below the minimum (a length not known yet) leaves an empty bar.
void ProgressBar::setMaximum(int maximum) {
    setRange(minimum(), std::max(minimum(), maximum));
}

void ProgressBar::setRange(int minimum, int maximum) {
    // QProgressBar forgets a value that falls outside a new range; keep it, clamped.
    const int kept = value();
    maximum = std::max(minimum, maximum);
    QProgressBar::setRange(minimum, maximum);
    QProgressBar::setValue(std::clamp(kept, minimum, maximum));
    update();
}

void ProgressBar::setProgress(qint64 current, qint64 total) {
    int shift = 0;
    while ((total >> shift) > std::numeric_limits<int>::max())
        ++shift;
    setMax(int(total >> shift));
    setValue(int(std::clamp<qint64>(current >> shift, std::numeric_limits<int>::min(),
                                    std::numeric_limits<int>::max())));
}

void ProgressBar::setValueText(const QString& valueText) {
    if (valueText_ == valueText)
        return;
    valueText_ = valueText;
    QAccessibleValueChangeEvent changed(this, value());
    QAccessible::updateAccessibility(&changed);
}

QString ProgressBar::text() const {
    if (!isTextVisible())
        return QString();
    QString shown = format();
    shown.replace(QLatin1String("%v"), QString::number(value()));
    shown.replace(QLatin1String("%m"), QString::number(maximum()));
    shown.replace(QLatin1String("%p"), QString::number(int(filledFraction() * 100)));
    return shown;
}

QSize ProgressBar::sizeHint() const {
    return QSize(150, std::max(17, fontMetrics().height() + 4));
}

QSize ProgressBar::minimumSizeHint() const {
    return QSize(16, fontMetrics().height() + 2);
}

double ProgressBar::filledFraction() const {
    const qint64 span = qint64(maximum()) - minimum();
    if (span <= 0)
        return 0.0;
    return double(qint64(value()) - minimum()) / double(span);
}

void ProgressBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    paintTrack(painter, frame);
    const QRectF inner = frame.adjusted(1.5, 1.5, -1.5, -1.5);
    QRectF fill = inner;
    fill.setWidth(inner.width() * (isBusy() ? kSweepWidth : filledFraction()));
    if (isBusy())
        fill.moveLeft(inner.left() +
                      (inner.width() * (1.0 + kSweepWidth)) * sweepStep_ / kSweepSteps -
                      fill.width());
    fill = fill.intersected(inner);
    if (fill.width() >= 1.0)
        paintFill(painter, fill);
    paintCaption(painter, frame, fill);
}

void ProgressBar::paintTrack(QPainter& painter, const QRectF& frame) const {
    QLinearGradient track(frame.topLeft(), frame.bottomLeft());
    track.setColorAt(0.0, kTrackTop);
    track.setColorAt(1.0, kTrackBottom);
    painter.setPen(QPen(isEnabled() ? kTrackBorder : kTrackBorder.lighter(130), 1.0));
    painter.setBrush(track);
    painter.drawPath(roundedPath(frame, kRadius));
}

void ProgressBar::paintFill(QPainter& painter, const QRectF& fill) const {
    const QColor base = isEnabled() ? barColor_ : QColor(0xB0, 0xB0, 0xB0);
    // A glossy bar: light upper half, the plain colour below, a slightly darker foot.
    QLinearGradient gloss(fill.topLeft(), fill.bottomLeft());
    gloss.setColorAt(0.0, base.lighter(150));
    gloss.setColorAt(0.45, base.lighter(115));
    gloss.setColorAt(0.5, base);
    gloss.setColorAt(1.0, base.darker(112));
    painter.setPen(QPen(base.darker(125), 1.0));
    painter.setBrush(gloss);
    painter.drawPath(roundedPath(fill, kRadius - 1.0));
}

void ProgressBar::paintCaption(QPainter& painter, const QRectF& frame, const QRectF& fill) const {
    const QString caption = text();
    if (caption.isEmpty())
        return;
    // Dark text over the empty track, white text where it lies over the bar.
    painter.setPen(isEnabled() ? kCaptionOnTrack
                               : palette().color(QPalette::Disabled, QPalette::WindowText));
    painter.drawText(frame, Qt::AlignCenter, caption);
    if (fill.width() < 1.0)
        return;
    painter.save();
    painter.setClipRect(fill);
    if (isEnabled()) {
        painter.setPen(kCaptionHalo);
        for (const QPointF offset : {QPointF(-1, 0), QPointF(1, 0), QPointF(0, -1), QPointF(0, 1)})
            painter.drawText(frame.translated(offset), Qt::AlignCenter, caption);
        painter.setPen(kCaptionOnBar);
    }
    painter.drawText(frame, Qt::AlignCenter, caption);
    painter.restore();
}
