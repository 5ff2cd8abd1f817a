#pragma once
#include <QColor>
#include <QPixmap>
#include <QPushButton>

// Command button: caption ("&" marks the access key), tool tip, font, enabled state, a 16x16
// picture beside the caption with a declared transparent colour, and the default-button role.
class AeroButton : public QPushButton {
    Q_OBJECT
public:
    explicit AeroButton(QWidget* parent = nullptr);
    AeroButton(const QString& caption, QWidget* parent = nullptr);

    // The picture is drawn at 16x16; pixels of `transparentColor` are left out.
    void setPicture(const QPixmap& picture, const QColor& transparentColor = QColor());
};
