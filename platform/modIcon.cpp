#include "modIcon.h"

#include <QApplication>
#include <QWidget>

namespace modIcon {

const QList<int>& IconSizes() {
    static const QList<int> sizes{128, 64, 48, 32, 24, 16};
    return sizes;
}

QPixmap MainIconImage(int size) {
    QPixmap image(size, size);
    image.fill(QColor(255, 128, 0));
    return image;
}

QIcon LoadIcon(const QString& resourceName) {
    if (resourceName.compare(QLatin1String("MAINICON"), Qt::CaseInsensitive) != 0)
        return QIcon();
    QIcon icon;
    for (const int size : IconSizes())
        icon.addPixmap(MainIconImage(size));
    return icon;
}

void SetWindowIcon(QWidget* window, const QString& resourceName, bool alsoOwner) {
    const QIcon icon = LoadIcon(resourceName);
    if (icon.isNull() || !window)
        return;
    if (alsoOwner) {
        QWidget* owner = window->window();
        while (owner->parentWidget())
            owner = owner->parentWidget()->window();
        owner->setWindowIcon(icon);
        QApplication::setWindowIcon(icon);
    }
    window->setWindowIcon(icon);
}

QPixmap ButtonPicture(Picture) {
    QPixmap picture(16, 16);
    picture.fill(Qt::transparent);
    return picture;
}

QPixmap ButtonPicture(const QString&) {
    return ButtonPicture(Picture::Information);
}

QPixmap IdlePlayerPicture() {
    QPixmap picture(180, 147);
    picture.fill(Qt::black);
    return picture;
}

} // namespace modIcon
