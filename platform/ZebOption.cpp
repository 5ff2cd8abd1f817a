#include "ZebOption.h"

ZebOption::ZebOption(const QString& caption, QWidget* parent) : QRadioButton(caption, parent) {}

void ZebOption::setBackColor(const QColor& color) {
    QPalette pal = palette();
    pal.setColor(QPalette::Window, color);
    setPalette(pal);
    setAutoFillBackground(true);
}
