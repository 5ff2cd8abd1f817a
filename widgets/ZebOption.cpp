#include "ZebOption.h"

ZebOption::ZebOption(const QString& caption, QWidget* parent) : QRadioButton(caption, parent) {}

void ZebOption::setValue(bool selected) {
    if (selected || !isChecked()) {
        setChecked(selected);
        return;
    }
    // An exclusive button refuses to be cleared directly.
    const bool exclusive = autoExclusive();
    setAutoExclusive(false);
    setChecked(false);
    setAutoExclusive(exclusive);
}

void ZebOption::setBackColor(const QColor& color) {
    // Buttons fill with the button colour by default; these take the panel's colour.
    setBackgroundRole(QPalette::Window);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, color);
    setPalette(pal);
    setAutoFillBackground(true);
}
