#include "modIcon.h"

#include "PictureSet.h"

#include <QApplication>
#include <QResource>
#include <QWidget>

// Registers the pictures compiled in by the build; referencing it also keeps the linker from
// leaving them out of a program that links this library statically.
static void registerPictureResources() {
    Q_INIT_RESOURCE(vantelo_pictures);
}

namespace modIcon {
namespace {

const QString kMainIconName = QStringLiteral("MAINICON");

QImage storedPicture(const QString& name) {
    static const bool registered = (registerPictureResources(), true);
    Q_UNUSED(registered);
    const QResource resource(PictureSet::ResourcePath(name));
    return PictureSet::Decode(resource.uncompressedData());
}

QWidget* topLevelOwner(QWidget* window) {
    QWidget* owner = window->window();
    while (owner->parentWidget())
        owner = owner->parentWidget()->window();
    return owner;
}

// Each stored picture is read once per run, the icon's sizes all together. Images rather than
// pixmaps are kept: static pixmaps would outlive the application object.
const QList<QImage>& mainIconImages() {
    static const QList<QImage> images = [] {
        QList<QImage> stored;
        for (const int size : PictureSet::kIconSizes)
            stored.append(storedPicture(PictureSet::IconName(size)));
        return stored;
    }();
    return images;
}

const QList<QImage>& buttonImages() {
    static const QList<QImage> images = [] {
        QList<QImage> stored;
        for (const char* name : PictureSet::kButtonNames)
            stored.append(storedPicture(PictureSet::ButtonName(name)));
        return stored;
    }();
    return images;
}

} // namespace

const QList<int>& IconSizes() {
    static const QList<int> sizes(std::begin(PictureSet::kIconSizes),
                                  std::end(PictureSet::kIconSizes));
    return sizes;
}

QPixmap MainIconImage(int size) {
    const int index = IconSizes().indexOf(size);
    if (index >= 0)
        return QPixmap::fromImage(mainIconImages().value(index));
    return size > 0 ? LoadIcon(kMainIconName).pixmap(size) : QPixmap();
}

QIcon LoadIcon(const QString& resourceName) {
    if (resourceName.compare(kMainIconName, Qt::CaseInsensitive) != 0)
        return QIcon();
    QIcon icon;
    for (const QImage& image : mainIconImages())
        icon.addPixmap(QPixmap::fromImage(image));
    return icon;
}

void SetWindowIcon(QWidget* window, const QString& resourceName, bool alsoOwner) {
    if (!window)
        return;
    const QIcon icon = LoadIcon(resourceName);
    if (icon.isNull())
        return;
    // The application's icon stands for it on the task bar, as its hidden owner window does
    // on the platform this comes from.
    if (alsoOwner) {
        QApplication::setWindowIcon(icon);
        topLevelOwner(window)->setWindowIcon(icon);
    }
    window->setWindowIcon(icon);
}

QPixmap ButtonPicture(Picture picture) {
    return QPixmap::fromImage(buttonImages().value(int(picture)));
}

QPixmap ButtonPicture(const QString& name) {
    for (int i = 0; i < int(std::size(PictureSet::kButtonNames)); ++i)
        if (name.compare(QLatin1String(PictureSet::kButtonNames[i]), Qt::CaseInsensitive) == 0)
            return ButtonPicture(Picture(i));
    return QPixmap();
}

QPixmap IdlePlayerPicture() {
    return QPixmap::fromImage(storedPicture(PictureSet::PlayerName()));
}

} // namespace modIcon
