#pragma once
#include <QCheckBox>
#include <QColor>

// Check box whose value is 0 (clear) or 1 (ticked).
class ZebCheck : public QCheckBox {
    Q_OBJECT
public:
    explicit ZebCheck(const QString& caption = QString(), QWidget* parent = nullptr);
    int value() const { return isChecked() ? 1 : 0; }
    void setValue(int value) { setChecked(value != 0); }
    void setBackColor(const QColor& color);
    QColor backColor() const { return palette().color(QPalette::Window); }
};
