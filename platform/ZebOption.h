#pragma once
#include <QColor>
#include <QRadioButton>

// Option button: value true when selected; selecting one clears the others of its container.
class ZebOption : public QRadioButton {
    Q_OBJECT
public:
    explicit ZebOption(const QString& caption = QString(), QWidget* parent = nullptr);
    bool value() const { return isChecked(); }
    void setValue(bool selected) { setChecked(selected); }
    void setBackColor(const QColor& color);
};
