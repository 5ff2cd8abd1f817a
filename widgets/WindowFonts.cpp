#include "WindowFonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace WindowFonts {

namespace {
// The first of the faces that is installed. Looked up once: asking the font matcher for each
// missing face in turn costs a fontconfig sort per face on every start.
QString firstInstalled(const QStringList& families) {
    // The plain list; asking about a missing face would make fontconfig look for aliases.
    const QStringList installed = QFontDatabase::families();
    for (const QString& family : families)
        if (installed.contains(family, Qt::CaseInsensitive))
            return family;
    return QString();
}

QFont fontOf(const QString& family, qreal pointSize) {
    QFont font;
    if (!family.isEmpty())
        font.setFamily(family);
    font.setPointSizeF(pointSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}
} // namespace

QFont MsSansSerif(qreal pointSize) {
    // Arial-like faces come closest to the narrow bitmap face.
    static const QString family =
        firstInstalled({"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arimo",
                        "Nimbus Sans", "Nimbus Sans L", "DejaVu Sans"});
    return fontOf(family, pointSize);
}

QFont Tahoma(qreal pointSize) {
    // Tahoma is a narrow Verdana; DejaVu Sans descends from the same design.
    static const QString family =
        firstInstalled({"Tahoma", "DejaVu Sans Condensed", "Liberation Sans", "Arimo",
                        "Nimbus Sans", "DejaVu Sans"});
    return fontOf(family, pointSize);
}

} // namespace WindowFonts
