#pragma once
#include <QColor>
#include <QProgressBar>
#include <QTimer>

// Progress bar with a value and a maximum (32-bit), a bar colour, and its value shown as text.
// Unlike QProgressBar, a value outside the range is clamped instead of ignored, and a maximum
// of 0 shows an empty bar rather than a busy animation.
class ProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr);

    void setMax(int maximum) { setMaximum(maximum); }
    // A count and total of any size: kept as they are while the total fits the bar's range,
    // else both scaled down alike, so the share shown stays true.
    void setProgress(qint64 current, qint64 total);
    int max() const { return maximum(); }
    void setBarColor(const QColor& color);
    QColor barColor() const { return barColor_; }

    // The value shown, as text: the format with %v (value), %m (maximum) and %p (whole
    // percent done, never rounded up to 100 before the end) replaced.
    QString text() const override;
    // What a screen reader hears as the bar's value ("1 min 20 s left"); empty: its text.
    void setValueText(const QString& valueText);
    QString valueText() const { return valueText_; }
    // Busy: a block sweeps the bar, for work whose share done is not known; the value is kept
    // for when it ends.
    void setBusy(bool busy);
    bool isBusy() const { return sweep_.isActive(); }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

public slots:
    // These hide QProgressBar's own: the value is kept within the range.
    void setValue(int value);
    void setMinimum(int minimum);
    void setMaximum(int maximum);
    void setRange(int minimum, int maximum);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // How much of the bar is filled, 0 to 1.
    double filledFraction() const;
    void paintTrack(class QPainter& painter, const QRectF& frame) const;
    void paintFill(QPainter& painter, const QRectF& fill) const;
    void paintCaption(QPainter& painter, const QRectF& frame, const QRectF& fill) const;

    QColor barColor_;
    QString valueText_;
    QTimer sweep_;
    int sweepStep_ = 0;
};
