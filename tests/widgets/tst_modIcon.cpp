#include "PictureDrawing.h"
#include "modIcon.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTest>
#include <QWidget>

using modIcon::Picture;

namespace {
const QList<Picture> kAllPictures{
    Picture::Information, Picture::Globe,           Picture::CurvedArrow, Picture::CirclingArrows,
    Picture::FolderArrow, Picture::FolderMagnifier, Picture::RedCross,    Picture::RedDownArrow};

int opaquePixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 200;
    return count;
}

// Share of the opaque pixels whose colour is mostly red.
double redShare(const QImage& image) {
    int red = 0, opaque = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = QColor::fromRgba(image.pixel(x, y));
            if (c.alpha() < 200)
                continue;
            ++opaque;
            red += c.red() > 150 && c.green() < 120 && c.blue() < 120;
        }
    return opaque ? double(red) / opaque : 0.0;
}
} // namespace

// The drawn pictures: the application icon, the button pictures, the idle player.
class tst_modIcon : public QObject {
    Q_OBJECT

private slots:
    void mainIconHasEverySize() {
        const QIcon icon = modIcon::LoadIcon("MAINICON");
        QVERIFY(!icon.isNull());
        QList<QSize> expected;
        for (const int size : {16, 24, 32, 48, 64, 128})
            expected << QSize(size, size);
        QList<QSize> available = icon.availableSizes();
        std::sort(available.begin(), available.end(),
                  [](QSize a, QSize b) { return a.width() < b.width(); });
        QCOMPARE(available, expected);
        QCOMPARE(modIcon::LoadIcon("mainicon").availableSizes().size(), 6);
        QVERIFY(modIcon::LoadIcon("OTHERICON").isNull());
    }

    void mainIconImagesAreRoundedTiles() {
        for (const int size : modIcon::IconSizes()) {
            const QImage image = modIcon::MainIconImage(size).toImage();
            QCOMPARE(image.size(), QSize(size, size));
            QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
            QCOMPARE(qAlpha(image.pixel(size - 1, size - 1)), 0);
            QCOMPARE(qAlpha(image.pixel(size / 2, size / 2)), 255);
            QVERIFY(opaquePixels(image) > size * size / 2);
        }
        QVERIFY(modIcon::MainIconImage(0).isNull());
        QCOMPARE(modIcon::MainIconImage(20).size(), QSize(20, 20));
    }

    void setWindowIconReachesTheOwner() {
        QWidget owner;
        QWidget dialog(&owner, Qt::Window);
        modIcon::SetWindowIcon(&dialog, "MAINICON", true);
        QVERIFY(!dialog.windowIcon().isNull());
        QCOMPARE(dialog.windowIcon().availableSizes().size(), 6);
        QCOMPARE(owner.windowIcon().availableSizes().size(), 6);
        QCOMPARE(QApplication::windowIcon().availableSizes().size(), 6);
    }

    void setWindowIconWithoutOwner() {
        QApplication::setWindowIcon(QIcon());
        QWidget owner;
        QWidget dialog(&owner, Qt::Window);
        modIcon::SetWindowIcon(&dialog, "MAINICON", false);
        QCOMPARE(dialog.windowIcon().availableSizes().size(), 6);
        QVERIFY(owner.windowIcon().availableSizes().isEmpty());
    }

    void unknownIconLeavesTheWindowAsItWas() {
        QWidget window;
        QPixmap mine(16, 16);
        mine.fill(Qt::green);
        window.setWindowIcon(QIcon(mine));
        modIcon::SetWindowIcon(&window, "NOSUCHICON", true);
        QCOMPARE(window.windowIcon().pixmap(16).toImage().pixelColor(8, 8), QColor(Qt::green));
        modIcon::SetWindowIcon(nullptr, "MAINICON", true);
    }

