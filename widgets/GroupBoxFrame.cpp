#include "GroupBoxFrame.h"

#include <QApplication>
#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPixmap>
#include <QPixmapCache>
#include <QStyle>

namespace GroupBoxFrame {
namespace {

const QString kFramePicture =
    QStringLiteral(":/qt-project.org/styles/commonstyle/images/fusion_groupbox.png");

// A number as QPixmap's cache keys write it: every byte from the lowest, each as its low and
// then its high hexadecimal digit.
template <typename Number> QString keyDigits(Number number) {
    static const char digits[] = "0123456789abcdef";
    QString text;
    for (size_t i = 0; i < sizeof(Number); ++i) {
        const auto byte = static_cast<unsigned char>(number >> (8 * i));
        text += QLatin1Char(digits[byte & 0xf]);
        text += QLatin1Char(digits[byte >> 4]);
    }
    return text;
}

} // namespace

void Preload() {
    const QStyle* style = QApplication::style();
    if (!style || style->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) != 0)
        return;
    QFile file(kFramePicture);
    if (!file.open(QIODevice::ReadOnly))
        return;
    // The built-in PNG reader only: no plugin is asked, as none is needed for a known format.
    QImageReader reader(&file, "png");
    reader.setAutoDetectImageFormat(false);
    const QImage image = reader.read();
    if (image.isNull())
        return;
    const QFileInfo info(kFramePicture);
    constexpr unsigned int kPixmapType = 0; // QPlatformPixmap::PixmapType
    const QString key = QStringLiteral("qt_pixmap") + info.absoluteFilePath() +
                        keyDigits(uint(info.lastModified().toSecsSinceEpoch())) +
                        keyDigits(quint64(info.size())) + keyDigits(kPixmapType);
    QPixmapCache::insert(key, QPixmap::fromImage(image));
}

} // namespace GroupBoxFrame
