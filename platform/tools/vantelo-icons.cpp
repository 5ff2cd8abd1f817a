// Writes the application icon as PNG files for the desktop's icon theme:
// <folder>/<n>x<n>/apps/vantelo.png for every size given, else for every size of the window icon.
#include "modIcon.h"

#include <QDir>
#include <QImage>
#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: vantelo-icons <output folder> [size...]\n");
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));
    QList<int> sizes;
    for (int i = 2; i < argc; ++i)
        sizes.append(std::atoi(argv[i]));
    if (sizes.isEmpty())
        sizes = modIcon::IconSizes();
    for (const int size : sizes) {
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString file = output.filePath(folder + QStringLiteral("/vantelo.png"));
        if (!output.mkpath(folder) || !modIcon::RenderMainIcon(size).save(file, "PNG")) {
            std::fprintf(stderr, "vantelo-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
