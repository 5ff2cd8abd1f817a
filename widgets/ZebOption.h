#pragma once
#include <QColor>
#include <QRadioButton>

// Option button: value true when selected; selecting one clears the others of its container.
class ZebOption : public QRadioButton {
    Q_OBJECT
public:
    explicit ZebOption(const QString& caption = QString(), QWidget* parent = nullptr);
    bool value() const { return isChecked(); }
    // Unlike a plain radio button, the selected option can be cleared, leaving none of its
    // container selected.
    void setValue(bool selected);
    void setBackColor(const QColor& color);
    QColor backColor() const { return palette().color(QPalette::Window); }
};
