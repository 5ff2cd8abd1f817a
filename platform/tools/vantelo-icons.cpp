// Writes the application icon as PNG files for the desktop's icon theme:
// <folder>/<n>x<n>/apps/vantelo.png for every size of the icon.
#include "modIcon.h"

#include <QDir>
#include <QImage>
#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vantelo-icons <output folder>\n");
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));
    for (const int size : modIcon::IconSizes()) {
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString file = output.filePath(folder + QStringLiteral("/vantelo.png"));
        if (!output.mkpath(folder) || !modIcon::RenderMainIcon(size).save(file, "PNG")) {
            std::fprintf(stderr, "vantelo-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
