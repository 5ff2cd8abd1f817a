#pragma once
#include <QColor>
#include <QWidget>

// An opaque drawn shape (rectangle, square or rounded rectangle) with a fill and an outline.
// It takes no input and never holds the focus.
class Shape : public QWidget {
    Q_OBJECT
public:
    enum class Kind { Rectangle, Square, RoundedRectangle };

    Shape(Kind kind, const QColor& fill, const QColor& outline, QWidget* parent = nullptr);

    Kind kind() const { return kind_; }
    QColor fillColor() const { return fill_; }
    QColor outlineColor() const { return outline_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Kind kind_;
    QColor fill_;
    QColor outline_;
};
