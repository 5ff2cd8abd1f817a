#include "AeroButton.h"

#include <QBitmap>

AeroButton::AeroButton(QWidget* parent) : QPushButton(parent) {}

AeroButton::AeroButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {}

void AeroButton::setPicture(const QPixmap& picture, const QColor& transparentColor) {
    QPixmap shown = picture.scaled(16, 16, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (transparentColor.isValid())
        shown.setMask(shown.createMaskFromColor(transparentColor, Qt::MaskInColor));
    setIcon(QIcon(shown));
    setIconSize(QSize(16, 16));
}
