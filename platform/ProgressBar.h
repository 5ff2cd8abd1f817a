#pragma once
#include <QColor>
#include <QProgressBar>

// Progress bar with a value and a maximum (32-bit), a bar colour, and its value shown as text.
class ProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr);

    void setMax(int maximum);
    int max() const { return maximum(); }
    void setBarColor(const QColor& color);
    QColor barColor() const { return barColor_; }

private:
    QColor barColor_;
};
