#pragma once
#include <QByteArray>
#include <QImage>
#include <QString>
#include <cstring>

// The program's own pictures as the build draws them (PictureDrawing, run by the vantelo-icons
// tool) and as the program loads them from its resources (modIcon): their names, sizes and the
// stored form. Stored ready to show, so that starting the program costs no drawing and no
// decoding.
namespace PictureSet {

// The application icon "MAINICON" at every size it comes in, largest first.
inline constexpr int kIconSizes[] = {128, 64, 48, 32, 24, 16};

// The 16x16 button pictures, in the order of modIcon::Picture.
inline constexpr const char* kButtonNames[] = {"Information",    "Globe",       "CurvedArrow",
                                               "CirclingArrows", "FolderArrow", "FolderMagnifier",
                                               "RedCross",       "RedDownArrow"};
inline constexpr int kButtonSize = 16;

// The idle video player.
inline constexpr int kPlayerWidth = 180;
inline constexpr int kPlayerHeight = 147;

// Names inside the resource folder ":/pictures".
inline QString IconName(int size) {
    return QStringLiteral("mainicon-%1").arg(size);
}
inline QString ButtonName(const char* name) {
    return QStringLiteral("button-") + QLatin1String(name);
}
inline QString PlayerName() {
    return QStringLiteral("idleplayer");
}
inline QString ResourcePath(const QString& name) {
    return QStringLiteral(":/pictures/") + name;
}

// The stored form: width and height, then the rows of premultiplied ARGB32 pixels, all in the
// byte order of the machine that builds and runs the program. Kept exactly as drawn: a round
// trip through a straight-alpha file format would change half-transparent pixels.
inline constexpr QImage::Format kFormat = QImage::Format_ARGB32_Premultiplied;

inline QByteArray Encode(const QImage& drawn) {
    const QImage image = drawn.convertToFormat(kFormat);
    const qint32 size[2] = {image.width(), image.height()};
    QByteArray stored(reinterpret_cast<const char*>(size), sizeof size);
    for (int y = 0; y < image.height(); ++y)
        stored.append(reinterpret_cast<const char*>(image.constScanLine(y)), image.width() * 4);
    return stored;
}

// A null image when the data is not a stored picture.
inline QImage Decode(const QByteArray& stored) {
    qint32 size[2] = {0, 0};
    if (stored.size() < qsizetype(sizeof size))
        return QImage();
    std::memcpy(size, stored.constData(), sizeof size);
    const qsizetype rowBytes = qsizetype(size[0]) * 4;
    if (size[0] <= 0 || size[1] <= 0 ||
        stored.size() != qsizetype(sizeof size) + rowBytes * size[1])
        return QImage();
    // Copied into an image of its own: resource data carries no alignment for 32-bit pixels.
    QImage image(size[0], size[1], kFormat);
    const char* rows = stored.constData() + sizeof size;
    for (int y = 0; y < size[1]; ++y)
        std::memcpy(image.scanLine(y), rows + y * rowBytes, size_t(rowBytes));
    return image;
}

} // namespace PictureSet
