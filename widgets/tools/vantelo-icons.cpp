// Draws the program's own pictures at build time and writes them out twice:
// - the application icon as PNG files for the desktop's icon theme,
//   <theme folder>/<n>x<n>/apps/vantelo.png for every size given, else every size of the icon;
// - every picture in its stored form (PictureSet) into <picture folder>, with pictures.qrc
//   listing them under ":/pictures", which the build compiles into the program.
#include "PictureDrawing.h"
#include "PictureSet.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QList>
#include <QPair>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace {

bool writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size() && file.flush();
}

bool writeThemeIcons(const QDir& theme, const QList<int>& sizes) {
    for (const int size : sizes) {
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString file = theme.filePath(folder + QStringLiteral("/vantelo.png"));
        if (!theme.mkpath(folder) || !PictureDrawing::MainIcon(size).save(file, "PNG")) {
            std::fprintf(stderr, "vantelo-icons: cannot write %s\n", qPrintable(file));
            return false;
        }
    }
    return true;
}

bool writePictures(const QDir& output) {
    QList<QPair<QString, QImage>> pictures;
    for (const int size : PictureSet::kIconSizes)
        pictures.append({PictureSet::IconName(size), PictureDrawing::MainIcon(size)});
    for (const char* name : PictureSet::kButtonNames)
        pictures.append(
            {PictureSet::ButtonName(name), PictureDrawing::ButtonPicture(QLatin1String(name))});
    pictures.append({PictureSet::PlayerName(), PictureDrawing::IdlePlayer()});

    QByteArray qrc = "<RCC>\n  <qresource prefix=\"/pictures\">\n";
    for (const auto& [name, image] : pictures) {
        const QString file = output.filePath(name + QStringLiteral(".pic"));
        if (image.isNull() || !writeFile(file, PictureSet::Encode(image))) {
            std::fprintf(stderr, "vantelo-icons: cannot write %s\n", qPrintable(file));
            return false;
        }
        qrc += "    <file alias=\"" + name.toUtf8() + "\">" + name.toUtf8() + ".pic</file>\n";
    }
    qrc += "  </qresource>\n</RCC>\n";
    const QString qrcFile = output.filePath(QStringLiteral("pictures.qrc"));
    if (!writeFile(qrcFile, qrc)) {
        std::fprintf(stderr, "vantelo-icons: cannot write %s\n", qPrintable(qrcFile));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: vantelo-icons <icon theme folder> <picture folder> [size...]\n");
        return 2;
    }
    QList<int> themeSizes;
    for (int i = 3; i < argc; ++i)
        themeSizes.append(std::atoi(argv[i]));
    if (themeSizes.isEmpty())
        themeSizes =
            QList<int>(std::begin(PictureSet::kIconSizes), std::end(PictureSet::kIconSizes));
    const QDir theme(QString::fromLocal8Bit(argv[1]));
    const QDir pictures(QString::fromLocal8Bit(argv[2]));
    if (!pictures.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "vantelo-icons: cannot make %s\n", argv[2]);
        return 1;
    }
    return writeThemeIcons(theme, themeSizes) && writePictures(pictures) ? 0 : 1;
}
