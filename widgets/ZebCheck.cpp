#include "ZebCheck.h"

ZebCheck::ZebCheck(const QString& caption, QWidget* parent) : QCheckBox(caption, parent) {}

void ZebCheck::setBackColor(const QColor& color) {
    // Buttons fill with the button colour by default; these take the panel's colour.
    setBackgroundRole(QPalette::Window);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, color);
    setPalette(pal);
    setAutoFillBackground(true);
}