    void buttonPicturesAreSixteenSquareOnTransparentGround() {
        for (const Picture picture : kAllPictures) {
            const QImage image = modIcon::ButtonPicture(picture).toImage();
            QCOMPARE(image.size(), QSize(16, 16));
            QVERIFY(image.hasAlphaChannel());
            QCOMPARE(qAlpha(image.pixel(0, 0)) + qAlpha(image.pixel(15, 0)), 0);
            QVERIFY(opaquePixels(image) > 40);
            // White is declared transparent on the buttons: none may be part of a picture.
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x)
                    QVERIFY(image.pixel(x, y) != qRgb(255, 255, 255));
        }
    }

    void buttonPicturesDifferFromEachOther() {
        for (int i = 0; i < kAllPictures.size(); ++i)
            for (int j = i + 1; j < kAllPictures.size(); ++j)
                QVERIFY(modIcon::ButtonPicture(kAllPictures[i]).toImage() !=
                        modIcon::ButtonPicture(kAllPictures[j]).toImage());
    }

    void redPicturesAreRed() {
        QVERIFY(redShare(modIcon::ButtonPicture(Picture::RedCross).toImage()) > 0.6);
        QVERIFY(redShare(modIcon::ButtonPicture(Picture::RedDownArrow).toImage()) > 0.6);
        QVERIFY(redShare(modIcon::ButtonPicture(Picture::Globe).toImage()) < 0.1);
    }

    void picturesByName() {
        QCOMPARE(modIcon::ButtonPicture("RedCross").toImage(),
                 modIcon::ButtonPicture(Picture::RedCross).toImage());
        QCOMPARE(modIcon::ButtonPicture("folderMAGNIFIER").toImage(),
                 modIcon::ButtonPicture(Picture::FolderMagnifier).toImage());
        QVERIFY(modIcon::ButtonPicture("Teapot").isNull());
    }

    void idlePlayerIsADarkScreenWithAPlaySymbol() {
        const QImage player = modIcon::IdlePlayerPicture().toImage();
        QCOMPARE(player.size(), QSize(180, 147));
        QVERIFY(!player.hasAlphaChannel() || opaquePixels(player) == 180 * 147);
        // Dark corners of the screen, a light play symbol in its middle.
        QVERIFY(QColor(player.pixel(3, 3)).lightness() < 30);
        QVERIFY(QColor(player.pixel(176, 60)).lightness() < 30);
        QVERIFY(QColor(player.pixel(92, 62)).lightness() > 200);
        // The player bar along the bottom is lighter than the screen above it.
        QVERIFY(QColor(player.pixel(60, 128)).lightness() >
                QColor(player.pixel(60, 118)).lightness());
    }

    void iconFilesForTheDesktop() {
        const QDir theme(QStringLiteral(VANTELO_ICON_THEME_DIR));
        for (const int size : modIcon::IconSizes()) {
            const QImage file(theme.filePath(QStringLiteral("%1x%1/apps/vantelo.png").arg(size)));
            QCOMPARE(file.size(), QSize(size, size));
            QCOMPARE(file.convertToFormat(QImage::Format_ARGB32),
                     PictureDrawing::MainIcon(size).convertToFormat(QImage::Format_ARGB32));
        }
    }

    // The program shows what the build stored; it must be what the drawing code draws now,
    // to the pixel (a stale or lossy copy would change the windows).
    void storedPicturesAreExactlyTheDrawnOnes() {
        const auto same = [](const QImage& shown, const QImage& drawn) {
            return shown.convertToFormat(QImage::Format_ARGB32_Premultiplied) ==
                   drawn.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        };
        for (const int size : modIcon::IconSizes())
            QVERIFY(same(modIcon::MainIconImage(size).toImage(), PictureDrawing::MainIcon(size)));
        const QStringList names{"Information", "Globe",           "CurvedArrow", "CirclingArrows",
                                "FolderArrow", "FolderMagnifier", "RedCross",    "RedDownArrow"};
        for (int i = 0; i < names.size(); ++i)
            QVERIFY2(same(modIcon::ButtonPicture(kAllPictures[i]).toImage(),
                          PictureDrawing::ButtonPicture(names[i])),
                     qPrintable(names[i]));
        QVERIFY(same(modIcon::IdlePlayerPicture().toImage(), PictureDrawing::IdlePlayer()));
    }
};

QTEST_MAIN(tst_modIcon)
#include "tst_modIcon.moc"
