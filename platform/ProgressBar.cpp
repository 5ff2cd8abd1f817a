#include "ProgressBar.h"

ProgressBar::ProgressBar(QWidget* parent) : QProgressBar(parent) {
    setRange(0, 100);
    setValue(0);
    setTextVisible(true);
    setFormat(QStringLiteral("%v"));
    setBarColor(QColor(255, 128, 0));
}

void ProgressBar::setMax(int maximum) { setMaximum(maximum); }

void ProgressBar::setBarColor(const QColor& color) {
    barColor_ = color;
    QPalette pal = palette();
    pal.setColor(QPalette::Highlight, color);
    setPalette(pal);
}
