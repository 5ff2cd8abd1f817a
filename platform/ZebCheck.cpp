#include "ZebCheck.h"

ZebCheck::ZebCheck(const QString& caption, QWidget* parent) : QCheckBox(caption, parent) {}

void ZebCheck::setBackColor(const QColor& color) {
    QPalette pal = palette();
    pal.setColor(QPalette::Window, color);
    setPalette(pal);
    setAutoFillBackground(true);
}
